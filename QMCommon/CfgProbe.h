// The catalogue of current probes (clamps and Rogowski coils) that can drive
// the current inputs: index, name, full-scale current at 50 and 60 Hz, coil or
// not. The host owns it and publishes it in its block; the measurement
// configuration looks the configured probe up in it.
#pragma once

#include <cstdint>

#include "JSONFile.h"

#pragma pack(push, 1)
struct PROBE_LIST_ELEMENT {
    uint16_t unIndex;
    char pszName[64];
    float fScale_50Hz;
    float fScale_60Hz;
    bool bIsRogowski;
    PROBE_LIST_ELEMENT* pNext;
};
#pragma pack(pop)
static_assert(sizeof(PROBE_LIST_ELEMENT) == 75 + sizeof(void*), "PROBE_LIST_ELEMENT layout");

class CfgProbe : public JSONFile {
public:
    // Index of the custom probe: its full scale is the configured one.
    static constexpr uint32_t CUSTOM_PROBE = 0;

    CfgProbe();
    ~CfgProbe();
    CfgProbe(const CfgProbe&) = delete;
    CfgProbe& operator=(const CfgProbe&) = delete;

    int initialize(void* p) override;
    // Replaces the catalogue with the probes of the file pszFName in the
    // application directory, or with the built-in list when it cannot be opened.
    void load(const char* pszFName) override;

    void addProbe(uint32_t uId, const char* pszName, float f50Hz, float f60Hz, bool bRogowski);
    PROBE_LIST_ELEMENT* findProbe(uint32_t ulIndex);
    // The probe's rating for the line frequency, or fFullScale for the custom
    // probe and for an index the catalogue does not hold.
    float getFullScale(uint32_t ulProbeType, float fFullScale, float fFreq);
    bool isRogowski(uint32_t ulProbeType);
    // The catalogue as a JSON member ("probes" and its array). Returns the
    // length written plus one, or 0 when ulMax is below 1024.
    uint32_t getProbeJSON(char* pszJSON, uint32_t ulMax);
    void kill();

    PROBE_LIST_ELEMENT* m_probeList;
};
