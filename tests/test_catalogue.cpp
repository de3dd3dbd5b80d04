// Invariants of the constant tables that tie chip registers, burst words,
// journal values and energy quantities together. A transcription slip in any of
// them silently routes a reading to the wrong value, so every row is checked
// against the chip's register map and the structural rules of the tables.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "AccumulatorTables.h"
#include "JournalTables.h"
#include "Tables9000.h"

namespace {

constexpr int NOT_FOUND = -1;

std::string trimmedName(const ADE_REGISTER_DEFINITION& rd) {
    std::string s(rd.pszName, strnlen(rd.pszName, sizeof rd.pszName));
    return s.substr(0, s.find_last_not_of(' ') + 1);
}

int rowOfAddress(uint16_t unAddress) {
    for (int i = 0; i < REGISTER_DEFS_ROWS; ++i)
        if (g_rd9000RegisterDefs[i].unAddress == unAddress) return i;
    return NOT_FOUND;
}

int rowOfName(const std::string& name) {
    for (int i = 0; i < REGISTER_DEFS_ROWS; ++i)
        if (trimmedName(g_rd9000RegisterDefs[i]) == name) return i;
    return NOT_FOUND;
}

std::vector<std::string> splitList(const std::string& list) {
    std::vector<std::string> names;
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t end = list.find(", ", start);
        if (end == std::string::npos) end = list.size();
        names.push_back(list.substr(start, end - start));
        start = end + 2;
    }
    return names;
}

// The chip's register map as runs of consecutive addresses of one width.
struct RegisterRun {
    int nFirstRow, nLastRow;
    uint16_t unFirstAddress, unLastAddress;
    int nBits;
    const char* pszNames;
};

