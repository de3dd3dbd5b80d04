// Abstract metering-chip interface. Every operation has a harmless default so a
// chip driver overrides only what its chip supports. Slot order binds.
#pragma once

#include <cstdint>

class ADE_Device {
public:
    virtual bool begin(uint8_t, uint8_t) { return false; }
    virtual bool setPSMPins(uint8_t, uint8_t) { return true; }
    virtual uint32_t readReg(uint16_t, uint32_t&) { return 0; }
    virtual bool readReg8(uint16_t, uint8_t&) { return true; }
    virtual bool readReg16(uint16_t, uint16_t&) { return true; }
    virtual int readHarmonics(uint32_t*) { return 0; }
    virtual bool readWaveforms(int16_t*, uint16_t) { return false; }
    virtual bool writeReg(uint16_t, uint32_t) { return true; }
    virtual bool writeReg8(uint16_t, uint8_t) { return true; }
    virtual bool writeReg16(uint16_t, uint16_t) { return true; }
    virtual bool setRegBits8(uint16_t, uint8_t) { return true; }
    virtual bool setRegBits16(uint16_t, uint16_t) { return true; }
    virtual bool setRegBits32(uint16_t, uint32_t) { return true; }
    virtual bool clearRegBits8(uint16_t, uint8_t) { return true; }
    virtual bool clearRegBits16(uint16_t, uint16_t) { return true; }
    virtual bool clearRegBits32(uint16_t, uint32_t) { return true; }
    virtual uint8_t getPowerSupplyMode() { return 0; }
    virtual uint8_t setPowerSupplyMode(uint8_t) { return 0; }
    virtual bool startDSP() { return true; }
    virtual bool stopDSP() { return true; }
    virtual void reset() {}
    virtual void interruptsOn(uint32_t, uint32_t) {}
    virtual void interruptsOff() {}
    virtual void setInputsOrder(uint8_t, uint8_t) {}
};
