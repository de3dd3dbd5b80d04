// The JSON scanner's reading rules, quirks included: every file of the module
// (configuration, initialization, calibration, probes) depends on them.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "JSONBuffer.h"

namespace {

const JSONBuffer g_scanner;

// A modifiable copy of a literal line, as the loaders hand their line buffers.
std::vector<char> line(const std::string& text) {
    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back('\0');
    return buffer;
}

TEST(JSONScanner, FindPairReadsSignedDecimalsAfterTheFirstOccurrence) {
    struct Case {
        const char* pszLine;
        const char* pszName;
        int32_t nExpected;
    };
    const Case cases[] = {
        {R"({ "name": "Wiring", "value": 3 },)", "value", 3},
        {R"({ "name": "X", "value": "-12" })", "value", -12},
        {R"({ "name": "X", "value": true })", "value", 0},
        {R"({ "name": "X", "value": "-" })", "value", 0},
        // The first occurrence wins, even inside another key.
        {R"({"fvalue": 7.5, "value": 9})", "value", 7},
        {R"({ "value": 1 2 })", "value", 12},
        {R"({ "value": "" 42 })", "value", 42},
        {R"({ "other": 5 })", "value", 0},
        {R"({ "value" 5 })", "value", 0},
        {R"({ "value": -2147483648 })", "value", INT32_MIN},
        // An oversized number keeps its low 32 bits.
        {R"({ "value": 4294967297 })", "value", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszLine);
        auto text = line(c.pszLine);
        EXPECT_EQ(g_scanner.findPair(text.data(), c.pszName), c.nExpected);
    }
}

TEST(JSONScanner, FindHexPairTakesTheFirstHexNumberAfterTheName) {
    struct Case {
        const char* pszLine;
        const char* pszName;
        uint32_t ulExpected;
    };
    const Case cases[] = {
        {R"({"address": "0x04A0", "value": "0x0010", "bits": "0x10"})", "address", 0x04A0},
        {R"({"address": "0x04A0", "value": "0x0010", "bits": "0x10"})", "bits", 0x10},
        {R"({"address": 0xfffF})", "address", 0xFFFF},
        {R"({"bits": 32, "name": "x"})", "bits", 0},
        // The "0x" need not belong to the name's own value.
        {R"({"bits": 32, "next": "0x4"})", "bits", 0x4},
        {R"({"value": "0X10"})", "value", 0},
        {R"({"value": "0x12 34"})", "value", 0x1234},
        {R"({"value": "0x123456789"})", "value", 0x23456789},
        {R"({"value": "0x"})", "value", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszLine);
        auto text = line(c.pszLine);
        EXPECT_EQ(g_scanner.findHexPair(text.data(), c.pszName), c.ulExpected);
    }
}

TEST(JSONScanner, FindFloatConvertsOrFallsBackToDigitsWithoutSign) {
    struct Case {
        const char* pszLine;
        float fExpected;
    };
    const Case cases[] = {
        {R"({"value": 1.5e3})", 1500.0f},
        {R"({"value":   -7.25 })", -7.25f},
        {R"({"value": "2.25"})", 2.25f},
        {R"({"value": "0.123456"})", static_cast<float>(123456.0 / 1e6)},
        {R"({"value": "12"})", 12.0f},
        {R"({"value": "1 2.5"})", 12.5f},
        // No sign on the quoted path; words read as 0.
        {R"({"value": "-3.5"})", 0.0f},
        {R"({"value": true})", 0.0f},
        {R"({"value" 3})", 0.0f},
        {R"({"other": 3})", 0.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszLine);
        auto text = line(c.pszLine);
        EXPECT_EQ(g_scanner.findFloat(text.data(), "value"), c.fExpected);
    }
}

TEST(JSONScanner, FindStrCopiesTheValueAfterTheQuotedKey) {
    struct Case {
        const char* pszLine;
        const char* pszName;
        int nMax;
        bool bFound;
        const char* pszExpected;
    };
    const std::string key29(29, 'k');
    const std::string key30(30, 'k');
    const std::string line29 = "{\"" + key29 + "\": \"v\"}";
    const std::string line30 = "{\"" + key30 + "\": \"v\"}";
    const Case cases[] = {
        {R"({ "name": "ProbeType", "value": 6 })", "name", 31, true, "ProbeType"},
        {R"({ "name": "ProbeType", "value": 6 })", "name", 4, true, "Prob"},
        {R"({ "name": "ProbeType", "value": 6 })", "name", 0, true, ""},
        // A number value is skipped: the next string is copied.
        {R"({ "id": 3, "name": "Clamp" })", "id", 31, true, "name"},
        // Objects and arrays come back without their opener, with their closer.
        {R"({"config": {"a": 1}, "b": 2})", "config", 31, true, R"("a": 1})"},
        {R"({"list": [1, [2, 3], 4] })", "list", 31, true, "1, [2, 3], 4]"},
        {R"({"list": [1, [2, 3], 4] })", "list", 5, true, "1, [2"},
        // Cut by the end of the text: as far as it went, still found.
        {R"({"name": "abc)", "name", 31, true, "abc"},
        // Only the quoted key counts; a key with no opener after it finds nothing.
        {R"({"fname": "x"})", "name", 31, false, ""},
        {R"({"id": 5})", "id", 31, false, ""},
        {line29.c_str(), key29.c_str(), 31, true, "v"},
        {line30.c_str(), key30.c_str(), 31, false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.pszLine) + " / " + c.pszName);
        auto text = line(c.pszLine);
        std::vector<char> dest(static_cast<size_t>(c.nMax) + 1, 'X');
        EXPECT_EQ(g_scanner.findStr(text.data(), dest.data(), c.pszName, c.nMax), c.bFound);
        EXPECT_STREQ(dest.data(), c.pszExpected);
    }
}

