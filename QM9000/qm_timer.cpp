#include "qm_timer.h"

#include "BoardIO.h"

bool socPeripheralBase(const uint8_t* pRanges, size_t nLength, unsigned nChildCells, unsigned nParentCells,
                       uint64_t& ullBase) {
    if (nParentCells == 0 || nParentCells > 2 || nChildCells > 4) return false;
    if (nLength < 4 * size_t{nChildCells + nParentCells}) return false;
    ullBase = 0;
    for (unsigned c = 0; c < nParentCells; c++) {
        const uint8_t* pCell = pRanges + 4 * (nChildCells + c);
        ullBase = (ullBase << 32) | (uint32_t(pCell[0]) << 24) | (uint32_t(pCell[1]) << 16) |
                  (uint32_t(pCell[2]) << 8) | pCell[3];
    }
    return true;
}

#ifdef QM_BOARD_TIMER

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

namespace {

constexpr const char* DEVICE_TREE = "/proc/device-tree";
constexpr uint64_t SYSTEM_TIMER_OFFSET = 0x3000;  // from the peripheral base
constexpr size_t COUNTER_LOW_OFFSET = 4;          // CLO: low 32 bits of the counter
constexpr size_t MAP_LENGTH = 4096;
constexpr unsigned CHECK_MICROS = 2000;     // how long the counter is watched before it is trusted
constexpr uint32_t CHECK_TOLERANCE = 1000;  // µs it may differ from the monotonic clock then

volatile const uint32_t* g_pSystemTimer = nullptr;

std::vector<uint8_t> readProperty(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

unsigned cellCount(const std::string& path, unsigned nDefault) {
    const std::vector<uint8_t> cells = readProperty(path);
    if (cells.size() != 4) return nDefault;
    return (unsigned(cells[0]) << 24) | (unsigned(cells[1]) << 16) | (unsigned(cells[2]) << 8) | cells[3];
}

// The system timer's CPU address, or why there is none.
bool systemTimerAddress(uint64_t& ullAddress, std::string& why) {
    const std::vector<uint8_t> ranges = readProperty(std::string(DEVICE_TREE) + "/soc/ranges");
    if (ranges.empty()) {
        why = "no SoC peripherals in the device tree";
        return false;
    }
    const unsigned nChild = cellCount(std::string(DEVICE_TREE) + "/soc/#address-cells", 1);
    const unsigned nParent = cellCount(std::string(DEVICE_TREE) + "/#address-cells", 1);
    uint64_t ullBase = 0;
    if (!socPeripheralBase(ranges.data(), ranges.size(), nChild, nParent, ullBase)) {
        why = "the device tree's SoC ranges cannot be read";
        return false;
    }
    ullAddress = ullBase + SYSTEM_TIMER_OFFSET;
    return true;
}

// Maps the timer's page read-only; null with `why` set when it cannot.
volatile const uint32_t* mapSystemTimer(uint64_t ullAddress, std::string& why) {
    const int fd = open("/dev/mem", O_RDONLY | O_SYNC | O_CLOEXEC);
    if (fd < 0) {
        why = std::string("/dev/mem: ") + strerror(errno);
        return nullptr;
    }
    void* pPage = mmap(nullptr, MAP_LENGTH, PROT_READ, MAP_SHARED, fd, static_cast<off_t>(ullAddress));
    const int nError = errno;
    close(fd);  // the mapping stays valid without the descriptor
    if (pPage == MAP_FAILED) {
        why = std::string("/dev/mem cannot map it: ") + strerror(nError);
        return nullptr;
    }
    return reinterpret_cast<volatile const uint32_t*>(static_cast<const char*>(pPage) + COUNTER_LOW_OFFSET);
}

// A mapping of something else than the timer does not count microseconds
// beside the monotonic clock.
bool countsMicroseconds(volatile const uint32_t* pCounter) {
    const uint32_t ulTimerStart = *pCounter, ulClockStart = micros();
    delayMicroseconds(CHECK_MICROS);
    const uint32_t ulTimer = *pCounter - ulTimerStart, ulClock = micros() - ulClockStart;
    return ulTimer + CHECK_TOLERANCE >= ulClock && ulTimer <= ulClock + CHECK_TOLERANCE;
}

bool openSystemTimer() {
    uint64_t ullAddress = 0;
    std::string why;
    volatile const uint32_t* pCounter = nullptr;
    if (systemTimerAddress(ullAddress, why) && (pCounter = mapSystemTimer(ullAddress, why))) {
        if (countsMicroseconds(pCounter)) {
            g_pSystemTimer = pCounter;
            printf("Microsecond counter: the system timer at 0x%llX\n",
                   static_cast<unsigned long long>(ullAddress));
            return true;
        }
        munmap(const_cast<char*>(reinterpret_cast<volatile const char*>(pCounter)) - COUNTER_LOW_OFFSET,
               MAP_LENGTH);
        why = "what is mapped there does not count microseconds";
    }
    printf("Microsecond counter: the board's monotonic clock (system timer not used: %s)\n", why.c_str());
    return false;
}

}  // namespace

bool clk_init() {
    static std::once_flag once;
    static bool bSystemTimer = false;
    std::call_once(once, [] { bSystemTimer = openSystemTimer(); });
    return bSystemTimer;
}

uint32_t clk_count() {
    return g_pSystemTimer ? *g_pSystemTimer : micros();
}

#else

bool clk_init() {
    return false;
}

uint32_t clk_count() {
    return micros();
}

#endif
