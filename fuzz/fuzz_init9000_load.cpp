// The register initialization file loaded from arbitrary file content and
// applied to the simulated chip.
#include "FuzzInput.h"
#include "ModuleUnderTest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::silenceStdout();
    fuzz::ModuleUnderTest& unit = fuzz::moduleUnderTest();
    unit.resetBoard();
    const std::string path = fuzz::scratchPath("Init9000.json");
    fuzz::writeFile(path, std::string(reinterpret_cast<const char*>(data), size));

    unit.pModule->m_jsonInit.load(path.c_str());

    return 0;
}
