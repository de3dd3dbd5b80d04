// The board functions the module calls, resolved from this library by the
// host process in place of wiringPi and the host's I2C helpers.
#include "BoardIO.h"

#include <cstdint>
#include <mutex>

#include "Board.h"
#include "Sim.h"

using sim::detail::Board;

int wiringPiSPISetup(int channel, int speed) {
    Board& board = Board::instance();
    std::lock_guard<std::mutex> lock(board.mutex);
    return board.spi.setup(board.nowMicros(), channel, speed);
}

int wiringPiSPIDataRW(int channel, unsigned char* data, int len) {
    return Board::instance().spiTransfer(channel, data, len);
}

int wiringPiISR(int pin, int edgeType, void (*function)(void)) {
    Board& board = Board::instance();
    std::lock_guard<std::mutex> lock(board.mutex);
    return board.gpio.registerIsr(pin, edgeType, function);
}

void pinMode(int pin, int mode) {
    Board& board = Board::instance();
    std::lock_guard<std::mutex> lock(board.mutex);
    board.gpio.setMode(board.nowMicros(), pin, mode);
}

void digitalWrite(int pin, int value) {
    Board::instance().pinWrite(pin, value);
}

// Both counters are the clock's low 32 bits, so they wrap as the board's do.
unsigned int millis(void) {
    Board& board = Board::instance();
    std::lock_guard<std::mutex> lock(board.mutex);
    return static_cast<unsigned int>(board.clock.nowNanos() / 1000000);
}

unsigned int micros(void) {
    Board& board = Board::instance();
    std::lock_guard<std::mutex> lock(board.mutex);
    return static_cast<unsigned int>(board.nowMicros());
}

void delay(unsigned int howLong) {
    Board::instance().clock.advance(uint64_t{howLong} * 1000000);
}

void delayMicroseconds(unsigned int howLong) {
    Board::instance().clock.advance(uint64_t{howLong} * 1000);
}

// The bus to the module's EEPROM: the descriptor I2Cbegin hands out is the
// one the simulated device calls (sim::i2cDeviceOps) answer.
int I2Cbegin(void) {
    Board& board = Board::instance();
    std::lock_guard<std::mutex> lock(board.mutex);
    return board.i2c.begin(board.clock.nowNanos());
}

void I2Cend(void) {
    Board& board = Board::instance();
    std::lock_guard<std::mutex> lock(board.mutex);
    board.i2c.end(board.clock.nowNanos());
}

const I2CDeviceOps* boardI2CDeviceOps(void) {
    return &sim::i2cDeviceOps();
}

// The interrupt thread runs only in real-time mode.
void boardStopInterrupts(void) {
    sim::setClockMode(sim::ClockMode::Virtual);
}
