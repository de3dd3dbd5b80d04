// The module description table on the module's EEPROM, the same on either
// board: the pages a host installs, and the table built from the EEPROM as the
// host hands it to the module.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "MDT.h"

// The module's EEPROM on its I2C bus (7-bit address).
constexpr uint16_t MODULE_EEPROM_ADDRESS = 0x50;

// The simulated module's page 0: its handler, configuration and calibration
// files, a description, the configuration the board is built for, and a
// register list naming the journal values (and the running and interval true
// energy), the way a module maker programs it.
const std::string& simulatedModulePage();

// True when page 0's header reads as erased: all 0xFF (a new device) or all
// 0x00 (after eraseChip). A header that cannot be read is not blank.
bool eepromIsBlank(MDT& mdt);

// Writes `text` as the whole table: page 0, and pages 1..6 marked unused.
// False (nothing written, `error` says why) when the text and its NUL do not
// fit a page.
bool installPage(MDT& mdt, const char* pszText, std::string& error);

// Binds the table to the module's EEPROM and loads it; builds page 0's
// register list. False when there is no table to load.
bool loadModuleTable(MDT& mdt);

// The live meter's table, loaded as loadModuleTable does. Prints the module's
// description, serial number and named values (or that there is no table, on
// the EEPROM `where` names when not empty); returns a one-line summary for the
// live view.
std::string setUpModuleTable(MDT& mdt, const std::string& where);

// The serial number as text: empty for an erased area (0xFF or 0x00 bytes),
// characters that are not printable shown as '?'.
std::string readSerialNumber(MDT& mdt);

// One line: description, handler, configuration and calibration files.
std::string describeModule(MDT& mdt);

// The values the register list names: the value index and the description
// of the first "jrnl_", "interval_" or "accum_" register that carries it.
std::vector<std::pair<uint32_t, std::string>> namedValues(MDT& mdt);
