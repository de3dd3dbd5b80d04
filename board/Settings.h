// Which devices the board functions use: the board file "board.json" in the
// application directory, one setting per line:
//   {"name": "SpiDevice0", "value": "/dev/spidev0.0"}   SPI channel 0 (and 1)
//   {"name": "SpiMode", "value": 0}                      SPI mode 0..3
//   {"name": "GpioChip", "value": "/dev/gpiochip0"}
//   {"name": "Pin12", "value": 12}                       module pin 12 -> line offset
//   {"name": "I2CBus", "value": "/dev/i2c-1"}
// Anything not set keeps the default of the module's board: SPI channel 0 on
// /dev/spidev0.0 in mode 0, pin numbers as line offsets of /dev/gpiochip0
// (reset 5, IRQ1 12), the EEPROM on /dev/i2c-1.
#pragma once

#include <map>
#include <string>

namespace board {

struct Settings {
    std::string file;  // where they were read from (named in every device message)
    std::string spiDevice[2] = {"/dev/spidev0.0", "/dev/spidev0.1"};
    int spiMode = 0;
    std::string gpioChip = "/dev/gpiochip0";
    std::map<int, unsigned> pinLines;  // pins not listed are their own line offset
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
