// The description table on the simulated EEPROM: transfers, loading, the serial number.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "MDT.h"
#include "ScratchFiles.h"
#include "Sim.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes bytesOf(const void* p, size_t size) {
    return Bytes(static_cast<const uint8_t*>(p), static_cast<const uint8_t*>(p) + size);
}

// A page header as stored: type, text length, flags, page number, number of pages.
Bytes header(uint32_t ulType, uint32_t ulLength, uint32_t ulFlags = 0, uint32_t ulPage = 0,
             uint32_t ulPages = 1) {
    const MDT_HEADER header{ulType, ulLength, ulFlags, ulPage, ulPages, 8160, {0, 7}};
    return bytesOf(&header, sizeof(header));
}

std::string pageText(MDT& mdt, uint16_t p) {
    char* pszText = nullptr;
    const uint32_t ulLength = mdt.getPage(p, &pszText, 100000);
    return pszText ? std::string(pszText, strnlen(pszText, ulLength)) : std::string();
}

// The bus calls since the log was cleared: "B" I2Cbegin, "S50" device selected, "W0120+32" address
// (high byte first) and 32 data bytes, "R8" 8 bytes read, "E" I2Cend; "!" marks a failed call.
std::string busLog() {
    std::string text;
    for (const sim::I2cTransfer& t : sim::i2cLog()) {
        char sz[16] = {"BESWR"[static_cast<int>(t.op)], '\0'};
        if (t.op == sim::I2cOp::SelectDevice) snprintf(sz, sizeof(sz), "S%02X", t.deviceAddress);
        if (t.op == sim::I2cOp::Read && t.result >= 0) snprintf(sz, sizeof(sz), "R%zu", t.bytes.size());
        if (t.op == sim::I2cOp::Write && t.result >= 0)
            snprintf(sz, sizeof(sz), "W%02X%02X+%zu", t.bytes[0], t.bytes[1], t.bytes.size() - 2);
        text += (text.empty() ? "" : " ") + std::string(sz) + (t.result < 0 ? "!" : "");
    }
    sim::clearI2cLog();
    return text;
}

class MdtStorage : public ::testing::Test {
protected:
    void SetUp() override {
        sim::reset();
        m_mdt.initialize(sim::kEepromAddress);
    }
    void TearDown() override { EXPECT_EQ(sim::i2cErrors(), std::vector<std::string>{}); }
    bool load() {
        bool bLoaded = false;
        m_output = captureStdout([&] { bLoaded = m_mdt.loadFromChip(); });
        return bLoaded;
    }

    ScratchAppDirectory m_appDir;
    MDT m_mdt{sim::i2cDeviceOps()};
    std::string m_output;
};

// The device is busy for its write cycle after each write: a transfer then would fail.
TEST_F(MdtStorage, TransfersGoInChunksOf32AndReleaseTheBusOnFaults) {
    Bytes data(70), read(40);
    for (size_t i = 0; i < data.size(); i++) data[i] = static_cast<uint8_t>(i + 1);
    sim::clearI2cLog();
    EXPECT_EQ(m_mdt.writebuf(0x0100, 70, reinterpret_cast<const char*>(data.data())), 0x0146);
    EXPECT_EQ(busLog(), "B S50 W0100+32 W0120+32 W0140+6 E");
    EXPECT_EQ(sim::eepromBytes(0x0100, 70), data);

    EXPECT_EQ(m_mdt.readbuf(0x0110, 40, reinterpret_cast<char*>(read.data())), 0x0138);
    EXPECT_EQ(busLog(), "B S50 W0110+0 R32 W0130+0 R8 E");
    EXPECT_EQ(read, Bytes(data.begin() + 16, data.begin() + 56));
    EXPECT_EQ(m_mdt.readbuf(0x0020, 0, nullptr), 0x0020);  // a read of nothing still succeeds

    char buffer[64] = {};
    sim::setEepromPresent(false);
    testing::internal::CaptureStderr();  // the transfers report with perror
    EXPECT_EQ(m_mdt.writebuf(0x0040, 64, buffer), 0x0040);
    EXPECT_EQ(m_mdt.readbuf(0x0040, 64, buffer), 0);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("No MDT device at reading address"),
              std::string::npos);
    sim::setI2cBeginResult(-5);
    EXPECT_EQ(captureStdout([&] { EXPECT_EQ(m_mdt.readbuf(0x0040, 64, buffer), 0); }),
              "Couldn't open device! -5\n");
    captureStdout([&] { EXPECT_EQ(m_mdt.writebuf(0x0040, 64, buffer), 0); });
    EXPECT_EQ(busLog(), "B S50 E B S50 W! E B S50 W! E B! B!");
}

