// The simulated chip reached over its SPI wire, and the module's conversions
// of raw counts into physical values, for the simulated board's suites.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "BoardIO.h"
#include "Sim.h"

namespace simtest {

using Bytes = std::vector<uint8_t>;

inline Bytes transfer(Bytes bytes) {
    wiringPiSPIDataRW(0, bytes.data(), static_cast<int>(bytes.size()));
    return bytes;
}

inline uint8_t commandHigh(uint16_t address, bool read) {
    return static_cast<uint8_t>((address << 4 | (read ? 8 : 0)) >> 8);
}
inline uint8_t commandLow(uint16_t address, bool read) {
    return static_cast<uint8_t>(address << 4 | (read ? 8 : 0));
}

inline uint32_t read32(uint16_t address) {
    const Bytes reply = transfer({commandHigh(address, true), commandLow(address, true), 0, 0, 0, 0, 0, 0});
    return uint32_t{reply[2]} << 24 | uint32_t{reply[3]} << 16 | uint32_t{reply[4]} << 8 | reply[5];
}

inline int32_t readSigned(uint16_t address) {
    return static_cast<int32_t>(read32(address));
}

inline uint16_t read16(uint16_t address) {
    const Bytes reply = transfer({commandHigh(address, true), commandLow(address, true), 0, 0, 0, 0});
    return static_cast<uint16_t>(reply[2] << 8 | reply[3]);
}

inline void write32(uint16_t address, uint32_t value) {
    transfer({commandHigh(address, false), commandLow(address, false), static_cast<uint8_t>(value >> 24),
              static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 8),
              static_cast<uint8_t>(value)});
}

inline void write16(uint16_t address, uint16_t value) {
    transfer({commandHigh(address, false), commandLow(address, false), static_cast<uint8_t>(value >> 8),
              static_cast<uint8_t>(value)});
}

// The 61-word measurement burst, words in host order.
inline std::vector<uint32_t> burstValues() {
    Bytes bytes(246, 0);
    bytes[0] = 0x68;
    bytes[1] = 0x08;
    bytes = transfer(bytes);
    std::vector<uint32_t> words(61);
    for (int w = 0; w < 61; ++w) {
        const uint8_t* p = &bytes[2 + 4 * w];
        words[w] = uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
    }
    return words;
}

// The waveform buffer: 256 sets of channels IA, VA, IB, VB, IC, VC.
inline std::vector<int16_t> waveformPage() {
    Bytes bytes(3074, 0);
    bytes[0] = 0x80;
    bytes[1] = 0x18;
    bytes = transfer(bytes);
    std::vector<int16_t> samples(256 * 6);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<int16_t>(bytes[2 + 2 * i] << 8 | bytes[3 + 2 * i]);
    return samples;
}

// Registers the suites use.
namespace reg {
constexpr uint16_t AIGAIN = 0x000, AIGAIN0 = 0x001, APHCAL0 = 0x006, AVGAIN = 0x00B, AIRMSOS = 0x00C,
                   AVRMSOS = 0x00D, APGAIN = 0x00E, AWATTOS = 0x00F, AVAROS = 0x010, AFWATTOS = 0x011,
                   AFVAROS = 0x012, AIFRMSOS = 0x013, AVFRMSOS = 0x014, AVRMSONEOS = 0x015,
                   AIRMSONEOS = 0x016, AVRMS1012OS = 0x017, AIRMS1012OS = 0x018;
constexpr uint16_t CONFIG0 = 0x060, MTTHR_L0 = 0x061, MTTHR_H0 = 0x066, NIRMSOS = 0x06B, NIGAIN = 0x06D,
                   NIRMSONEOS = 0x06F, NIRMS1012OS = 0x070;
constexpr uint16_t AIRMS = 0x20C, AVRMS = 0x20D, AIFRMS = 0x20E, AVFRMS = 0x20F, AWATT = 0x210, AVAR = 0x211,
                   AVA = 0x212, AFWATT = 0x213, AFVAR = 0x214, AFVA = 0x215, APF = 0x216, AVTHD = 0x217,
                   AITHD = 0x218, AIRMSONE = 0x219, AVRMSONE = 0x21A, AIRMS1012 = 0x21B, AVRMS1012 = 0x21C;
constexpr uint16_t NIRMS = 0x266, NIRMSONE = 0x267, NIRMS1012 = 0x268;
constexpr uint16_t AWATT_ACC = 0x2E5, AWATTHR_LO = 0x2E6, AWATTHR_HI = 0x2E7, AVARHR_HI = 0x2F1,
                   AVAHR_HI = 0x2FB;
constexpr uint16_t STATUS0 = 0x402, STATUS1 = 0x403, APERIOD = 0x418, COM_PERIOD = 0x41B;
constexpr uint16_t RUN = 0x480, ANGL_VA_VB = 0x482, ANGL_VB_VC = 0x483, ANGL_VA_VC = 0x484,
                   ANGL_VA_IA = 0x485, ANGL_IA_IB = 0x488, ACCMODE = 0x492, WFB_CFG = 0x4A0, EP_CFG = 0x4B0,
                   PWR_TIME = 0x4B1, EGY_TIME = 0x4B2;
constexpr int kPhaseStride = 0x20;        // measurement and calibration blocks
constexpr int kEnergyPhaseStride = 0x3C;  // energy and power accumulation
constexpr int kEnergyQuantityStride = 0x0A;
}  // namespace reg

