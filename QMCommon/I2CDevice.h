// The Linux I2C device calls (ioctl I2C_SLAVE, write, read) on the descriptor
// that I2Cbegin returns, as a table of functions. Code that talks to an I2C
// device takes an I2CDeviceOps and calls through it: on the board it is
// systemI2CDeviceOps(), the system calls themselves; a simulated board hands
// in its own table, since it cannot intercept calls on a real descriptor.
#pragma once

#include <sys/ioctl.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstddef>

constexpr unsigned long I2C_DEVICE_SELECT = 0x0703;  // I2C_SLAVE: address the following transfers

struct I2CDeviceOps {
    // Same contracts as the system calls: -1 with errno set on failure.
    int (*ioctl)(int fd, unsigned long request, unsigned long arg);
    ssize_t (*write)(int fd, const void* buf, size_t count);
    ssize_t (*read)(int fd, void* buf, size_t count);
};

namespace i2c_device_detail {
inline int systemIoctl(int fd, unsigned long request, unsigned long arg) {
    return ::ioctl(fd, request, arg);
}
inline ssize_t systemWrite(int fd, const void* buf, size_t count) {
    return ::write(fd, buf, count);
}
inline ssize_t systemRead(int fd, void* buf, size_t count) {
    return ::read(fd, buf, count);
}
}  // namespace i2c_device_detail

inline const I2CDeviceOps& systemI2CDeviceOps() {
    static const I2CDeviceOps ops{i2c_device_detail::systemIoctl, i2c_device_detail::systemWrite,
                                  i2c_device_detail::systemRead};
    return ops;
}