TEST_F(MdtStorage, OnlyAValidPageZeroLoadsAndNoHeaderOverrunsItsPage) {
    const std::string text = "{ \"a\": 1 }";
    const Bytes full(8160, 'x'), sound(text.c_str(), text.c_str() + text.size() + 1);
    // Header, text, loaded, length the page holds and its header says, text read, message.
    const std::tuple<const char*, Bytes, Bytes, bool, uint32_t, std::string, const char*> cases[] = {
        {"new device", Bytes(32, 0xFF), sound, false, 0, "", ""},
        {"sound page", header(1, 11), sound, true, 11, text,
         "Reading MDT buffer (11 bytes)\nRead 11 bytes\n"},
        {"length far beyond the page", header(1, 0xFFFFFFFF), full, true, 8160, std::string(8159, 'x'),
         "MDT page 0: text length 4294967295 is beyond the page's 8160 bytes; 8160 read\n"},
        {"length one past the page", header(1, 8161), full, true, 8160, std::string(8159, 'x'), "8160 read"},
        {"text without its NUL", header(1, 10), Bytes(10, '7'), true, 10, std::string(9, '7'),
         "MDT page 0: text not terminated within its 10 bytes; its last byte ends it\n"},
        {"another type", header(2, 11), sound, false, 0, "", ""},  // and the last page's text is gone
        {"no text at all", header(1, 0), {}, true, 0, "", "MDT page 0: the header gives no text\n"},
    };
    for (const auto& [pszName, head, text, bLoaded, ulLength, expected, pszMessage] : cases) {
        SCOPED_TRACE(pszName);
        sim::eraseEeprom();
        sim::fillEeprom(0, head);
        if (!text.empty()) sim::fillEeprom(0x20, text);
        EXPECT_EQ(load(), bLoaded);
        EXPECT_NE(m_output.find(pszMessage), std::string::npos) << m_output;
        EXPECT_EQ(m_mdt.getPage(0, nullptr, 100000), ulLength);
        EXPECT_EQ(pageText(m_mdt, 0), expected);
        MDT_HEADER* pHeader = nullptr;
        m_mdt.getPageHeader(0, &pHeader);
        EXPECT_TRUE(!bLoaded || pHeader->s_ulLength == ulLength) << pHeader->s_ulLength;
    }
}

// Written by one table, loaded by another; pages past 6 are not read, dumped, stored or named.
TEST_F(MdtStorage, PagesAndSerialNumberSurviveTheRoundTrip) {
    // Flags of page 0, its number of pages, type of page 1, texts of pages 0 to 6 ('-' none), pages.
    const std::tuple<uint32_t, uint32_t, uint32_t, const char*, uint16_t> cases[] = {
        {0x2, 3, 1, "012----", 3}, {0x0, 3, 1, "0------", 3}, {0x2, 1, 1, "0------", 1},
        {0x2, 3, 0, "0-2----", 3}, {0x2, 0, 1, "0------", 1}, {0x2, 300, 1, "0123456", 300},
    };
    for (const auto& [ulFlags, ulPages, ulPage1Type, pszTexts, unNumberOfPages] : cases) {
        SCOPED_TRACE(pszTexts);
        sim::eraseEeprom();
        MDT stored(sim::i2cDeviceOps());
        stored.initialize(sim::kEepromAddress);
        for (uint16_t p = 0; p < 7; p++) {
            const Bytes head =
                p ? header(p == 1 ? ulPage1Type : 1, 2, 0, p) : header(1, 2, ulFlags, 0, ulPages);
            stored.setPageHeader(p, reinterpret_cast<const MDT_HEADER*>(head.data()));
            stored.setPage(p, std::to_string(p).c_str(), 2);
        }
        stored.populateChip();
        EXPECT_EQ(sim::eepromBytes(0x6020, 3), (Bytes{'3', 0, 0xFF}));  // as long as its header says
        EXPECT_TRUE(load());
        MDT_HEADER* pHeader = nullptr;
        m_mdt.getPageHeader(0, &pHeader);
        EXPECT_EQ(bytesOf(pHeader, 32), header(1, 2, ulFlags, 0, ulPages));
        EXPECT_EQ(m_mdt.getNumberOfPages(), unNumberOfPages);
        std::string texts;
        for (uint16_t p = 0; p < 7; p++) texts += pageText(m_mdt, p).empty() ? "-" : pageText(m_mdt, p);
        EXPECT_EQ(texts, pszTexts);
        const std::string dump = captureStdout([&] { m_mdt.dump(); });
        EXPECT_EQ(dump.find("Header 7"), std::string::npos);
    }
    m_mdt.setPage(7, "{ \"handler\": \"seven\" }", 23);
    m_mdt.setPage(6, "{ \"handler\": \"six\" }", 21);
    EXPECT_TRUE(!m_mdt.getHandlerName(7) && !m_mdt.getPage(7, nullptr, 100) && !m_mdt.createRegisterList(7));
    EXPECT_STREQ(m_mdt.getHandlerName(6), "six");

    // The serial number above the pages: up to 31 characters, read NUL-padded.
    m_mdt.setSN(std::string(31, '7').c_str(), 31);
    m_mdt.setSN(std::string(32, '8').c_str(), 32);  // does not fit: nothing changes
    EXPECT_EQ(sim::eepromBytes(0xFC00, 32), bytesOf(std::string(31, '7').c_str(), 32));
    m_mdt.setSN("AB12", 4);
    char szSN[40];
    memset(szSN, '#', sizeof(szSN));
    EXPECT_EQ(m_mdt.getSN(szSN, 8), 8u);
    EXPECT_EQ(std::string(szSN, 10), std::string("AB12\0\0\0\0\0#", 10));
    sim::fillEeprom(0xFC00, Bytes(32, 'Z'));
    EXPECT_EQ(m_mdt.getSN(szSN, 100), 31u);
    EXPECT_EQ(szSN, std::string(31, 'Z'));
    EXPECT_EQ(strlen(m_mdt.m_pszSN), 31u);  // the serial number the table holds is a text too
}

}  // namespace
