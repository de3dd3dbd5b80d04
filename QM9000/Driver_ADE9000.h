// SPI driver of the ADE9000 metering chip: register frames, the 61-word value
// burst and the waveform-buffer burst. It knows no engineering units.
#pragma once

#include <atomic>
#include <cstdint>

#include "Driver_ADEDevice.h"

#pragma pack(push, 1)

// Raw target of the value burst (registers 0x680..0x6BC). Words are kept as they
// came off the wire, most significant byte first; the consumer swaps them.
struct ADE9000_VALUES_RECV_BUFFER {
    uint32_t ulValues[3][19];
    uint32_t ulNValues[4];
};

// Raw target of the waveform burst, including the command word it was sent with.
// Samples are most significant byte first; channels 0, 2, 4 are currents and 1,
// 3, 5 voltages of phases A, B, C.
struct ADE9000_WAVEFORM_RECV_BUFFER {
    uint16_t unAddress;
    uint16_t unSample[256][6];
};

#pragma pack(pop)

static_assert(sizeof(ADE9000_VALUES_RECV_BUFFER) == 244, "61 burst words");
static_assert(sizeof(ADE9000_WAVEFORM_RECV_BUFFER) == 3074, "command word and 256 x 6 samples");

constexpr int BURST_WORDS = 61;

// Primary register of each burst word, in burst order.
extern const uint16_t g_readTable[BURST_WORDS];
// CONFIG0 input-order bits, [voltage order][current order].
extern const uint16_t g_inputsMap[6][6];

// Registers the driver itself addresses.
namespace ade9000 {
constexpr uint16_t STATUS0 = 0x402;
constexpr uint16_t STATUS1 = 0x403;
constexpr uint16_t MASK0 = 0x405;
constexpr uint16_t MASK1 = 0x406;
constexpr uint16_t RUN = 0x480;
constexpr uint16_t CONFIG0 = 0x060;
constexpr uint16_t VALUES_BURST = 0x680;
constexpr uint16_t WAVEFORM_BUFFER = 0x801;
}  // namespace ade9000

// Not byte-packed, unlike the records above: the driver hands references to its
// status members to readReg, and those must stay aligned on the board's ARM core.
class ADE_9000 : public ADE_Device {
public:
    ADE_9000();

    bool begin(uint8_t cs, uint8_t rst) override;
    bool setPSMPins(uint8_t uPM0, uint8_t uPM1) override;
    uint32_t readReg(uint16_t unAddress, uint32_t& ulValue) override;
    bool readReg16(uint16_t unAddress, uint16_t& unValue) override;
    bool writeReg(uint16_t unAddress, uint32_t ulValue) override;
    bool writeReg16(uint16_t unAddress, uint16_t unValue) override;
    bool setRegBits16(uint16_t unAddress, uint16_t unBits) override;
    bool setRegBits32(uint16_t unAddress, uint32_t ulBits) override;
    bool clearRegBits16(uint16_t unAddress, uint16_t unBits) override;
    bool clearRegBits32(uint16_t unAddress, uint32_t ulBits) override;
    bool startDSP() override;
    bool stopDSP() override;
    void reset() override;
    void interruptsOn(uint32_t ulMask0, uint32_t ulMask1) override;
    void interruptsOff() override;
    void setInputsOrder(uint8_t uVoltageOrder, uint8_t uCurrentOrder) override;
    using ADE_Device::readWaveforms;

    ADE9000_VALUES_RECV_BUFFER* readValues();
    ADE9000_WAVEFORM_RECV_BUFFER* readWaveforms();
    uint8_t getPowerSaveMode();
    uint8_t setPowerSaveMode(uint8_t uPowerSaveMode);
    static uint16_t swapBytes(uint16_t unValue);
    static uint32_t swapWords(uint32_t ulValue);
    // The latest transfer failed on the board's side (the SPI device gave an
    // error): nothing reached the chip, and what was read is all ones.
    bool lastTransferFailed() const { return m_bTransferFailed.load(std::memory_order_relaxed); }

    ADE9000_VALUES_RECV_BUFFER m_avrbValues;
    ADE9000_WAVEFORM_RECV_BUFFER m_awrbWaveforms;
    uint32_t m_ulMask0;
    uint32_t m_ulStatus0;
    uint32_t m_ulMask1;
    uint32_t m_ulStatus1;
    uint8_t m_Reset;
    uint8_t m_SPI_CS;
    uint8_t m_uPM0;
    uint8_t m_uPM1;
    uint8_t m_uPSM;

private:
    int transfer(uint8_t* frame, int nLength);
    std::atomic<bool> m_bTransferFailed{false};
};
