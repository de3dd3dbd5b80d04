// Chip addresses, commands and bits the simulated board acts on.
#pragma once

#include <cstdint>

namespace sim::detail {

constexpr uint16_t kRegStatus0 = 0x402;
constexpr uint16_t kRegStatus1 = 0x403;
constexpr uint16_t kRegMask0 = 0x405;
constexpr uint16_t kRegMask1 = 0x406;
constexpr uint16_t kRegRun = 0x480;
constexpr uint16_t kRegConfig0 = 0x060;
constexpr uint16_t kRegAccMode = 0x492;
constexpr uint16_t kRegWfbCfg = 0x4A0;
constexpr uint16_t kRegEpCfg = 0x4B0;
constexpr uint16_t kRegPwrTime = 0x4B1;
constexpr uint16_t kRegEgyTime = 0x4B2;

// The measurement block read in one burst: 61 words, 19 per phase then 4 neutral.
constexpr uint16_t kBurstFirst = 0x680;
constexpr uint16_t kBurstLast = 0x6BC;
constexpr int kBurstWords = kBurstLast - kBurstFirst + 1;
constexpr int kBurstWordsPerPhase = 19;

// The waveform buffer, reachable by its burst only: 256 sets of 6 samples.
constexpr uint16_t kWaveformBuffer = 0x801;
constexpr int kWaveformBytes = 256 * 6 * 2;

constexpr uint16_t kBurstValuesCommand = 0x6808;
constexpr uint16_t kBurstWaveformCommand = 0x8018;

constexpr uint32_t kStatus1ZeroCrossing = 0x00000200;
constexpr uint32_t kStatus0EnergyReady = 0x00000001;
constexpr uint32_t kStatus0PowerReady = 0x00040000;
constexpr uint32_t kStatus0PageFull = 0x00800000;

constexpr uint32_t kEpCfgEnable = 0x0001;        // energy and power accumulation on
constexpr uint32_t kEpCfgLoadInterval = 0x0010;  // each interval replaces the energy registers
constexpr uint32_t kWfbCfgCapture = 0x0010;      // waveform capture on

// Board wiring.
constexpr int kResetPin = 5;
constexpr int kIrq1Pin = 12;

}  // namespace sim::detail
