// The description table on the module's EEPROM, against the simulated device:
// the bus transfers, loading one page or several, the round trip, erasing,
// the serial number, the dump, and EEPROM contents that must not hurt.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "BoardIO.h"
#include "MDT.h"
#include "ScratchFiles.h"
#include "Sim.h"

namespace {

using Bytes = std::vector<uint8_t>;

MDT_HEADER makeHeader(uint32_t ulType, uint32_t ulLength, uint32_t ulFlags = 0, uint32_t ulPageNum = 0,
                      uint32_t ulPages = 1) {
    MDT_HEADER header{};
    header.s_ulType = ulType;
    header.s_ulLength = ulLength;
    header.s_ulFlags = ulFlags;
    header.s_ulPageNum = ulPageNum;
    header.s_ulNumberOfPages = ulPages;
    header.s_ulPageSize = 8160;
    return header;
}

Bytes bytesOf(const void* p, size_t size) {
    const auto* pBytes = static_cast<const uint8_t*>(p);
    return Bytes(pBytes, pBytes + size);
}

Bytes textBytes(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

// Stores a page on the EEPROM directly (test face: no bus traffic).
void placePage(uint16_t p, const MDT_HEADER& header, const Bytes& text) {
    sim::fillEeprom(static_cast<uint16_t>(p * 0x2000), bytesOf(&header, sizeof(header)));
    if (!text.empty()) sim::fillEeprom(static_cast<uint16_t>(p * 0x2000 + 0x20), text);
}

void placePage(uint16_t p, const MDT_HEADER& header, const std::string& text) {
    Bytes bytes = textBytes(text);
    bytes.push_back(0);
    placePage(p, header, bytes);
}

std::string pageText(MDT& mdt, uint16_t p) {
    char* pszText = nullptr;
    const uint32_t ulLength = mdt.getPage(p, &pszText, 100000);
    return pszText ? std::string(pszText, strnlen(pszText, ulLength)) : std::string();
}

size_t countOps(sim::I2cOp op) {
    size_t n = 0;
    for (const sim::I2cTransfer& transfer : sim::i2cLog()) n += transfer.op == op;
    return n;
}

class MdtStorage : public ::testing::Test {
protected:
    void SetUp() override {
        sim::reset();
        setenv("QM_APP_DIR", m_appDir.path().c_str(), 1);
        m_mdt.initialize(sim::kEepromAddress);
    }
    void TearDown() override {
        EXPECT_EQ(sim::i2cErrors(), std::vector<std::string>{});
        // Every bus the table opened, it released.
        EXPECT_EQ(countOps(sim::I2cOp::End), successfulBegins());
        unsetenv("QM_APP_DIR");
        sim::reset();
    }
    static size_t successfulBegins() {
        size_t n = 0;
        for (const sim::I2cTransfer& transfer : sim::i2cLog())
            n += transfer.op == sim::I2cOp::Begin && transfer.result >= 0;
        return n;
    }
    std::string load(bool& bLoaded) {
        return captureStdout([&] { bLoaded = m_mdt.loadFromChip(); });
    }

    ScratchDirectory m_appDir;
    MDT m_mdt{sim::i2cDeviceOps()};
};

TEST_F(MdtStorage, WritesGoInChunksOf32WithTheWriteCycleAfterEach) {
    Bytes data(70);
    for (size_t i = 0; i < data.size(); i++) data[i] = static_cast<uint8_t>(i + 1);
    sim::clearI2cLog();
    EXPECT_EQ(m_mdt.writebuf(0x0100, 70, reinterpret_cast<const char*>(data.data())), 0x0146);
    EXPECT_EQ(sim::eepromBytes(0x0100, 70), data);

    const auto& log = sim::i2cLog();
    ASSERT_EQ(log.size(), 6u);
    EXPECT_EQ(log[0].op, sim::I2cOp::Begin);
    EXPECT_EQ(log[1].op, sim::I2cOp::SelectDevice);
    EXPECT_EQ(log[1].deviceAddress, sim::kEepromAddress);
    const Bytes expected[] = {
        [&] {
            Bytes b{0x01, 0x00};
            b.insert(b.end(), data.begin(), data.begin() + 32);
            return b;
        }(),
        [&] {
            Bytes b{0x01, 0x20};
            b.insert(b.end(), data.begin() + 32, data.begin() + 64);
            return b;
        }(),
        [&] {
            Bytes b{0x01, 0x40};
            b.insert(b.end(), data.begin() + 64, data.end());
            return b;
        }(),
    };
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(log[2 + i].op, sim::I2cOp::Write);
        EXPECT_EQ(log[2 + i].bytes, expected[i]) << "chunk " << i;
    }
    // Each chunk waits for the write cycle of the one before; the device is
    // idle again when the transfer returns.
    EXPECT_GE(log[3].timeMicros - log[2].timeMicros, 5000u);
    EXPECT_GE(log[4].timeMicros - log[3].timeMicros, 5000u);
    EXPECT_EQ(log[5].op, sim::I2cOp::End);
    EXPECT_FALSE(sim::eepromBusy());
}

TEST_F(MdtStorage, ReadsSendTheAddressThenReadEachChunk) {
    Bytes data(40);
    for (size_t i = 0; i < data.size(); i++) data[i] = static_cast<uint8_t>(0xA0 + i);
    sim::fillEeprom(0x2010, data);
    sim::clearI2cLog();
    char buffer[40] = {};
    EXPECT_EQ(m_mdt.readbuf(0x2010, 40, buffer), 0x2038);
    EXPECT_EQ(bytesOf(buffer, 40), data);

    const auto& log = sim::i2cLog();
    ASSERT_EQ(log.size(), 7u);
    EXPECT_EQ(log[2].bytes, (Bytes{0x20, 0x10}));
    EXPECT_EQ(log[3].op, sim::I2cOp::Read);
    EXPECT_EQ(log[3].bytes.size(), 32u);
    EXPECT_EQ(log[4].bytes, (Bytes{0x20, 0x30}));
    EXPECT_EQ(log[5].bytes.size(), 8u);
    EXPECT_EQ(log[6].op, sim::I2cOp::End);
    // No write cycle to wait for between reads.
    EXPECT_LT(log[4].timeMicros - log[2].timeMicros, 5000u);

    // A read of nothing still succeeds.
    EXPECT_EQ(m_mdt.readbuf(0x0020, 0, buffer), 0x0020);
}

struct BusFaultCase {
    const char* name;
    std::function<void(MDT&)> inject;
    uint16_t unWriteResult;  // writebuf(0x0040, 64, ...)
    const char* pszWriteMessage;
    const char* pszReadMessage;
};

TEST_F(MdtStorage, BusFaultsAreReportedAndTheBusReleased) {
    const BusFaultCase cases[] = {
        {"bus cannot be opened", [](MDT&) { sim::setI2cBeginResult(-5); }, 0, "Couldn't open device! -5\n",
         "Couldn't open device! -5\n"},
        {"no device", [](MDT&) { sim::setEepromPresent(false); }, 0x0040, "Write error !",
         "No MDT device at reading address"},
        {"another address", [](MDT& mdt) { mdt.initialize(0x51); }, 0x0040, "Write error !",
         "No MDT device at reading address"},
    };
    char buffer[64] = {};
    for (const BusFaultCase& c : cases) {
        SCOPED_TRACE(c.name);
        sim::reset();
        m_mdt.initialize(sim::kEepromAddress);
        c.inject(m_mdt);
        testing::internal::CaptureStderr();
        std::string out =
            captureStdout([&] { EXPECT_EQ(m_mdt.writebuf(0x0040, 64, buffer), c.unWriteResult); });
        out += testing::internal::GetCapturedStderr();
        EXPECT_NE(out.find(c.pszWriteMessage), std::string::npos) << out;
        testing::internal::CaptureStderr();
        out = captureStdout([&] { EXPECT_EQ(m_mdt.readbuf(0x0040, 64, buffer), 0); });
        out += testing::internal::GetCapturedStderr();
        EXPECT_NE(out.find(c.pszReadMessage), std::string::npos) << out;
        EXPECT_EQ(countOps(sim::I2cOp::End), successfulBegins());
        bool bLoaded = true;
        load(bLoaded);
        EXPECT_FALSE(bLoaded);
    }
    // A device still in its write cycle does not take the next chunk.
    sim::reset();
    m_mdt.initialize(sim::kEepromAddress);
    const int fd = I2Cbegin();
    const uint8_t frame[] = {0x00, 0x00, 0x55};
    ASSERT_EQ(sim::i2cDeviceOps().ioctl(fd, I2C_DEVICE_SELECT, sim::kEepromAddress), 0);
    ASSERT_EQ(sim::i2cDeviceOps().write(fd, frame, sizeof(frame)), 3);
    I2Cend();
    testing::internal::CaptureStderr();
    EXPECT_EQ(m_mdt.writebuf(0x0100, 64, buffer), 0x0100);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("Write error !"), std::string::npos);
}

