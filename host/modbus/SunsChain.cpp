#include "SunsChain.h"

#include <cmath>
#include <limits>
#include <stdexcept>
#include <vector>

#include "JournalTables.h"
#include "PublishedQuantities.h"
#include "RegisterEncoding.h"

namespace {

constexpr uint16_t MODEL_COMMON = 1, MODEL_METER = 213, END_MARKER = 0xFFFF, PAD = 0x8000;
constexpr const char* MANUFACTURER = "QM";
constexpr const char* MODEL = "QM9000";
constexpr float NOT_IMPLEMENTED = std::numeric_limits<float>::quiet_NaN();
constexpr double DEGREES = M_PI / 180;

// The meter model's event bits this meter judges.
constexpr uint32_t EVT_POWER_FAILURE = 1u << 2, EVT_UNDER_VOLTAGE = 1u << 3, EVT_OVER_CURRENT = 1u << 5,
                   EVT_OVER_VOLTAGE = 1u << 6, EVT_MISSING_SENSOR = 1u << 7;

enum class How { Value, Sum, Average, LineToLine, MeanLineToLine, Percent, Lifetime, None };

struct Point {
    std::string name, unit;
    How how;
    int nIndex;  // journal field (phase A's for sums and means), line pair or lifetime counter
};

// Model 213's float points in order: a total (or mean) then phases A, B, C.
std::vector<Point> buildPoints() {
    std::vector<Point> points;
    const auto group = [&](const std::string& name, const std::string& unit, How total, int nTotal, How phase,
                           int nPhaseA, bool bLineToLine = false) {
        points.push_back({name, unit, total, nTotal});
        const char* const suffixes[2][3] = {{"phA", "phB", "phC"}, {"phAB", "phBC", "phCA"}};
        for (int p = 0; p < 3; p++)
            points.push_back({name + suffixes[bLineToLine][p], unit, phase, nPhaseA + p});
    };
    group("A", "A", How::Sum, jrnl_IRMS_A, How::Value, jrnl_IRMS_A);
    group("PhV", "V", How::Average, jrnl_VRMS_A, How::Value, jrnl_VRMS_A);
    group("PPV", "V", How::MeanLineToLine, 0, How::LineToLine, 0, true);
    points.push_back({"Hz", "Hz", How::Value, jrnl_FREQ_A});
    group("W", "W", How::Value, jrnl_TOT_WATT, How::Value, jrnl_WATT_A);
    group("VA", "VA", How::Value, jrnl_TOT_VA, How::Value, jrnl_VA_A);
    group("VAR", "var", How::Value, jrnl_TOT_VAR, How::Value, jrnl_VAR_A);
    group("PF", "%", How::Percent, jrnl_TOT_PF, How::Percent, jrnl_PF_A);
    group("TotWhExp", "Wh", How::Lifetime, life_WH_EXPORT_TOT, How::Lifetime, life_WH_EXPORT_A);
    group("TotWhImp", "Wh", How::Lifetime, life_WH_IMPORT_TOT, How::Lifetime, life_WH_IMPORT_A);
    for (const char* pszName : {"TotVAhExp", "TotVAhImp"}) group(pszName, "VAh", How::None, 0, How::None, 0);
    for (const char* pszName : {"TotVArhImpQ1", "TotVArhImpQ2", "TotVArhExpQ3", "TotVArhExpQ4"})
        group(pszName, "varh", How::None, 0, How::None, 0);
    // Every float two registers, then the 32-bit event bits.
    if (2 * points.size() + 2 != SUNSPEC_METER_LENGTH) throw std::logic_error("SunSpec model 213's length");
    return points;
}

const std::vector<Point>& meterPoints() {
    static const std::vector<Point> points = buildPoints();
    return points;
}

// Phase p's voltage to the next phase's, from their magnitudes and angles.
double lineToLine(const float* pfJournal, int p) {
    const int q = (p + 1) % 3;
    const double dA = pfJournal[jrnl_VRMS_A + p], dB = pfJournal[jrnl_VRMS_A + q];
    const double dAngle = (pfJournal[jrnl_VANGLE_A + p] - pfJournal[jrnl_VANGLE_A + q]) * DEGREES;
    return std::sqrt(std::max(0.0, dA * dA + dB * dB - 2 * dA * dB * std::cos(dAngle)));
}

float pointValue(const Point& point, const MeterReadings& readings) {
    const float* pfJournal = readings.record.data();
    const int n = point.nIndex;
    if (point.how == How::None) return NOT_IMPLEMENTED;
    if (point.how == How::Lifetime)
        return readings.bLifetime ? static_cast<float>(readings.lifetime.values[n]) : NOT_IMPLEMENTED;
    if (!readings.bRecord) return NOT_IMPLEMENTED;
    switch (point.how) {
        case How::Sum:
            return pfJournal[n] + pfJournal[n + 1] + pfJournal[n + 2];
        case How::Average:
            return (pfJournal[n] + pfJournal[n + 1] + pfJournal[n + 2]) / 3;
        case How::LineToLine:
            return static_cast<float>(lineToLine(pfJournal, n));
        case How::MeanLineToLine:
            return static_cast<float>(
                (lineToLine(pfJournal, 0) + lineToLine(pfJournal, 1) + lineToLine(pfJournal, 2)) / 3);
        case How::Percent:
            return pfJournal[n] * 100;
        default:
            return pfJournal[n];
    }
}

uint32_t events(const MeterHealth& health) {
    uint32_t ulAny = 0;  // the limit bits of the three phases together
    for (int p = 0; p < 3; p++) ulAny |= health.ulLimitBits >> (p * LIMIT_BITS_PER_PHASE);
    return (health.bMeasuring ? 0 : EVT_POWER_FAILURE) | (health.bChipAnswering ? 0 : EVT_MISSING_SENSOR) |
           (ulAny & LIMIT_VOLTS_LOW ? EVT_UNDER_VOLTAGE : 0) |
           (ulAny & LIMIT_VOLTS_HIGH ? EVT_OVER_VOLTAGE : 0) |
           (ulAny & LIMIT_AMPS_HIGH ? EVT_OVER_CURRENT : 0);
}

// The catalogue's key of a journal field or lifetime counter.
std::string keyOf(QuantitySource source, int nIndex) {
    for (const PublishedQuantity& q : publishedQuantities())
        if (q.source == source && q.nIndex == nIndex) return q.key;
    return "?";
}

std::string describe(const Point& point) {
    const int n = point.nIndex;
    const auto journal = [](int nField) { return keyOf(QuantitySource::Journal, nField); };
    switch (point.how) {
        case How::Value:
            return journal(n);
        case How::Sum:
            return journal(n) + " + " + journal(n + 1) + " + " + journal(n + 2);
        case How::Average:
            return "mean of " + journal(n) + ", " + journal(n + 1) + ", " + journal(n + 2);
        case How::LineToLine:
            return "from the two phases' voltages and angles (VRMS, VANGLE)";
        case How::MeanLineToLine:
            return "mean of the three line-to-line voltages";
        case How::Percent:
            return journal(n) + " x 100";
        case How::Lifetime:
            return keyOf(QuantitySource::Lifetime, n) + " (lifetime)";
        case How::None:
            return "not measured: NaN";
    }
    return "";
}

}  // namespace

