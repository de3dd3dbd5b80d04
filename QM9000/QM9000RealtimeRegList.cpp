// The register list report (requests 8 and 9): for each published value, the
// register the module description table gives it, with its Modbus number.
#include <cstdio>
#include <cstring>
#include <string>

#include "MDT.h"
#include "QM9000.h"

namespace {

constexpr int RESULT_OK = 0, RESULT_NO_TABLE = 2, RESULT_TOO_SMALL = 3;
// The values a register can publish: the journal, then the interval and
// running energies (the register-map record of request 10).
constexpr uint32_t PUBLISHED_VALUES = jrnl_MAX + 2 * accum_ENERGY_MAX;  // 118
constexpr uint32_t MODBUS_FIRST = 40001;

// The header's line end comes with the first line, so that the lines are
// separated by ",\r\n" and the last one keeps no comma.
constexpr char REGLIST_HEADER[] = "\"registers\": [";
constexpr char REGLIST_FIRST_LINE_START[] = "\r\n";
constexpr char REGLIST_LINE_START[] = ",\r\n";
constexpr char REGLIST_END[] = "\r\n]\r\n";

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
    if (!m_pMDT) return RESULT_NO_TABLE;
    const MDT_REGLIST* pList = m_pMDT->getRegisterList();

    std::string text = REGLIST_HEADER;
    bool bAnyLine = false;
    for (uint32_t ulIndex = 0; ulIndex < PUBLISHED_VALUES; ulIndex++) {
        const MDT_REGISTER* pReg = registerFor(pList, ulIndex);
        if (!pReg) continue;
        // The names are read within their fields, terminated or not.
        char szLine[256];
        const int nLength =
            snprintf(szLine, sizeof(szLine),
                     "{\"reg\": %d, \"modbus\": %d, \"abbrev\": \"%.*s\", \"desc\": \"%.*s\" }",
                     static_cast<int>(ulIndex), static_cast<int>(MODBUS_FIRST + 2 * ulIndex),
                     static_cast<int>(sizeof(pReg->s_pszAbbrev) - 1), pReg->s_pszAbbrev,
                     static_cast<int>(sizeof(pReg->s_pszDescription) - 1), pReg->s_pszDescription);
        if (nLength < 0) continue;
        text += bAnyLine ? REGLIST_LINE_START : REGLIST_FIRST_LINE_START;
        text.append(szLine, static_cast<size_t>(nLength));
        bAnyLine = true;
    }
    text += REGLIST_END;  // also "\"registers\": [\r\n]\r\n" for no line at all

    // Whole or nothing: a bounded buffer that cannot take the text and its NUL
    // is left untouched.
    if (ulMaxResult != 0 && text.size() + 1 > ulMaxResult) return RESULT_TOO_SMALL;
    memcpy(pvResult, text.c_str(), text.size() + 1);
    return RESULT_OK;
}
