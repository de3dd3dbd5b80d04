// Board functions of QMCommon/BoardIO.h (one source per device); releaseSpi of Devices.h.
// SPI on spidev: one descriptor per channel, each transfer one full-duplex
// message in place under one chip select.
#include <fcntl.h>
#include <linux/spi/spidev.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <mutex>

#include "BoardIO.h"
#include "Devices.h"
#include "Settings.h"
#include "System.h"

namespace {

constexpr int SPI_CHANNELS = 2;

struct Channel {
    int fd = -1;
    uint32_t ulSpeed = 0;
    bool bFailing = false;  // the last transfer failed (reported once until one succeeds)
};

std::mutex g_mutex;
Channel g_channels[SPI_CHANNELS];

bool configure(int fd, uint8_t mode, uint32_t ulSpeed, int& error) {
    uint8_t bits = 8;
    const board::System& s = board::sys();
    if (s.ioctl(fd, SPI_IOC_WR_MODE, &mode) < 0 || s.ioctl(fd, SPI_IOC_WR_BITS_PER_WORD, &bits) < 0 ||
        s.ioctl(fd, SPI_IOC_WR_MAX_SPEED_HZ, &ulSpeed) < 0) {
        error = errno;
        return false;
    }
    return true;
}

}  // namespace

int wiringPiSPISetup(int channel, int speed) {
    if (channel < 0 || channel >= SPI_CHANNELS || speed <= 0) {
        printf("board: wiringPiSPISetup: no SPI channel %d at %d Hz\n", channel, speed);
        return -1;
    }
    const board::Settings& settings = board::settings();
    const std::string& device = settings.spiDevice[channel];
    std::lock_guard<std::mutex> lock(g_mutex);
    Channel& state = g_channels[channel];
    if (state.fd >= 0) board::sys().close(state.fd);
    state = Channel{};
    const int fd = board::sys().open(device.c_str(), O_RDWR);
    if (fd < 0) {
        board::detail::reportDeviceError("cannot open SPI device", device, errno);
        return -1;
    }
    int error = 0;
    if (!configure(fd, static_cast<uint8_t>(settings.spiMode), static_cast<uint32_t>(speed), error)) {
        board::detail::reportDeviceError("cannot configure SPI device", device, error);
        board::sys().close(fd);
        return -1;
    }
    state.fd = fd;
    state.ulSpeed = static_cast<uint32_t>(speed);
    return fd;
}

int wiringPiSPIDataRW(int channel, unsigned char* data, int len) {
    if (channel < 0 || channel >= SPI_CHANNELS || len <= 0 || data == nullptr) return -1;
    std::lock_guard<std::mutex> lock(g_mutex);
    Channel& state = g_channels[channel];
    if (state.fd < 0) return -1;
    spi_ioc_transfer transfer{};
    transfer.tx_buf = reinterpret_cast<uintptr_t>(data);
    transfer.rx_buf = reinterpret_cast<uintptr_t>(data);
    transfer.len = static_cast<uint32_t>(len);
    transfer.speed_hz = state.ulSpeed;
    transfer.bits_per_word = 8;
    const int result = board::sys().ioctl(state.fd, SPI_IOC_MESSAGE(1), &transfer);
    if (result < 0 && !state.bFailing)
        board::detail::reportDeviceError("SPI transfer failed on", board::settings().spiDevice[channel],
                                         errno);
    state.bFailing = result < 0;
    return result;
}

namespace board::detail {

void releaseSpi() {
    std::lock_guard<std::mutex> lock(g_mutex);
    for (Channel& state : g_channels) {
        if (state.fd >= 0) sys().close(state.fd);
        state = Channel{};
    }
}

}  // namespace board::detail
