#include "ModuleTable.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "AccumulatorTables.h"
#include "JournalTables.h"

namespace {

// A quantity measured per phase: its journal name stem and its description.
struct PhaseQuantity {
    const char* pszAbbrev;
    const char* pszDesc;
};

// In journal order: quantity q of phase p is value 3q + p.
constexpr PhaseQuantity PHASE_QUANTITIES[] = {
    {"FREQ", "Frequency"},
    {"VRMS", "RMS Voltage"},
    {"IRMS", "RMS Current"},
    {"WATT", "True Power"},
    {"VA", "Apparent Power"},
    {"VAR", "Reactive Power"},
    {"PF", "Power Factor"},
    {"VTHD", "Voltage THD"},
    {"ITHD", "Current THD"},
    {"FVRMS", "Fund. RMS Voltage"},
    {"FIRMS", "Fund. RMS Current"},
    {"FWATT", "Fund. True Power"},
    {"FVA", "Fund. Apparent Power"},
    {"FVAR", "Fund. Reactive Power"},
    {"VRMS1", "RMS Voltage (one cycle)"},
    {"IRMS1", "RMS Current (one cycle)"},
    {"VRMS1012", "RMS Voltage (10/12 cycle)"},
    {"IRMS1012", "RMS Current (10/12 cycle)"},
    {"VANGLE", "Voltage Angle"},
    {"IANGLE", "Current Angle"},
};
static_assert(3 * (sizeof(PHASE_QUANTITIES) / sizeof(PHASE_QUANTITIES[0])) == jrnl_NIRMS,
              "one row per phase quantity of the journal");

struct NamedRegister {
    uint32_t ulReg;
    const char* pszAbbrev;
    const char* pszDesc;
};

constexpr uint32_t INTERVAL_ENERGY_FIRST = jrnl_MAX;  // then the running energy
constexpr uint32_t RUNNING_ENERGY_FIRST = jrnl_MAX + accum_ENERGY_MAX;
constexpr uint32_t PUBLISHED_VALUES = jrnl_MAX + 2 * accum_ENERGY_MAX;  // the register-map record

constexpr NamedRegister OTHER_REGISTERS[] = {
    {jrnl_NIRMS, "jrnl_NIRMS", "Neutral RMS Current"},
    {jrnl_NIRMSONE, "jrnl_NIRMSONE", "Neutral RMS Current (one cycle)"},
    {jrnl_NIRMS1012, "jrnl_NIRMS1012", "Neutral RMS Current (10/12)"},
    {jrnl_TOT_WATT, "jrnl_TOT_WATT", "Total True Power"},
    {jrnl_TOT_VA, "jrnl_TOT_VA", "Total Apparent Power"},
    {jrnl_TOT_VAR, "jrnl_TOT_VAR", "Total Reactive Power"},
    {jrnl_TOT_PF, "jrnl_TOT_PF", "Total Power Factor"},
    {jrnl_TOT_FWATT, "jrnl_TOT_FWATT", "Total Fund. True Power"},
    {jrnl_TOT_FVA, "jrnl_TOT_FVA", "Total Fund. Apparent Power"},
    {jrnl_TOT_FVAR, "jrnl_TOT_FVAR", "Total Fund. Reactive Power"},
    {INTERVAL_ENERGY_FIRST + accum_TOT_WATTHR, "interval_TOT_WATTHR", "Interval True Energy"},
    {RUNNING_ENERGY_FIRST + accum_TOT_WATTHR, "accum_TOT_WATTHR", "Running True Energy"},
};

// The configuration the simulated board is built for (config/QM9000.json).
constexpr const char* BOARD_CONFIG[][2] = {
    {"Wiring", "3"},           {"FNominal", "50"},      {"VNominal", "230"},   {"INominal", "5"},
    {"FullScaleVolts", "500"}, {"FullScaleAmps", "10"}, {"EnergyEnable", "1"}, {"EnergyInterval", "15"},
};

void appendRegister(std::string& text, uint32_t ulReg, const std::string& abbrev, const std::string& desc,
                    bool bLast) {
    char szLine[192];
    // Each value is a 32-bit float at two 16-bit Modbus words. Compact: the
    // whole list has to fit the page with the rest.
    snprintf(szLine, sizeof(szLine),
             "  {\"address\":\"0x%04X\",\"read\":1,\"reg\":%u,\"abbrev\":\"%s\",\"desc\":\"%s\"}%s\n",
             static_cast<unsigned>(2 * ulReg), static_cast<unsigned>(ulReg), abbrev.c_str(), desc.c_str(),
             bLast ? "" : ",");
    text += szLine;
}

std::string buildSimulatedModulePage() {
    std::string text =
        "{\n"
        "  \"initialization\": {\n"
        "    \"handler\": \"QM9000.so\",\n"
        "    \"config_file\": \"QM9000.json\",\n"
        "    \"cal_file\": \"Cal9000.json\"\n"
        "  },\n"
        "  \"information\": {\n"
        "    \"name\": \"Marivel\",\n"
        "    \"module_desc\": \"QM9000 three-phase module, simulated board\",\n"
        "    \"endianness\": \"big\"\n"
        "  },\n"
        "  \"config\": {\n"
        "    \"qm9000\": [\n";
    const size_t settings = sizeof(BOARD_CONFIG) / sizeof(BOARD_CONFIG[0]);
    for (size_t i = 0; i < settings; i++)
        text += std::string("      { \"name\": \"") + BOARD_CONFIG[i][0] +
                "\", \"value\": " + BOARD_CONFIG[i][1] + (i + 1 < settings ? " },\n" : " }\n");
    text +=
        "    ]\n"
        "  },\n"
        "  \"registers\": [\n";
    static const char PHASES[] = {'A', 'B', 'C'};
    uint32_t ulReg = 0;
    for (const PhaseQuantity& quantity : PHASE_QUANTITIES)
        for (char cPhase : PHASES) {
            appendRegister(text, ulReg++, std::string("jrnl_") + quantity.pszAbbrev + "_" + cPhase,
                           std::string(quantity.pszDesc) + " " + cPhase, false);
        }
    const size_t others = sizeof(OTHER_REGISTERS) / sizeof(OTHER_REGISTERS[0]);
    for (size_t i = 0; i < others; i++)
        appendRegister(text, OTHER_REGISTERS[i].ulReg, OTHER_REGISTERS[i].pszAbbrev,
                       OTHER_REGISTERS[i].pszDesc, i + 1 == others);
    text +=
        "  ]\n"
        "}\n";
    return text;
}

bool isPublishedAbbrev(const char* pszAbbrev) {
    return strstr(pszAbbrev, "jrnl_") || strstr(pszAbbrev, "interval_") || strstr(pszAbbrev, "accum_");
}

}  // namespace