const RegisterRun kRegisterMap[] = {
    {0, 24, 0x000, 0x018, 32,
     "AIGAIN, AIGAIN0, AIGAIN1, AIGAIN2, AIGAIN3, AIGAIN4, APHCAL0, APHCAL1, APHCAL2, APHCAL3, APHCAL4, "
     "AVGAIN, AIRMSOS, AVRMSOS, APGAIN, AWATTOS, AVAROS, AFWATTOS, AFVAROS, AIFRMSOS, AVFRMSOS, AVRMSONEOS, "
     "AIRMSONEOS, AVRMS1012OS, AIRMS1012OS"},
    {25, 49, 0x020, 0x038, 32,
     "BIGAIN, BIGAIN0, BIGAIN1, BIGAIN2, BIGAIN3, BIGAIN4, BPHCAL0, BPHCAL1, BPHCAL2, BPHCAL3, BPHCAL4, "
     "BVGAIN, BIRMSOS, BVRMSOS, BPGAIN, BWATTOS, BVAROS, BFWATTOS, BFVAROS, BIFRMSOS, BVFRMSOS, BVRMSONEOS, "
     "BIRMSONEOS, BVRMS1012OS, BIRMS1012OS"},
    {50, 74, 0x040, 0x058, 32,
     "CIGAIN, CIGAIN0, CIGAIN1, CIGAIN2, CIGAIN3, CIGAIN4, CPHCAL0, CPHCAL1, CPHCAL2, CPHCAL3, CPHCAL4, "
     "CVGAIN, CIRMSOS, CVRMSOS, CPGAIN, CWATTOS, CVAROS, CFWATTOS, CFVAROS, CIFRMSOS, CVFRMSOS, CVRMSONEOS, "
     "CIRMSONEOS, CVRMS1012OS, CIRMS1012OS"},
    {75, 94, 0x060, 0x073, 32,
     "CONFIG0, MTTHR_L0, MTTHR_L1, MTTHR_L2, MTTHR_L3, MTTHR_L4, MTTHR_H0, MTTHR_H1, MTTHR_H2, MTTHR_H3, "
     "MTTHR_H4, NIRMSOS, ISUMRMSOS, NIGAIN, NPHCAL, NIRMSONEOS, NIRMS1012OS, VNOM, DICOEFF, ISUMLVL"},
    {95, 114, 0x20A, 0x21D, 32,
     "AI_PCF, AV_PCF, AIRMS, AVRMS, AIFRMS, AVFRMS, AWATT, AVAR, AVA, AFWATT, AFVAR, AFVA, APF, AVTHD, "
     "AITHD, AIRMSONE, AVRMSONE, AIRMS1012, AVRMS1012, AMTREGION"},
    {115, 134, 0x22A, 0x23D, 32,
     "BI_PCF, BV_PCF, BIRMS, BVRMS, BIFRMS, BVFRMS, BWATT, BVAR, BVA, BFWATT, BFVAR, BFVA, BPF, BVTHD, "
     "BITHD, BIRMSONE, BVRMSONE, BIRMS1012, BVRMS1012, BMTREGION"},
    {135, 154, 0x24A, 0x25D, 32,
     "CI_PCF, CV_PCF, CIRMS, CVRMS, CIFRMS, CVFRMS, CWATT, CVAR, CVA, CFWATT, CFVAR, CFVA, CPF, CVTHD, "
     "CITHD, CIRMSONE, CVRMSONE, CIRMS1012, CVRMS1012, CMTREGION"},
    {155, 160, 0x265, 0x26A, 32, "NI_PCF, NIRMS, NIRMSONE, NIRMS1012, ISUMRMS, VERSION2"},
    {161, 163, 0x2E5, 0x2E7, 32, "AWATT_ACC, AWATTHR_LO, AWATTHR_HI"},
    {164, 166, 0x2EF, 0x2F1, 32, "AVAR_ACC, AVARHR_LO, AVARHR_HI"},
    {167, 169, 0x2F9, 0x2FB, 32, "AVA_ACC, AVAHR_LO, AVAHR_HI"},
    {170, 172, 0x303, 0x305, 32, "AFWATT_ACC, AFWATTHR_LO, AFWATTHR_HI"},
    {173, 175, 0x30D, 0x30F, 32, "AFVAR_ACC, AFVARHR_LO, AFVARHR_HI"},
    {176, 178, 0x317, 0x319, 32, "AFVA_ACC, AFVAHR_LO, AFVAHR_HI"},
    {179, 181, 0x321, 0x323, 32, "BWATT_ACC, BWATTHR_LO, BWATTHR_HI"},
    {182, 184, 0x32B, 0x32D, 32, "BVAR_ACC, BVARHR_LO, BVARHR_HI"},
    {185, 187, 0x335, 0x337, 32, "BVA_ACC, BVAHR_LO, BVAHR_HI"},
    {188, 190, 0x33F, 0x341, 32, "BFWATT_ACC, BFWATTHR_LO, BFWATTHR_HI"},
    {191, 193, 0x349, 0x34B, 32, "BFVAR_ACC, BFVARHR_LO, BFVARHR_HI"},
    {194, 196, 0x353, 0x355, 32, "BFVA_ACC, BFVAHR_LO, BFVAHR_HI"},
    {197, 199, 0x35D, 0x35F, 32, "CWATT_ACC, CWATTHR_LO, CWATTHR_HI"},
    {200, 202, 0x367, 0x369, 32, "CVAR_ACC, CVARHR_LO, CVARHR_HI"},
    {203, 205, 0x371, 0x373, 32, "CVA_ACC, CVAHR_LO, CVAHR_HI"},
    {206, 208, 0x37B, 0x37D, 32, "CFWATT_ACC, CFWATTHR_LO, CFWATTHR_HI"},
    {209, 211, 0x385, 0x387, 32, "CFVAR_ACC, CFVARHR_LO, CFVARHR_HI"},
    {212, 214, 0x38F, 0x391, 32, "CFVA_ACC, CFVAHR_LO, CFVAHR_HI"},
    {215, 215, 0x397, 0x397, 32, "PWATT_ACC"},
    {216, 216, 0x39B, 0x39B, 32, "NWATT_ACC"},
    {217, 217, 0x39F, 0x39F, 32, "PVAR_ACC"},
    {218, 218, 0x3A3, 0x3A3, 32, "NVAR_ACC"},
    {219, 226, 0x400, 0x407, 32, "IPEAK, VPEAK, STATUS0, STATUS1, EVENT_STATUS, MASK0, MASK1, EVENT_MASK"},
    {227, 255, 0x409, 0x425, 32,
     "OILVL, OIA, OIB, OIC, OIN, USER_PERIOD, VLEVEL, DIP_LVL, DIPA, DIPB, DIPC, SWELL_LVL, SWELLA, SWELLB, "
     "SWELLC, APERIOD, BPERIOD, CPERIOD, COM_PERIOD, ACT_NL_LVL, REACT_NL_LVL, APP_NL_LVL, PHNOLOAD, WTHR, "
     "VARTHR, VATHR, LAST_DATA_32, ADC_REDIRECT, CF_LCFG"},
    {256, 256, 0x472, 0x472, 32, "PART_ID"},
    {257, 257, 0x474, 0x474, 32, "TEMP_TRIM"},
    {258, 270, 0x480, 0x48C, 16,
     "RUN, CONFIG1, ANGL_VA_VB, ANGL_VB_VC, ANGL_VA_VC, ANGL_VA_IA, ANGL_VB_IB, ANGL_VC_IC, ANGL_IA_IB, "
     "ANGL_IB_IC, ANGL_IA_IC, DIP_CYC, SWELL_CYC"},
    {271, 282, 0x48F, 0x49A, 16,
     "OISTATUS, CFMODE, COMPMODE, ACCMODE, CONFIG3, CF1DEN, CF2DEN, CF3DEN, CF4DEN, ZXTOUT, ZXTHRSH, "
     "ZX_LP_SEL"},
    {283, 284, 0x49C, 0x49D, 16, "SEQ_CYC, PHSIGN"},
    {285, 289, 0x4A0, 0x4A4, 16, "WFB_CFG, WFB_PG_IRQEN, WFB_TRG_CFG, WFB_TRG_STAT, CONFIG5"},
    {290, 291, 0x4A8, 0x4A9, 16, "CRC_RSLT, CRC_SPI"},
    {292, 292, 0x4AC, 0x4AC, 16, "LAST_DATA_16"},
    {293, 297, 0x4AE, 0x4B2, 16, "LAST_CMD, CONFIG2, EP_CFG, PWR_TIME, EGY_TIME"},
    {298, 301, 0x4B4, 0x4B7, 16, "CRC_FORCE, CRC_OPTEN, TEMP_CFG, TEMP_RSLT"},
    {302, 303, 0x4B9, 0x4BA, 16, "PGA_GAIN, CHNL_DIS"},
    {304, 304, 0x4BF, 0x4BF, 16, "WR_LOCK"},
    {305, 305, 0x4E0, 0x4E0, 16, "VAR_DIS"},
    {306, 306, 0x4F0, 0x4F0, 16, "RESERVED1"},
    {307, 307, 0x4FE, 0x4FE, 16, "Version"},
    {308, 314, 0x500, 0x506, 32,
     "AI_SINC_DAT, AV_SINC_DAT, BI_SINC_DAT, BV_SINC_DAT, CI_SINC_DAT, CV_SINC_DAT, NI_SINC_DAT"},
    {315, 321, 0x510, 0x516, 32,
     "AI_LPF_DAT, AV_LPF_DAT, BI_LPF_DAT, BV_LPF_DAT, CI_LPF_DAT, CV_LPF_DAT, NI_LPF_DAT"},
    {322, 382, 0x600, 0x63C, 32,
     "AV_PCF_1, BV_PCF_1, CV_PCF_1, NI_PCF_1, AI_PCF_1, BI_PCF_1, CI_PCF_1, AIRMS_1, BIRMS_1, CIRMS_1, "
     "AVRMS_1, BVRMS_1, CVRMS_1, NIRMS_1, AWATT_1, BWATT_1, CWATT_1, AVA_1, BVA_1, CVA_1, AVAR_1, BVAR_1, "
     "CVAR_1, AFVAR_1, BFVAR_1, CFVAR_1, APF_1, BPF_1, CPF_1, AVTHD_1, BVTHD_1, CVTHD_1, AITHD_1, BITHD_1, "
     "CITHD_1, AFWATT_1, BFWATT_1, CFWATT_1, AFVA_1, BFVA_1, CFVA_1, AFIRMS_1, BFIRMS_1, CFIRMS_1, AFVRMS_1, "
     "BFVRMS_1, CFVRMS_1, AIRMSONE_1, BIRMSONE_1, CIRMSONE_1, AVRMSONE_1, BVRMSONE_1, CVRMSONE_1, "
     "NIRMSONE_1, AIRMS1012_1, BIRMS1012_1, CIRMS1012_1, AVRMS1012_1, BVRMS1012_1, CVRMS1012_1, NIRMS1012_1"},
    {383, 443, 0x680, 0x6BC, 32,
     "AV_PCF_2, AI_PCF_2, AIRMS_2, AVRMS_2, AWATT_2, AVA_2, AVAR_2, AFVAR_2, APF_2, AVTHD_2, AITHD_2, "
     "AFWATT_2, AFVA_2, AFIRMS_2, AFVRMS_2, AIRMSONE_2, AVRMSONE_2, AIRMS1012_2, AVRMS1012_2, BV_PCF_2, "
     "BI_PCF_2, BIRMS_2, BVRMS_2, BWATT_2, BVA_2, BVAR_2, BFVAR_2, BPF_2, BVTHD_2, BITHD_2, BFWATT_2, "
     "BFVA_2, BFIRMS_2, BFVRMS_2, BIRMSONE_2, BVRMSONE_2, BIRMS1012_2, BVRMS1012_2, CV_PCF_2, CI_PCF_2, "
     "CIRMS_2, CVRMS_2, CWATT_2, CVA_2, CVAR_2, CFVAR_2, CPF_2, CVTHD_2, CITHD_2, CFWATT_2, CFVA_2, "
     "CFIRMS_2, CFVRMS_2, CIRMSONE_2, CVRMSONE_2, CIRMS1012_2, CVRMS1012_2, NI_PCF_2, NIRMS_2, NIRMSONE_2, "
     "NIRMS1012_2"},
};

