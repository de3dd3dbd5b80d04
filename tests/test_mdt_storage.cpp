// The description table on the module's EEPROM, against the simulated device:
// the bus transfers, loading one page or several, EEPROM contents that must
// not hurt, the round trip, the serial number and the dump.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
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

// Stores a page and its text with the NUL on the EEPROM directly (no bus traffic).
void placePage(uint16_t p, const Bytes& header, const std::string& text) {
    sim::fillEeprom(static_cast<uint16_t>(p * 0x2000), header);
    sim::fillEeprom(static_cast<uint16_t>(p * 0x2000 + 0x20), bytesOf(text.c_str(), text.size() + 1));
}

std::string pageText(MDT& mdt, uint16_t p) {
    char* pszText = nullptr;
    const uint32_t ulLength = mdt.getPage(p, &pszText, 100000);
    return pszText ? std::string(pszText, strnlen(pszText, ulLength)) : std::string();
}

// The bus calls since the log was cleared: "B" I2Cbegin, "S50" device 0x50
// selected, "W0120+32" the address (high byte first) and 32 data bytes, "R8"
// 8 bytes read, "E" I2Cend; "!" marks a call that failed.
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
        setenv("QM_APP_DIR", m_appDir.path().c_str(), 1);
        m_mdt.initialize(sim::kEepromAddress);
    }
    void TearDown() override {
        // Among them: a bus taken while held, or released while not.
        EXPECT_EQ(sim::i2cErrors(), std::vector<std::string>{});
        unsetenv("QM_APP_DIR");
        sim::reset();
    }
    bool load(std::string& output) {
        bool bLoaded = false;
        output = captureStdout([&] { bLoaded = m_mdt.loadFromChip(); });
        return bLoaded;
    }

    ScratchDirectory m_appDir;
    MDT m_mdt{sim::i2cDeviceOps()};
    std::string m_output;
};

TEST_F(MdtStorage, TransfersGoInChunksOf32WithTheWriteCycleAfterEachWrite) {
    Bytes data(70), read(40);
    for (size_t i = 0; i < data.size(); i++) data[i] = static_cast<uint8_t>(i + 1);
    sim::clearI2cLog();
    EXPECT_EQ(m_mdt.writebuf(0x0100, 70, reinterpret_cast<const char*>(data.data())), 0x0146);
    const auto writes = sim::i2cLog();
    EXPECT_EQ(busLog(), "B S50 W0100+32 W0120+32 W0140+6 E");
    EXPECT_EQ(sim::eepromBytes(0x0100, 70), data);
    EXPECT_GE(writes[3].timeMicros - writes[2].timeMicros, 5000u);
    EXPECT_GE(writes[4].timeMicros - writes[3].timeMicros, 5000u);
    EXPECT_FALSE(sim::eepromBusy());

    EXPECT_EQ(m_mdt.readbuf(0x0110, 40, reinterpret_cast<char*>(read.data())), 0x0138);
    EXPECT_LT(sim::i2cLog()[4].timeMicros - sim::i2cLog()[2].timeMicros, 5000u);  // no write cycle
    EXPECT_EQ(busLog(), "B S50 W0110+0 R32 W0130+0 R8 E");
    EXPECT_EQ(read, Bytes(data.begin() + 16, data.begin() + 56));
    EXPECT_EQ(m_mdt.readbuf(0x0020, 0, nullptr), 0x0020);  // a read of nothing still succeeds
}

TEST_F(MdtStorage, BusFaultsAreReportedAndTheBusReleased) {
    char buffer[64] = {};
    sim::setEepromPresent(false);
    testing::internal::CaptureStderr();  // the transfers report with perror
    EXPECT_EQ(m_mdt.writebuf(0x0040, 64, buffer), 0x0040);
    EXPECT_EQ(m_mdt.readbuf(0x0040, 64, buffer), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Write error !: No such device or address\nNo MDT device at reading address: No such device or "
              "address\n");
    EXPECT_EQ(busLog(), "B S50 W! E B S50 W! E");

    sim::setI2cBeginResult(-5);
    EXPECT_EQ(captureStdout([&] {
                  EXPECT_EQ(m_mdt.writebuf(0x0040, 64, buffer), 0);
                  EXPECT_EQ(m_mdt.readbuf(0x0040, 64, buffer), 0);
              }),
              "Couldn't open device! -5\nCouldn't open device! -5\n");
    EXPECT_EQ(busLog(), "B! B!");
}

