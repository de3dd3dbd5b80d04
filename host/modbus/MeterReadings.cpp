#include "MeterReadings.h"

#include <algorithm>

MeterReadings readMeter(const MeterSources& sources) {
    MeterReadings readings;
    if (sources.pModule != nullptr) {
        MeasSOM& module = *sources.pModule;
        readings.bRecord = module.realtimeGet(REQ_MODBUS, readings.record.data(),
                                              static_cast<uint32_t>(sizeof readings.record)) == REQ_OK;
        float fEnergy[ENERGY_FLOATS];
        readings.bDemand = module.realtimeGet(REQ_ENERGY, fEnergy, sizeof fEnergy) == REQ_OK;
        if (readings.bDemand)
            std::copy(fEnergy + 2 * accum_ENERGY_MAX, fEnergy + ENERGY_FLOATS, readings.peakDemand.begin());
    }
    readings.bLifetime = sources.lifetime && sources.lifetime(readings.lifetime);
    if (sources.health)
        readings.health = sources.health();
    else
        readings.health.bMeasuring = readings.health.bChipAnswering = readings.bRecord;
    return readings;
}