const char kPhases[] = "ABC";

}  // namespace

// ---------------------------------------------------------------------------
// Register catalogue

TEST(Catalogue, AddressesStrictlyAscend) {
    for (int i = 1; i < REGISTER_DEFS_ROWS; ++i)
        EXPECT_LT(g_rd9000RegisterDefs[i - 1].unAddress, g_rd9000RegisterDefs[i].unAddress) << "row " << i;
}

TEST(Catalogue, NamesAreTwelveBlankPaddedCharactersThenNul) {
    for (int i = 0; i < REGISTER_DEFS_ROWS; ++i) {
        const ADE_REGISTER_DEFINITION& rd = g_rd9000RegisterDefs[i];
        SCOPED_TRACE("row " + std::to_string(i));
        ASSERT_EQ(rd.pszName[12], '\0');
        ASSERT_EQ(std::strlen(rd.pszName), 12u);
        const std::string name = trimmedName(rd);
        ASSERT_FALSE(name.empty());
        EXPECT_EQ(name.find(' '), std::string::npos) << "blank inside \"" << name << "\"";
        EXPECT_EQ(std::string(rd.pszName), name + std::string(12 - name.size(), ' '));
    }
    EXPECT_EQ(0, std::memcmp(g_rd9000RegisterDefs[0].pszName, "AIGAIN      ", 13));
}

TEST(Catalogue, NamesAreDistinct) {
    std::set<std::string> names;
    for (const ADE_REGISTER_DEFINITION& rd : g_rd9000RegisterDefs) names.insert(trimmedName(rd));
    EXPECT_EQ(names.size(), static_cast<std::size_t>(REGISTER_DEFS_ROWS));
}

TEST(Catalogue, RegistersFrom480To4FEAreSixteenBitsAllOthersThirtyTwo) {
    for (int i = 0; i < REGISTER_DEFS_ROWS; ++i) {
        const ADE_REGISTER_DEFINITION& rd = g_rd9000RegisterDefs[i];
        const bool bShort = rd.unAddress >= 0x480 && rd.unAddress <= 0x4FE;
        EXPECT_EQ(rd.nSizeInBits, bShort ? 16 : 32) << "row " << i << " " << trimmedName(rd);
    }
}