constexpr uint32_t kEnergyReady = 0x00000001;
constexpr uint32_t kPowerReady = 0x00040000;
constexpr uint32_t kPageFull = 0x00800000;

inline uint16_t ofPhase(uint16_t phaseA, int phase) {
    return static_cast<uint16_t>(phaseA + reg::kPhaseStride * phase);
}

// The module's scaling factors and conversions, in its own precision.
struct ModuleScale {
    float volts, amps, pmax, energy;

    ModuleScale(float fsv, float fsa) {
        const double product = fsv * 0.70710677f * fsa * 0.70710677f * 3.003003003003003;
        pmax = static_cast<float>(product / 20694066.0f);
        energy = static_cast<float>(product / 20694066.0f / 0.00012207 / 3600.0 / 8000.0);
        volts = 0.70710677f * fsv / 52702092.0f;
        amps = static_cast<float>(0.70710677f * fsa * 3.003003003003003 / 52702092.0f);
    }
    float toVolts(uint32_t raw) const { return static_cast<float>(raw) * volts; }
    float toAmps(uint32_t raw) const { return static_cast<float>(raw) * amps; }
    float toWatts(uint32_t raw) const { return static_cast<float>(static_cast<int32_t>(raw)) * pmax; }
    float toWattHours(uint32_t hi) const { return static_cast<float>(static_cast<int32_t>(hi)) * energy; }
    static double toFraction(uint32_t raw) {
        return static_cast<int32_t>(raw) * static_cast<double>(7.4505806e-9f);
    }
    static float toHertz(uint32_t raw) { return 524288000.0f / (static_cast<float>(raw) + 1.0f); }
    // Degrees of an angle register with the nominal period T.
    static float toDegrees(uint16_t raw, double nominalHertz) {
        return static_cast<float>(9.765625e-7 * nominalHertz * 360.0) * raw;
    }
    static float sampleVolts(int16_t sample, float fsv) { return sample * (fsv / 18196.0f); }
    static float sampleAmps(int16_t sample, float fsa) {
        return sample * static_cast<float>(fsa * 3.003003003003003 / 18196.0);
    }
};

// The chip as the module sets it up and starts it: energy and power intervals
// of 8000 samples (EP_CFG 0x0011), waveform capture on, RUN.
inline void startChipLikeTheModule(bool sixtyHertz = false) {
    write16(reg::EP_CFG, 0x0011);
    write16(reg::PWR_TIME, 7999);
    write16(reg::EGY_TIME, 7999);
    write16(reg::ACCMODE, sixtyHertz ? 0x0100 : 0x0000);
    write32(reg::STATUS0, 0xFFFFFFFF);
    write16(reg::WFB_CFG, 0x0010);
    write16(reg::RUN, 1);
}

// Relative difference, for tolerances in fractions.
inline double relative(double measured, double truth) {
    return std::fabs(measured - truth) / std::fabs(truth);
}

class SimSuite : public ::testing::Test {
protected:
    void SetUp() override {
        sim::reset();
        ASSERT_EQ(wiringPiSPISetup(0, 2500000), 3);
    }
    void TearDown() override {
        EXPECT_EQ(sim::protocolErrors(), std::vector<std::string>{});
        sim::reset();
    }
};

}  // namespace simtest
