// The module's EEPROM on the simulated board: the I2C protocol the module
// speaks (device select, page writes that wrap in their page, address phase
// then sequential read), the write cycle on the clock, the image file that
// keeps the contents between runs, and the faults.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "BoardIO.h"
#include "I2CDevice.h"
#include "Sim.h"

namespace {

using Bytes = std::vector<uint8_t>;

const I2CDeviceOps& ops() {
    return sim::i2cDeviceOps();
}

Bytes withAddress(uint16_t address, const Bytes& data = {}) {
    Bytes frame{static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address)};
    frame.insert(frame.end(), data.begin(), data.end());
    return frame;
}

Bytes sequence(size_t count, uint8_t first) {
    Bytes bytes(count);
    for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(first + i);
    return bytes;
}

class Eeprom : public ::testing::Test {
protected:
    void SetUp() override { sim::reset(); }
    void TearDown() override {
        EXPECT_EQ(sim::i2cErrors(), std::vector<std::string>{});
        sim::reset();
        if (!m_imagePath.empty()) std::remove(m_imagePath.c_str());
    }

    // Opens the bus and selects the EEPROM, as the module's transfers begin.
    int open(uint8_t address = sim::kEepromAddress) {
        const int fd = I2Cbegin();
        EXPECT_EQ(fd, sim::kI2cDescriptor);
        EXPECT_EQ(ops().ioctl(fd, I2C_DEVICE_SELECT, address), 0);
        return fd;
    }
    static ssize_t send(int fd, const Bytes& bytes) { return ops().write(fd, bytes.data(), bytes.size()); }
    static Bytes receive(int fd, size_t count, ssize_t expected) {
        Bytes bytes(count, 0);
        EXPECT_EQ(ops().read(fd, bytes.data(), count), expected);
        return bytes;
    }

    // The module's table storage: 32-byte chunks, 5 ms after each write.
    void writeChunks(uint16_t address, const Bytes& data) {
        const int fd = open();
        for (size_t at = 0; at < data.size(); at += 32) {
            const Bytes chunk(data.begin() + at, data.begin() + std::min(data.size(), at + 32));
            ASSERT_EQ(send(fd, withAddress(static_cast<uint16_t>(address + at), chunk)),
                      static_cast<ssize_t>(chunk.size() + 2));
            delayMicroseconds(5000);
        }
        I2Cend();
    }
    Bytes readChunks(uint16_t address, size_t count) {
        const int fd = open();
        Bytes data;
        for (size_t at = 0; at < count; at += 32) {
            const size_t n = std::min<size_t>(32, count - at);
            EXPECT_EQ(send(fd, withAddress(static_cast<uint16_t>(address + at))), 2);
            const Bytes chunk = receive(fd, n, static_cast<ssize_t>(n));
            data.insert(data.end(), chunk.begin(), chunk.end());
        }
        I2Cend();
        return data;
    }

    std::string imagePath() {
        char path[] = "/tmp/qm_eeprom_XXXXXX";
        const int fd = mkstemp(path);
        ::close(fd);
        std::remove(path);
        m_imagePath = path;
        return m_imagePath;
    }
    std::string m_imagePath;
};

using EepromProtocol = Eeprom;

TEST_F(EepromProtocol, ANewDeviceReadsErased) {
    EXPECT_EQ(readChunks(0x0000, 64), Bytes(64, 0xFF));
    EXPECT_EQ(readChunks(0xFC00, 32), Bytes(32, 0xFF));
}

TEST_F(EepromProtocol, WhatTheModuleWritesInChunksItReadsBack) {
    const Bytes header = sequence(32, 0x10), text = sequence(200, 0x40);
    writeChunks(0x2000, header);
    writeChunks(0x2020, text);
    EXPECT_EQ(readChunks(0x2000, 32), header);
    EXPECT_EQ(readChunks(0x2020, 200), text);
    EXPECT_EQ(sim::eepromBytes(0x2020, 200), text);
    EXPECT_EQ(sim::eepromBytes(0x201F, 1), Bytes{0x2F});
    EXPECT_EQ(sim::eepromBytes(0x20E8, 1), Bytes{0xFF});  // nothing past the text
}

