#include "SpiBus.h"

#include <cstdio>
#include <cstring>

#include "ChipRegisters.h"

namespace sim::detail {

namespace {

constexpr uint16_t kReadBit = 0x0008;
constexpr uint16_t kReservedBits = 0x0007;
constexpr uint64_t kNanosPerBit = 400;  // 2.5 MHz

std::string hex(unsigned value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}

const char* frameName(FrameKind kind) {
    switch (kind) {
        case FrameKind::Read16:
            return "16-bit read";
        case FrameKind::Read32:
            return "32-bit read";
        case FrameKind::Write16:
            return "16-bit write";
        case FrameKind::Write32:
            return "32-bit write";
        default:
            return "frame";
    }
}

uint32_t bigEndian(const uint8_t* bytes, int count) {
    uint32_t value = 0;
    for (int i = 0; i < count; ++i) value = value << 8 | bytes[i];
    return value;
}

void putBigEndian(uint8_t* bytes, int count, uint32_t value) {
    for (int i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * (count - 1 - i)));
}

}  // namespace

uint64_t SpiBus::durationNanos(int len) {
    return static_cast<uint64_t>(len) * 8 * kNanosPerBit;
}

int SpiBus::setup(uint64_t nowMicros, int channel, int speed) {
    ++m_setupCount;
    m_setupSpeed = speed;
    if (channel != 0) protocolError(nowMicros, "wiringPiSPISetup on channel " + std::to_string(channel));
    return m_setupResult;
}

void SpiBus::setLogLimit(std::size_t frames) {
    m_logLimit = frames;
    while (m_logLimit != 0 && m_log.size() > m_logLimit) m_log.pop_front();
}

void SpiBus::protocolError(uint64_t nowMicros, const std::string& what) {
    m_errors.push_back("t=" + std::to_string(nowMicros) + " us: " + what);
}

void SpiBus::record(SpiFrame frame) {
    m_log.push_back(std::move(frame));
    ++m_recorded;
    if (m_logLimit != 0 && m_log.size() > m_logLimit) m_log.pop_front();
}

int SpiBus::transfer(uint64_t nowMicros, int channel, uint8_t* data, int len, ChipModel& chip) {
    if (data == nullptr || len <= 0) {
        protocolError(nowMicros, "transfer of " + std::to_string(len) + " bytes");
        return -1;
    }
    SpiFrame frame{nowMicros, FrameKind::Invalid, 0, 0, std::vector<uint8_t>(data, data + len)};
    const uint16_t command = len >= 2 ? static_cast<uint16_t>(data[0] << 8 | data[1]) : 0;
    frame.address = static_cast<uint16_t>(command >> 4);

    if (channel != 0 || m_setupCount == 0) {
        protocolError(nowMicros, channel != 0 ? "transfer on channel " + std::to_string(channel)
                                              : std::string("transfer before wiringPiSPISetup"));
        record(std::move(frame));
        return -1;
    }
    // The device never opened: nothing reaches the wire.
    if (m_setupResult < 0) return -1;

    std::string problem;
    frame.kind = decode(data, len, chip, problem);
    if (frame.kind == FrameKind::Invalid) {
        protocolError(nowMicros,
                      problem + " (command " + hex(command, 4) + ", " + std::to_string(len) + " bytes)");
        std::memset(data, 0, static_cast<std::size_t>(len));
    } else {
        execute(frame.kind, data, len, chip, frame);
    }
    record(std::move(frame));
    return len;
}

FrameKind SpiBus::decode(const uint8_t* data, int len, const ChipModel& chip, std::string& problem) const {
    if (len != 4 && len != 6 && len != 8 && len != 246 && len != 3074) {
        problem = std::to_string(len) + "-byte frame (frames are 4, 6, 8, 246 or 3074 bytes)";
        return FrameKind::Invalid;
    }
    const uint16_t command = static_cast<uint16_t>(data[0] << 8 | data[1]);
    const uint16_t address = static_cast<uint16_t>(command >> 4);
    const bool read = (command & kReadBit) != 0;
    if ((command & kReservedBits) != 0) {
        problem = "command word with bits 2..0 set";
        return FrameKind::Invalid;
    }
    if (len == 246 || len == 3074) {
        const uint16_t expected = len == 246 ? kBurstValuesCommand : kBurstWaveformCommand;
        if (command == expected) return len == 246 ? FrameKind::BurstValues : FrameKind::BurstWaveform;
        problem = std::to_string(len) + "-byte burst must carry command " + hex(expected, 4);
        return FrameKind::Invalid;
    }
    if (address == kWaveformBuffer) {
        problem = "waveform buffer accessed outside its burst";
        return FrameKind::Invalid;
    }
    const int width = chip.widthOf(address);
    if (width == 0) {
        problem = "register " + hex(address, 3) + " is not in the catalogue";
        return FrameKind::Invalid;
    }
    FrameKind kind;
    if (len == 4) {
        if (read) {
            problem = "4-byte frame with the read bit set (reads are 6 or 8 bytes)";
            return FrameKind::Invalid;
        }
        kind = FrameKind::Write16;
    } else if (len == 6) {
        kind = read ? FrameKind::Read16 : FrameKind::Write32;
    } else {
        if (!read) {
            problem = "8-byte frame without the read bit (32-bit writes are 6 bytes)";
            return FrameKind::Invalid;
        }
        kind = FrameKind::Read32;
    }
    const int frameWidth = kind == FrameKind::Read16 || kind == FrameKind::Write16 ? 16 : 32;
    if (frameWidth != width) {
        problem = std::string(frameName(kind)) + " on " + std::to_string(width) + "-bit register " +
                  hex(address, 3);
        return FrameKind::Invalid;
    }
    return kind;
}

void SpiBus::execute(FrameKind kind, uint8_t* data, int len, ChipModel& chip, SpiFrame& frame) const {
    const bool absent = m_fault != BusFault::None;
    const uint8_t fill = m_fault == BusFault::AbsentReadsOnes ? 0xFF : 0x00;
    std::memset(data, fill, static_cast<std::size_t>(len));
    switch (kind) {
        case FrameKind::Read16:
        case FrameKind::Read32: {
            const int bytes = kind == FrameKind::Read16 ? 2 : 4;
            if (!absent) putBigEndian(data + 2, bytes, chip.readRegister(frame.address));
            frame.value = bigEndian(data + 2, bytes);
            break;
        }
        case FrameKind::Write16:
        case FrameKind::Write32:
            frame.value = bigEndian(frame.sent.data() + 2, kind == FrameKind::Write16 ? 2 : 4);
            if (!absent) chip.writeRegister(frame.address, frame.value);
            break;
        case FrameKind::BurstValues:
            if (!absent) chip.readBurstValues(data + 2);
            break;
        case FrameKind::BurstWaveform:
            if (!absent) chip.readWaveformBuffer(data + 2, kWaveformBytes);
            break;
        case FrameKind::Invalid:
            break;
    }
}

}  // namespace sim::detail
