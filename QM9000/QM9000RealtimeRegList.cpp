// Members of class QM9000 (QM9000.h): the module keeps one source per concern.
// The register list report (requests 8 and 9): for each published value, the
// register the module description table gives it, with its Modbus number.
#include <cstdio>
#include <cstring>
#include <string>

#include "JSONEscape.h"
#include "MDT.h"
#include "QM9000.h"

namespace {

// The values a register can publish: the journal, then the interval and
// running energies (the register-map record of request 10).
constexpr uint32_t PUBLISHED_VALUES = MODBUS_FLOATS;  // 118
constexpr uint32_t MODBUS_FIRST = 40001;

// The header's line end comes with the first line, so that the lines are
// separated by ",\r\n" and the last one keeps no comma.
constexpr char REGLIST_HEADER[] = "\"registers\": [";
constexpr char REGLIST_FIRST_LINE_START[] = "\r\n";
constexpr char REGLIST_LINE_START[] = ",\r\n";
constexpr char REGLIST_END[] = "\r\n]\r\n";
// What a host sizes its buffer for: header, 118 lines of the longest
// unescaped abbreviation and description, end and NUL fit in it.
constexpr uint32_t REGLIST_UNESCAPED_MAX = 25626;

bool isPublished(const MDT_REGISTER& reg) {
    return strstr(reg.s_pszAbbrev, "jrnl_") || strstr(reg.s_pszAbbrev, "interval_") ||
           strstr(reg.s_pszAbbrev, "accum_");
}

// The first register in list order that publishes value ulIndex.
const MDT_REGISTER* registerFor(const MDT_REGLIST* pList, uint32_t ulIndex) {
    for (const MDT_REGLIST* pNode = pList; pNode; pNode = pNode->pmdtRegNext) {
        const uint32_t ulReg = pNode->mdtReg.s_ulReg;
        if (ulReg == ulIndex && isPublished(pNode->mdtReg)) return &pNode->mdtReg;
    }
    return nullptr;
}

}  // namespace

int QM9000::realtimeGetRegList(int, void* pvResult, uint32_t ulMaxResult) {
    if (!m_pMDT) return REQ_UNRECOGNIZED;  // no description table, no list
    const MDT_REGLIST* pList = m_pMDT->getRegisterList();

    std::string text = REGLIST_HEADER;
    bool bAnyLine = false;
    for (uint32_t ulIndex = 0; ulIndex < PUBLISHED_VALUES; ulIndex++) {
        const MDT_REGISTER* pReg = registerFor(pList, ulIndex);
        if (!pReg) continue;
        // The names are read within their fields, terminated or not.
        char szHead[64];
        const int nHead = snprintf(szHead, sizeof(szHead), "{\"reg\": %d, \"modbus\": %d, \"abbrev\": \"",
                                   static_cast<int>(ulIndex), static_cast<int>(MODBUS_FIRST + 2 * ulIndex));
        if (nHead < 0 || static_cast<size_t>(nHead) >= sizeof(szHead)) continue;
        text += bAnyLine ? REGLIST_LINE_START : REGLIST_FIRST_LINE_START;
        text.append(szHead, static_cast<size_t>(nHead));
        appendJSONEscaped(text, pReg->s_pszAbbrev, sizeof(pReg->s_pszAbbrev) - 1);
        text += "\", \"desc\": \"";
        appendJSONEscaped(text, pReg->s_pszDescription, sizeof(pReg->s_pszDescription) - 1);
        text += "\" }";
        bAnyLine = true;
    }
    text += REGLIST_END;  // also "\"registers\": [\r\n]\r\n" for no line at all

    // Whole or nothing: a buffer that cannot take the text and its NUL is left
    // untouched. An unbounded request (0) gets no more than the longest text
    // of unescaped names, which is what a host sizes its buffer for.
    const uint32_t ulBound = ulMaxResult != 0 ? ulMaxResult : REGLIST_UNESCAPED_MAX;
    if (text.size() + 1 > ulBound) return REQ_TOO_SMALL;
    memcpy(pvResult, text.c_str(), text.size() + 1);
    return REQ_OK;
}
