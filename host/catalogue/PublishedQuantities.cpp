#include "PublishedQuantities.h"

#include <algorithm>
#include <iterator>

#include "Requests.h"

namespace {

// A quantity of the journal measured on each phase, or one of the three-phase
// totals: what Home Assistant and Prometheus call it.
struct JournalQuantity {
    const char* pszKey;   // the journal's name, phases as "_A" ... (ExportChannels.cpp)
    const char* pszName;  // for people
    const char* pszUnit;
    const char* pszDeviceClass;
    const char* pszMetric;  // per phase; the totals' has "three_phase_" after "qm9000_"
    eJrnl first;            // phase A's field, or the total's
    double dMetricScale;
};

constexpr JournalQuantity PER_PHASE[] = {
    {"VRMS", "Voltage", "V", "voltage", "qm9000_voltage_volts", jrnl_VRMS_A, 1},
    {"IRMS", "Current", "A", "current", "qm9000_current_amperes", jrnl_IRMS_A, 1},
    {"WATT", "Power", "W", "power", "qm9000_power_watts", jrnl_WATT_A, 1},
    {"VA", "Apparent power", "VA", "apparent_power", "qm9000_apparent_power_voltamperes", jrnl_VA_A, 1},
    {"VAR", "Reactive power", "var", "reactive_power", "qm9000_reactive_power_vars", jrnl_VAR_A, 1},
    {"PF", "Power factor", "", "power_factor", "qm9000_power_factor", jrnl_PF_A, 1},
    {"FREQ", "Frequency", "Hz", "frequency", "qm9000_frequency_hertz", jrnl_FREQ_A, 1},
    {"VTHD", "Voltage THD", "%", "", "qm9000_voltage_thd_ratio", jrnl_VTHD_A, 0.01},
    {"ITHD", "Current THD", "%", "", "qm9000_current_thd_ratio", jrnl_ITHD_A, 0.01},
};

constexpr JournalQuantity TOTALS[] = {
    {"TOT_WATT", "Total power", "W", "power", "qm9000_three_phase_power_watts", jrnl_TOT_WATT, 1},
    {"TOT_VA", "Total apparent power", "VA", "apparent_power",
     "qm9000_three_phase_apparent_power_voltamperes", jrnl_TOT_VA, 1},
    {"TOT_VAR", "Total reactive power", "var", "reactive_power", "qm9000_three_phase_reactive_power_vars",
     jrnl_TOT_VAR, 1},
    {"TOT_PF", "Total power factor", "", "power_factor", "qm9000_three_phase_power_factor", jrnl_TOT_PF, 1},
};

// The lifetime counters in LifetimeCounter order: active (Wh) then reactive
// (varh), import then export, phases A, B, C then the total. Home Assistant
// knows reactive energy by no device class in every version that reads
// discovery, so it has none. Prometheus counts energy in its base unit, the
// joule (watt-second), and so reactive energy in var-seconds.
struct LifetimeQuantity {
    const char *pszKey, *pszName, *pszUnit, *pszDeviceClass, *pszMetric;
};
constexpr LifetimeQuantity LIFETIME[] = {
    {"WH_IMPORT", "Energy import", "Wh", "energy", "energy_import_joules_total"},
    {"WH_EXPORT", "Energy export", "Wh", "energy", "energy_export_joules_total"},
    {"VARH_IMPORT", "Reactive energy import", "varh", "", "reactive_energy_import_var_seconds_total"},
    {"VARH_EXPORT", "Reactive energy export", "varh", "", "reactive_energy_export_var_seconds_total"},
};
static_assert(std::size(LIFETIME) * 4 == life_MAX, "each lifetime quantity on three phases and in total");

constexpr const char* PHASES[] = {"A", "B", "C"};
// The meter's Modbus map: the journal's quantities as floats from 100 in the
// catalogue's order, the lifetime counters from 400 as whole milli-watt-hours
// (a float loses the last watt-hour beyond 16.7 MWh; 64 bits never wrap).
constexpr int MODBUS_JOURNAL_FIRST = 100, MODBUS_LIFETIME_FIRST = 400;
constexpr double MILLI_PER_UNIT = 1000;
constexpr double SECONDS_PER_HOUR = 3600;

std::string lowerFirst(std::string text) {
    text[0] = static_cast<char>(text[0] - 'A' + 'a');
    return text;
}

std::vector<PublishedQuantity> buildCatalogue() {
    std::vector<PublishedQuantity> list;
    int nAddress = MODBUS_JOURNAL_FIRST;
    const auto nextFloat = [&nAddress] {
        nAddress += 2;
        return ModbusPlace{nAddress - 2, ModbusType::Float32, 1};
    };
    for (const JournalQuantity& q : PER_PHASE)
        for (int p = 0; p < 3; p++)
            list.push_back({std::string(q.pszKey) + "_" + PHASES[p], std::string(q.pszName) + " " + PHASES[p],
                            q.pszUnit, q.pszDeviceClass, "measurement", q.pszMetric, PHASES[p],
                            QuantitySource::Journal, q.first + p, q.dMetricScale, nextFloat()});
    list.push_back({"NIRMS", "Neutral current", "A", "current", "measurement", "qm9000_current_amperes", "N",
                    QuantitySource::Journal, jrnl_NIRMS, 1, nextFloat()});
    for (const JournalQuantity& q : TOTALS)
        list.push_back({q.pszKey, q.pszName, q.pszUnit, q.pszDeviceClass, "measurement", q.pszMetric, "",
                        QuantitySource::Journal, q.first, q.dMetricScale, nextFloat()});
    int nCounter = 0;
    for (const LifetimeQuantity& q : LIFETIME)
        for (int p = 0; p < 4; p++, nCounter++) {
            const bool bTotal = p == 3;
            list.push_back(
                {std::string(q.pszKey) + "_" + (bTotal ? "TOT" : PHASES[p]),
                 bTotal ? "Total " + lowerFirst(q.pszName) : std::string(q.pszName) + " " + PHASES[p],
                 q.pszUnit,
                 q.pszDeviceClass,
                 "total_increasing",
                 std::string(bTotal ? "qm9000_three_phase_" : "qm9000_") + q.pszMetric,
                 bTotal ? "" : PHASES[p],
                 QuantitySource::Lifetime,
                 nCounter,
                 SECONDS_PER_HOUR,
                 {MODBUS_LIFETIME_FIRST + 4 * nCounter, ModbusType::Uint64, MILLI_PER_UNIT}});
        }
    return list;
}

}  // namespace

const std::vector<PublishedQuantity>& publishedQuantities() {
    static const std::vector<PublishedQuantity> list = buildCatalogue();
    return list;
}

bool readPublishedJournal(MeasSOM& module, std::array<float, jrnl_MAX>& journal) {
    float fRecord[MODBUS_FLOATS];
    if (module.realtimeGet(REQ_MODBUS, fRecord, sizeof fRecord) != REQ_OK) return false;
    std::copy(fRecord, fRecord + jrnl_MAX, journal.begin());
    return true;
}

double publishedValue(const PublishedQuantity& quantity, const std::array<float, jrnl_MAX>& journal,
                      const LifetimeTotals& lifetime) {
    return quantity.source == QuantitySource::Journal ? journal[quantity.nIndex]
                                                      : lifetime.values[quantity.nIndex];
}
