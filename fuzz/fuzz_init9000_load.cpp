// The register initialization file loaded from arbitrary content and applied to
// the simulated chip: only chip registers are written, in the chip's framing.
#include "FuzzInput.h"
#include "ModuleUnderTest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::ModuleUnderTest& unit = fuzz::moduleUnderTest();
    const std::string path = fuzz::scratchFile("Init9000.json", fuzz::text(data, size));

    unit.pModule->m_jsonInit.load(path.c_str());
    for (const auto& [unAddress, ulValue] : sim::spiWrites())
        fuzz::check(unAddress <= 0x0FFF, "a chip register");
    fuzz::check(sim::protocolErrors().empty(), "the SPI protocol is kept");
    return 0;
}
