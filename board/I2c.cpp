// Board functions of QMCommon/BoardIO.h (one source per device); releaseI2c of Devices.h.
// The I2C bus of the module's EEPROM on i2c-dev. The bus is held under an
// advisory lock from I2Cbegin to I2Cend, so two programs (the meter and a
// service tool) never interleave their transfers on the EEPROM.
#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>
#include <cstdio>
#include <mutex>

#include "BoardIO.h"
#include "Devices.h"
#include "Settings.h"
#include "System.h"

namespace {

constexpr int LOCK_ATTEMPTS = 200;  // 2 s of 10 ms waits for another program's transfers
constexpr long LOCK_WAIT_NANOS = 10000000;

std::mutex g_mutex;
int g_fd = -1;

bool lockBus(int fd, int& error) {
    for (int attempt = 0; attempt < LOCK_ATTEMPTS; attempt++) {
        if (board::sys().flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
        error = errno;
        if (error != EWOULDBLOCK && error != EINTR) return false;
        const timespec wait{0, LOCK_WAIT_NANOS};
        board::sys().clockNanosleep(CLOCK_MONOTONIC, 0, &wait, nullptr);
    }
    return false;
}

int ioctlThroughSeam(int fd, unsigned long request, unsigned long arg) {
    return board::sys().ioctl(fd, request, reinterpret_cast<void*>(arg));
}

ssize_t writeThroughSeam(int fd, const void* buf, size_t count) {
    return board::sys().write(fd, buf, count);
}

ssize_t readThroughSeam(int fd, void* buf, size_t count) {
    return board::sys().read(fd, buf, count);
}

void closeLocked() {
    board::sys().flock(g_fd, LOCK_UN);
    board::sys().close(g_fd);
    g_fd = -1;
}

}  // namespace

int I2Cbegin(void) {
    const std::string& bus = board::settings().i2cBus;
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_fd >= 0) closeLocked();  // a begin without its end: start afresh
    const int fd = board::sys().open(bus.c_str(), O_RDWR);
    if (fd < 0) {
        board::detail::reportDeviceError("cannot open I2C bus", bus, errno);
        return -1;
    }
    int error = 0;
    if (!lockBus(fd, error)) {
        board::detail::reportDeviceError("cannot lock I2C bus", bus, error == EWOULDBLOCK ? EBUSY : error);
        board::sys().close(fd);
        return -1;
    }
    g_fd = fd;
    return fd;
}

void I2Cend(void) {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_fd >= 0) closeLocked();
}

const I2CDeviceOps* boardI2CDeviceOps(void) {
    static const I2CDeviceOps ops{ioctlThroughSeam, writeThroughSeam, readThroughSeam};
    return &ops;
}

namespace board::detail {

void releaseI2c() {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_fd >= 0) closeLocked();
}

}  // namespace board::detail
