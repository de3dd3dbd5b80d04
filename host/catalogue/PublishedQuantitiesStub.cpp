// TEMPORARY: a handful of the published quantities, so the MQTT publisher
// builds and is tested before the catalogue's own table is merged; the
// merge replaces this file with it.
#include "LifetimeEnergy.h"
#include "PublishedQuantities.h"

const std::vector<PublishedQuantity>& publishedQuantities() {
    static const std::vector<PublishedQuantity> quantities = {
        {"VRMS_A", "Voltage A", "V", "voltage", "measurement", "qm9000_voltage_volts", "A",
         QuantitySource::Journal, jrnl_VRMS_A},
        {"IRMS_A", "Current A", "A", "current", "measurement", "qm9000_current_amperes", "A",
         QuantitySource::Journal, jrnl_IRMS_A},
        {"WATT_A", "Power A", "W", "power", "measurement", "qm9000_power_watts", "A", QuantitySource::Journal,
         jrnl_WATT_A},
        {"TOT_WATT", "Power", "W", "power", "measurement", "qm9000_power_watts", "", QuantitySource::Journal,
         jrnl_TOT_WATT},
        {"FREQ_A", "Frequency", "Hz", "frequency", "measurement", "qm9000_frequency_hertz", "A",
         QuantitySource::Journal, jrnl_FREQ_A},
        {"WH_IMPORT_TOT", "Energy imported", "Wh", "energy", "total_increasing",
         "qm9000_energy_imported_wh_total", "", QuantitySource::Lifetime, life_WH_IMPORT_TOT},
        {"WH_EXPORT_TOT", "Energy exported", "Wh", "energy", "total_increasing",
         "qm9000_energy_exported_wh_total", "", QuantitySource::Lifetime, life_WH_EXPORT_TOT},
    };
    return quantities;
}