struct BlankCase {
    const char* name;
    Bytes header;
};

TEST_F(MdtStorage, BlankOrForeignEepromLoadsNoTable) {
    const MDT_HEADER foreign = makeHeader(2, 10);
    const BlankCase cases[] = {
        {"new device", Bytes(32, 0xFF)},
        {"erased", Bytes(32, 0x00)},
        {"another type", bytesOf(&foreign, sizeof(foreign))},
    };
    for (const BlankCase& c : cases) {
        SCOPED_TRACE(c.name);
        sim::fillEeprom(0, c.header);
        sim::fillEeprom(0x20, textBytes("{ \"handler\": \"X.so\", \"registers\": [ { \"reg\": 1 } ] }"));
        bool bLoaded = true;
        load(bLoaded);
        EXPECT_FALSE(bLoaded);
        EXPECT_EQ(m_mdt.getNumberOfPages(), 1);
        for (uint16_t p = 0; p < 7; p++) EXPECT_EQ(m_mdt.getPage(p, nullptr, 100), 0u) << p;
        EXPECT_STREQ(m_mdt.getHandlerName(0), "");
        EXPECT_FALSE(m_mdt.createRegisterList(0));
        EXPECT_EQ(m_mdt.getRegisterList(), nullptr);
    }
}

TEST_F(MdtStorage, LoadingReportsWhatItReads) {
    placePage(0, makeHeader(1, 11), "{ \"a\": 1 }");
    bool bLoaded = false;
    EXPECT_EQ(load(bLoaded), "Reading MDT buffer (11 bytes)\nRead 11 bytes\n");
    EXPECT_TRUE(bLoaded);
    EXPECT_EQ(pageText(m_mdt, 0), "{ \"a\": 1 }");
}

