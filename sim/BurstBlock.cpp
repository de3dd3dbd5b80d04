#include "BurstBlock.h"

#include <array>

#include "ChipRegisters.h"

namespace sim::detail {

namespace {

// Phase A primaries of the 19 positions; phase B adds 0x20, phase C 0x40.
constexpr std::array<uint16_t, kBurstWordsPerPhase> kPhaseAPrimaries = {
    0x20B, 0x20A, 0x20C, 0x20D, 0x210, 0x212, 0x211, 0x214, 0x216, 0x217,
    0x218, 0x213, 0x215, 0x20E, 0x20F, 0x219, 0x21A, 0x21B, 0x21C,
};
constexpr uint16_t kPhaseStride = 0x20;
// Neutral words 57..60: NI_PCF, NIRMS, NIRMSONE, NIRMS1012.
constexpr uint16_t kNeutralFirstPrimary = 0x265;
constexpr int kPhaseWords = 3 * kBurstWordsPerPhase;

}  // namespace

bool isBurstWord(uint16_t address) {
    return address >= kBurstFirst && address <= kBurstLast;
}

uint16_t burstPrimary(uint16_t address) {
    const int word = address - kBurstFirst;
    if (word >= kPhaseWords) return static_cast<uint16_t>(kNeutralFirstPrimary + (word - kPhaseWords));
    const int phase = word / kBurstWordsPerPhase;
    return static_cast<uint16_t>(kPhaseAPrimaries[word % kBurstWordsPerPhase] + phase * kPhaseStride);
}

}  // namespace sim::detail
