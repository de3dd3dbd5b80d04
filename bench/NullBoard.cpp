// A board that answers instantly, so the benchmarks measure the module and not
// the simulated bus. The chip returns a fixed, plausible measurement in every
// burst word and period register; every byte moved is counted.
#include "NullBoard.h"

#include <cstdint>
#include <cstring>

#include "BoardIO.h"

namespace nullboard {
uint32_t g_ulMicros = 1000000;
Traffic g_traffic{};
}  // namespace nullboard
using nullboard::g_traffic;
using nullboard::g_ulMicros;

namespace {
void putWord(unsigned char* p, uint32_t ulValue) {
    for (int i = 0; i < 4; i++) p[i] = static_cast<unsigned char>(ulValue >> (24 - 8 * i));
}
}  // namespace

extern "C" {
int wiringPiSPISetup(int, int) {
    return 3;
}

int wiringPiSPIDataRW(int, unsigned char* data, int len) {
    g_traffic.ullBytes += static_cast<uint64_t>(len);
    g_traffic.ullFrames++;
    if ((data[1] & 0x08) == 0) return len;  // a write
    if (len == 246) {
        // Mid-scale readings: every word converts to a finite, non-zero value.
        for (int k = 0; k < 61; k++) putWord(data + 2 + 4 * k, 0x01000000u + static_cast<uint32_t>(k));
    } else if (len == 8) {
        const unsigned unAddress = (static_cast<unsigned>(data[0]) << 4) | (data[1] >> 4);
        const bool bStatus = unAddress == 0x402 || unAddress == 0x403;  // nothing pending there
        putWord(data + 2, bStatus ? 0 : 10485759);                      // a 50 Hz period elsewhere
    } else if (len == 6) {
        memcpy(data + 2, "\x10", 2);
    } else {
        memset(data + 2, 0, static_cast<size_t>(len - 2));
    }
    return len;
}

int wiringPiISR(int, int, void (*)(void)) {
    return 0;
}
void pinMode(int, int) {}
void digitalWrite(int, int) {}
unsigned int millis(void) {
    return g_ulMicros / 1000;
}
unsigned int micros(void) {
    return g_ulMicros;
}
void delay(unsigned int ms) {
    g_ulMicros += ms * 1000;
}
void delayMicroseconds(unsigned int us) {
    g_ulMicros += us;
}
int I2Cbegin(void) {
    return -1;
}
void I2Cend(void) {}
}