TEST_F(EepromProtocol, PageWriteWrapsWithinItsThirtyTwoBytePage) {
    const struct {
        const char* name;
        uint16_t address;
        size_t count;
        std::vector<std::pair<uint16_t, Bytes>> expected;  // memory after the write
    } cases[] = {
        {"aligned full page", 0x0100, 32, {{0x0100, sequence(32, 0)}, {0x0120, Bytes(1, 0xFF)}}},
        {"starts mid-page, wraps to its start",
         0x0110,
         20,
         {{0x0110, sequence(16, 0)},
          {0x0100, sequence(4, 16)},
          {0x0104, Bytes(12, 0xFF)},
          {0x0120, Bytes(1, 0xFF)}}},
        {"more than a page: the last bytes win",
         0x0100,
         40,
         {{0x0100, sequence(8, 32)}, {0x0108, sequence(24, 8)}, {0x0120, Bytes(1, 0xFF)}}},
        {"last page of memory", 0xFFF0, 20, {{0xFFF0, sequence(16, 0)}, {0xFFE0, sequence(4, 16)}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::reset();
        const int fd = open();
        EXPECT_EQ(send(fd, withAddress(c.address, sequence(c.count, 0))), static_cast<ssize_t>(c.count + 2));
        I2Cend();
        for (const auto& [address, bytes] : c.expected)
            EXPECT_EQ(sim::eepromBytes(address, bytes.size()), bytes);
    }
}

TEST_F(EepromProtocol, AddressPhaseThenSequentialReadsCarryOnAndWrapAtTheEnd) {
    sim::fillEeprom(0xFFFC, {1, 2, 3, 4});
    sim::fillEeprom(0x0000, {5, 6});
    const int fd = open();
    ASSERT_EQ(send(fd, withAddress(0xFFFC)), 2);
    EXPECT_EQ(receive(fd, 3, 3), (Bytes{1, 2, 3}));
    EXPECT_EQ(receive(fd, 3, 3), (Bytes{4, 5, 6}));  // on from where the last read stopped
    I2Cend();
}

TEST_F(EepromProtocol, BusyForItsWriteCycleAfterEachWrite) {
    const int fd = open();
    const uint64_t start = sim::nowMicros();
    ASSERT_EQ(send(fd, withAddress(0x0040, {0xAB})), 3);
    const uint64_t stop = start + 4 * 90;  // three bytes and the address on the wire at 100 kHz
    EXPECT_EQ(sim::nowMicros(), stop);
    EXPECT_TRUE(sim::eepromBusy());
    sim::advance(4900);
    errno = 0;
    EXPECT_EQ(send(fd, withAddress(0x0040)), -1);  // not acknowledged; the address byte takes 90 us
    EXPECT_EQ(errno, EREMOTEIO);
    Bytes byte(1);
    EXPECT_EQ(ops().read(fd, byte.data(), 1), -1);
    EXPECT_EQ(errno, EREMOTEIO);
    sim::advance(stop + 5000 - sim::nowMicros());
    EXPECT_FALSE(sim::eepromBusy());
    ASSERT_EQ(send(fd, withAddress(0x0040)), 2);
    EXPECT_EQ(receive(fd, 1, 1), Bytes{0xAB});
    I2Cend();
}

TEST_F(EepromProtocol, TheLogShowsEveryCallInOrder) {
    writeChunks(0x0000, {7, 8});
    readChunks(0x0000, 2);
    const auto& log = sim::i2cLog();
    ASSERT_EQ(log.size(), 9u);
    const sim::I2cOp ops[] = {sim::I2cOp::Begin, sim::I2cOp::SelectDevice, sim::I2cOp::Write,
                              sim::I2cOp::End,   sim::I2cOp::Begin,        sim::I2cOp::SelectDevice,
                              sim::I2cOp::Write, sim::I2cOp::Read,         sim::I2cOp::End};
    for (size_t i = 0; i < log.size(); ++i) EXPECT_EQ(log[i].op, ops[i]) << i;
    EXPECT_EQ(log[1].deviceAddress, 0x50);
    EXPECT_EQ(log[2].bytes, (Bytes{0, 0, 7, 8}));
    EXPECT_EQ(log[7].bytes, (Bytes{7, 8}));
    sim::clearI2cLog();
    EXPECT_TRUE(sim::i2cLog().empty());
}

// ---- The image file ---------------------------------------------------------------

using EepromImage = Eeprom;

TEST_F(EepromImage, ContentsPersistBetweenRunsThroughTheImageFile) {
    const std::string path = imagePath();
    sim::attachEepromImage(path);  // missing: created blank
    std::ifstream blank(path, std::ios::binary | std::ios::ate);
    EXPECT_EQ(blank.tellg(), static_cast<std::streamoff>(sim::kEepromBytes));
    writeChunks(0xFC00, sequence(20, 0x30));
    sim::corruptEeprom(0x0005, 1, 0x0F);

    sim::reset();  // the next run of the host: a blank device until the image comes back
    EXPECT_EQ(sim::eepromBytes(0xFC00, 1), Bytes{0xFF});
    sim::attachEepromImage(path);
    EXPECT_EQ(readChunks(0xFC00, 20), sequence(20, 0x30));
    EXPECT_EQ(sim::eepromBytes(0x0005, 1), Bytes{0xF0});

    std::ifstream file(path, std::ios::binary);
    Bytes contents((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    ASSERT_EQ(contents.size(), sim::kEepromBytes);
    EXPECT_EQ(Bytes(contents.begin() + 0xFC00, contents.begin() + 0xFC14), sequence(20, 0x30));

    sim::detachEepromImage();  // later changes stay in memory
    sim::fillEeprom(0xFC00, {0});
    std::ifstream after(path, std::ios::binary);
    after.seekg(0xFC00);
    EXPECT_EQ(after.get(), 0x30);
}

TEST_F(EepromImage, AnImageOfTheWrongSizeIsRefusedAndChangesNothing) {
    const std::string path = imagePath();
    std::ofstream(path, std::ios::binary) << "short";
    sim::fillEeprom(0, {0x12});
    EXPECT_THROW(sim::attachEepromImage(path), std::invalid_argument);
    EXPECT_EQ(sim::eepromBytes(0, 1), Bytes{0x12});
    EXPECT_THROW(sim::attachEepromImage("/nonexistent-directory/eeprom.bin"), std::runtime_error);
}

// ---- Test face ---------------------------------------------------------------------

using EepromTestFace = Eeprom;

TEST_F(EepromTestFace, FillInspectCorruptAndEraseTheMemory) {
    sim::fillEeprom(0x1000, {0x00, 0x55, 0xFF});
    EXPECT_EQ(sim::eepromBytes(0x1000, 3), (Bytes{0x00, 0x55, 0xFF}));
    sim::corruptEeprom(0x1000, 2);
    EXPECT_EQ(sim::eepromBytes(0x1000, 3), (Bytes{0xFF, 0xAA, 0xFF}));
    sim::corruptEeprom(0x1002, 1, 0x01);
    EXPECT_EQ(sim::eepromBytes(0x1002, 1), Bytes{0xFE});
    sim::eraseEeprom();
    EXPECT_EQ(sim::eepromBytes(0x1000, 3), Bytes(3, 0xFF));
    EXPECT_THROW(sim::eepromBytes(0xFFFF, 2), std::out_of_range);
    EXPECT_THROW(sim::fillEeprom(0xFFFE, {1, 2, 3}), std::out_of_range);
    EXPECT_FALSE(sim::eepromBusy());  // the test face has no write cycle
}

// ---- Faults ---------------------------------------------------------------------

using EepromFaults = Eeprom;

TEST_F(EepromFaults, NoDeviceAtTheAddressFailsTransfersButNotTheSelect) {
    const struct {
        const char* name;
        bool present;
        uint8_t deviceAt, selected;
    } cases[] = {{"absent", false, 0x50, 0x50}, {"elsewhere", true, 0x51, 0x50}, {"moved", true, 0x57, 0x50}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::reset();
        sim::setEepromPresent(c.present);
        sim::setEepromAddress(c.deviceAt);
        const int fd = open(c.selected);
        errno = 0;
        EXPECT_EQ(send(fd, withAddress(0, {1})), -1);
        EXPECT_EQ(errno, ENXIO);
        Bytes byte(1);
        EXPECT_EQ(ops().read(fd, byte.data(), 1), -1);
        EXPECT_EQ(errno, ENXIO);
        I2Cend();
        EXPECT_EQ(sim::eepromBytes(0, 1), Bytes{0xFF});
    }
    sim::reset();
    sim::setEepromAddress(0x57);
    const int fd = open(0x57);
    EXPECT_EQ(send(fd, withAddress(0, {1})), 3);
    I2Cend();
}

TEST_F(EepromFaults, I2cBeginFailureReturnsItsResult) {
    sim::setI2cBeginResult(-2);
    EXPECT_EQ(I2Cbegin(), -2);
    sim::setI2cBeginResult(sim::kI2cDescriptor);
    EXPECT_EQ(I2Cbegin(), sim::kI2cDescriptor);
    I2Cend();
}

TEST_F(EepromFaults, MisuseOfTheBusIsReportedAndFails) {
    const int fd = I2Cbegin();
    errno = 0;
    EXPECT_EQ(send(fd, withAddress(0)), -1);  // no device selected yet
    EXPECT_EQ(errno, ENXIO);
    EXPECT_EQ(ops().ioctl(fd, 0x0704, 0x50), -1);  // not I2C_SLAVE
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(ops().ioctl(fd, I2C_DEVICE_SELECT, 0x80), -1);  // not a 7-bit address
    I2Cend();
    EXPECT_EQ(ops().ioctl(fd, I2C_DEVICE_SELECT, 0x50), -1);  // closed
    EXPECT_EQ(errno, EBADF);
    I2Cend();
    EXPECT_EQ(sim::i2cErrors().size(), 5u);
    sim::reset();  // the errors were meant
}

TEST_F(EepromFaults, OtherDescriptorsReachTheSystem) {
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    const Bytes sent{1, 2, 3};
    EXPECT_EQ(ops().write(pipeEnds[1], sent.data(), sent.size()), 3);
    Bytes received(3);
    EXPECT_EQ(ops().read(pipeEnds[0], received.data(), 3), 3);
    EXPECT_EQ(received, sent);
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);
    EXPECT_EQ(systemI2CDeviceOps().write(-1, sent.data(), 1), -1);
    EXPECT_TRUE(sim::i2cLog().empty());
}

}  // namespace
