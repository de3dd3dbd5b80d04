// Also boardStopInterrupts of QMCommon/BoardIO.h.
#include "Devices.h"

#include <cstdio>
#include <cstring>

#include "BoardControl.h"
#include "BoardIO.h"
#include "GpioChip.h"
#include "Settings.h"

namespace board::detail {

void reportDeviceError(const char* pszWhat, const std::string& device, int error) {
    printf("board: %s %s (board file %s): %s\n", pszWhat, device.c_str(), settings().file.c_str(),
           strerror(error));
    fflush(stdout);
}

void releaseAll() {
    releaseGpio();
    releaseSpi();
    releaseI2c();
    forgetGpioChip();
    forgetSettings();
}

}  // namespace board::detail

void boardStopInterrupts(void) {
    board::release();
}
