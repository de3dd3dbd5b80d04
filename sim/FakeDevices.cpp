#include "FakeDevices.h"

#include <fcntl.h>
#include <linux/spi/spidev.h>
#include <sys/file.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "Board.h"
#include "I2CDevice.h"
#include "Sim.h"
#include "System.h"

// libgpiod's handles are opaque to its users; the fake gives them a body.
struct gpiod_line {
    unsigned offset;
    enum class Use { Free, Output, Events } use;
    bool reachesBoard;  // a header line, wired to the board's pins
    std::string name;   // "" for an unnamed line
};
struct gpiod_chip {
    std::string label;
    int opens;
    gpiod_line lines[64];
};

namespace sim {

namespace {

using detail::Board;

constexpr int SPI_FD_BASE = 1000;
constexpr unsigned LINES = sizeof(gpiod_chip::lines) / sizeof(gpiod_line);
constexpr unsigned HEADER_LINES = 28;  // GPIO0..GPIO27 of the 40-pin header
constexpr std::chrono::seconds EDGE_HANDSHAKE_LIMIT{5};

// A chip's header lines are named as a Pi's kernel names them and reach the
// board's pins; the other lines, and every line of another chip, are unnamed.
std::unique_ptr<gpiod_chip> makeChip(const std::string& label, bool header) {
    auto chip = std::make_unique<gpiod_chip>();
    chip->label = label;
    for (unsigned offset = 0; offset < LINES; offset++) {
        const bool headerLine = header && offset < HEADER_LINES;
        chip->lines[offset] = {offset, gpiod_line::Use::Free, headerLine,
                               headerLine ? "GPIO" + std::to_string(offset) : ""};
    }
    if (header) chip->lines[0].name = "ID_SDA", chip->lines[1].name = "ID_SCL";
    return chip;
}

// /dev/gpiochip0 as on a Pi 4.
std::map<unsigned, std::unique_ptr<gpiod_chip>> defaultChips() {
    std::map<unsigned, std::unique_ptr<gpiod_chip>> chips;
    chips[0] = makeChip("pinctrl-bcm2711", true);
    return chips;
}

struct Fake {
    std::mutex mutex;
    std::condition_variable changed;
    std::map<std::string, int> deviceErrors;
    std::map<unsigned, int> lineErrors;
    std::map<unsigned, int> wiring;
    int i2cFailAfter = -1, i2cError = 0;
    bool i2cLockHeld = false;
    int sleepsToInterrupt = 0, waitsToInterrupt = 0;
    int readsToFail = 0, readError = 0;
    bool priorityRefused = false;
    FakeDeviceCounts counts;
    std::set<int> spiFds, i2cFds;
    std::map<unsigned, std::unique_ptr<gpiod_chip>> chips = defaultChips();  // by N of /dev/gpiochipN
    // Edges of the events line: raised by the board, read by the library's
    // thread, settled once the routine of every read edge has returned.
    gpiod_line* eventsLine = nullptr;
    uint64_t raised = 0, read = 0, settled = 0;
} g_fake;

// The board pin a line reaches: its wiring, else the pin of the same number
// unless that pin is wired to another line (-1: nothing).
int pinOf(unsigned offset) {
    const auto it = g_fake.wiring.find(offset);
    if (it != g_fake.wiring.end()) return it->second;
    for (const auto& [line, pin] : g_fake.wiring)
        if (pin == static_cast<int>(offset)) return -1;
    return static_cast<int>(offset);
}

int fail(int error) {
    errno = error;
    return -1;
}

// A device error set for `path`, or 0.
int deviceError(const char* path) {
    const auto it = g_fake.deviceErrors.find(path);
    return it == g_fake.deviceErrors.end() ? 0 : it->second;
}

uint64_t boardNanos() {
    Board& board = Board::instance();
    std::lock_guard<std::mutex> lock(board.mutex);
    return board.clock.nowNanos();
}

int fakeOpen(const char* path, int) {
    std::unique_lock<std::mutex> lock(g_fake.mutex);
    if (const int error = deviceError(path)) return fail(error);
    unsigned bus = 0, channel = 0;
    char tail = 0;
    if (sscanf(path, "/dev/spidev%u.%u%c", &bus, &channel, &tail) == 2 && bus == 0 && channel < 2) {
        const int fd = SPI_FD_BASE + static_cast<int>(channel);
        if (!g_fake.spiFds.insert(fd).second) return fail(EBUSY);
        g_fake.counts.openDescriptors++;
        return fd;
    }
    if (sscanf(path, "/dev/i2c-%u%c", &bus, &tail) == 1) {
        Board& board = Board::instance();
        std::lock_guard<std::mutex> boardLock(board.mutex);
        const int fd = board.i2c.begin(board.clock.nowNanos());
        if (fd < 0) return fail(EIO);
        g_fake.i2cFds.insert(fd);
        g_fake.counts.openDescriptors++;
        return fd;
    }
    return fail(ENOENT);
}

int fakeClose(int fd) {
    std::lock_guard<std::mutex> lock(g_fake.mutex);
    if (g_fake.spiFds.erase(fd) == 0 && g_fake.i2cFds.erase(fd) == 0) return fail(EBADF);
    if (fd < SPI_FD_BASE) {
        Board& board = Board::instance();
        std::lock_guard<std::mutex> boardLock(board.mutex);
        board.i2c.end(board.clock.nowNanos());
    }
    g_fake.counts.openDescriptors--;
    return 0;
}

int spiIoctl(int fd, unsigned long request, void* arg) {
    const int channel = fd - SPI_FD_BASE;
    if (request == SPI_IOC_WR_MODE || request == SPI_IOC_WR_BITS_PER_WORD) return 0;
    if (request == SPI_IOC_WR_MAX_SPEED_HZ) {
        const uint32_t speed = *static_cast<const uint32_t*>(arg);
        Board& board = Board::instance();
        std::lock_guard<std::mutex> lock(board.mutex);
        board.spi.setup(board.nowMicros(), channel, static_cast<int>(speed));
        return 0;
    }
    if (request != SPI_IOC_MESSAGE(1)) return fail(EINVAL);
    const spi_ioc_transfer& transfer = *static_cast<const spi_ioc_transfer*>(arg);
    std::vector<uint8_t> bytes(transfer.len);
    memcpy(bytes.data(), reinterpret_cast<const void*>(static_cast<uintptr_t>(transfer.tx_buf)),
           bytes.size());
    {
        std::lock_guard<std::mutex> lock(g_fake.mutex);
        g_fake.counts.spiMessages++;
        g_fake.counts.spiMessagesByLength[transfer.len]++;
    }
    const int result = Board::instance().spiTransfer(channel, bytes.data(), static_cast<int>(bytes.size()));
    if (result < 0) return fail(EIO);
    memcpy(reinterpret_cast<void*>(static_cast<uintptr_t>(transfer.rx_buf)), bytes.data(), bytes.size());
    return result;
}

// The I2C fault countdown: the error to give now, or 0.
int i2cTransferError() {
    std::lock_guard<std::mutex> lock(g_fake.mutex);
    if (g_fake.i2cFailAfter < 0) return 0;
    return g_fake.i2cFailAfter-- == 0 ? g_fake.i2cError : 0;
}

bool isI2c(int fd) {
    std::lock_guard<std::mutex> lock(g_fake.mutex);
    return g_fake.i2cFds.count(fd) != 0;
}

bool isSpi(int fd) {
    std::lock_guard<std::mutex> lock(g_fake.mutex);
    return g_fake.spiFds.count(fd) != 0;
}

int fakeIoctl(int fd, unsigned long request, void* arg) {
    if (isSpi(fd)) return spiIoctl(fd, request, arg);
    if (isI2c(fd)) return i2cDeviceOps().ioctl(fd, request, reinterpret_cast<unsigned long>(arg));
    return fail(EBADF);
}

ssize_t fakeRead(int fd, void* buf, size_t count) {
    if (!isI2c(fd)) return fail(EBADF);
    if (const int error = i2cTransferError()) return fail(error);
    return i2cDeviceOps().read(fd, buf, count);
}

ssize_t fakeWrite(int fd, const void* buf, size_t count) {
    if (!isI2c(fd)) return fail(EBADF);
    if (const int error = i2cTransferError()) return fail(error);
    return i2cDeviceOps().write(fd, buf, count);
}

int fakeFlock(int fd, int operation) {
    std::lock_guard<std::mutex> lock(g_fake.mutex);
    if (g_fake.i2cFds.count(fd) == 0) return fail(EBADF);
    return (operation & LOCK_EX) && g_fake.i2cLockHeld ? fail(EWOULDBLOCK) : 0;
}

int fakeClockGettime(clockid_t, timespec* now) {
    const uint64_t nanos = boardNanos();
    now->tv_sec = static_cast<time_t>(nanos / 1000000000u);
    now->tv_nsec = static_cast<long>(nanos % 1000000000u);
    return 0;
}

// Sleeping moves the board's clock (virtual mode) or waits for it.
int fakeClockNanosleep(clockid_t, int flags, const timespec* request, timespec*) {
    const uint64_t now = boardNanos();
    const uint64_t asked = static_cast<uint64_t>(request->tv_sec) * 1000000000u + request->tv_nsec;
    const uint64_t deadline = (flags & TIMER_ABSTIME) ? asked : now + asked;
    if (deadline <= now) return 0;
    bool interrupted = false;
    {
        std::lock_guard<std::mutex> lock(g_fake.mutex);
        if (g_fake.sleepsToInterrupt > 0) interrupted = g_fake.sleepsToInterrupt-- > 0;
    }
    Board::instance().clock.advance(interrupted ? (deadline - now) / 2 : deadline - now);
    return interrupted ? EINTR : 0;
}

gpiod_chip* fakeChipOpen(const char* path) {
    std::lock_guard<std::mutex> lock(g_fake.mutex);
    unsigned number = 0;
    char tail = 0;
    if (const int error = deviceError(path)) return errno = error, nullptr;
    if (sscanf(path, "/dev/gpiochip%u%c", &number, &tail) != 1 || g_fake.chips.count(number) == 0)
        return errno = ENOENT, nullptr;
    gpiod_chip* chip = g_fake.chips[number].get();
    chip->opens++;
    g_fake.counts.openDescriptors++;
    return chip;
}

void fakeChipClose(gpiod_chip* chip) {
    std::lock_guard<std::mutex> lock(g_fake.mutex);
    if (chip->opens == 0) return;
    chip->opens--;
    g_fake.counts.openDescriptors--;
}

const char* fakeChipLabel(gpiod_chip* chip) {
    return chip->label.c_str();
}

gpiod_line* fakeChipGetLine(gpiod_chip* chip, unsigned offset) {
    if (offset >= LINES) return errno = EINVAL, nullptr;
    std::lock_guard<std::mutex> lock(g_fake.mutex);
    return &chip->lines[offset];
}

const char* fakeLineName(gpiod_line* line) {
    return line->name.empty() ? nullptr : line->name.c_str();
}

// The request's fault, or 0; a line in use is busy.
int requestError(gpiod_line* line) {
    const auto it = g_fake.lineErrors.find(line->offset);
    if (it != g_fake.lineErrors.end()) return it->second;
    return line->use == gpiod_line::Use::Free ? 0 : EBUSY;
}

int fakeLineSetValue(gpiod_line* line, int value) {
    int pin;
    {
        std::lock_guard<std::mutex> lock(g_fake.mutex);
        if (line->use != gpiod_line::Use::Output) return fail(EPERM);
        pin = line->reachesBoard ? pinOf(line->offset) : -1;
    }
    if (pin >= 0) Board::instance().pinWrite(pin, value);
    return 0;
}

int fakeLineRequestOutput(gpiod_line* line, const char*, int value) {
    {
        std::lock_guard<std::mutex> lock(g_fake.mutex);
        if (const int error = requestError(line)) return fail(error);
        line->use = gpiod_line::Use::Output;
        Board& board = Board::instance();
        std::lock_guard<std::mutex> boardLock(board.mutex);
        if (line->reachesBoard) board.gpio.setMode(board.nowMicros(), pinOf(line->offset), 1);
    }
    return fakeLineSetValue(line, value);
}

// The board's routine for the events line's pin: hands the edge to the
// library's thread and waits until its routine has run, as a board's
// interrupt would have run before the code that made the edge went on.
void onFallingEdge() {
    std::unique_lock<std::mutex> lock(g_fake.mutex);
    if (!g_fake.eventsLine) return;
    const uint64_t edge = ++g_fake.raised;
    g_fake.changed.notify_all();
    g_fake.changed.wait_for(lock, EDGE_HANDSHAKE_LIMIT,
                            [edge] { return !g_fake.eventsLine || g_fake.settled >= edge; });
}

int fakeLineRequestFallingEdgeEventsFlags(gpiod_line* line, const char*, int flags) {
    std::lock_guard<std::mutex> lock(g_fake.mutex);
    if (const int error = requestError(line)) return fail(error);
    line->use = gpiod_line::Use::Events;
    g_fake.eventsLine = line;
    g_fake.raised = g_fake.read = g_fake.settled = 0;
    g_fake.counts.eventRequestFlags = flags;
    if (!line->reachesBoard) return 0;
    Board& board = Board::instance();
    std::lock_guard<std::mutex> boardLock(board.mutex);
    board.gpio.registerIsr(pinOf(line->offset), detail::kEdgeFalling, onFallingEdge);
    return 0;
}

int fakeLineEventWait(gpiod_line* line, const timespec* timeout) {
    std::unique_lock<std::mutex> lock(g_fake.mutex);
    if (line != g_fake.eventsLine) return fail(EPERM);
    if (g_fake.waitsToInterrupt > 0) return g_fake.waitsToInterrupt--, fail(EINTR);
    if (g_fake.readsToFail > 0) return 1;  // a line whose reads fail stays ready
    g_fake.settled = g_fake.read;          // the routines of every edge read so far have returned
    g_fake.changed.notify_all();
    const auto limit = std::chrono::seconds(timeout->tv_sec) + std::chrono::nanoseconds(timeout->tv_nsec);
    return g_fake.changed.wait_for(lock, limit, [] { return g_fake.raised > g_fake.read; }) ? 1 : 0;
}

int fakeLineEventRead(gpiod_line* line, gpiod_line_event* event) {
    std::lock_guard<std::mutex> lock(g_fake.mutex);
    if (line != g_fake.eventsLine) return fail(EPERM);
    if (g_fake.readsToFail > 0) {
        g_fake.readsToFail--;
        return fail(g_fake.readError);
    }
    if (g_fake.raised == g_fake.read) return fail(EAGAIN);
    g_fake.read++;
    g_fake.counts.lineEvents++;
    event->event_type = GPIOD_LINE_EVENT_FALLING_EDGE;
    return 0;
}

void fakeLineRelease(gpiod_line* line) {
    std::lock_guard<std::mutex> lock(g_fake.mutex);
    if (line == g_fake.eventsLine) {
        g_fake.eventsLine = nullptr;
        Board& board = Board::instance();
        std::lock_guard<std::mutex> boardLock(board.mutex);
        if (line->reachesBoard) board.gpio.registerIsr(pinOf(line->offset), detail::kEdgeFalling, nullptr);
    }
    line->use = gpiod_line::Use::Free;
    g_fake.changed.notify_all();
}

// Grants or refuses; the thread's scheduling stays as it is either way.
int fakeThreadSetSchedParam(pthread_t, int, const sched_param*) {
    std::lock_guard<std::mutex> lock(g_fake.mutex);
    return g_fake.priorityRefused ? EPERM : 0;
}

const board::System g_system{
    fakeOpen,
    fakeClose,
    fakeIoctl,
    fakeRead,
    fakeWrite,
    fakeFlock,
    fakeClockNanosleep,
    fakeClockGettime,
    fakeThreadSetSchedParam,
    fakeChipOpen,
    fakeChipClose,
    fakeChipLabel,
    fakeChipGetLine,
    fakeLineName,
    fakeLineRequestOutput,
    fakeLineRequestFallingEdgeEventsFlags,
    fakeLineSetValue,
    fakeLineEventWait,
    fakeLineEventRead,
    fakeLineRelease,
};

}  // namespace

const board::System& fakeDeviceSystem() {
    return g_system;
}

void resetFakeDevices() {
    std::lock_guard<std::mutex> lock(g_fake.mutex);
    g_fake.deviceErrors.clear();
    g_fake.lineErrors.clear();
    g_fake.wiring.clear();
    g_fake.i2cFailAfter = -1;
    g_fake.i2cLockHeld = false;
    g_fake.sleepsToInterrupt = g_fake.waitsToInterrupt = g_fake.readsToFail = 0;
    g_fake.priorityRefused = false;
    g_fake.counts = FakeDeviceCounts{};
    g_fake.spiFds.clear();
    g_fake.i2cFds.clear();
    g_fake.chips = defaultChips();
    g_fake.eventsLine = nullptr;
    g_fake.raised = g_fake.read = g_fake.settled = 0;
}

void failDevice(const std::string& path, int error) {
    std::lock_guard<std::mutex> lock(g_fake.mutex);
    g_fake.deviceErrors[path] = error;
}

void failLineRequest(unsigned offset, int error) {
    std::lock_guard<std::mutex> lock(g_fake.mutex);
    g_fake.lineErrors[offset] = error;
}

void failI2cTransferAfter(int goodTransfers, int error) {
    std::lock_guard<std::mutex> lock(g_fake.mutex);
    g_fake.i2cFailAfter = goodTransfers;
    g_fake.i2cError = error;
}

void holdI2cLock(bool held) {
    std::lock_guard<std::mutex> lock(g_fake.mutex);
    g_fake.i2cLockHeld = held;
}

void interruptSleeps(int count) {
    std::lock_guard<std::mutex> lock(g_fake.mutex);
    g_fake.sleepsToInterrupt = count;
}

void interruptEventWaits(int count) {
    std::lock_guard<std::mutex> lock(g_fake.mutex);
    g_fake.waitsToInterrupt = count;
}

void failEventReads(int count, int error) {
    std::lock_guard<std::mutex> lock(g_fake.mutex);
    g_fake.readsToFail = count;
    g_fake.readError = error;
}

void refuseRealtimePriority() {
    std::lock_guard<std::mutex> lock(g_fake.mutex);
    g_fake.priorityRefused = true;
}

void setGpioChip(unsigned number, const std::string& label, bool header) {
    std::lock_guard<std::mutex> lock(g_fake.mutex);
    g_fake.chips[number] = makeChip(label, header);
}

void wireLine(unsigned offset, int pin) {
    std::lock_guard<std::mutex> lock(g_fake.mutex);
    g_fake.wiring[offset] = pin;
}

FakeDeviceCounts fakeDeviceCounts() {
    std::lock_guard<std::mutex> lock(g_fake.mutex);
    return g_fake.counts;
}

}  // namespace sim
