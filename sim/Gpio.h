// The board's GPIO: pin levels and modes, their log, and the interrupt routines
// registered per pin. Plain state, guarded by the board mutex.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "Sim.h"

namespace sim::detail {

using IsrRoutine = void (*)(void);

// wiringPi edge types.
constexpr int kEdgeSetup = 0;
constexpr int kEdgeFalling = 1;
constexpr int kEdgeRising = 2;
constexpr int kEdgeBoth = 3;

class Gpio {
public:
    void reset() { *this = Gpio{}; }

    void setMode(uint64_t nowMicros, int pin, int mode);
    void write(uint64_t nowMicros, int pin, int level);
    int level(int pin) const;
    const std::vector<PinEvent>& log() const { return m_log; }

    // wiringPiISR: registers unless the injected result says setup fails.
    int registerIsr(int pin, int edgeType, IsrRoutine routine);
    bool isrRegistered(int pin) const { return m_isrs.count(pin) != 0; }
    void setIsrSetupResult(int result) { m_isrSetupResult = result; }

    // The routine a falling edge on `pin` runs, counted as delivered; null
    // when none is registered for falling edges. The caller runs it after
    // releasing the board mutex.
    IsrRoutine takeFallingEdge(int pin);
    uint64_t deliveredEdges(int pin) const;

private:
    struct Isr {
        int edgeType;
        IsrRoutine routine;
    };
    std::map<int, int> m_levels;
    std::vector<PinEvent> m_log;
    std::map<int, Isr> m_isrs;
    std::map<int, uint64_t> m_delivered;
    int m_isrSetupResult = 0;
};

}  // namespace sim::detail
