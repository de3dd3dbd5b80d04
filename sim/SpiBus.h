// The SPI bus to the chip: decodes each frame strictly, carries it out on the
// chip model, and logs it. Plain state, guarded by the board mutex.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "ChipModel.h"
#include "Sim.h"

namespace sim::detail {

class SpiBus {
public:
    static constexpr int kDefaultSetupResult = 3;  // a plausible spidev descriptor

    void reset() { *this = SpiBus{}; }

    int setup(uint64_t nowMicros, int channel, int speed);
    // One frame: returns what wiringPiSPIDataRW returns.
    int transfer(uint64_t nowMicros, int channel, uint8_t* data, int len, ChipModel& chip);
    // Time on the wire at 2.5 MHz.
    static uint64_t durationNanos(int len);

    void setFault(BusFault fault) { m_fault = fault; }
    BusFault fault() const { return m_fault; }
    void setSetupResult(int descriptor) { m_setupResult = descriptor; }

    int setupCount() const { return m_setupCount; }
    int setupSpeed() const { return m_setupSpeed; }
    const std::deque<SpiFrame>& log() const { return m_log; }
    void clearLog() { m_log.clear(); }
    uint64_t framesRecorded() const { return m_recorded; }  // ever, whatever the log keeps
    void setLogLimit(std::size_t frames);
    const std::vector<std::string>& errors() const { return m_errors; }

private:
    FrameKind decode(const uint8_t* data, int len, const ChipModel& chip, std::string& problem) const;
    void execute(FrameKind kind, uint8_t* data, int len, ChipModel& chip, SpiFrame& frame) const;
    void protocolError(uint64_t nowMicros, const std::string& what);
    void record(SpiFrame frame);

    int m_setupCount = 0;
    int m_setupSpeed = 0;
    int m_setupResult = kDefaultSetupResult;
    BusFault m_fault = BusFault::None;
    std::deque<SpiFrame> m_log;
    std::size_t m_logLimit = 0;  // 0: unlimited
    uint64_t m_recorded = 0;
    std::vector<std::string> m_errors;
};

}  // namespace sim::detail
