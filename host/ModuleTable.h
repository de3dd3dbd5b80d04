// The module description table of the simulated board's module: the EEPROM
// image it lives in, the pages a host installs on a blank EEPROM, and the
// table built from the EEPROM as the host hands it to the module.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "MDT.h"

// The image file of the module's EEPROM, in the application directory.
constexpr const char* EEPROM_IMAGE_NAME = "eeprom.bin";

// What a host installs on a blank EEPROM.
enum class BlankEepromPage {
    None,             // leave it blank
    ModuleDefault,    // the module's default page (g_pszJSON)
    SimulatedModule,  // the simulated module's own page, which names its values
};

// "module", "default" or "none".
bool parseBlankEepromPage(const char* pszName, BlankEepromPage& page);

// "<application directory>/eeprom.bin".
std::string defaultEepromImage();

// Backs the simulated EEPROM by the image file (created blank when missing).
// False with `error` set when the file cannot be used.
bool attachEeprom(const std::string& imagePath, std::string& error);

// The simulated module's page 0: its handler, configuration and calibration
// files, a description, the configuration the board is built for, and a
// register list naming the journal values (and the running and interval true
// energy), the way a module maker programs it.
const std::string& simulatedModulePage();

// True when page 0's header reads as erased: all 0xFF (a new device) or all
// 0x00 (after eraseChip). A header that cannot be read is not blank.
bool eepromIsBlank(MDT& mdt);

// Writes `text` as the whole table: page 0, and pages 1..6 marked unused.
// False (nothing written) when the text and its NUL do not fit a page.
bool installPage(MDT& mdt, const char* pszText);

// Binds the table to the simulated EEPROM and loads it; a blank EEPROM first
// gets `blankPage`. Builds page 0's register list. False when there is no
// table to load.
bool loadModuleTable(MDT& mdt, BlankEepromPage blankPage);

// The live meter's table: the EEPROM backed by `imagePath` (empty: the
// default image when there is one, else memory only), loaded as
// loadModuleTable does. Prints the module's description, serial number and
// named values; returns a one-line summary for the live view.
std::string setUpModuleTable(MDT& mdt, const std::string& imagePath, BlankEepromPage blankPage);

// The serial number as text: empty for an erased area (0xFF or 0x00 bytes),
// characters that are not printable shown as '?'.
std::string readSerialNumber(MDT& mdt);

// One line: description, handler, configuration and calibration files.
std::string describeModule(MDT& mdt);

// The values the register list names: the value index and the description
// of the first "jrnl_", "interval_" or "accum_" register that carries it.
std::vector<std::pair<uint32_t, std::string>> namedValues(MDT& mdt);