TEST(JSONScanner, GetElementBoundsFindsTheOuterBalancedPair) {
    auto text = line("x [1, [2], 3] [4]");
    char* pStart = nullptr;
    char* pEnd = nullptr;
    ASSERT_TRUE(
        g_scanner.getElementBounds(text.data(), text.data() + strlen(text.data()), &pStart, &pEnd, '[', ']'));
    EXPECT_EQ(pStart - text.data(), 2);
    EXPECT_EQ(pEnd - text.data(), 12);
}

TEST(JSONScanner, GetElementBoundsStopsAtTheEndPosition) {
    // A success leaves the text cut at the end position.
    auto text = line("[a]xyz");
    char* pStart = nullptr;
    char* pEnd = nullptr;
    ASSERT_TRUE(g_scanner.getElementBounds(text.data(), text.data() + 4, &pStart, &pEnd, '[', ']'));
    EXPECT_EQ(pEnd - text.data(), 2);
    EXPECT_EQ(text[4], '\0');

    // The closer beyond the end position is not seen; the text is put back.
    auto cut = line("[1] [2]");
    EXPECT_FALSE(g_scanner.getElementBounds(cut.data(), cut.data() + 2, &pStart, &pEnd, '[', ']'));
    EXPECT_STREQ(cut.data(), "[1] [2]");
    EXPECT_EQ(pStart, nullptr);
    EXPECT_EQ(pEnd, nullptr);
}

TEST(JSONScanner, GetElementBoundsRejectsUnbalancedAndTooDeepNesting) {
    struct Case {
        std::string text;
        bool bFound;
    };
    const Case cases[] = {
        {"[1, [2, 3", false},
        {"no array", false},
        {std::string(255, '[') + std::string(255, ']'), true},
        {std::string(256, '[') + std::string(256, ']'), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 20));
        auto text = line(c.text);
        char* pStart = nullptr;
        char* pEnd = nullptr;
        EXPECT_EQ(
            g_scanner.getElementBounds(text.data(), text.data() + c.text.size(), &pStart, &pEnd, '[', ']'),
            c.bFound);
        EXPECT_EQ(std::string(text.data()), c.text);
    }
}

TEST(JSONScanner, IsNumberAcceptsDigitsPointsAndX) {
    struct Case {
        const char* pszText;
        bool bNumber;
    };
    const Case cases[] = {{"", true},    {"1.5", true},   {"0x10", true}, {"5", true},     {"0x1F", false},
                          {"-1", false}, {"word", false}, {" 1", false},  {"\"1\"", false}};
    for (const Case& c : cases) EXPECT_EQ(g_scanner.isNumber(c.pszText), c.bNumber) << c.pszText;
}

}  // namespace
