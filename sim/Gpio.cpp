#include "Gpio.h"

namespace sim::detail {

void Gpio::setMode(uint64_t nowMicros, int pin, int mode) {
    m_log.push_back({nowMicros, pin, mode, -1});
}

void Gpio::write(uint64_t nowMicros, int pin, int level) {
    level = level ? 1 : 0;
    m_levels[pin] = level;
    m_log.push_back({nowMicros, pin, -1, level});
}

int Gpio::level(int pin) const {
    const auto it = m_levels.find(pin);
    return it == m_levels.end() ? -1 : it->second;
}

int Gpio::registerIsr(int pin, int edgeType, IsrRoutine routine) {
    if (m_isrSetupResult < 0) return m_isrSetupResult;
    m_isrs[pin] = Isr{edgeType, routine};
    return m_isrSetupResult;
}

IsrRoutine Gpio::takeFallingEdge(int pin) {
    const auto it = m_isrs.find(pin);
    if (it == m_isrs.end() || it->second.routine == nullptr) return nullptr;
    if (it->second.edgeType != kEdgeFalling && it->second.edgeType != kEdgeBoth) return nullptr;
    ++m_delivered[pin];
    return it->second.routine;
}

uint64_t Gpio::deliveredEdges(int pin) const {
    const auto it = m_delivered.find(pin);
    return it == m_delivered.end() ? 0 : it->second;
}

}  // namespace sim::detail
