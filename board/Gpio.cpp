// Board functions of QMCommon/BoardIO.h (one source per device); releaseGpio of Devices.h.
// GPIO on the GPIO character device through libgpiod: output lines for the
// module's pins, and falling-edge events on the IRQ1 line, each handed to the
// module's routine by one dedicated thread.
#include <pthread.h>
#include <sched.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "BoardIO.h"
#include "Devices.h"
#include "GpioChip.h"
#include "Settings.h"
#include "System.h"

namespace {

constexpr const char* CONSUMER = "qm9000";
constexpr long EVENT_WAIT_NANOS = 100000000;    // how soon the thread sees a stop
constexpr int INTERRUPT_PRIORITY = 50;          // SCHED_FIFO, when the process may have it
constexpr long READ_BACKOFF_NANOS = 100000000;  // between reads of a line that keeps failing them

std::mutex g_mutex;  // the chip and the output lines
gpiod_chip* g_pChip = nullptr;
bool g_bChipReported = false;          // its failure is told once, not at every pin call
std::map<int, gpiod_line*> g_outputs;  // by module pin

struct Interrupt {
    std::thread thread;
    std::atomic<bool> bStop{false};
    gpiod_line* pLine = nullptr;
} g_interrupt;

std::string describeLine(int pin) {
    return board::gpioChipName() + " line " + std::to_string(board::settings().lineOf(pin)) + " (pin " +
           std::to_string(pin) + ")";
}

// The pin's line of the chip, opening the chip at first use; null after a
// reported failure (a label no chip has is reported where it is looked up).
// Holds g_mutex.
gpiod_line* lineLocked(int pin) {
    if (!g_pChip) {
        const std::string path = board::gpioChipPath();
        g_pChip = path.empty() ? nullptr : board::sys().chipOpen(path.c_str());
        if (!g_pChip) {
            if (!g_bChipReported && !path.empty())
                board::detail::reportDeviceError("cannot open GPIO chip", path, errno);
            g_bChipReported = true;
            return nullptr;
        }
    }
    gpiod_line* pLine = board::sys().chipGetLine(g_pChip, board::settings().lineOf(pin));
    if (!pLine) board::detail::reportDeviceError("no GPIO line", describeLine(pin), errno);
    return pLine;
}

int biasFlags(board::LineBias bias) {
    switch (bias) {
        case board::LineBias::PullUp:
            return GPIOD_LINE_REQUEST_FLAG_BIAS_PULL_UP;
        case board::LineBias::PullDown:
            return GPIOD_LINE_REQUEST_FLAG_BIAS_PULL_DOWN;
        case board::LineBias::AsIs:
            break;
    }
    return 0;  // no bias flag: the line keeps the bias it has
}

gpiod_line* requestOutputLocked(int pin, int value) {
    const auto it = g_outputs.find(pin);
    if (it != g_outputs.end()) return it->second;
    gpiod_line* pLine = lineLocked(pin);
    if (!pLine) return nullptr;
    if (board::sys().lineRequestOutput(pLine, CONSUMER, value) < 0) {
        board::detail::reportDeviceError("cannot drive GPIO", describeLine(pin), errno);
        return nullptr;
    }
    g_outputs[pin] = pLine;
    return pLine;
}

// Without the right to it (the service's LimitRTPRIO, or CAP_SYS_NICE) the
// thread runs on at normal priority; said once per process.
void raisePriority() {
    static std::atomic<bool> s_bRefusalSaid{false};
    sched_param param{};
    param.sched_priority = INTERRUPT_PRIORITY;
    const int error = board::sys().threadSetSchedParam(pthread_self(), SCHED_FIFO, &param);
    if (error != 0 && !s_bRefusalSaid.exchange(true)) {
        printf(
            "board: the interrupt thread runs at normal priority: SCHED_FIFO %d refused (%s); the "
            "service's LimitRTPRIO=%d or CAP_SYS_NICE grants it\n",
            INTERRUPT_PRIORITY, strerror(error), INTERRUPT_PRIORITY);
        fflush(stdout);
    }
}

// A signal only restarts the wait. A line whose events cannot be read stays
// ready, so the thread backs off between reads instead of spinning, and says
// so once until a read succeeds again. Any other wait failure ends it.
void runInterrupts(gpiod_line* pLine, std::string line, void (*routine)(void)) {
    raisePriority();
    const timespec timeout{0, EVENT_WAIT_NANOS};
    const timespec backOff{0, READ_BACKOFF_NANOS};
    bool bReadsFailing = false;
    while (!g_interrupt.bStop.load()) {
        const int result = board::sys().lineEventWait(pLine, &timeout);
        if (result < 0 && errno == EINTR) continue;
        if (result < 0) {
            board::detail::reportDeviceError("interrupts stopped: cannot wait on GPIO", line, errno);
            return;
        }
        if (result == 0) continue;
        gpiod_line_event event{};
        if (board::sys().lineEventRead(pLine, &event) < 0) {
            if (!bReadsFailing) board::detail::reportDeviceError("cannot read events of GPIO", line, errno);
            bReadsFailing = true;
            board::sys().clockNanosleep(CLOCK_MONOTONIC, 0, &backOff, nullptr);
            continue;
        }
        bReadsFailing = false;
        if (event.event_type == GPIOD_LINE_EVENT_FALLING_EDGE) routine();
    }
}

void stopInterrupts() {
    if (g_interrupt.thread.joinable()) {
        g_interrupt.bStop.store(true);
        g_interrupt.thread.join();
    }
    if (g_interrupt.pLine) board::sys().lineRelease(g_interrupt.pLine);
    g_interrupt.pLine = nullptr;
    g_interrupt.bStop.store(false);
}

}  // namespace