struct PagesCase {
    const char* name;
    uint32_t ulFlags;
    uint32_t ulPages;
    uint32_t ulPage1Type;
    std::vector<std::string> expected;  // texts of pages 0..3
    uint16_t unNumberOfPages;
};

TEST_F(MdtStorage, FurtherPagesAreReadOnlyWhenPageZeroAnnouncesThem) {
    const PagesCase cases[] = {
        {"three pages", 0x2, 3, 1, {"zero", "one", "two", ""}, 3},
        {"without the flag", 0x0, 3, 1, {"zero", "", "", ""}, 3},
        {"flag, one page", 0x2, 1, 1, {"zero", "", "", ""}, 1},
        {"page 1 not valid", 0x2, 3, 0, {"zero", "", "two", ""}, 3},
        {"no page count", 0x2, 0, 1, {"zero", "", "", ""}, 1},
    };
    for (const PagesCase& c : cases) {
        SCOPED_TRACE(c.name);
        sim::eraseEeprom();
        placePage(0, makeHeader(1, 5, c.ulFlags, 0, c.ulPages), "zero");
        placePage(1, makeHeader(c.ulPage1Type, 4, 0, 1), "one");
        placePage(2, makeHeader(1, 4, 0, 2), "two");
        placePage(3, makeHeader(1, 6, 0, 3), "three");
        sim::clearI2cLog();
        bool bLoaded = false;
        load(bLoaded);
        EXPECT_TRUE(bLoaded);
        EXPECT_EQ(m_mdt.getNumberOfPages(), c.unNumberOfPages);
        for (uint16_t p = 0; p < 4; p++) EXPECT_EQ(pageText(m_mdt, p), c.expected[p]) << "page " << p;
        // The text of a further page is read from its slot.
        bool bReadPage2Text = false;
        for (const sim::I2cTransfer& t : sim::i2cLog())
            bReadPage2Text |= t.op == sim::I2cOp::Write && t.bytes == Bytes{0x40, 0x20};
        EXPECT_EQ(bReadPage2Text, !c.expected[2].empty());
    }
}

