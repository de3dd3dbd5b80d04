#include "ChipModel.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>

#include "BurstBlock.h"
#include "ChipRegisters.h"
#include "Tables9000.h"

namespace sim::detail {

ChipModel::ChipModel() {
    m_rowOf.fill(-1);
    m_pinned.assign(m_rowOf.size(), false);
    m_values.resize(REGISTER_DEFS_ROWS);
    m_behaviours.reserve(REGISTER_DEFS_ROWS);
    for (int row = 0; row < REGISTER_DEFS_ROWS; ++row) {
        const uint16_t address = g_rd9000RegisterDefs[row].unAddress;
        m_rowOf.at(address) = static_cast<int16_t>(row);
        m_behaviours.push_back(behaviourOf(address));
    }
    powerOn();
}

void ChipModel::powerOn() {
    resetRegisters();
    m_heldInReset = false;
    m_resetCount = 0;
    m_irq1Level = false;
    m_pendingIrq1Edges = 0;
    m_irq1Connected = true;
    m_ignoreWrites.clear();
    m_stuckStatus0 = m_stuckStatus1 = 0;
    m_pinned.assign(m_rowOf.size(), false);
}

void ChipModel::resetRegisters() {
    m_waveformBuffer.fill(0);
    for (int row = 0; row < REGISTER_DEFS_ROWS; ++row)
        m_values[row] = g_rd9000RegisterDefs[row].ulInit & widthMask(row);
    ++m_changeCount;
}

int ChipModel::rowOf(uint16_t address) const {
    return address < m_rowOf.size() ? m_rowOf[address] : -1;
}

int ChipModel::checkedRow(uint16_t address) const {
    const int row = rowOf(address);
    if (row < 0) throw std::out_of_range("no chip register at address " + std::to_string(address));
    return row;
}

int ChipModel::widthOf(uint16_t address) const {
    const int row = rowOf(address);
    return row < 0 ? 0 : g_rd9000RegisterDefs[row].nSizeInBits;
}

uint32_t ChipModel::widthMask(int row) const {
    return g_rd9000RegisterDefs[row].nSizeInBits == 16 ? 0xFFFFu : 0xFFFFFFFFu;
}

uint32_t ChipModel::stuckBits(uint16_t address) const {
    if (address == kRegStatus0) return m_stuckStatus0;
    if (address == kRegStatus1) return m_stuckStatus1;
    return 0;
}

// Every read goes through here, so burst words, computed registers and stuck
// bits look the same to single reads, bursts and the test face.
uint32_t ChipModel::valueOf(uint16_t address) const {
    if (isBurstWord(address)) return valueOf(burstPrimary(address));
    const int row = rowOf(address);
    uint32_t value = m_values[row];
    if (m_source != nullptr && !m_pinned[address]) m_source->compute(address, value);
    return (value | stuckBits(address)) & widthMask(row);
}

uint32_t ChipModel::readRegister(uint16_t address) const {
    return m_heldInReset ? 0 : valueOf(address);
}

WriteEffect ChipModel::writeRegister(uint16_t address, uint32_t value) {
    const int row = rowOf(address);
    const RegisterBehaviour behaviour = m_behaviours[row];
    if (m_heldInReset || m_ignoreWrites.count(address) != 0) return WriteEffect::None;
    switch (behaviour.access) {
        case Access::ReadOnly:
            return WriteEffect::None;
        case Access::WriteOneToClear:
            m_values[row] &= ~value;
            break;
        case Access::ReadWrite:
            m_values[row] = value & widthMask(row);
            break;
    }
    // Status bits feed no measurement, and the module clears them on every cycle.
    if (behaviour.access != Access::WriteOneToClear) ++m_changeCount;
    if (behaviour.effect == WriteEffect::InterruptMask) updateIrq1(true);
    return behaviour.effect;
}

void ChipModel::readBurstValues(uint8_t* dest) const {
    for (int word = 0; word < kBurstWords; ++word) {
        const uint32_t value = readRegister(static_cast<uint16_t>(kBurstFirst + word));
        for (int byte = 0; byte < 4; ++byte)
            dest[word * 4 + byte] = static_cast<uint8_t>(value >> (24 - 8 * byte));
    }
}

void ChipModel::readWaveformBuffer(uint8_t* dest, std::size_t bytes) const {
    std::memset(dest, 0, bytes);
    if (m_heldInReset) return;
    const std::size_t samples = std::min(bytes / 2, m_waveformBuffer.size());
    for (std::size_t i = 0; i < samples; ++i) {
        const auto sample = static_cast<uint16_t>(m_waveformBuffer[i]);
        dest[2 * i] = static_cast<uint8_t>(sample >> 8);
        dest[2 * i + 1] = static_cast<uint8_t>(sample);
    }
}

void ChipModel::writeWaveformBuffer(const WaveformBuffer& samples) {
    m_waveformBuffer = samples;
}

uint32_t ChipModel::peek(uint16_t address) const {
    checkedRow(isBurstWord(address) ? burstPrimary(address) : address);
    return valueOf(address);
}

void ChipModel::poke(uint16_t address, uint32_t value) {
    if (isBurstWord(address)) address = burstPrimary(address);
    const int row = checkedRow(address);
    m_values[row] = value & widthMask(row);
    ++m_changeCount;
    if (m_source != nullptr && m_source->computes(address)) m_pinned[address] = true;
    // The line follows the registers, but a test setting them raises no edge.
    updateIrq1(false);
}

void ChipModel::release(uint16_t address) {
    if (isBurstWord(address)) address = burstPrimary(address);
    checkedRow(address);
    m_pinned[address] = false;
    ++m_changeCount;
}

void ChipModel::latch(uint16_t address, uint32_t value) {
    const int row = rowOf(address);
    m_values[row] = value & widthMask(row);
}

void ChipModel::raiseStatus0(uint32_t bits) {
    m_values[rowOf(kRegStatus0)] |= bits;
    updateIrq1(true);
}

void ChipModel::driveResetPin(int level) {
    if (level == 0) {
        m_heldInReset = true;
    } else if (m_heldInReset) {
        m_heldInReset = false;
        resetRegisters();
        ++m_resetCount;
    }
    updateIrq1(true);
}

bool ChipModel::running() const {
    return !m_heldInReset && (m_values[rowOf(kRegRun)] & 1u) != 0;
}

void ChipModel::zeroCrossing() {
    m_values[rowOf(kRegStatus1)] |= kStatus1ZeroCrossing;
    updateIrq1(true);
}

bool ChipModel::irq1Asserted() const {
    if (!m_irq1Connected || m_heldInReset) return false;
    return (valueOf(kRegStatus1) & valueOf(kRegMask1)) != 0;
}

void ChipModel::updateIrq1(bool edgesCount) {
    const bool asserted = irq1Asserted();
    if (asserted && !m_irq1Level && edgesCount) ++m_pendingIrq1Edges;
    m_irq1Level = asserted;
}

int ChipModel::takeIrq1Edges() {
    const int edges = m_pendingIrq1Edges;
    m_pendingIrq1Edges = 0;
    return edges;
}

void ChipModel::setIrq1Connected(bool connected) {
    m_irq1Connected = connected;
    updateIrq1(true);
}

void ChipModel::setIgnoreWrites(uint16_t address, bool ignore) {
    checkedRow(address);
    if (ignore)
        m_ignoreWrites.insert(address);
    else
        m_ignoreWrites.erase(address);
}

void ChipModel::setStuckStatus(uint16_t address, uint32_t bits) {
    if (address == kRegStatus0)
        m_stuckStatus0 = bits;
    else if (address == kRegStatus1)
        m_stuckStatus1 = bits;
    else
        throw std::invalid_argument("only STATUS0 and STATUS1 bits can be stuck");
    updateIrq1(true);
}

}  // namespace sim::detail