void pinMode(int pin, int mode) {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (mode != BOARD_OUTPUT) {
        printf("board: pinMode %d on pin %d: only outputs are driven here\n", mode, pin);
        return;
    }
    requestOutputLocked(pin, 0);
}

void digitalWrite(int pin, int value) {
    std::lock_guard<std::mutex> lock(g_mutex);
    const int level = value ? 1 : 0;
    // A pin written without pinMode becomes an output at that level.
    const bool bRequested = g_outputs.count(pin) != 0;
    gpiod_line* pLine = requestOutputLocked(pin, level);
    if (pLine && bRequested && board::sys().lineSetValue(pLine, level) < 0)
        board::detail::reportDeviceError("cannot set GPIO", describeLine(pin), errno);
}

int wiringPiISR(int pin, int edgeType, void (*function)(void)) {
    if (edgeType != BOARD_INT_EDGE_FALLING || function == nullptr) {
        printf("board: wiringPiISR on pin %d: only falling edges with a routine are handled\n", pin);
        return -1;
    }
    std::lock_guard<std::mutex> lock(g_mutex);
    stopInterrupts();
    gpiod_line* pLine = lineLocked(pin);
    if (!pLine) return -1;
    if (board::sys().lineRequestFallingEdgeEventsFlags(pLine, CONSUMER,
                                                       biasFlags(board::settings().irqBias)) < 0) {
        board::detail::reportDeviceError("cannot watch GPIO", describeLine(pin), errno);
        return -1;
    }
    g_interrupt.pLine = pLine;
    g_interrupt.thread = std::thread(runInterrupts, pLine, describeLine(pin), function);
    return 0;
}

namespace board::detail {

void releaseGpio() {
    std::lock_guard<std::mutex> lock(g_mutex);
    stopInterrupts();
    for (const auto& [pin, pLine] : g_outputs) sys().lineRelease(pLine);
    g_outputs.clear();
    if (g_pChip) sys().chipClose(g_pChip);
    g_pChip = nullptr;
    g_bChipReported = false;
}

}  // namespace board::detail