// Every row sits where the chip's register map puts it: run boundaries, address
// of every row, width and name; runs are separated by address gaps.
TEST(Catalogue, RowsFollowTheRegisterMapRunByRun) {
    int nNextRow = 0;
    int nPrevAddress = -2;
    for (const RegisterRun& run : kRegisterMap) {
        SCOPED_TRACE("run starting at row " + std::to_string(run.nFirstRow));
        ASSERT_EQ(run.nFirstRow, nNextRow) << "runs must cover the rows without gap or overlap";
        const std::vector<std::string> names = splitList(run.pszNames);
        ASSERT_EQ(static_cast<int>(names.size()), run.nLastRow - run.nFirstRow + 1);
        ASSERT_EQ(run.unLastAddress - run.unFirstAddress, run.nLastRow - run.nFirstRow);
        ASSERT_LT(run.nLastRow, REGISTER_DEFS_ROWS);
        EXPECT_GT(run.unFirstAddress, nPrevAddress + 1) << "adjacent runs must not be contiguous";
        EXPECT_EQ(g_rd9000RegisterDefs[run.nFirstRow].unAddress, run.unFirstAddress);
        EXPECT_EQ(g_rd9000RegisterDefs[run.nLastRow].unAddress, run.unLastAddress);
        for (int i = run.nFirstRow; i <= run.nLastRow; ++i) {
            const ADE_REGISTER_DEFINITION& rd = g_rd9000RegisterDefs[i];
            EXPECT_EQ(rd.unAddress, run.unFirstAddress + (i - run.nFirstRow)) << "row " << i;
            EXPECT_EQ(rd.nSizeInBits, run.nBits) << "row " << i;
            EXPECT_EQ(trimmedName(rd), names[i - run.nFirstRow]) << "row " << i;
        }
        nNextRow = run.nLastRow + 1;
        nPrevAddress = run.unLastAddress;
    }
    EXPECT_EQ(nNextRow, REGISTER_DEFS_ROWS);
}

TEST(Catalogue, DocumentedRowsHaveTheirAddressWidthAndConversion) {
    const ADE_REGISTER_DEFINITION& airms = g_rd9000RegisterDefs[97];
    EXPECT_EQ(trimmedName(airms), "AIRMS");
    EXPECT_EQ(airms.unAddress, 0x20C);
    EXPECT_EQ(airms.nSizeInBits, 32);
    EXPECT_STREQ(airms.pszUnits, "Irms");
    EXPECT_EQ(airms.uFormat, 1);
    EXPECT_EQ(airms.uProcess, proc_IRMS);

    EXPECT_EQ(trimmedName(g_rd9000RegisterDefs[258]), "RUN");
    EXPECT_EQ(g_rd9000RegisterDefs[258].unAddress, 0x480);
    EXPECT_EQ(g_rd9000RegisterDefs[258].nSizeInBits, 16);

    EXPECT_EQ(trimmedName(g_rd9000RegisterDefs[443]), "NIRMS1012_2");
    EXPECT_EQ(g_rd9000RegisterDefs[443].unAddress, 0x6BC);

    EXPECT_STREQ(g_rd9000RegisterDefs[0].pszName, "AIGAIN      ");
}

namespace {

using FormatAndProcess = std::pair<int, int>;

// Conversion by register kind, as the value conversion expects it: RMS currents
// code 2, RMS voltages 1, true powers 9, apparent and reactive powers by phase,
// power factors 4, THD 8 (raw format), the neutral current primaries in raw
// format, the period registers 3; the averaged (_1) and burst (_2) copies
// follow their own lists. Every other register is not converted (0, 0).
std::map<std::string, FormatAndProcess> expectedConversions() {
    std::map<std::string, FormatAndProcess> m;
    for (int p = 0; p < 3; ++p) {
        const std::string x(1, kPhases[p]);
        for (const char* q : {"IRMS", "IFRMS", "IRMSONE", "IRMS1012"}) m[x + q] = {1, 2};
        for (const char* q : {"VRMS", "VFRMS", "VRMSONE", "VRMS1012"}) m[x + q] = {1, 1};
        for (const char* q : {"WATT", "FWATT"}) m[x + q] = {1, 9};
        for (const char* q : {"VA", "FVA"}) m[x + q] = {1, 10 + p};
        for (const char* q : {"VAR", "FVAR"}) m[x + q] = {1, 13 + p};
        m[x + "PF"] = {1, 4};
        for (const char* q : {"VTHD", "ITHD"}) m[x + q] = {0, 8};
        m[x + "PERIOD"] = {1, 3};
        for (const char* s : {"_1", "_2"}) {
            for (const char* q : {"IRMS", "FIRMS", "IRMSONE", "IRMS1012"}) m[x + q + s] = {1, 2};
            for (const char* q : {"VRMS", "FVRMS", "VRMSONE", "VRMS1012"}) m[x + q + s] = {1, 1};
            m[x + "PF" + s] = {1, 4};
        }
    }
    for (const char* n : {"NIRMS", "NIRMSONE", "NIRMS1012"}) {
        m[n] = {0, 2};
        m[std::string(n) + "_1"] = {1, 1};
        m[std::string(n) + "_2"] = {1, 2};
    }
    return m;
}

}  // namespace

TEST(Catalogue, ConversionCodesFollowRegisterKind) {
    const std::map<std::string, FormatAndProcess> expected = expectedConversions();
    for (const auto& e : expected) EXPECT_NE(rowOfName(e.first), NOT_FOUND) << e.first;
    for (int i = 0; i < REGISTER_DEFS_ROWS; ++i) {
        const ADE_REGISTER_DEFINITION& rd = g_rd9000RegisterDefs[i];
        const auto it = expected.find(trimmedName(rd));
        const FormatAndProcess want = it == expected.end() ? FormatAndProcess{0, 0} : it->second;
        EXPECT_EQ(FormatAndProcess(rd.uFormat, rd.uProcess), want) << "row " << i << " " << trimmedName(rd);
    }
}