void writeSunSpec(uint16_t* pRegisters, const MeterReadings& readings, const MeterIdentity& identity) {
    uint16_t* p = pRegisters;
    putText(p, 2, "SunS");
    p += 2;
    *p++ = MODEL_COMMON;
    *p++ = SUNSPEC_COMMON_LENGTH;
    putText(p, 16, MANUFACTURER);
    putText(p + 16, 16, MODEL);
    putText(p + 32, 8, "");
    putText(p + 40, 8, identity.version);
    putText(p + 48, 16, identity.serialNumber);
    p[64] = identity.unUnitId;
    p[65] = PAD;
    p += SUNSPEC_COMMON_LENGTH;
    *p++ = MODEL_METER;
    *p++ = SUNSPEC_METER_LENGTH;
    for (const Point& point : meterPoints()) {
        putFloat(p, pointValue(point, readings));
        p += 2;
    }
    putUint32(p, events(readings.health));
    p += 2;
    *p++ = END_MARKER;
    *p = 0;
}

std::string sunSpecMeterTable() {
    const int nFirst = SUNSPEC_BASE + 4 + SUNSPEC_COMMON_LENGTH + 2;
    std::string table = "| Address | Name | Unit | Type | Value |\n|---:|---|---|---|---|\n";
    int nAddress = nFirst;
    for (const Point& point : meterPoints()) {
        table += "| " + std::to_string(nAddress) + " | " + point.name + " | " + point.unit + " | float32 | " +
                 describe(point) + " |\n";
        nAddress += 2;
    }
    return table + "| " + std::to_string(nAddress) +
           " | Evt | | uint32 | event bits: 2 power failure (not measuring), 3 under voltage, 5 over "
           "current, "
           "6 over voltage (the module's limits on any phase), 7 missing sensor (the chip does not answer) "
           "|\n";
}
