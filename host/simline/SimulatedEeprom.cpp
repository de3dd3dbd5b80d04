#include "SimulatedEeprom.h"

#include <unistd.h>

#include <cstdio>
#include <stdexcept>

#include "AppDirectory.h"
#include "ModuleTable.h"

bool parseBlankEepromPage(const std::string& name, BlankEepromPage& page) {
    if (name == "module")
        page = BlankEepromPage::SimulatedModule;
    else if (name == "default")
        page = BlankEepromPage::ModuleDefault;
    else if (name == "none")
        page = BlankEepromPage::None;
    else
        return false;
    return true;
}

std::string defaultEepromImage() {
    return std::string(getAppDirectory()) + "/" + EEPROM_IMAGE_NAME;
}

bool attachEeprom(SimulatedLine& line, const std::string& imagePath, std::string& error) {
    try {
        line.attachEepromImage(imagePath);
        return true;
    } catch (const std::exception& e) {
        error = e.what();
        return false;
    }
}

std::string attachSimulatedEeprom(SimulatedLine& line, const std::string& imagePath) {
    std::string image = imagePath;
    if (image.empty() && access(defaultEepromImage().c_str(), F_OK) == 0) image = defaultEepromImage();
    std::string error;
    if (!image.empty() && !attachEeprom(line, image, error)) {
        fprintf(stderr, "qmhost: %s: not used as the EEPROM (%s); the EEPROM is in memory only\n",
                image.c_str(), error.c_str());
        image.clear();
    }
    return image;
}

void installOnBlankEeprom(MDT& mdt, BlankEepromPage page) {
    mdt.initialize(MODULE_EEPROM_ADDRESS);
    if (page == BlankEepromPage::None || !eepromIsBlank(mdt)) return;
    printf("qmhost: blank EEPROM; installing the %s page\n",
           page == BlankEepromPage::ModuleDefault ? "module's default" : "simulated module's");
    std::string error;
    if (!installPage(mdt, page == BlankEepromPage::ModuleDefault ? g_pszJSON : simulatedModulePage().c_str(),
                     error))
        fprintf(stderr, "qmhost: blank EEPROM: %s\n", error.c_str());
}
