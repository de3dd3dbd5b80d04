// Declared in Driver_ADE9000.h: the module's file layout fixes both names.
#include <cstdio>
#include <cstring>

#include "BoardIO.h"
#include "Driver_ADE9000.h"

namespace {

constexpr int SPI_CHANNEL = 0;
constexpr int SPI_SPEED_HZ = 2500000;
constexpr uint16_t READ_BIT = 0x0008;

// Single-register frame lengths: command word, data, and for reads the two
// check bytes that are clocked in and discarded.
constexpr int READ32_FRAME = 8;
constexpr int READ16_FRAME = 6;
constexpr int WRITE32_FRAME = 6;
constexpr int WRITE16_FRAME = 4;
constexpr int VALUES_FRAME = 2 + 4 * BURST_WORDS;
constexpr int WAVEFORM_FRAME = sizeof(ADE9000_WAVEFORM_RECV_BUFFER);

void putCommand(uint8_t* frame, uint16_t unAddress, bool bRead) {
    const uint16_t unCommand = static_cast<uint16_t>((unAddress << 4) | (bRead ? READ_BIT : 0));
    frame[0] = static_cast<uint8_t>(unCommand >> 8);
    frame[1] = static_cast<uint8_t>(unCommand);
}

}  // namespace

// A transfer the board reports failed brought nothing back: the frame is made
// to read all ones, as a bus without the chip does, so a failed read counts as
// a chip not answering and never as a register value of 0.
int ADE_9000::transfer(uint8_t* frame, int nLength) {
    const int nResult = wiringPiSPIDataRW(SPI_CHANNEL, frame, nLength);
    m_bTransferFailed.store(nResult < 0, std::memory_order_relaxed);
    if (nResult < 0) memset(frame, 0xFF, static_cast<size_t>(nLength));
    return nResult;
}

const uint16_t g_readTable[BURST_WORDS] = {
    // Phase A
    0x20B, 0x20A, 0x20C, 0x20D, 0x210, 0x212, 0x211, 0x214, 0x216, 0x217, 0x218, 0x213, 0x215, 0x20E, 0x20F,
    0x219, 0x21A, 0x21B, 0x21C,
    // Phase B
    0x22B, 0x22A, 0x22C, 0x22D, 0x230, 0x232, 0x231, 0x234, 0x236, 0x237, 0x238, 0x233, 0x235, 0x22E, 0x22F,
    0x239, 0x23A, 0x23B, 0x23C,
    // Phase C
    0x24B, 0x24A, 0x24C, 0x24D, 0x250, 0x252, 0x251, 0x254, 0x256, 0x257, 0x258, 0x253, 0x255, 0x24E, 0x24F,
    0x259, 0x25A, 0x25B, 0x25C,
    // Neutral
    0x265, 0x266, 0x267, 0x268};

const uint16_t g_inputsMap[6][6] = {
    {0x0000, 0x2400, 0x0900, 0x1500, 0x2A00, 0x1200}, {0x2400, 0x0000, 0x2A00, 0x1200, 0x0900, 0x1500},
    {0x0900, 0x1500, 0x0000, 0x2400, 0x1200, 0x2A00}, {0x2A00, 0x1200, 0x2400, 0x0000, 0x1500, 0x0900},
    {0x1500, 0x0900, 0x1200, 0x2A00, 0x0000, 0x2400}, {0x1200, 0x2A00, 0x1500, 0x0900, 0x2400, 0x0000},
};

ADE_9000::ADE_9000()
    : m_avrbValues{},
      m_awrbWaveforms{},
      m_ulMask0(0),
      m_ulStatus0(0),
      m_ulMask1(0),
      m_ulStatus1(0),
      m_Reset(0),
      m_SPI_CS(8),
      m_uPM0(0),
      m_uPM1(0),
      m_uPSM(0) {}

bool ADE_9000::begin(uint8_t, uint8_t rst) {
    m_Reset = rst;
    pinMode(m_Reset, BOARD_OUTPUT);
    digitalWrite(m_Reset, 1);
    reset();
    const int nSPIfd = wiringPiSPISetup(SPI_CHANNEL, SPI_SPEED_HZ);
    printf("nSPIfd = %d\r\n", nSPIfd);
    // A negative descriptor means the SPI device could not be opened: every
    // later transfer would go nowhere, so say so instead of reporting success.
    return nSPIfd >= 0;
}

bool ADE_9000::setPSMPins(uint8_t uPM0, uint8_t uPM1) {
    m_uPM0 = uPM0;
    m_uPM1 = uPM1;
    return true;
}

uint32_t ADE_9000::readReg(uint16_t unAddress, uint32_t& ulValue) {
    uint8_t frame[READ32_FRAME] = {};
    putCommand(frame, unAddress, true);
    transfer(frame, READ32_FRAME);
    ulValue = (uint32_t(frame[2]) << 24) | (uint32_t(frame[3]) << 16) | (uint32_t(frame[4]) << 8) | frame[5];
    return 0;
}

bool ADE_9000::readReg16(uint16_t unAddress, uint16_t& unValue) {
    uint8_t frame[READ16_FRAME] = {};
    putCommand(frame, unAddress, true);
    transfer(frame, READ16_FRAME);
    unValue = static_cast<uint16_t>((frame[2] << 8) | frame[3]);
    return true;
}