// Counted from the register kinds: e.g. RMS voltage = 4 kinds x 3 phases in each
// of the primary, _1 and _2 blocks, plus the three neutral _1 registers.
TEST(Catalogue, EachConversionCodeAppearsInItsNumberOfRows) {
    struct CodeCount {
        int nProcess, nRows, nFormatOneRows;
    };
    const CodeCount kCounts[] = {
        {0, 327, 0}, {1, 39, 39}, {2, 42, 39}, {3, 3, 3},  {4, 9, 9},  {5, 0, 0},  {6, 0, 0},  {7, 0, 0},
        {8, 6, 0},   {9, 6, 6},   {10, 2, 2},  {11, 2, 2}, {12, 2, 2}, {13, 2, 2}, {14, 2, 2}, {15, 2, 2},
    };
    int nCounted = 0;
    for (const CodeCount& c : kCounts) {
        int nRows = 0, nFormatOne = 0;
        for (const ADE_REGISTER_DEFINITION& rd : g_rd9000RegisterDefs) {
            if (rd.uProcess != c.nProcess) continue;
            ++nRows;
            if (rd.uFormat == 1) ++nFormatOne;
        }
        EXPECT_EQ(nRows, c.nRows) << "uProcess " << c.nProcess;
        EXPECT_EQ(nFormatOne, c.nFormatOneRows) << "uProcess " << c.nProcess;
        nCounted += nRows;
    }
    EXPECT_EQ(nCounted, REGISTER_DEFS_ROWS) << "a row carries a code outside 0..15";
    for (const ADE_REGISTER_DEFINITION& rd : g_rd9000RegisterDefs)
        EXPECT_LE(rd.uFormat, 1) << trimmedName(rd);
}

TEST(Catalogue, OnlyPhaseAPrimaryRowsCarryUnitLabels) {
    const std::map<std::string, std::string> kUnits = {
        {"AIRMS", "Irms"},
        {"AVRMS", "Vrms"},
        {"AIFRMS", "fIrms"},
        {"AVFRMS", "fVrms"},
        {"AWATT", "W"},
        {"AVAR", "VAR"},
        {"AVA", "VA"},
        {"AFWATT", "fW"},
        {"AFVAR", "fVAR"},
        {"AFVA", "fVA"},
        {"APF", "PF"},
        {"AVTHD", "%THDv"},
        {"AITHD", "%THDi"},
        {"AIRMSONE", "Irms(1)"},
        {"AVRMSONE", "Vrms(1)"},
        {"AIRMS1012", "Irms(10/12)"},
        {"AVRMS1012", "Vrms(10/12)"},
    };
    ASSERT_EQ(kUnits.size(), 17u);
    int nLabelled = 0;
    for (int i = 0; i < REGISTER_DEFS_ROWS; ++i) {
        const ADE_REGISTER_DEFINITION& rd = g_rd9000RegisterDefs[i];
        ASSERT_NE(std::memchr(rd.pszUnits, '\0', sizeof rd.pszUnits), nullptr) << "row " << i;
        const auto it = kUnits.find(trimmedName(rd));
        EXPECT_STREQ(rd.pszUnits, it == kUnits.end() ? "" : it->second.c_str()) << "row " << i;
        if (rd.pszUnits[0] != '\0') ++nLabelled;
    }
    EXPECT_EQ(nLabelled, 17);
}

TEST(Catalogue, OnlyRegistersWithRecordedDefaultsCarryInitialValues) {
    const std::map<std::string, uint32_t> kInit = {
        {"VLEVEL", 0x0008C25A}, {"CONFIG1", 0x0002}, {"ACCMODE", 0x0100}, {"CONFIG3", 0xF000},
        {"CF1DEN", 0xFFFF},     {"CF2DEN", 0xFFFF},  {"CF3DEN", 0xFFFF},  {"CF4DEN", 0xFFFF},
        {"ZXTOUT", 0xFFFF},     {"CONFIG2", 0x0C00},
    };
    int nWithInit = 0;
    for (int i = 0; i < REGISTER_DEFS_ROWS; ++i) {
        const ADE_REGISTER_DEFINITION& rd = g_rd9000RegisterDefs[i];
        const auto it = kInit.find(trimmedName(rd));
        const uint32_t ulInit = rd.ulInit;  // packed field: copy before binding a reference
        EXPECT_EQ(ulInit, it == kInit.end() ? 0u : it->second) << "row " << i << " " << trimmedName(rd);
        if (ulInit != 0) ++nWithInit;
    }
    EXPECT_EQ(nWithInit, 10);
}

// ---------------------------------------------------------------------------
// Burst read map

