// `qmhost mdt`: the module description table in the module's EEPROM, for
// production and service: show it, install a page, set and read the serial
// number, erase it. On the simulated board the EEPROM is backed by an image
// file, so what the tool writes is what the meter finds at its next start; on
// the real board it is the module's own EEPROM.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <memory>
#include <string>

#include "HostCommandLine.h"
#include "ModuleTable.h"
#include "SimulatedEeprom.h"

namespace {

struct MdtOptions {
    std::string image;  // empty: the default image
    std::string command;
    std::string argument;
    bool bForce = false;
};

std::string shownSerialNumber(MDT& mdt) {
    const std::string number = readSerialNumber(mdt);
    return number.empty() ? "(none)" : number;
}

int dump(MDT& mdt) {
    const bool bLoaded = mdt.loadFromChip();
    if (bLoaded) {
        mdt.dump();
        mdt.createRegisterList(0);
        printf("\nModule: %s\n", describeModule(mdt).c_str());
        int nRegisters = 0;
        for (const MDT_REGLIST* pNode = mdt.getRegisterList(); pNode; pNode = pNode->pmdtRegNext)
            nRegisters++;
        printf("Register list: %d registers\n", nRegisters);
        for (const MDT_REGLIST* pNode = mdt.getRegisterList(); pNode; pNode = pNode->pmdtRegNext) {
            const MDT_REGISTER reg = pNode->mdtReg;
            printf("  reg %3u  %-24s %-32s address 0x%04X, len %u%s\n", static_cast<unsigned>(reg.s_ulReg),
                   reg.s_pszAbbrev, reg.s_pszDescription, static_cast<unsigned>(reg.s_ulAddress),
                   static_cast<unsigned>(reg.s_ulLength), reg.s_bReadOnly ? ", read" : "");
        }
    }
    printf("Serial number: %s\n", shownSerialNumber(mdt).c_str());
    return bLoaded ? TOOL_OK : toolFailed("dump", "no description table on the EEPROM (blank or foreign)");
}

int install(MDT& mdt, const char* pszText, bool bForce) {
    if (!bForce && mdt.loadFromChip())
        return toolFailed("install", "the EEPROM holds a table already (" +
                                         std::string(mdt.getDescription(0)) + "); --force replaces it");
    std::string error;
    if (!installPage(mdt, pszText, error)) return toolFailed("install", error);
    if (!mdt.loadFromChip()) return toolFailed("install", "the page did not read back from the EEPROM");
    printf("Installed: %s\n", describeModule(mdt).c_str());
    return TOOL_OK;
}

int setSN(MDT& mdt, const std::string& number) {
    // The table ignores a number that does not fit; say so instead.
    if (number.size() >= MDT_SN_SIZE)
        return toolUsage("NUMBER",
                         "a serial number has at most " + std::to_string(MDT_SN_SIZE - 1) + " characters");
    mdt.setSN(number.c_str(), static_cast<uint32_t>(number.size()));
    const std::string stored = readSerialNumber(mdt);
    printf("Serial number: %s\n", stored.c_str());
    return stored == number ? TOOL_OK : toolFailed("set-sn", "the EEPROM reads back \"" + stored + "\"");
}

int runCommand(MDT& mdt, const MdtOptions& options) {
    if (options.command == "dump") return dump(mdt);
    if (options.command == "install-default") return install(mdt, g_pszJSON, options.bForce);
    if (options.command == "install-module")
        return install(mdt, simulatedModulePage().c_str(), options.bForce);
    if (options.command == "set-sn") return setSN(mdt, options.argument);
    if (options.command == "get-sn") {
        printf("Serial number: %s\n", shownSerialNumber(mdt).c_str());
        return TOOL_OK;
    }
    mdt.eraseChip();
    puts("Erased the page area (0x0000 to 0xDFFF); the serial number stays.");
    return TOOL_OK;
}

int runMdt(const HostOptions& host, const MdtOptions& options) {
    if ((options.command == "set-sn") == options.argument.empty())
        return toolUsage("NUMBER", options.argument.empty() ? "set-sn needs one" : "only with set-sn");
    if (host.pLine) {
        host.pLine->reset();  // virtual clock: the EEPROM's write cycles take no real time
        const std::string image = options.image.empty() ? defaultEepromImage() : options.image;
        std::string error;
        if (!attachEeprom(*host.pLine, image, error)) return toolFailed("mdt", error);
    }
    MDT mdt(*boardFunctions().i2cDeviceOps());
    mdt.initialize(MODULE_EEPROM_ADDRESS);
    const int nResult = runCommand(mdt, options);
    fflush(stdout);
    if (host.pLine) host.pLine->detachEepromImage();
    return nResult;
}

}  // namespace

ToolAction addMdtCommand(CLI::App& command, HostOptions& host) {
    auto options = std::make_shared<MdtOptions>();
    command.footer(
        "Commands:\n"
        "  dump             the table's pages, its register list and the serial number\n"
        "  install-default  install the module's default page as the table\n"
        "  install-module   install the simulated module's own page (it names the values)\n"
        "  set-sn NUMBER    store a serial number (at most " +
        std::to_string(MDT_SN_SIZE - 1) +
        " characters)\n"
        "  get-sn           read the serial number\n"
        "  erase            zero the page area (the serial number stays)");
    command
        .add_option("COMMAND", options->command,
                    "dump, install-default, install-module, set-sn, get-sn or erase")
        ->required()
        ->check(CLI::IsMember({"dump", "install-default", "install-module", "set-sn", "get-sn", "erase"}));
    command.add_option("NUMBER", options->argument, "The serial number, for set-sn");
    command.add_flag("--force", options->bForce, "Install over a table that is there already");
    command.add_option("--image", options->image, "The EEPROM image file (default: <appdir>/eeprom.bin)")
        ->type_name("PATH")
        ->group(SIMULATED_BOARD_ONLY);
    return [&host, options] { return runMdt(host, *options); };
}
