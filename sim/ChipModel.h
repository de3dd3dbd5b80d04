// The metering chip as the bus sees it: every catalogue register with its
// width and reset value, the behaviour table applied to reads and writes, the
// reset input, and the IRQ1 line. Plain state, guarded by the board mutex.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <set>
#include <vector>

#include "ChipRegisters.h"
#include "RegisterBehaviour.h"

namespace sim::detail {

// Computes registers from the simulated signal instead of storage.
class RegisterSource {
public:
    virtual ~RegisterSource() = default;
    // True with `value` set when `address` is computed now; false to use storage.
    virtual bool compute(uint16_t address, uint32_t& value) const = 0;
    // Whether `address` is one the source computes at all (running or not).
    virtual bool computes(uint16_t address) const = 0;
};

class ChipModel {
public:
    ChipModel();

    // Powered, idle, registers at reset values, faults cleared.
    void powerOn();

    // 16 or 32; 0 for an address not in the catalogue.
    int widthOf(uint16_t address) const;

    // ---- Bus side (addresses must be in the catalogue) ----
    // What a read frame returns: 0 while held in reset.
    uint32_t readRegister(uint16_t address) const;
    // Applies the behaviour table; returns what the write triggers.
    WriteEffect writeRegister(uint16_t address, uint32_t value);
    // The measurement block, 61 words most significant byte first.
    void readBurstValues(uint8_t* dest) const;
    // The waveform buffer: sample sets of six channels, most significant byte
    // first. All zero while held in reset.
    void readWaveformBuffer(uint8_t* dest, std::size_t bytes) const;

    // ---- Test face: no bus side effects; throw std::out_of_range for
    // addresses not in the catalogue. Poking a computed register pins it:
    // it then reads its stored value until released ----
    uint32_t peek(uint16_t address) const;
    void poke(uint16_t address, uint32_t value);
    void release(uint16_t address);

    // ---- The chip's own signal processing (addresses in the catalogue) ----
    // Storage as it stands, without computed values, pins or stuck bits.
    uint32_t stored(uint16_t address) const { return m_values[rowOf(address)]; }
    // Writes a result register (read-only on the bus); results are not inputs,
    // so changeCount() stays.
    void latch(uint16_t address, uint32_t value);
    void raiseStatus0(uint32_t bits);
    using WaveformBuffer = std::array<int16_t, kWaveformBytes / 2>;
    void writeWaveformBuffer(const WaveformBuffer& samples);
    // Counts changes by writes, the test face and resets, so computed values
    // know when to recompute.
    uint64_t changeCount() const { return m_changeCount; }

    // ---- Reset input: low holds the chip in reset; high again completes it ----
    void driveResetPin(int level);
    bool inReset() const { return m_heldInReset; }
    uint64_t resetCount() const { return m_resetCount; }
    bool running() const;

    // ---- Signal-processing events ----
    void zeroCrossing();

    // ---- IRQ1 ----
    bool irq1Asserted() const;
    // Falling edges since the last call, for the board to deliver.
    int takeIrq1Edges();
    void setIrq1Connected(bool connected);

    // ---- Faults and seams ----
    void setIgnoreWrites(uint16_t address, bool ignore);
    void setStuckStatus(uint16_t address, uint32_t bits);
    void setRegisterSource(const RegisterSource* source) { m_source = source; }

private:
    int rowOf(uint16_t address) const;
    int checkedRow(uint16_t address) const;
    uint32_t widthMask(int row) const;
    uint32_t valueOf(uint16_t address) const;
    uint32_t stuckBits(uint16_t address) const;
    void resetRegisters();
    void updateIrq1(bool edgesCount);

    std::array<int16_t, 0x1000> m_rowOf{};  // address -> catalogue row, -1 when none
    std::vector<uint32_t> m_values;
    std::vector<RegisterBehaviour> m_behaviours;

    bool m_heldInReset = false;
    uint64_t m_resetCount = 0;

    bool m_irq1Level = false;  // as last evaluated, to find falling edges
    int m_pendingIrq1Edges = 0;
    bool m_irq1Connected = true;

    uint64_t m_changeCount = 0;
    std::vector<bool> m_pinned;  // by address
    WaveformBuffer m_waveformBuffer{};

    std::set<uint16_t> m_ignoreWrites;
    uint32_t m_stuckStatus0 = 0;
    uint32_t m_stuckStatus1 = 0;
    const RegisterSource* m_source = nullptr;
};

}  // namespace sim::detail