namespace {

constexpr int BURST_WORDS = 61;  // 3 phases x 19 words + 4 neutral words
constexpr int WORDS_PER_PHASE = 19;

// The burst block register and its primary register for one phase-A position;
// phase B adds 0x13 to the burst address and 0x20 to the primary address,
// phase C 0x26 and 0x40.
struct BurstPosition {
    const char* pszBurst;
    uint16_t unBurstAddress;
    const char* pszPrimary;
    uint16_t unPrimaryAddress;
    eJrnl jrnlPhaseA;  // journal value of phase A fed by this word
};

const BurstPosition kPhasePositions[WORDS_PER_PHASE] = {
    {"AV_PCF_2", 0x680, "AV_PCF", 0x20B, jrnl_NONE},
    {"AI_PCF_2", 0x681, "AI_PCF", 0x20A, jrnl_NONE},
    {"AIRMS_2", 0x682, "AIRMS", 0x20C, jrnl_IRMS_A},
    {"AVRMS_2", 0x683, "AVRMS", 0x20D, jrnl_VRMS_A},
    {"AWATT_2", 0x684, "AWATT", 0x210, jrnl_WATT_A},
    {"AVA_2", 0x685, "AVA", 0x212, jrnl_VA_A},
    {"AVAR_2", 0x686, "AVAR", 0x211, jrnl_VAR_A},
    {"AFVAR_2", 0x687, "AFVAR", 0x214, jrnl_FVAR_A},
    {"APF_2", 0x688, "APF", 0x216, jrnl_PF_A},
    {"AVTHD_2", 0x689, "AVTHD", 0x217, jrnl_VTHD_A},
    {"AITHD_2", 0x68A, "AITHD", 0x218, jrnl_ITHD_A},
    {"AFWATT_2", 0x68B, "AFWATT", 0x213, jrnl_FWATT_A},
    {"AFVA_2", 0x68C, "AFVA", 0x215, jrnl_FVA_A},
    {"AFIRMS_2", 0x68D, "AIFRMS", 0x20E, jrnl_FIRMS_A},
    {"AFVRMS_2", 0x68E, "AVFRMS", 0x20F, jrnl_FVRMS_A},
    {"AIRMSONE_2", 0x68F, "AIRMSONE", 0x219, jrnl_IRMS1_A},
    {"AVRMSONE_2", 0x690, "AVRMSONE", 0x21A, jrnl_VRMS1_A},
    {"AIRMS1012_2", 0x691, "AIRMS1012", 0x21B, jrnl_IRMS1012_A},
    {"AVRMS1012_2", 0x692, "AVRMS1012", 0x21C, jrnl_VRMS1012_A},
};

const BurstPosition kNeutralPositions[4] = {
    {"NI_PCF_2", 0x6B9, "NI_PCF", 0x265, jrnl_NONE},
    {"NIRMS_2", 0x6BA, "NIRMS", 0x266, jrnl_NIRMS},
    {"NIRMSONE_2", 0x6BB, "NIRMSONE", 0x267, jrnl_NIRMSONE},
    {"NIRMS1012_2", 0x6BC, "NIRMS1012", 0x268, jrnl_NIRMS1012},
};

// Burst word k as the driver sees it: burst register, primary register and the
// journal value it feeds.
struct BurstWord {
    std::string burstName;
    uint16_t unBurstAddress;
    std::string primaryName;
    uint16_t unPrimaryAddress;
    uint16_t unJrnl;
};

BurstWord burstWord(int k) {
    if (k >= 3 * WORDS_PER_PHASE) {
        const BurstPosition& n = kNeutralPositions[k - 3 * WORDS_PER_PHASE];
        return {n.pszBurst, n.unBurstAddress, n.pszPrimary, n.unPrimaryAddress, n.jrnlPhaseA};
    }
    const int p = k / WORDS_PER_PHASE;
    const BurstPosition& a = kPhasePositions[k % WORDS_PER_PHASE];
    std::string burst = a.pszBurst, primary = a.pszPrimary;
    burst[0] = primary[0] = kPhases[p];
    return {burst, static_cast<uint16_t>(a.unBurstAddress + 0x13 * p), primary,
            static_cast<uint16_t>(a.unPrimaryAddress + 0x20 * p),
            static_cast<uint16_t>(a.jrnlPhaseA == jrnl_NONE ? jrnl_NONE : a.jrnlPhaseA + p)};
}

// Conversion each journal quantity needs, by the physics of the value.
int expectedProcess(uint16_t unJrnl) {
    if (unJrnl >= jrnl_NIRMS) return proc_IRMS;  // neutral currents
    const int p = unJrnl % 3;
    switch (unJrnl - p) {
        case jrnl_VRMS_A:
        case jrnl_FVRMS_A:
        case jrnl_VRMS1_A:
        case jrnl_VRMS1012_A:
            return proc_VRMS;
        case jrnl_IRMS_A:
        case jrnl_FIRMS_A:
        case jrnl_IRMS1_A:
        case jrnl_IRMS1012_A:
            return proc_IRMS;
        case jrnl_WATT_A:
        case jrnl_FWATT_A:
            return proc_WATT;
        case jrnl_VA_A:
        case jrnl_FVA_A:
            return proc_VA_A + p;
        case jrnl_VAR_A:
        case jrnl_FVAR_A:
            return proc_VAR_A + p;
        case jrnl_PF_A:
            return proc_PF;
        case jrnl_VTHD_A:
        case jrnl_ITHD_A:
            return proc_THD;
        default:
            return -1;  // not a burst-fed quantity
    }
}

}  // namespace

TEST(BurstMap, CatalogueHoldsTheBurstBlockInBurstOrder) {
    for (int k = 0; k < BURST_WORDS; ++k) {
        const BurstWord w = burstWord(k);
        ASSERT_EQ(w.unBurstAddress, 0x680 + k) << "word " << k;
        const int nRow = rowOfAddress(w.unBurstAddress);
        ASSERT_NE(nRow, NOT_FOUND) << "word " << k;
        EXPECT_EQ(trimmedName(g_rd9000RegisterDefs[nRow]), w.burstName) << "word " << k;
    }
}

