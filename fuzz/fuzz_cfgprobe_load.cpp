// The probe catalogue loaded from arbitrary file content, looked up and rendered
// as JSON into buffers exactly as large as stated, so a write past one is caught.
#include <cstring>

#include "CfgProbe.h"
#include "FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::scratchFile("CfgProbe.json", fuzz::text(data, size));

    CfgProbe probes;
    probes.load("CfgProbe.json");
    probes.load("CfgProbe.json");  // a reload replaces the list
    for (uint32_t ulIndex : {0u, 1u, 6u, 65535u, 70000u}) {
        probes.getFullScale(ulIndex, 100.0f, 50.0f);
        probes.getFullScale(ulIndex, 100.0f, 60.0f);
        probes.isRogowski(ulIndex);
    }
    for (uint32_t ulMax : {1023u, 1024u, 1500u, 4096u, 65536u}) {
        std::vector<char> json(ulMax);
        const uint32_t ulLength = probes.getProbeJSON(json.data(), ulMax);
        fuzz::check(ulMax < 1024 ? ulLength == 0 : ulLength <= ulMax && ulLength == strlen(json.data()) + 1,
                    "a small buffer gets nothing, a large one the text, counted");
    }
    return 0;
}
