// The measurement configuration loaded from arbitrary file content, with the
// probe catalogue published or not (first input byte odd or even).
#include "CfgProbe.h"
#include "FuzzInput.h"
#include "ModuleUnderTest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Destroyed at exit: its list links sit unaligned in packed elements, where
    // the leak checker cannot see them.
    static CfgProbe probes;
    [[maybe_unused]] static const bool bBuiltIn = (probes.load(".no-such-probe-file"), true);
    fuzz::ModuleUnderTest& unit = fuzz::moduleUnderTest();
    unit.pBlock->s_pCfgProbe = size > 0 && (data[0] & 1) ? &probes : nullptr;
    const std::string path = fuzz::scratchFile("QM9000.json", fuzz::text(data, size));

    QM9000& pmu = *unit.pModule;
    pmu.m_Cfg9000.load(path.c_str());
    fuzz::check(pmu.m_fPTRatioSecondary != 0.0f && pmu.m_fCTRatioSecondary != 0.0f, "no zero secondary");
    fuzz::check((pmu.m_ulLimitEnable & ~0x00333333u) == 0, "limit bits only of existing limits");
    fuzz::check(pmu.m_ulEnergyIntervalMinutes == 0 || pmu.m_ulEnergyIntervalMinutes >= 5,
                "the interval is at least 5 minutes");
    return 0;
}
