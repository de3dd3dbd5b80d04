#include "ExportChannels.h"

#include <initializer_list>

namespace {

struct Quantity {
    eJrnl first;  // its phase A value; B and C follow
    const char* name;
    const char* unit;
};

constexpr Quantity PER_PHASE[] = {
    {jrnl_FREQ_A, "FREQ", "Hz"},
    {jrnl_VRMS_A, "VRMS", "V"},
    {jrnl_IRMS_A, "IRMS", "A"},
    {jrnl_WATT_A, "WATT", "W"},
    {jrnl_VA_A, "VA", "VA"},
    {jrnl_VAR_A, "VAR", "var"},
    {jrnl_PF_A, "PF", ""},
    {jrnl_VTHD_A, "VTHD", "%"},
    {jrnl_ITHD_A, "ITHD", "%"},
    {jrnl_FVRMS_A, "FVRMS", "V"},
    {jrnl_FIRMS_A, "FIRMS", "A"},
    {jrnl_FWATT_A, "FWATT", "W"},
    {jrnl_FVA_A, "FVA", "VA"},
    {jrnl_FVAR_A, "FVAR", "var"},
    {jrnl_VRMS1_A, "VRMS1", "V"},
    {jrnl_IRMS1_A, "IRMS1", "A"},
    {jrnl_VRMS1012_A, "VRMS1012", "V"},
    {jrnl_IRMS1012_A, "IRMS1012", "A"},
    {jrnl_VANGLE_A, "VANGLE", "deg"},
    {jrnl_IANGLE_A, "IANGLE", "deg"},
};

constexpr Quantity SINGLE[] = {
    {jrnl_NIRMS, "NIRMS", "A"},         {jrnl_NIRMSONE, "NIRMSONE", "A"},
    {jrnl_NIRMS1012, "NIRMS1012", "A"}, {jrnl_TOT_WATT, "TOT_WATT", "W"},
    {jrnl_TOT_VA, "TOT_VA", "VA"},      {jrnl_TOT_VAR, "TOT_VAR", "var"},
    {jrnl_TOT_PF, "TOT_PF", ""},        {jrnl_TOT_FWATT, "TOT_FWATT", "W"},
    {jrnl_TOT_FVA, "TOT_FVA", "VA"},    {jrnl_TOT_FVAR, "TOT_FVAR", "var"},
};

// Every journal value, in journal order.
std::vector<ExportChannel> buildJournal() {
    static const char* const PHASES[] = {"A", "B", "C"};
    std::vector<ExportChannel> channels;
    for (const Quantity& q : PER_PHASE)
        for (int p = 0; p < 3; p++)
            channels.push_back(
                {static_cast<eJrnl>(q.first + p), std::string(q.name) + "_" + PHASES[p], PHASES[p], q.unit});
    for (const Quantity& q : SINGLE)
        channels.push_back({q.first, q.name, q.first < jrnl_TOT_START ? "N" : "", q.unit});
    return channels;
}

// The measured quantities: ratios (power factors, distortion) and angles are left out.
bool isMeasured(const ExportChannel& channel) {
    for (const char* pszUnit : {"V", "A", "W", "VA", "var", "Hz"})
        if (channel.unit == pszUnit) return true;
    return false;
}

}  // namespace

const std::vector<ExportChannel>& journalChannels() {
    static const std::vector<ExportChannel> channels = buildJournal();
    return channels;
}

const std::vector<ExportChannel>& exportChannels() {
    static const std::vector<ExportChannel> channels = [] {
        std::vector<ExportChannel> measured;
        for (const ExportChannel& channel : journalChannels())
            if (isMeasured(channel)) measured.push_back(channel);
        return measured;
    }();
    return channels;
}
