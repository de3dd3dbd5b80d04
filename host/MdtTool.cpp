// `qmhost mdt ...`: the module description table in the module's EEPROM, for
// production and service: show it, install a page, set and read the serial
// number, erase it. Works on the simulated EEPROM backed by an image file, so
// what it writes is what the meter finds at its next start.
#include <cstdio>
#include <cstring>
#include <string>

#include "ModuleTable.h"
#include "Sim.h"
#include "Tools.h"

namespace {

constexpr int TOOL_OK = 0, TOOL_FAILED = 1, TOOL_USAGE = 2;

void usage() {
    printf(
        "usage: qmhost mdt [--image PATH] [--force] COMMAND\r\n"
        "  dump             the table's pages, its register list and the serial number\r\n"
        "  install-default  install the module's default page as the table\r\n"
        "  install-module   install the simulated module's own page (it names the values)\r\n"
        "  set-sn NUMBER    store a serial number (at most %u characters)\r\n"
        "  get-sn           read the serial number\r\n"
        "  erase            zero the page area (the serial number stays)\r\n"
        "  --image PATH     the EEPROM image (default: %s)\r\n"
        "  --force          install over a table that is there already\r\n",
        static_cast<unsigned>(MDT_SN_SIZE - 1), defaultEepromImage().c_str());
}

struct Request {
    std::string image = defaultEepromImage();
    std::string command;
    std::string argument;
    bool bForce = false;
};

bool parse(int argc, char** argv, Request& request) {
    for (int i = 1; i < argc; i++) {
        const std::string arg = argv[i];
        if (arg == "--image" && i + 1 < argc)
            request.image = argv[++i];
        else if (arg == "--force")
            request.bForce = true;
        else if (request.command.empty() && arg[0] != '-')
            request.command = arg;
        else if (request.command == "set-sn" && request.argument.empty())
            request.argument = arg;
        else
            return false;
    }
    if (request.command == "set-sn") return !request.argument.empty();
    return request.command == "dump" || request.command == "install-default" ||
           request.command == "install-module" || request.command == "get-sn" || request.command == "erase";
}

std::string shownSerialNumber(MDT& mdt) {
    const std::string number = readSerialNumber(mdt);
    return number.empty() ? "(none)" : number;
}

int dump(MDT& mdt) {
    const bool bLoaded = mdt.loadFromChip();
    if (bLoaded) {
        mdt.dump();
        mdt.createRegisterList(0);
        printf("\r\nModule: %s\r\n", describeModule(mdt).c_str());
        int nRegisters = 0;
        for (const MDT_REGLIST* pNode = mdt.getRegisterList(); pNode; pNode = pNode->pmdtRegNext)
            nRegisters++;
        printf("Register list: %d registers\r\n", nRegisters);
        for (const MDT_REGLIST* pNode = mdt.getRegisterList(); pNode; pNode = pNode->pmdtRegNext) {
            const MDT_REGISTER reg = pNode->mdtReg;
            printf("  reg %3u  %-24s %-32s address 0x%04X, len %u%s\r\n", static_cast<unsigned>(reg.s_ulReg),
                   reg.s_pszAbbrev, reg.s_pszDescription, static_cast<unsigned>(reg.s_ulAddress),
                   static_cast<unsigned>(reg.s_ulLength), reg.s_bReadOnly ? ", read" : "");
        }
    } else {
        puts("No description table on the EEPROM (blank or foreign).\r");
    }
    printf("Serial number: %s\r\n", shownSerialNumber(mdt).c_str());
    return bLoaded ? TOOL_OK : TOOL_FAILED;
}

int install(MDT& mdt, const char* pszText, bool bForce) {
    if (!bForce && mdt.loadFromChip()) {
        printf("The EEPROM holds a table already (%s); --force replaces it.\r\n", mdt.getDescription(0));
        return TOOL_FAILED;
    }
    if (!installPage(mdt, pszText)) return TOOL_FAILED;
    if (!mdt.loadFromChip()) {
        puts("The page did not read back from the EEPROM.\r");
        return TOOL_FAILED;
    }
    printf("Installed: %s\r\n", describeModule(mdt).c_str());
    return TOOL_OK;
}

int setSN(MDT& mdt, const std::string& number) {
    // The table ignores a number that does not fit; say so instead.
    if (number.size() >= MDT_SN_SIZE) {
        printf("A serial number has at most %u characters.\r\n", static_cast<unsigned>(MDT_SN_SIZE - 1));
        return TOOL_USAGE;
    }
    mdt.setSN(number.c_str(), static_cast<uint32_t>(number.size()));
    const std::string stored = readSerialNumber(mdt);
    printf("Serial number: %s\r\n", stored.c_str());
    return stored == number ? TOOL_OK : TOOL_FAILED;
}

}  // namespace

int mdtTool(int argc, char** argv) {
    Request request;
    if (!parse(argc, argv, request)) {
        usage();
        return TOOL_USAGE;
    }
    sim::reset();  // virtual clock: the EEPROM's write cycles take no real time
    std::string error;
    if (!attachEeprom(request.image, error)) {
        printf("qmhost mdt: cannot use the EEPROM image %s: %s\r\n", request.image.c_str(), error.c_str());
        return TOOL_FAILED;
    }
    MDT mdt(sim::i2cDeviceOps());
    mdt.initialize(sim::kEepromAddress);

    int nResult = TOOL_OK;
    if (request.command == "dump") {
        nResult = dump(mdt);
    } else if (request.command == "install-default") {
        nResult = install(mdt, g_pszJSON, request.bForce);
    } else if (request.command == "install-module") {
        nResult = install(mdt, simulatedModulePage().c_str(), request.bForce);
    } else if (request.command == "set-sn") {
        nResult = setSN(mdt, request.argument);
    } else if (request.command == "get-sn") {
        printf("Serial number: %s\r\n", shownSerialNumber(mdt).c_str());
    } else if (request.command == "erase") {
        mdt.eraseChip();
        puts("Erased the page area (0x0000 to 0xDFFF); the serial number stays.\r");
    }
    fflush(stdout);
    sim::detachEepromImage();
    return nResult;
}