TEST_F(MdtStorage, OnlyAValidPageZeroLoadsAndNoHeaderOverrunsItsPage) {
    const std::string text = "{ \"a\": 1 }";
    const Bytes full(8160, 'x'), sound(text.c_str(), text.c_str() + text.size() + 1);
    const struct {
        const char* name;
        Bytes header, text;
        bool bLoaded;
        uint32_t ulLength;  // what the page holds, and its header says
        std::string expected;
        const char* pszMessage;
    } cases[] = {
        {"new device", Bytes(32, 0xFF), sound, false, 0, "", ""},
        {"erased", Bytes(32, 0x00), sound, false, 0, "", ""},
        {"sound page", header(1, 11), sound, true, 11, text,
         "Reading MDT buffer (11 bytes)\nRead 11 bytes\n"},
        {"length far beyond the page", header(1, 0xFFFFFFFF), full, true, 8160, std::string(8159, 'x'),
         "MDT page 0: text length 4294967295 is beyond the page's 8160 bytes; 8160 read\n"},
        {"length one past the page", header(1, 8161), full, true, 8160, std::string(8159, 'x'), "8160 read"},
        {"text without its NUL", header(1, 10), Bytes(10, '7'), true, 10, std::string(9, '7'),
         "MDT page 0: text not terminated within its 10 bytes; its last byte ends it\n"},
        {"blank text area", header(1, 6), {}, true, 6, "\xFF\xFF\xFF\xFF\xFF", "not terminated"},
        {"another type", header(2, 11), sound, false, 0, "", ""},  // and the last page's text is gone
        {"no text at all", header(1, 0), {}, true, 0, "", "MDT page 0: the header gives no text\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::eraseEeprom();
        sim::fillEeprom(0, c.header);
        if (!c.text.empty()) sim::fillEeprom(0x20, c.text);
        EXPECT_EQ(load(m_output), c.bLoaded);
        EXPECT_NE(m_output.find(c.pszMessage), std::string::npos) << m_output;
        EXPECT_EQ(m_mdt.getPage(0, nullptr, 100000), c.ulLength);
        EXPECT_EQ(pageText(m_mdt, 0), c.expected);
        EXPECT_FALSE(m_mdt.createRegisterList(0));
        MDT_HEADER* pHeader = nullptr;
        m_mdt.getPageHeader(0, &pHeader);
        EXPECT_TRUE(!c.bLoaded || pHeader->s_ulLength == c.ulLength) << pHeader->s_ulLength;
    }
}

TEST_F(MdtStorage, FurtherPagesAreReadOnlyWhenPageZeroAnnouncesThem) {
    const struct {
        const char* name;
        uint32_t ulFlags, ulPages, ulPage1Type;
        const char* pszTexts;  // pages 0 to 6, '-' for no text
        uint16_t unNumberOfPages;
    } cases[] = {
        {"three pages", 0x2, 3, 1, "012----", 3},    {"without the flag", 0x0, 3, 1, "0------", 3},
        {"flag, one page", 0x2, 1, 1, "0------", 1}, {"page 1 not valid", 0x2, 3, 0, "0-2----", 3},
        {"no page count", 0x2, 0, 1, "0------", 1},  {"more than seven", 0x2, 300, 1, "0123456", 300},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (uint16_t p = 0; p < 7; p++)
            placePage(p,
                      p ? header(p == 1 ? c.ulPage1Type : 1, 2, 0, p) : header(1, 2, c.ulFlags, 0, c.ulPages),
                      std::to_string(p));
        EXPECT_TRUE(load(m_output));
        EXPECT_EQ(m_mdt.getNumberOfPages(), c.unNumberOfPages);
        std::string texts;
        for (uint16_t p = 0; p < 7; p++) texts += pageText(m_mdt, p).empty() ? "-" : pageText(m_mdt, p);
        EXPECT_EQ(texts, c.pszTexts);
        EXPECT_EQ(captureStdout([&] { m_mdt.dump(); }).find("Header 7"), std::string::npos);
    }
}

TEST_F(MdtStorage, PagesSurviveTheRoundTrip) {
    const std::string page1 = R"({ "registers": [ { "reg": 9 } ] })";
    const Bytes header0 = header(1, 2549, 0x2, 0, 2), header1 = header(1, uint32_t(page1.size() + 1), 0, 1);
    m_mdt.setPageHeader(0, reinterpret_cast<const MDT_HEADER*>(header0.data()));
    m_mdt.setPage(0, g_pszJSON, 2549);
    m_mdt.setPageHeader(1, reinterpret_cast<const MDT_HEADER*>(header1.data()));
    m_mdt.setPage(1, page1.c_str(), static_cast<uint32_t>(page1.size() + 1));
    m_mdt.populateChip();
    // Headers as the pages hold them, texts as long as their headers say, unused pages no pages.
    EXPECT_EQ(sim::eepromBytes(0, 32), header0);
    EXPECT_EQ(sim::eepromBytes(0x20 + 2548, 2), (Bytes{0, 0xFF}));
    EXPECT_EQ(sim::eepromBytes(0x4000, 4), (Bytes{0, 0, 0, 0}));

    MDT loaded(sim::i2cDeviceOps());
    loaded.initialize(sim::kEepromAddress);
    captureStdout([&] { EXPECT_TRUE(loaded.loadFromChip()); });
    EXPECT_EQ(loaded.getNumberOfPages(), 2);
    for (uint16_t p = 0; p < 2; p++) {
        MDT_HEADER* pHeader = nullptr;
        loaded.getPageHeader(p, &pHeader);
        EXPECT_EQ(bytesOf(pHeader, 32), p ? header1 : header0);
        EXPECT_EQ(pageText(loaded, p), p ? page1 : g_pszJSON);
    }
    ASSERT_TRUE(loaded.createRegisterList(1));
    EXPECT_EQ(uint32_t{loaded.getPageRegisterList(1)->mdtReg.s_ulReg}, 9u);
}

TEST_F(MdtStorage, SerialNumberOfUpTo31Characters) {
    m_mdt.setSN(std::string(31, '7').c_str(), 31);
    m_mdt.setSN(std::string(32, '8').c_str(), 32);  // does not fit: nothing changes
    EXPECT_EQ(sim::eepromBytes(0xFC00, 32), bytesOf(std::string(31, '7').c_str(), 32));
    m_mdt.setSN("AB12", 4);
    char szSN[40];
    memset(szSN, '#', sizeof(szSN));
    // The count asked for (at most 31), NUL-padded, and a NUL after it.
    EXPECT_EQ(m_mdt.getSN(szSN, 8), 8u);
    EXPECT_EQ(std::string(szSN, 10), std::string("AB12\0\0\0\0\0#", 10));
    // An area without a NUL still reads as a text of 31.
    sim::fillEeprom(0xFC00, Bytes(32, 'Z'));
    EXPECT_EQ(m_mdt.getSN(szSN, 100), 31u);
    EXPECT_EQ(szSN, std::string(31, 'Z'));
    EXPECT_EQ(strlen(m_mdt.m_pszSN), 31u);  // the serial number the table holds is a text too
}

TEST_F(MdtStorage, DumpShowsHeadersAndTexts) {
    placePage(0, header(1, 6, 0x2, 0, 2), "{ 0 }");
    placePage(1, header(1, 6, 0x10, 1), "{ 1 }");
    load(m_output);
    EXPECT_EQ(captureStdout([&] { m_mdt.dump(); }),
              "\nHeader 0:\n  Type: 1\n  Size: 6\n  Page: 0 of 2\n  Flags: 0x00000002\n  Reserved[0]: 0\n"
              "  Reserved[1]: 7\n\nBuffer:\n{ 0 }\n"
              "\nHeader 1:\n  Type: 1\n  Size: 6\n  Page: 1 of 1\n  Flags: 0x00000010\n  Reserved[0]: 0\n"
              "  Reserved[1]: 7\n\nBuffer:\n{ 1 }\n");
}

TEST_F(MdtStorage, PagesPastSixAreIgnored) {
    m_mdt.setPage(7, "{ \"handler\": \"seven\" }", 23);
    m_mdt.setPage(6, "{ \"handler\": \"six\" }", 21);
    EXPECT_EQ(m_mdt.getHandlerName(7), nullptr);
    EXPECT_EQ(m_mdt.getPage(7, nullptr, 100), 0u);
    EXPECT_FALSE(m_mdt.createRegisterList(7));
    EXPECT_STREQ(m_mdt.getHandlerName(6), "six");
}

}  // namespace