TEST_F(MdtStorage, PageCountBeyondSevenStopsAtPageSix) {
    placePage(0, makeHeader(1, 5, 0x2, 0, 300), "zero");
    for (uint16_t p = 1; p < 7; p++) placePage(p, makeHeader(1, 2, 0, p), std::to_string(p));
    bool bLoaded = false;
    load(bLoaded);
    ASSERT_TRUE(bLoaded);
    EXPECT_EQ(pageText(m_mdt, 6), "6");
    const std::string dump = captureStdout([&] { m_mdt.dump(); });
    EXPECT_NE(dump.find("\nHeader 6:\n"), std::string::npos);
    EXPECT_EQ(dump.find("\nHeader 7:\n"), std::string::npos);
}

struct CorruptCase {
    const char* name;
    uint32_t ulLength;
    Bytes text;
    uint32_t ulExpectedLength;  // what the page holds
    std::string expectedText;
    const char* pszMessage;
};

TEST_F(MdtStorage, CorruptHeadersAndTextsCannotOverrunThePage) {
    const Bytes full(8160, 'x');
    const CorruptCase cases[] = {
        {"length far beyond the page", 0xFFFFFFFF, full, 8160, std::string(8159, 'x'),
         "text length 4294967295 is beyond the page's 8160 bytes; 8160 read"},
        {"length one past the page", 8161, full, 8160, std::string(8159, 'x'), "8160 read"},
        {"text without its NUL", 10, textBytes("0123456789"), 10, "012345678",
         "not terminated within its 10 bytes"},
        {"blank text area", 6, {}, 6, "\xFF\xFF\xFF\xFF\xFF", "not terminated"},
        {"no text at all", 0, {}, 0, "", "the header gives no text"},
    };
    for (const CorruptCase& c : cases) {
        SCOPED_TRACE(c.name);
        sim::eraseEeprom();
        placePage(0, makeHeader(1, c.ulLength), c.text);
        bool bLoaded = false;
        const std::string output = load(bLoaded);
        EXPECT_TRUE(bLoaded);
        EXPECT_NE(output.find(c.pszMessage), std::string::npos) << output;
        EXPECT_EQ(m_mdt.getPage(0, nullptr, 100000), c.ulExpectedLength);
        EXPECT_EQ(pageText(m_mdt, 0), c.expectedText);
        MDT_HEADER* pHeader = nullptr;
        m_mdt.getPageHeader(0, &pHeader);
        const uint32_t ulHeaderLength = pHeader->s_ulLength;
        EXPECT_EQ(ulHeaderLength, c.ulExpectedLength);
    }
}

