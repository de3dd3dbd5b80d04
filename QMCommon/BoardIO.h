// The board functions a module calls. They are resolved from the host process
// when the plug-in is loaded; a module declares them and never defines them.
#pragma once

#include <cstdint>

#include "I2CDevice.h"

#define QM_BOARD_API extern "C" __attribute__((visibility("default")))

QM_BOARD_API int wiringPiSPISetup(int channel, int speed);
QM_BOARD_API int wiringPiSPIDataRW(int channel, unsigned char* data, int len);
QM_BOARD_API int wiringPiISR(int pin, int edgeType, void (*function)(void));
QM_BOARD_API void pinMode(int pin, int mode);
QM_BOARD_API void digitalWrite(int pin, int value);
QM_BOARD_API unsigned int millis(void);
QM_BOARD_API unsigned int micros(void);
QM_BOARD_API void delay(unsigned int howLong);
QM_BOARD_API void delayMicroseconds(unsigned int howLong);
QM_BOARD_API int I2Cbegin(void);
QM_BOARD_API void I2Cend(void);

// For the host, not the module: the I2C device calls that work on the
// descriptor I2Cbegin returns (the system's own on a real bus).
QM_BOARD_API const I2CDeviceOps* boardI2CDeviceOps(void);
// For the host: no interrupt routine is called after it returns, so the
// module that registered one may be unloaded.
QM_BOARD_API void boardStopInterrupts(void);

// wiringPi constants the module uses.
constexpr int BOARD_OUTPUT = 1;
constexpr int BOARD_INT_EDGE_FALLING = 1;