const std::string& simulatedModulePage() {
    static const std::string text = buildSimulatedModulePage();
    return text;
}

bool eepromIsBlank(MDT& mdt) {
    MDT_HEADER header{};
    if (mdt.readHeader(0, &header) == 0) return false;
    uint8_t bytes[sizeof(header)];
    memcpy(bytes, &header, sizeof(bytes));
    bool bAllOnes = true, bAllZeros = true;
    for (uint8_t byte : bytes) {
        bAllOnes = bAllOnes && byte == 0xFF;
        bAllZeros = bAllZeros && byte == 0x00;
    }
    return bAllOnes || bAllZeros;
}

bool installPage(MDT& mdt, const char* pszText, std::string& error) {
    const uint32_t ulLength = static_cast<uint32_t>(strlen(pszText)) + 1;
    if (ulLength > MDT_PAGE_TEXT_CAPACITY) {
        error = "a page of " + std::to_string(ulLength) + " bytes does not fit the EEPROM's " +
                std::to_string(MDT_PAGE_TEXT_CAPACITY) + "; nothing written";
        return false;
    }
    MDT_HEADER header{};
    header.s_ulType = MDT_PAGE_VALID;
    header.s_ulLength = ulLength;
    header.s_ulNumberOfPages = 1;
    header.s_ulPageSize = MDT_PAGE_TEXT_CAPACITY;
    mdt.setPageHeader(0, &header);
    mdt.setPage(0, pszText, ulLength);
    const MDT_HEADER unused{};
    for (uint16_t p = 1; p < MDT_MAX_PAGES; p++) {
        mdt.setPageHeader(p, &unused);
        mdt.clearPage(p);
    }
    mdt.populateChip();
    return true;
}

bool loadModuleTable(MDT& mdt) {
    mdt.initialize(MODULE_EEPROM_ADDRESS);
    if (!mdt.loadFromChip()) return false;
    mdt.createRegisterList(0);
    return true;
}

std::string readSerialNumber(MDT& mdt) {
    char szSN[MDT_SN_SIZE] = {};
    mdt.getSN(szSN, MDT_SN_SIZE - 1);
    std::string text;
    for (const char* p = szSN; *p && static_cast<uint8_t>(*p) != 0xFF; p++)
        text += isprint(static_cast<unsigned char>(*p)) ? *p : '?';
    return text;
}

std::string describeModule(MDT& mdt) {
    char szLine[256];
    snprintf(szLine, sizeof(szLine), "%s (handler %s, configuration %s, calibration %s)",
             mdt.getDescription(0), *mdt.getHandlerName(0) ? mdt.getHandlerName(0) : "-",
             *mdt.getConfigName(0) ? mdt.getConfigName(0) : "-",
             *mdt.getCalName(0) ? mdt.getCalName(0) : "-");
    return szLine;
}

std::vector<std::pair<uint32_t, std::string>> namedValues(MDT& mdt) {
    std::vector<std::pair<uint32_t, std::string>> values;
    for (const MDT_REGLIST* pNode = mdt.getRegisterList(); pNode; pNode = pNode->pmdtRegNext) {
        const MDT_REGISTER& reg = pNode->mdtReg;
        if (!isPublishedAbbrev(reg.s_pszAbbrev)) continue;
        const uint32_t ulReg = reg.s_ulReg;
        if (ulReg >= PUBLISHED_VALUES) continue;
        bool bNamed = false;
        for (const auto& value : values) bNamed = bNamed || value.first == ulReg;
        if (!bNamed) values.emplace_back(ulReg, reg.s_pszDescription);
    }
    std::sort(values.begin(), values.end());
    return values;
}

std::string setUpModuleTable(MDT& mdt, const std::string& where) {
    if (!loadModuleTable(mdt)) {
        printf("qmhost: no module description table on the EEPROM%s\n",
               where.empty() ? "" : (" (" + where + ")").c_str());
        return "Module: no description table";
    }
    std::string serialNumber = readSerialNumber(mdt);
    if (serialNumber.empty()) serialNumber = "(none)";
    const auto values = namedValues(mdt);
    printf("qmhost: module %s, serial number %s\n", describeModule(mdt).c_str(), serialNumber.c_str());
    // The named values, several to a line.
    std::string line = "qmhost: named values:";
    for (const auto& [ulReg, name] : values) {
        const std::string item = " " + std::to_string(ulReg) + " " + name + ";";
        if (line.size() + item.size() > 100) {
            printf("%s\n", line.c_str());
            line = "       ";
        }
        line += item;
    }
    printf("%s\n", line.c_str());
    return "Module: " + std::string(mdt.getDescription(0)) + ", serial number " + serialNumber + ", " +
           std::to_string(values.size()) + " named values (r + Enter: register list)";
}
