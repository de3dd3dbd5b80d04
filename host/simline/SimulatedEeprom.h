// The simulated board's module EEPROM: the image file that keeps it between
// runs, and the page the host installs when it is blank.
#pragma once

#include <string>

#include "MDT.h"
#include "SimulatedLine.h"

// The image file of the module's EEPROM, in the application directory.
constexpr const char* EEPROM_IMAGE_NAME = "eeprom.bin";

// What a host installs on a blank EEPROM.
enum class BlankEepromPage {
    None,             // leave it blank
    ModuleDefault,    // the module's default page (g_pszJSON)
    SimulatedModule,  // the simulated module's own page, which names its values
};

// "module", "default" or "none".
bool parseBlankEepromPage(const std::string& name, BlankEepromPage& page);

// "<application directory>/eeprom.bin".
std::string defaultEepromImage();

// Backs the simulated EEPROM by the image file (created blank when missing).
// False with `error` set when the file cannot be used.
bool attachEeprom(SimulatedLine& line, const std::string& imagePath, std::string& error);

// The live meter's EEPROM: backed by `imagePath` (empty: the default image
// when there is one, else memory only). Returns the image used, empty when
// the EEPROM is in memory only (said in a line when an image was not usable).
std::string attachSimulatedEeprom(SimulatedLine& line, const std::string& imagePath);

// Installs `page` when the EEPROM is blank, and says so.
void installOnBlankEeprom(MDT& mdt, BlankEepromPage page);