bool ADE_9000::writeReg(uint16_t unAddress, uint32_t ulValue) {
    uint8_t frame[WRITE32_FRAME];
    putCommand(frame, unAddress, false);
    frame[2] = static_cast<uint8_t>(ulValue >> 24);
    frame[3] = static_cast<uint8_t>(ulValue >> 16);
    frame[4] = static_cast<uint8_t>(ulValue >> 8);
    frame[5] = static_cast<uint8_t>(ulValue);
    transfer(frame, WRITE32_FRAME);
    return true;
}

bool ADE_9000::writeReg16(uint16_t unAddress, uint16_t unValue) {
    uint8_t frame[WRITE16_FRAME];
    putCommand(frame, unAddress, false);
    frame[2] = static_cast<uint8_t>(unValue >> 8);
    frame[3] = static_cast<uint8_t>(unValue);
    transfer(frame, WRITE16_FRAME);
    return true;
}

bool ADE_9000::setRegBits16(uint16_t unAddress, uint16_t unBits) {
    uint16_t unValue = 0;
    readReg16(unAddress, unValue);
    writeReg16(unAddress, static_cast<uint16_t>(unValue | unBits));
    return true;
}

bool ADE_9000::setRegBits32(uint16_t unAddress, uint32_t ulBits) {
    uint32_t ulValue = 0;
    readReg(unAddress, ulValue);
    writeReg(unAddress, ulValue | ulBits);
    return true;
}

bool ADE_9000::clearRegBits16(uint16_t unAddress, uint16_t unBits) {
    uint16_t unValue = 0;
    readReg16(unAddress, unValue);
    writeReg16(unAddress, static_cast<uint16_t>(unValue & ~unBits));
    return true;
}

bool ADE_9000::clearRegBits32(uint16_t unAddress, uint32_t ulBits) {
    uint32_t ulValue = 0;
    readReg(unAddress, ulValue);
    writeReg(unAddress, ulValue & ~ulBits);
    return true;
}

bool ADE_9000::startDSP() {
    return writeReg16(ade9000::RUN, 1);
}

bool ADE_9000::stopDSP() {
    return writeReg16(ade9000::RUN, 0);
}

void ADE_9000::reset() {
    digitalWrite(m_Reset, 0);
    delay(150);
    digitalWrite(m_Reset, 1);
    delay(350);
}

void ADE_9000::interruptsOn(uint32_t ulMask0, uint32_t ulMask1) {
    m_ulMask0 = ulMask0 & 0x07FFFFFF;
    writeReg(ade9000::STATUS0, m_ulMask0);
    writeReg(ade9000::MASK0, m_ulMask0);
    readReg(ade9000::STATUS0, m_ulStatus0);
    writeReg(ade9000::STATUS0, m_ulStatus0);

    m_ulMask1 = ulMask1 & 0xFFF6FFFF;
    writeReg(ade9000::STATUS1, m_ulMask1);
    writeReg(ade9000::MASK1, m_ulMask1);
    readReg(ade9000::STATUS1, m_ulStatus1);
    writeReg(ade9000::STATUS1, m_ulStatus1);
}

void ADE_9000::interruptsOff() {
    writeReg(ade9000::MASK0, 0);
    writeReg(ade9000::MASK1, 0);
}

void ADE_9000::setInputsOrder(uint8_t uVoltageOrder, uint8_t uCurrentOrder) {
    if (uVoltageOrder >= 6 || uCurrentOrder >= 6) return;
    uint32_t ulConfig0 = 0;
    readReg(ade9000::CONFIG0, ulConfig0);
    writeReg(ade9000::CONFIG0, ulConfig0 | g_inputsMap[uVoltageOrder][uCurrentOrder]);
}

ADE9000_VALUES_RECV_BUFFER* ADE_9000::readValues() {
    uint8_t frame[VALUES_FRAME] = {};
    putCommand(frame, ade9000::VALUES_BURST, true);
    transfer(frame, VALUES_FRAME);
    memcpy(&m_avrbValues, frame + 2, sizeof(m_avrbValues));
    return &m_avrbValues;
}

ADE9000_WAVEFORM_RECV_BUFFER* ADE_9000::readWaveforms() {
    memset(&m_awrbWaveforms, 0, sizeof(m_awrbWaveforms));
    auto* frame = reinterpret_cast<uint8_t*>(&m_awrbWaveforms);
    putCommand(frame, ade9000::WAVEFORM_BUFFER, true);
    transfer(frame, WAVEFORM_FRAME);
    return &m_awrbWaveforms;
}

uint8_t ADE_9000::getPowerSaveMode() {
    return m_uPSM;
}

uint8_t ADE_9000::setPowerSaveMode(uint8_t uPowerSaveMode) {
    m_uPSM = uPowerSaveMode;
    digitalWrite(m_uPM0, m_uPSM & 0x01);
    digitalWrite(m_uPM1, (m_uPSM >> 1) & 0x01);
    return getPowerSaveMode();
}

uint16_t ADE_9000::swapBytes(uint16_t unValue) {
    return static_cast<uint16_t>((unValue << 8) | (unValue >> 8));
}

uint32_t ADE_9000::swapWords(uint32_t ulValue) {
    return (ulValue >> 24) | ((ulValue >> 8) & 0x0000FF00) | ((ulValue << 8) & 0x00FF0000) | (ulValue << 24);
}
