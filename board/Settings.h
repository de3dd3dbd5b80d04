// Which devices the board functions use: the board file "board.json" in the
// application directory, one setting per line:
//   {"name": "SpiDevice0", "value": "/dev/spidev0.0"}   SPI channel 0 (and 1)
//   {"name": "SpiMode", "value": 0}                      SPI mode 0..3
//   {"name": "GpioChip", "value": "pinctrl-rp1"}         a chip's label, or a path ("/dev/gpiochip4")
//   {"name": "Pin12", "value": 12}                       module pin 12 -> line offset
//   {"name": "Bias", "value": "pull-up"}                 IRQ1's line: "pull-up", "pull-down" or "as-is"
//   {"name": "I2CBus", "value": "/dev/i2c-1"}
// Anything not set keeps the default of the module's board: SPI channel 0 on
// /dev/spidev0.0 in mode 0, pin numbers as line offsets (reset 5, IRQ1 12) of
// the chip that carries the 40-pin header's lines, IRQ1's bias left as it is,
// the EEPROM on /dev/i2c-1. That chip is found by its line names rather than
// by a number, which differs between boards and kernels (a Pi 5's has been
// /dev/gpiochip4 and /dev/gpiochip0), so the example file leaves GpioChip out;
// it is for a kernel that does not name the header's lines.
#pragma once

#include <map>
#include <string>

namespace board {

enum class LineBias { AsIs, PullUp, PullDown };

struct Settings {
    std::string file;  // where they were read from (named in every device message)
    std::string spiDevice[2] = {"/dev/spidev0.0", "/dev/spidev0.1"};
    int spiMode = 0;
    std::string gpioChip;              // a path (starts with '/'), a chip label, or empty: the header's chip
    std::map<int, unsigned> pinLines;  // pins not listed are their own line offset
    LineBias irqBias = LineBias::AsIs;
    std::string i2cBus = "/dev/i2c-1";

    unsigned lineOf(int pin) const {
        const auto it = pinLines.find(pin);
        return it == pinLines.end() ? static_cast<unsigned>(pin) : it->second;
    }
};

// Reads the board file at `path`. A missing file gives the defaults; a line
// that cannot be used is reported (file, line number, why) and skipped.
Settings readSettings(const std::string& path);

// The settings in use, read from "<application directory>/board.json" at the
// first call after start or release().
const Settings& settings();
void forgetSettings();

}  // namespace board
