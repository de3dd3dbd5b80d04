// The JSON scanner's reading rules, quirks included: every file of the module depends on them.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "JSONBuffer.h"

namespace {

const JSONBuffer g_scanner;

// A modifiable copy with its NUL, as the loaders hand their line buffers.
std::vector<char> line(const std::string& text) {
    return std::vector<char>(text.c_str(), text.c_str() + text.size() + 1);
}

// The first occurrence of the bare name wins, even inside another key.
TEST(JSONScanner, NumbersAfterTheFirstOccurrenceOfTheName) {
    // line, name, findPair, findHexPair, findFloat
    const std::tuple<const char*, const char*, int32_t, uint32_t, float> cases[] = {
        {R"({ "name": "X", "value": "-12" })", "value", -12, 0, 0.0f},  // no sign when quoted
        {R"({"fvalue": 7.5, "value": 9})", "value", 7, 0, 7.5f},
        {R"({ "value" 5 })", "value", 0, 0, 0.0f},
        {R"({ "value": -2147483648 })", "value", INT32_MIN, 0, -2147483648.0f},
        {R"({ "value": 4294967297 })", "value", 1, 0, 4294967297.0f},  // the low 32 bits
        {R"({"bits": 32, "next": "0x4"})", "bits", 32, 0x4, 32.0f},    // any "0x" after the name
        {R"({"address": 0xfffF})", "address", 0, 0xFFFF, 65535.0f},
        {R"({"value": "0x12 3456789"})", "value", 0, 0x23456789, 0.0f},  // spaces skipped, low 32 bits
    };
    for (const auto& [pszLine, pszName, nPair, ulHex, fFloat] : cases) {
        SCOPED_TRACE(std::string(pszLine) + " / " + pszName);
        auto text = line(pszLine);
        EXPECT_EQ(g_scanner.findPair(text.data(), pszName), nPair);
        EXPECT_EQ(g_scanner.findHexPair(text.data(), pszName), ulHex);
        EXPECT_EQ(g_scanner.findFloat(text.data(), pszName), fFloat);
        EXPECT_STREQ(text.data(), pszLine);
    }
}

TEST(JSONScanner, FindStrCopiesTheValueAfterTheQuotedKey) {
    const std::string key29(29, 'k'), key30(30, 'k');
    const std::string line29 = "{\"" + key29 + "\": \"v\"}", line30 = "{\"" + key30 + "\": \"v\"}";
    // line, key, nMax, found, copied
    const std::tuple<const char*, const char*, int, bool, const char*> cases[] = {
        {R"({ "name": "ProbeType", "value": 6 })", "name", 4, true, "Prob"},
        {R"({"config": {"a": 1}, "b": 2})", "config", 31, true, R"("a": 1})"},  // without its opener
        {R"({"name": "abc)", "name", 31, true, "abc"},  // cut by the end of the text, still found
        {R"({"fname": "x"})", "name", 31, false, ""},   // only the quoted key counts
        {line29.c_str(), key29.c_str(), 31, true, "v"},
        {line30.c_str(), key30.c_str(), 31, false, ""},
    };
    for (const auto& [pszLine, pszName, nMax, bFound, pszExpected] : cases) {
        SCOPED_TRACE(std::string(pszLine) + " / " + pszName);
        auto text = line(pszLine);
        std::vector<char> dest(static_cast<size_t>(nMax) + 2, 'X');  // one guard byte
        EXPECT_EQ(g_scanner.findStr(text.data(), dest.data(), pszName, nMax), bFound);
        EXPECT_STREQ(dest.data(), pszExpected);
        EXPECT_EQ(dest.back(), 'X');
    }
}

// The outer balanced pair before the end position; a success cuts the text there, a failure does not.
TEST(JSONScanner, GetElementBoundsFindsTheOuterBalancedPair) {
    const std::string deep255 = std::string(255, '[') + std::string(255, ']'), deep256 = '[' + deep255 + ']';
    // Text, end position, positions of the pair found (-1: not found).
    const std::tuple<std::string, size_t, long, long> cases[] = {
        {"x [1, [2], 3] [4]", 17, 2, 12}, {"[a]xyz", 4, 0, 2},     {"[1] [2]", 2, -1, -1},
        {"[1, [2, 3", 9, -1, -1},         {"no array", 8, -1, -1}, {deep255, 510, 0, 509},
        {deep256, 512, -1, -1},
    };
    for (const auto& [input, nEnd, nOpen, nClose] : cases) {
        SCOPED_TRACE(input.substr(0, 20));
        auto text = line(input);
        char* pStart = text.data();  // set to null when nothing is found
        char* pEnd = text.data();
        EXPECT_EQ(g_scanner.getElementBounds(text.data(), text.data() + nEnd, &pStart, &pEnd, '[', ']'),
                  nOpen >= 0);
        EXPECT_EQ(pStart ? pStart - text.data() : -1, nOpen);
        EXPECT_EQ(pEnd ? pEnd - text.data() : -1, nClose);
        EXPECT_EQ(std::string(text.data()), nOpen >= 0 ? input.substr(0, nEnd) : input);
    }
}

TEST(JSONScanner, IsNumberAcceptsDigitsPointsAndX) {
    const std::pair<const char*, bool> cases[] = {{"", true},      {"0x10", true}, {"0x1F", false},
                                                  {"word", false}, {" 1", false},  {"\"1\"", false}};
    for (const auto& [pszText, bNumber] : cases) EXPECT_EQ(g_scanner.isNumber(pszText), bNumber) << pszText;
}

}  // namespace