TEST(BurstMap, EachWordNamesThePrimaryRegisterOfItsBurstPosition) {
    for (int k = 0; k < BURST_READ_MAP_ROWS; ++k) {
        const BURST_READ_MAP_RECORD& mr = g_mrBurstReadMap[k];
        SCOPED_TRACE("word " + std::to_string(k));
        if (k >= BURST_WORDS) {
            EXPECT_EQ(mr.unJrnlIndex, BURST_MAP_NONE);
            EXPECT_EQ(mr.unRegDefIndex, BURST_MAP_NONE);
            continue;
        }
        const BurstWord w = burstWord(k);
        ASSERT_EQ(mr.unJrnlIndex, w.unJrnl);
        if (w.unJrnl == jrnl_NONE) {
            EXPECT_EQ(mr.unRegDefIndex, BURST_MAP_NONE);
            continue;
        }
        ASSERT_LT(mr.unRegDefIndex, REGISTER_DEFS_ROWS);
        const ADE_REGISTER_DEFINITION& rd = g_rd9000RegisterDefs[mr.unRegDefIndex];
        EXPECT_EQ(trimmedName(rd), w.primaryName);
        EXPECT_EQ(rd.unAddress, w.unPrimaryAddress);
    }
}

TEST(BurstMap, DocumentedWordsPointAtTheirCatalogueRows) {
    struct Example {
        int nWord;
        uint16_t unJrnl, unRow, unAddress;
    };
    const Example kExamples[] = {
        {2, jrnl_IRMS_A, 97, 0x020C},   {6, jrnl_VAR_A, 102, 0x0211},      {13, jrnl_FIRMS_A, 99, 0x020E},
        {21, jrnl_IRMS_B, 117, 0x022C}, {45, jrnl_FVAR_C, 145, 0x0254},    {56, jrnl_VRMS1012_C, 153, 0x025C},
        {58, jrnl_NIRMS, 156, 0x0266},  {60, jrnl_NIRMS1012, 158, 0x0268},
    };
    for (const Example& e : kExamples) {
        SCOPED_TRACE("word " + std::to_string(e.nWord));
        EXPECT_EQ(g_mrBurstReadMap[e.nWord].unJrnlIndex, e.unJrnl);
        ASSERT_EQ(g_mrBurstReadMap[e.nWord].unRegDefIndex, e.unRow);
        EXPECT_EQ(g_rd9000RegisterDefs[e.unRow].unAddress, e.unAddress);
    }
}

TEST(BurstMap, ConvertedRowsAreExactlyThePrimaryMeasurementRows) {
    std::set<int> expected;
    for (int r = 97; r <= 113; ++r) expected.insert(r);
    for (int r = 117; r <= 133; ++r) expected.insert(r);
    for (int r = 137; r <= 153; ++r) expected.insert(r);
    for (int r = 156; r <= 158; ++r) expected.insert(r);
    std::multiset<int> mapped;
    for (const BURST_READ_MAP_RECORD& mr : g_mrBurstReadMap)
        if (mr.unRegDefIndex != BURST_MAP_NONE) mapped.insert(mr.unRegDefIndex);
    EXPECT_EQ(mapped, std::multiset<int>(expected.begin(), expected.end()));
}

TEST(BurstMap, JournalValuesAreFedAtMostOnceAndNeverFrequencyAngleOrTotal) {
    std::map<uint16_t, int> uses;
    for (int k = 0; k < BURST_READ_MAP_ROWS; ++k) {
        const BURST_READ_MAP_RECORD& mr = g_mrBurstReadMap[k];
        EXPECT_EQ(mr.unJrnlIndex == BURST_MAP_NONE, mr.unRegDefIndex == BURST_MAP_NONE)
            << "word " << k << ": a journal value needs a conversion row and vice versa";
        if (mr.unJrnlIndex == BURST_MAP_NONE) continue;
        EXPECT_LT(mr.unJrnlIndex, jrnl_NUM_REGS) << "word " << k << " feeds a total";
        ++uses[mr.unJrnlIndex];
    }
    for (const auto& u : uses) EXPECT_EQ(u.second, 1) << "journal value " << u.first;
    for (uint16_t j : {jrnl_FREQ_A, jrnl_FREQ_B, jrnl_FREQ_C, jrnl_VANGLE_A, jrnl_VANGLE_B, jrnl_VANGLE_C,
                       jrnl_IANGLE_A, jrnl_IANGLE_B, jrnl_IANGLE_C})
        EXPECT_EQ(uses.count(j), 0u) << "journal value " << j;
    // Everything else below the totals is measured: 17 quantities x 3 phases + 3 neutral.
    EXPECT_EQ(uses.size(), 54u);
}

TEST(BurstMap, ConversionCodeSuitsTheJournalQuantity) {
    for (int k = 0; k < BURST_READ_MAP_ROWS; ++k) {
        const BURST_READ_MAP_RECORD& mr = g_mrBurstReadMap[k];
        if (mr.unJrnlIndex == BURST_MAP_NONE || mr.unRegDefIndex >= REGISTER_DEFS_ROWS) continue;
        EXPECT_EQ(g_rd9000RegisterDefs[mr.unRegDefIndex].uProcess, expectedProcess(mr.unJrnlIndex))
            << "word " << k << " journal value " << mr.unJrnlIndex;
    }
}

// ---------------------------------------------------------------------------
// Energy and demand table

namespace {

// Quantities in eEnergyAccum / ePowerAccum order; each has phases A, B, C.
const char* const kEnergyQuantities[] = {"WATT", "VAR", "VA", "FWATT", "FVAR", "FVA"};

std::string nameAt(uint16_t unAddress) {
    const int nRow = rowOfAddress(unAddress);
    return nRow == NOT_FOUND ? "<no register>" : trimmedName(g_rd9000RegisterDefs[nRow]);
}

}  // namespace