TEST_F(MdtStorage, PagesAndRegisterListSurviveTheRoundTripThroughTheImage) {
    const std::string image = m_appDir.path("eeprom.bin");
    sim::attachEepromImage(image);
    const std::string page1 =
        "{ \"module_desc\": \"second page\", \"registers\": [ { \"reg\": 9, \"abbrev\": \"jrnl_X\" } ] }";
    const MDT_HEADER header0 = makeHeader(1, 2549, 0x2, 0, 2);
    const MDT_HEADER header1 = makeHeader(1, static_cast<uint32_t>(page1.size() + 1), 0, 1);
    m_mdt.setPageHeader(0, &header0);
    m_mdt.setPage(0, g_pszJSON, 2549);
    m_mdt.setPageHeader(1, &header1);
    m_mdt.setPage(1, page1.c_str(), static_cast<uint32_t>(page1.size() + 1));
    const uint64_t ullStart = sim::nowMicros();
    m_mdt.populateChip();
    // 80 chunks of page 0, 3 of page 1, seven headers, each with its write cycle.
    EXPECT_GE(sim::nowMicros() - ullStart, (80u + 3u + 7u) * 5000u);

    // The image keeps it for the next start of the board.
    sim::reset();
    sim::attachEepromImage(image);
    MDT loaded(sim::i2cDeviceOps());
    loaded.initialize(sim::kEepromAddress);
    bool bLoaded = false;
    captureStdout([&] { bLoaded = loaded.loadFromChip(); });
    ASSERT_TRUE(bLoaded);
    EXPECT_EQ(loaded.getNumberOfPages(), 2);
    for (uint16_t p = 0; p < 2; p++) {
        MDT_HEADER *pWritten = nullptr, *pRead = nullptr;
        m_mdt.getPageHeader(p, &pWritten);
        loaded.getPageHeader(p, &pRead);
        EXPECT_EQ(bytesOf(pRead, 32), bytesOf(pWritten, 32)) << "page " << p;
        EXPECT_EQ(pageText(loaded, p), pageText(m_mdt, p)) << "page " << p;
        EXPECT_STREQ(loaded.getDescription(p), m_mdt.getDescription(p));
        ASSERT_TRUE(m_mdt.createRegisterList(p));
        ASSERT_TRUE(loaded.createRegisterList(p));
        const MDT_REGLIST* pA = m_mdt.getPageRegisterList(p);
        const MDT_REGLIST* pB = loaded.getPageRegisterList(p);
        size_t count = 0;
        for (; pA && pB; pA = pA->pmdtRegNext, pB = pB->pmdtRegNext, count++)
            EXPECT_EQ(bytesOf(&pA->mdtReg, sizeof(MDT_REGISTER)), bytesOf(&pB->mdtReg, sizeof(MDT_REGISTER)));
        EXPECT_EQ(pA, nullptr);
        EXPECT_EQ(pB, nullptr);
        EXPECT_EQ(count, p == 0 ? 4u : 1u);
    }
    EXPECT_STREQ(loaded.getDescription(1), "second page");
    // Pages the table did not use are written as no page.
    EXPECT_EQ(sim::eepromBytes(0x4000, 4), (Bytes{0, 0, 0, 0}));
    sim::detachEepromImage();
}

TEST_F(MdtStorage, HeaderIsWrittenAsThePageHoldsIt) {
    const MDT_HEADER header = makeHeader(1, 100, 0x2, 0, 1);
    m_mdt.setPageHeader(0, &header);
    m_mdt.setPage(0, "{ }", 4);
    m_mdt.populateChip();
    EXPECT_EQ(sim::eepromBytes(0, 32), bytesOf(&header, 32));
    EXPECT_EQ(sim::eepromBytes(0x20, 4), textBytes(std::string("{ }\0", 4)));
    EXPECT_EQ(sim::eepromBytes(0x24, 1), Bytes{0xFF});
}

TEST_F(MdtStorage, EraseZeroesThePageAreaAndKeepsTheSerialNumber) {
    sim::fillEeprom(0, Bytes(0x10000 - 1, 0xAB));
    sim::fillEeprom(0xFC00, textBytes(std::string("SN-1\0", 5)));
    m_mdt.eraseChip();
    EXPECT_EQ(sim::eepromBytes(0, 0xE000), Bytes(0xE000, 0));
    EXPECT_EQ(sim::eepromBytes(0xE000, 0x1C00), Bytes(0x1C00, 0xAB));
    EXPECT_EQ(sim::eepromBytes(0xFC00, 5), textBytes(std::string("SN-1\0", 5)));
}

