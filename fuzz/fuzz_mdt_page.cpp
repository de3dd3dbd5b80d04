// A description-table page given arbitrary bytes (NULs, no terminator): names,
// register list and array look-ups stay within the text and leave it whole.
#include <cstring>

#include "FuzzInput.h"
#include "MDTPage.h"

static void checkArray(MDT_Page& page, const char* pszName) {
    char* pszStart = nullptr;
    uint32_t ulLength = 0;
    if (!page.getArray(pszName, &pszStart, ulLength)) return;
    fuzz::check(
        pszStart >= page.m_pszBuffer && pszStart + ulLength <= page.m_pszBuffer + page.m_ulBufferLength,
        "an array lies within the text");
    fuzz::check(ulLength >= 2 && pszStart[0] == '[' && pszStart[ulLength - 1] == ']',
                "an array is bracketed");
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::setUp();
    const uint32_t ulLength = static_cast<uint32_t>(size);
    MDT_Page page;
    page.setBuffer(reinterpret_cast<const char*>(data), ulLength);
    if (size == 0) {
        fuzz::check(page.m_pszBuffer == nullptr, "no text from no bytes");
        return 0;
    }
    fuzz::check(page.m_ulBufferLength == ulLength && page.m_pszBuffer[ulLength - 1] == '\0',
                "the text ends within its length");
    fuzz::check(strlen(page.getHandlerName()) < 32 && strlen(page.getConfigName()) < 32 &&
                    strlen(page.getCalName()) < 32 && strlen(page.getDescription()) < 64,
                "names fit their fields");
    const std::string text(page.m_pszBuffer, ulLength);

    if (page.createRegisterList()) {
        for (const MDT_REGLIST* pNode = page.getRegisterList(); pNode; pNode = pNode->pmdtRegNext)
            fuzz::check(
                strlen(pNode->mdtReg.s_pszAbbrev) < 32 && strlen(pNode->mdtReg.s_pszDescription) < 128,
                "register names fit their fields");
    } else {
        fuzz::check(page.getRegisterList() == nullptr, "a failed list leaves none");
    }
    fuzz::check(text == std::string(page.m_pszBuffer, ulLength), "building the list leaves the text whole");
    checkArray(page, "\"registers\"");
    checkArray(page, "\"calibration\"");
    fuzz::check(text == std::string(page.m_pszBuffer, ulLength), "array look-ups leave the text whole");
    fuzz::emptyScratchDirectory();  // the configuration file the page created
    return 0;
}