TEST(EnergyTable, EveryNamedAddressIsACatalogueRegister) {
    for (int i = 0; i < ENERGY_DESC_ROWS; ++i) {
        for (uint16_t unAddress : {g_engDesc[i].unAddressHi, g_engDesc[i].unAddressLo}) {
            if (unAddress != ENERGY_ADDRESS_NONE) {
                EXPECT_NE(rowOfAddress(unAddress), NOT_FOUND) << "row " << i;
            }
        }
    }
}

TEST(EnergyTable, PhaseEnergyRowsNameTheHighAndLowHalvesOfTheirRegister) {
    for (int k = accum_AWATTHR; k < accum_ENERGY_NUM_REGS; ++k) {
        const std::string base = std::string(1, kPhases[k % 3]) + kEnergyQuantities[k / 3] + "HR";
        EXPECT_EQ(nameAt(g_engDesc[k].unAddressHi), base + "_HI") << "row " << k;
        EXPECT_EQ(nameAt(g_engDesc[k].unAddressLo), base + "_LO") << "row " << k;
    }
}

TEST(EnergyTable, PhaseDemandRowsNameTheirPowerAccumulationRegister) {
    for (int j = accum_AWATT_ACC; j < accum_NUM_REGS; ++j) {
        const int k = accum_ENERGY_MAX + j;  // demand rows follow the energy rows
        EXPECT_EQ(g_engDesc[k].unAddressHi, ENERGY_ADDRESS_NONE) << "row " << k;
        EXPECT_EQ(nameAt(g_engDesc[k].unAddressLo),
                  std::string(1, kPhases[j % 3]) + kEnergyQuantities[j / 3] + "_ACC")
            << "row " << k;
    }
    EXPECT_EQ(g_engDesc[24].unAddressLo, 0x02E5);
}

TEST(EnergyTable, TotalRowsNameNoRegister) {
    std::vector<int> totals;
    for (int k = accum_TOT_ENERGY_START; k < accum_ENERGY_MAX; ++k) totals.push_back(k);
    for (int j = accum_TOT_START; j < accum_POWER_MAX; ++j) totals.push_back(accum_ENERGY_MAX + j);
    ASSERT_EQ(totals.size(), 12u);
    for (int k : totals) {
        EXPECT_EQ(g_engDesc[k].unAddressHi, ENERGY_ADDRESS_NONE) << "row " << k;
        EXPECT_EQ(g_engDesc[k].unAddressLo, ENERGY_ADDRESS_NONE) << "row " << k;
    }
}

// The report prints these names as they are, including the two blanks before the
// unit in some of the fundamental demand names.
TEST(EnergyTable, DisplayNamesAreTheReportLabels) {
    const char* const kNames[ENERGY_DESC_ROWS] = {
        "Energy - A (kWh)",
        "Energy - B (kWh)",
        "Energy - C (kWh)",
        "Energy (reactive) - A (kVARh)",
        "Energy (reactive) - B (kVARh)",
        "Energy (reactive) - C (kVARh)",
        "Energy (apparent) - A (kVAh)",
        "Energy (apparent) - B (kVAh)",
        "Energy (apparent) - C (kVAh)",
        "Fund. Energy - A (kWh)",
        "Fund. Energy - B (kWh)",
        "Fund. Energy - C (kWh)",
        "Fund. Energy (reactive) - A (kVARh)",
        "Fund. Energy (reactive) - B (kVARh)",
        "Fund. Energy (reactive) - C (kVARh)",
        "Fund. Energy (apparent) - A (kVAh)",
        "Fund. Energy (apparent) - B (kVAh)",
        "Fund. Energy (apparent) - C (kVAh)",
        "Energy - Total (kWh)",
        "Energy (reactive) - Total (kVARh)",
        "Energy (apparent) - Total (kVAh)",
        "Fund. Energy - Total (kWh)",
        "Fund. Energy (reactive) - Total (kVARh)",
        "Fund. Energy (apparent) - Total (kVAh)",
        "Demand - A (kW)",
        "Demand - B (kW)",
        "Demand - C (kW)",
        "Demand (reactive) - A (kVAR)",
        "Demand (reactive) - B (kVAR)",
        "Demand (reactive) - C (kVAR)",
        "Demand (apparent) - A (kVA)",
        "Demand (apparent) - B (kVA)",
        "Demand (apparent) - C (kVA)",
        "Fund. Demand - A (kW)",
        "Fund. Demand - B (kW)",
        "Fund. Demand - C (kW)",
        "Fund. Demand (reactive) - A  (kVAR)",
        "Fund. Demand (reactive) - B  (kVAR)",
        "Fund. Demand (reactive) - C  (kVAR)",
        "Fund. Demand (apparent) - A  (kVA)",
        "Fund. Demand (apparent) - B  (kVA)",
        "Fund. Demand (apparent) - C  (kVA)",
        "Demand - Total (kW)",
        "Demand (reactive) - Total (kVAR)",
        "Demand (apparent) - Total (kVA)",
        "Fund. Demand - Total (kW)",
        "Fund. Demand (reactive) - Total  (kVAR)",
        "Fund. Demand (apparent) - Total  (kVA)",
    };
    for (int i = 0; i < ENERGY_DESC_ROWS; ++i) {
        ASSERT_NE(std::memchr(g_engDesc[i].pszAbbrev, '\0', sizeof g_engDesc[i].pszAbbrev), nullptr) << i;
        EXPECT_STREQ(g_engDesc[i].pszAbbrev, kNames[i]) << "row " << i;
    }
}