TEST_F(MdtStorage, SerialNumberOfUpTo31Characters) {
    const std::string sn31(31, '7');
    m_mdt.setSN(sn31.c_str(), 31);
    EXPECT_TRUE(m_mdt.m_bSNInitialized);
    EXPECT_EQ(m_mdt.m_ulSNLength, 31u);
    Bytes stored = textBytes(sn31);
    stored.push_back(0);
    EXPECT_EQ(sim::eepromBytes(0xFC00, 32), stored);

    // 32 characters do not fit: nothing changes.
    const std::string sn32(32, '8');
    m_mdt.setSN(sn32.c_str(), 32);
    EXPECT_EQ(sim::eepromBytes(0xFC00, 32), stored);
    EXPECT_EQ(m_mdt.m_ulSNLength, 31u);

    m_mdt.setSN("AB12", 4);
    struct {
        uint32_t ulMaxLen;
        uint32_t ulResult;
        std::string expected;
    } reads[] = {
        {8, 8, std::string("AB12\0\0\0\0\0", 9)},
        {2, 2, std::string("AB\0", 3)},
        {100, 31, std::string("AB12") + std::string(28, '\0')},
        {0, 0, std::string("\0", 1)},
    };
    for (const auto& r : reads) {
        SCOPED_TRACE(r.ulMaxLen);
        std::string buffer(40, '#');
        EXPECT_EQ(m_mdt.getSN(buffer.data(), r.ulMaxLen), r.ulResult);
        EXPECT_EQ(buffer.substr(0, r.expected.size()), r.expected);
        EXPECT_EQ(buffer[r.expected.size()], '#');  // nothing past the count and its NUL
    }

    // A serial number area with no NUL still reads as a text of 31.
    sim::fillEeprom(0xFC00, Bytes(32, 'Z'));
    char szSN[40];
    EXPECT_EQ(m_mdt.getSN(szSN, 8), 8u);
    EXPECT_STREQ(szSN, "ZZZZZZZZ");
    EXPECT_EQ(strlen(m_mdt.m_pszSN), 31u);
}

TEST_F(MdtStorage, DumpShowsHeadersAndTexts) {
    MDT_HEADER header0 = makeHeader(1, 6, 0x2, 0, 2);
    header0.s_ulReserved[1] = 7;
    placePage(0, header0, "{ 0 }");
    placePage(1, makeHeader(1, 6, 0, 1), "{ 1 }");
    bool bLoaded = false;
    load(bLoaded);
    ASSERT_TRUE(bLoaded);
    EXPECT_EQ(captureStdout([&] { m_mdt.dump(); }),
              "\nHeader 0:\n  Type: 1\n  Size: 6\n  Page: 0 of 2\n  Flags: 0x00000002\n  Reserved[0]: 0\n"
              "  Reserved[1]: 7\n\nBuffer:\n{ 0 }\n"
              "\nHeader 1:\n  Type: 1\n  Size: 6\n  Page: 1 of 1\n  Flags: 0x00000000\n  Reserved[0]: 0\n"
              "  Reserved[1]: 0\n\nBuffer:\n{ 1 }\n");
    // Without text a page dumps an empty buffer.
    MDT empty(sim::i2cDeviceOps());
    EXPECT_EQ(captureStdout([&] { empty.dump(); }),
              "\nHeader 0:\n  Type: 0\n  Size: 0\n  Page: 0 of 0\n  Flags: 0x00000000\n  Reserved[0]: 0\n"
              "  Reserved[1]: 0\n\nBuffer:\n\n");
}

TEST_F(MdtStorage, PagesPastSixAreIgnored) {
    char* pszText = nullptr;
    MDT_HEADER* pHeader = nullptr;
    uint32_t ulLength = 0;
    const MDT_HEADER header = makeHeader(1, 3);
    m_mdt.setPageHeader(7, &header);
    m_mdt.setPage(7, "{}", 3);
    m_mdt.clearPage(7);
    EXPECT_EQ(m_mdt.getHandlerName(7), nullptr);
    EXPECT_EQ(m_mdt.getConfigName(7), nullptr);
    EXPECT_EQ(m_mdt.getCalName(7), nullptr);
    EXPECT_EQ(m_mdt.getDescription(7), nullptr);
    EXPECT_EQ(m_mdt.getPage(7, &pszText, 10), 0u);
    EXPECT_EQ(m_mdt.getPageHeader(7, &pHeader), 0u);
    EXPECT_FALSE(m_mdt.getArray("\"x\"", &pszText, ulLength, 7));
    EXPECT_FALSE(m_mdt.createRegisterList(7));
    EXPECT_EQ(m_mdt.getPageRegisterList(7), nullptr);
    // Page 6 is a page.
    m_mdt.setPage(6, "{ \"handler\": \"six\" }", 21);
    EXPECT_STREQ(m_mdt.getHandlerName(6), "six");
}

}  // namespace
