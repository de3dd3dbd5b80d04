// The JSON reports of the realtime requests: exact text, bounds, valid JSON.
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "JSONEscape.h"
#include "ModuleFixture.h"

namespace {

// Text a module's EEPROM may hold, and what a JSON parser must read back.
struct Hostile {
    std::string raw, parsed;
};
const Hostile HOSTILE[] = {
    {"\xa9 a\\b \"q\"\t\n\x01\x1f\x7f", "\xc2\xa9 a\\b \"q\"\t\n\x01\x1f\x7f"},  // a stray byte is Latin-1
    {"\xc2\xb0 C", "\xc2\xb0 C"},                                                // UTF-8 passes byte for byte
    {"\xe2\x82", "\xc3\xa2\xc2\x82"},                                    // so is a character cut short
    {std::string(31, '"') + "\xc3", std::string(31, '"') + "\xc3\x83"},  // a full field, unterminated
};

class Reports : public ModuleUnit {
protected:
    ACCUMULATOR_DATA* working() { return m_module.m_Accumulator.getWorkingInterval(); }
};

TEST_F(Reports, ValuesReportListsEveryValueWithItsDecimals) {
    journal()[jrnl_VRMS_A] = 230.456f;
    working()->m_fEnergyTotal[accum_AWATTHR] = 1.5f;
    working()->m_fDemandMax[accum_BWATT_ACC] = 812.25f;
    strcpy(m_module.m_pszJrnlName[jrnl_VRMS_A], "Voltage A");
    std::string text;
    ASSERT_EQ(request(11, 65536, text), 0);
    for (const char* pszPiece : {
             "{ \"reg\": \"3\", \"value\": \"230.46\", \"name\": \"Voltage A\"},\n",
             "{ \"reg\": \"0\", \"value\": \"1.500\", \"name\": \"Energy - A (kWh)\"},\n",
             "{ \"reg\": \"25\", \"value\": \"812.250\", \"name\": \"Demand - B (kW)\"}",
         })
        EXPECT_NE(text.find(pszPiece), std::string::npos) << pszPiece;
    EXPECT_EQ(text.substr(text.size() - 28), "- Total  (kVA)\"}\n    ]\n    }");
}

TEST_F(Reports, ValuesReportParsesWithinTheBufferWhateverTheNames) {
    for (int i = 0; i < jrnl_MAX; i++) {
        journal()[i] = 1.25f * i;
        const std::string& name = HOSTILE[i % std::size(HOSTILE)].raw;
        memcpy(m_module.m_pszJrnlName[i], name.c_str(), std::min<size_t>(name.size() + 1, 32));
    }
    std::string text;
    for (uint32_t ulMax : {0u, 35u, 98u}) {
        EXPECT_EQ(request(11, ulMax, text), 3) << ulMax;
        EXPECT_TRUE(m_bUntouched) << ulMax;
    }
    // The smallest buffer that takes the fixed pieces gets them and no item.
    ASSERT_EQ(request(11, 99, text), 0);
    EXPECT_EQ(text.size() + 1, 99u);
    EXPECT_EQ(nlohmann::json::parse("{" + text + "}").at("registers").at("power").size(), 0u);

    // Every larger size: within the buffer, valid JSON, the names as stored.
    nlohmann::json document;
    for (uint32_t ulMax = 99; ulMax < 16000; ulMax += 37) {
        SCOPED_TRACE(ulMax);
        ASSERT_EQ(request(11, ulMax, text), 0);
        EXPECT_LE(text.size() + 1, ulMax);
        ASSERT_NO_THROW(document = nlohmann::json::parse("{" + text + "}"));
        const auto& power = document.at("registers").at("power");
        for (size_t i = 0; i < power.size(); i++)
            EXPECT_EQ(power[i].at("name"), HOSTILE[i % std::size(HOSTILE)].parsed) << i;
    }
    const auto& registers = document.at("registers");  // the largest buffer takes everything
    EXPECT_EQ(registers.at("power").size() + registers.at("energy").size(), 94u);
    EXPECT_EQ(registers.at("demand").size(), 24u);
    // A buffer just the size of the whole text and its NUL gets all of it.
    const std::string whole = text;
    ASSERT_EQ(request(11, static_cast<uint32_t>(whole.size() + 1), text), 0);
    EXPECT_EQ(text, whole);
}

TEST_F(Reports, ScaledRowsPickThePrefixAndMarkWhatTheWiringLacks) {
    const struct {
        uint16_t unWiring;
        float fWatts[4];
        const char* pszExpected;
    } cases[] = {
        {3, {1200, 1300, 1100, 3600}, "kW\", \"values\": [ 1.200, 1.300, 1.100, 3.600 ] }"},
        {1, {100, 200, 300, 100}, "W\", \"values\": [ 100.000, \"*\", \"*\", 100.000 ] }"},
        {4, {100, 200, 300, 600}, "kW\", \"values\": [ \"*\", \"*\", \"*\", 0.600 ] }"},
        {0, {600, 0, 0, 0}, "kW\", \"values\": [ \"*\", \"*\", \"*\", \"*\" ] }"},
        {3, {0, 0, 0, 500}, "kW\", \"values\": [ 0.000, 0.000, 0.000, 0.500 ] }"},
        {3, {0, 0, 0, 499.9f}, "W\", \"values\": [ 0.000, 0.000, 0.000, 499.900 ] }"},
        {3, {0, 0, 0, 500000}, "MW\", \"values\": [ 0.000, 0.000, 0.000, 0.500 ] }"},
    };
    for (const auto& c : cases) {
        m_module.m_unWiring = c.unWiring;
        const int nValues[] = {jrnl_WATT_A, jrnl_WATT_B, jrnl_WATT_C, jrnl_TOT_WATT};
        for (int i = 0; i < 4; i++) journal()[nValues[i]] = c.fWatts[i];
        std::string text;
        ASSERT_EQ(request(6, 0, text), 0);
        EXPECT_NE(text.find(std::string("{ \"desc\": \"True Power\", \"units\": \"") + c.pszExpected),
                  std::string::npos);
    }
}

TEST_F(Reports, ScaledRowBasisIsTheLargestPhaseWithoutAValidTotal) {
    char szRow[512];
    m_module.realtimeCreateScaledRow("Reactive Power", "VAr", "\n", true, -600, -700, -800, 0, szRow, 0x0007);
    EXPECT_STREQ(szRow,
                 "      { \"desc\": \"Reactive Power\", \"units\": \"kVAr\", \"values\": [ -0.600, -0.700, "
                 "-0.800, \"*\" ] }\n");
    // Absurd magnitudes cut the value list instead of overflowing it.
    EXPECT_LT(
        m_module.realtimeCreateScaledRow("X", "W", "\n", false, 1e38f, 1e38f, 1e38f, 1e38f, szRow, 0x8007),
        512u);

    // Any text is escaped; a long one is capped, never cut inside an escape.
    const std::string longText = "x" + std::string(600, '"');
    for (const Hostile& h : {HOSTILE[0], HOSTILE[1], HOSTILE[2], Hostile{longText, ""}}) {
        EXPECT_LT(m_module.realtimeCreateScaledRow(h.raw.c_str(), h.raw.c_str(), "\n", false, 1, 2, 3, 4,
                                                   szRow, 0x8007),
                  512u);
        nlohmann::json row;
        ASSERT_NO_THROW(row = nlohmann::json::parse(szRow)) << szRow;
        for (const char* pszKey : {"desc", "units"})
            if (!h.parsed.empty())
                EXPECT_EQ(row.at(pszKey), h.parsed);
            else  // 256 escaped bytes of description, 64 of units
                EXPECT_EQ(row.at(pszKey), longText.substr(0, std::string(pszKey) == "desc" ? 128 : 32));
        EXPECT_EQ(row.at("values"), nlohmann::json::parse("[1, 2, 3, 4]"));
    }
    // Only a line end too long for the row is cut, at the row's last byte.
    const std::string longEnd(600, ' ');
    EXPECT_EQ(m_module.realtimeCreateScaledRow("X", "W", longEnd.c_str(), false, 1, 2, 3, 4, szRow, 0x8007),
              511u);
    EXPECT_EQ(strlen(szRow), 511u);
}

// The escape's bounds: the input's (a field may lack its NUL) and the output's,
// which an escape or a character never straddles. Both writers agree.
TEST(JSONEscape, StopsAtEitherBoundWithoutCuttingACharacter) {
    const struct {
        const char* pszIn;
        size_t nMaxIn, nMaxOut;
        const char* pszOut;
    } cases[] = {
        {"abcdef", 3, SIZE_MAX, "abc"},
        {"abcdef", SIZE_MAX, 4, "abcd"},
        {"ab\"cd", SIZE_MAX, 3, "ab"},
        {"ab\"cd", SIZE_MAX, 4, "ab\\\""},
        {"a\xc2\xb0", SIZE_MAX, 2, "a"},
        {"a\xc2\xb0z", 2, SIZE_MAX, "a\\u00C2"},  // the character cut by the field is a stray byte
        {"\x7f\x80\x1f", SIZE_MAX, SIZE_MAX, "\x7f\\u0080\\u001F"},
        {"ab\0cd", SIZE_MAX, SIZE_MAX, "ab"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszIn);
        std::string out = "<";
        appendJSONEscaped(out, c.pszIn, c.nMaxIn, c.nMaxOut);
        EXPECT_EQ(out, std::string("<") + c.pszOut);
        char szOut[64];
        const size_t nOut = writeJSONEscaped(szOut, std::min(c.nMaxOut, sizeof(szOut)), c.pszIn, c.nMaxIn);
        EXPECT_EQ(std::string(szOut, nOut), c.pszOut);
    }
}

// Each energy and demand cell from its own quantity, so a wrong field, row or
// column shows: phases A, B, C of row r are quantities 3r to 3r + 2, the total 18 + r.
TEST_F(Reports, ScaledEnergyAndDemandCellsShowTheirOwnQuantity) {
    m_module.m_unWiring = 3;
    for (int i = 0; i < accum_ENERGY_MAX; i++) {
        working()->m_fEnergyTotal[i] = 100.0f + i;
        working()->m_fDemandMax[i] = 200.0f + i;
        working()->m_fEnergyAccum[i] = working()->m_fDemandAvg[i] = 300.0f + i;  // never shown
    }
    std::string text;
    ASSERT_EQ(request(6, 0, text), 0);
    const auto sections = nlohmann::json::parse("[\n" + text + "]");
    nlohmann::json sizes;
    for (const auto& section : sections)
        sizes.push_back({section.at("section"), section.at("values").size()});
    ASSERT_EQ(sizes,
              nlohmann::json::parse(R"([["energy", 6], ["power", 20], ["neutral", 3], ["demand", 6]])"));
    EXPECT_EQ(sections[2].at("values")[0].at("values")[1], "*");  // neutral: first column only
    for (const auto& [nSection, fBase] : {std::pair{0, 100.0}, std::pair{3, 200.0}})
        for (int r = 0; r < 6; r++) {
            const auto& values = sections[nSection].at("values")[r].at("values");
            const int nSources[4] = {3 * r, 3 * r + 1, 3 * r + 2, 18 + r};
            for (int c = 0; c < 4; c++)
                EXPECT_EQ(values[c].get<double>(), fBase + nSources[c]) << nSection << " " << r << " " << c;
        }
    const uint32_t ulSize = static_cast<uint32_t>(text.size() + 1);  // too small gets nothing
    EXPECT_EQ(request(6, ulSize - 1, text), 3);
    EXPECT_TRUE(m_bUntouched);
    EXPECT_EQ(request(6, ulSize, text), 0);
}

}  // namespace
