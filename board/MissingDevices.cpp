// boardMissingDevices of BoardControl.h: each device the module needs, opened
// and closed again as the board functions would open it.
#include <fcntl.h>

#include <cstdio>
#include <string>

#include "BoardControl.h"
#include "GpioChip.h"
#include "Settings.h"

namespace {

constexpr int MODULE_SPI_CHANNEL = 0;  // the module's chip is on channel 0 only

bool deviceOpens(const std::string& path) {
    const int fd = board::sys().open(path.c_str(), O_RDWR);
    if (fd < 0) return false;
    board::sys().close(fd);
    return true;
}

bool chipOpens(const std::string& path) {
    gpiod_chip* pChip = path.empty() ? nullptr : board::sys().chipOpen(path.c_str());
    if (!pChip) return false;
    board::sys().chipClose(pChip);
    return true;
}

}  // namespace

int boardMissingDevices(char* pszList, int nSize) {
    const board::Settings& settings = board::settings();
    std::string list;
    int nMissing = 0;
    const auto note = [&](bool bThere, const std::string& device, const char* pszRole) {
        if (bThere) return;
        list += (nMissing++ ? ", " : "") + device + " (" + pszRole + ")";
    };
    note(deviceOpens(settings.spiDevice[MODULE_SPI_CHANNEL]), settings.spiDevice[MODULE_SPI_CHANNEL], "SPI");
    note(chipOpens(board::gpioChipPath()), board::gpioChipName(), "GPIO");
    note(deviceOpens(settings.i2cBus), settings.i2cBus, "I2C");
    if (pszList && nSize > 0) snprintf(pszList, static_cast<size_t>(nSize), "%s", list.c_str());
    return nMissing;
}
