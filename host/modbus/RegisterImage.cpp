#include "RegisterImage.h"

#include <cmath>
#include <limits>

#include "MeterMap.h"
#include "RegisterEncoding.h"

namespace {

constexpr float NOT_AVAILABLE = std::numeric_limits<float>::quiet_NaN();
constexpr uint64_t NO_COUNTER = UINT64_MAX;

std::vector<bool> buildDefined() {
    std::vector<bool> defined(RegisterImage::SIZE, false);
    for (const MapPoint& point : meterMap())
        for (int i = 0; i < registerCount(point.place.type); i++) defined[point.place.nAddress + i] = true;
    for (int i = 0; i < SUNSPEC_REGISTERS; i++) defined[SUNSPEC_BASE + i] = true;
    return defined;
}

uint16_t statusWord(const MeterReadings& readings) {
    const MeterHealth& health = readings.health;
    return static_cast<uint16_t>(
        (health.bMeasuring ? status_MEASURING : 0) | (health.bChipAnswering ? status_CHIP_ANSWERING : 0) |
        (health.bRecording ? status_RECORDING : 0) | (health.ulLostWindows > 0 ? status_LOSSES : 0) |
        (readings.bLifetime ? status_LIFETIME : 0) | (readings.bRecord ? status_RECORD : 0));
}

// A lifetime counter in whole units of 1/scale, rounded down, so a counter
// that never goes back is never shown going back; all ones when there is none.
uint64_t counter(const MeterReadings& readings, const MapPoint& point) {
    const double dScaled = std::floor(readings.lifetime.values[point.nIndex] * point.place.dScale);
    if (!readings.bLifetime || !(dScaled >= 0) || dScaled >= 1.8e19) return NO_COUNTER;
    return static_cast<uint64_t>(dScaled);
}

float pointFloat(const MeterReadings& readings, const MapPoint& point) {
    switch (point.source) {
        case PointSource::Journal:
            return readings.bRecord ? readings.record[point.nIndex] : NOT_AVAILABLE;
        case PointSource::IntervalEnergy:
            return readings.bRecord ? readings.record[jrnl_MAX + point.nIndex] : NOT_AVAILABLE;
        case PointSource::PeakDemand:
            return readings.bDemand ? readings.peakDemand[point.nIndex] : NOT_AVAILABLE;
        default:
            return NOT_AVAILABLE;
    }
}

}  // namespace

RegisterImage::RegisterImage(const MeterReadings& readings, const MeterIdentity& identity)
    : m_registers(SIZE, 0) {
    for (const MapPoint& point : meterMap()) {
        uint16_t* p = &m_registers[static_cast<size_t>(point.place.nAddress)];
        switch (point.source) {
            case PointSource::Status:
                *p = statusWord(readings);
                break;
            case PointSource::LimitBits:
                putUint32(p, readings.health.ulLimitBits);
                break;
            case PointSource::LostWindows:
                putUint32(p, readings.health.ulLostWindows);
                break;
            case PointSource::Lifetime:
                putUint64(p, counter(readings, point));
                break;
            default:
                putFloat(p, pointFloat(readings, point));
        }
    }
    writeSunSpec(&m_registers[SUNSPEC_BASE], readings, identity);
}

bool RegisterImage::exists(unsigned unFirst, unsigned unCount) {
    static const std::vector<bool> defined = buildDefined();
    if (unFirst + unCount > defined.size()) return false;
    for (unsigned i = unFirst; i < unFirst + unCount; i++)
        if (!defined[i]) return false;
    return true;
}
