// The register initialization file loaded from arbitrary file content and
// applied to the simulated chip: only chip registers are written, in the
// chip's SPI framing.
#include "FuzzInput.h"
#include "ModuleUnderTest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::silenceStdout();
    fuzz::ModuleUnderTest& unit = fuzz::moduleUnderTest();
    unit.resetBoard();
    const std::string path = fuzz::scratchPath("Init9000.json");
    fuzz::writeFile(path, fuzz::text(data, size));

    unit.pModule->m_jsonInit.load(path.c_str());
    for (const auto& [unAddress, ulValue] : sim::spiWrites())
        fuzz::check(unAddress <= 0x0FFF, "a chip register");
    fuzz::check(sim::protocolErrors().empty(), "the SPI protocol is kept");
    return 0;
}
