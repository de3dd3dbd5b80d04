// i2cDeviceOps is declared in Sim.h.
// The I2C device calls a module is given on the simulated board: the bus
// descriptor goes to the simulated bus, any other to the system.
#include <cerrno>
#include <cstdint>
#include <mutex>

#include "Board.h"
#include "I2CDevice.h"
#include "Sim.h"

namespace {

using sim::detail::Board;

int simulatedIoctl(int fd, unsigned long request, unsigned long arg) {
    Board& board = Board::instance();
    int error = 0;
    int result;
    {
        std::lock_guard<std::mutex> lock(board.mutex);
        if (!board.i2c.owns(fd)) return systemI2CDeviceOps().ioctl(fd, request, arg);
        result = board.i2c.selectDevice(board.clock.nowNanos(), request, arg, error);
    }
    if (result < 0) errno = error;
    return result;
}

// A transfer runs under the board's lock at its start; the clock then moves
// past its time on the wire.
template <typename Transfer>
ssize_t transfer(Transfer&& run) {
    Board& board = Board::instance();
    uint64_t busNanos = 0;
    int error = 0;
    ssize_t result;
    board.update([&] { result = run(board, busNanos, error); });
    if (busNanos != 0) board.clock.advance(busNanos);
    if (result < 0) errno = error;
    return result;
}

ssize_t simulatedWrite(int fd, const void* buf, size_t count) {
    {
        Board& board = Board::instance();
        std::lock_guard<std::mutex> lock(board.mutex);
        if (!board.i2c.owns(fd)) return systemI2CDeviceOps().write(fd, buf, count);
    }
    return transfer([&](Board& board, uint64_t& busNanos, int& error) {
        return board.i2c.write(board.clock.nowNanos(), static_cast<const uint8_t*>(buf), count, board.eeprom,
                               busNanos, error);
    });
}

ssize_t simulatedRead(int fd, void* buf, size_t count) {
    {
        Board& board = Board::instance();
        std::lock_guard<std::mutex> lock(board.mutex);
        if (!board.i2c.owns(fd)) return systemI2CDeviceOps().read(fd, buf, count);
    }
    return transfer([&](Board& board, uint64_t& busNanos, int& error) {
        return board.i2c.read(board.clock.nowNanos(), static_cast<uint8_t*>(buf), count, board.eeprom,
                              busNanos, error);
    });
}

}  // namespace

namespace sim {

const I2CDeviceOps& i2cDeviceOps() {
    static const I2CDeviceOps ops{simulatedIoctl, simulatedWrite, simulatedRead};
    return ops;
}

}  // namespace sim
