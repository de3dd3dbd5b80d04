// The calibration store loaded from arbitrary file content, pushed to the chip,
// dumped, saved and reloaded: a saved file loads back to the same bytes.
#include <algorithm>
#include <cstring>

#include "FuzzInput.h"
#include "ModuleUnderTest.h"

// A constant whose line grew past what the reader takes (a real value with
// dozens of digits) cannot load back.
static bool allLinesFitTheReader(const std::string& text) {
    for (size_t nStart = 0, nEnd; nStart < text.size(); nStart = nEnd + 2) {
        nEnd = std::min(text.find("\r\n", nStart), text.size());
        if (nEnd - nStart >= JSONFile::LINE_BUFFER_SIZE) return false;
    }
    return true;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::ModuleUnderTest& unit = fuzz::moduleUnderTest();
    const std::string source = fuzz::scratchFile("source.json", fuzz::text(data, size));
    const std::string saved = fuzz::scratchFile("Cal9000.json", "");  // empty until saved
    snprintf(unit.pBlock->s_pszActiveCal, sizeof(unit.pBlock->s_pszActiveCal), "%s", saved.c_str());

    Cal9000& cal = unit.pModule->m_Cal9000;
    cal.load(source.c_str());
    cal.pushCal();
    cal.readAndDumpCal();
    cal.saveCal();
    const std::string first = fuzz::readFile(saved);
    cal.load(saved.c_str());
    cal.saveCal();
    const std::string second = fuzz::readFile(saved);
    fuzz::check(!allLinesFitTheReader(first) || second == first, "a saved file loads back whole");

    if (cal.m_pCalList) {
        char szName[sizeof(cal.m_pCalList->s_Cal.s_pszCalName)];
        memcpy(szName, cal.m_pCalList->s_Cal.s_pszCalName, sizeof(szName));
        cal.setPending(szName, 0x12345678u, 1.5f);
        fuzz::check(cal.HasChanged(), "a listed name becomes pending");
        cal.pushPendingCal();
        cal.dumpPending();
    }
    cal.pushZeroCal();
    cal.saveZeroCal();
    cal.killCalList();
    return 0;
}
