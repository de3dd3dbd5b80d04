#include "MeterMap.h"

#include <algorithm>

#include "AccumulatorTables.h"

namespace {

constexpr const char* PHASES[] = {"A", "B", "C", "TOT"};
constexpr int ANGLES_FIRST = 200, INTERVAL_FIRST = 300;

// The running interval's quantities on three phases and in total, the
// journal's angles on three phases: where each group's phase A is.
struct Group {
    const char *pszKey, *pszName, *pszUnit;
    PointSource source;
    int nPhaseA, nTotal;  // -1: no total
};
constexpr Group MODBUS_ONLY[] = {
    {"VANGLE", "Voltage angle", "deg", PointSource::Journal, jrnl_VANGLE_A, -1},
    {"IANGLE", "Current angle", "deg", PointSource::Journal, jrnl_IANGLE_A, -1},
    {"INTERVAL_WH", "Interval energy", "Wh", PointSource::IntervalEnergy, accum_AWATTHR, accum_TOT_WATTHR},
    {"INTERVAL_VARH", "Interval reactive energy", "varh", PointSource::IntervalEnergy, accum_AVARHR,
     accum_TOT_VARHR},
    {"INTERVAL_VAH", "Interval apparent energy", "VAh", PointSource::IntervalEnergy, accum_AVAHR,
     accum_TOT_VAHR},
    {"PEAK_W", "Interval peak demand", "W", PointSource::PeakDemand, accum_AWATT_ACC, accum_TOT_WATT_ACC},
    {"PEAK_VAR", "Interval peak reactive demand", "var", PointSource::PeakDemand, accum_AVAR_ACC,
     accum_TOT_VAR_ACC},
    {"PEAK_VA", "Interval peak apparent demand", "VA", PointSource::PeakDemand, accum_AVA_ACC,
     accum_TOT_VA_ACC},
};

std::vector<MapPoint> buildMap() {
    std::vector<MapPoint> map = {
        {"STATUS", "Status word", "bits", PointSource::Status, 0, {0, ModbusType::Uint16, 1}},
        {"LIMITS", "Limit status bits", "bits", PointSource::LimitBits, 0, {1, ModbusType::Uint32, 1}},
        {"LOST_WINDOWS",
         "Recording windows lost",
         "",
         PointSource::LostWindows,
         0,
         {3, ModbusType::Uint32, 1}},
    };
    for (const PublishedQuantity& q : publishedQuantities())
        map.push_back({q.key, q.name, q.modbus.dScale == 1 ? q.unit : "m" + q.unit,
                       q.source == QuantitySource::Journal ? PointSource::Journal : PointSource::Lifetime,
                       q.nIndex, q.modbus});
    int nAddress = ANGLES_FIRST;
    for (const Group& g : MODBUS_ONLY) {
        if (g.source != PointSource::Journal && nAddress < INTERVAL_FIRST) nAddress = INTERVAL_FIRST;
        for (int p = 0; p < (g.nTotal < 0 ? 3 : 4); p++, nAddress += 2)
            map.push_back({std::string(g.pszKey) + "_" + PHASES[p],
                           std::string(g.pszName) + " " + (p == 3 ? "total" : PHASES[p]),
                           g.pszUnit,
                           g.source,
                           p == 3 ? g.nTotal : g.nPhaseA + p,
                           {nAddress, ModbusType::Float32, 1}});
    }
    std::sort(map.begin(), map.end(),
              [](const MapPoint& a, const MapPoint& b) { return a.place.nAddress < b.place.nAddress; });
    return map;
}

}  // namespace

const std::vector<MapPoint>& meterMap() {
    static const std::vector<MapPoint> map = buildMap();
    return map;
}

int registerCount(ModbusType type) {
    switch (type) {
        case ModbusType::Uint16:
            return 1;
        case ModbusType::Uint32:
        case ModbusType::Float32:
            return 2;
        case ModbusType::Uint64:
            return 4;
    }
    return 1;
}

const char* typeName(ModbusType type) {
    switch (type) {
        case ModbusType::Uint16:
            return "uint16";
        case ModbusType::Uint32:
            return "uint32";
        case ModbusType::Float32:
            return "float32";
        case ModbusType::Uint64:
            return "uint64";
    }
    return "";
}
