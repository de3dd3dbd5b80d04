#include "qm_timer.h"

#ifdef QM_BOARD_TIMER

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>

namespace {
constexpr off_t SYSTEM_TIMER_BASE = 0x3F003000;  // Broadcom system timer
constexpr size_t MAP_LENGTH = 4096;
constexpr size_t COUNTER_LOW_OFFSET = 4;  // CLO: low 32 bits of the counter
}  // namespace

volatile uint32_t* timer = nullptr;

bool clk_init() {
    const int fd = open("/dev/mem", O_RDONLY | O_SYNC);
    if (fd < 0) {
        puts("Mem open error");
        return false;
    }
    void* base = mmap(nullptr, MAP_LENGTH, PROT_READ, MAP_SHARED, fd, SYSTEM_TIMER_BASE);
    close(fd);  // the mapping stays valid without the descriptor
    if (base == MAP_FAILED) {
        puts("Map failed");
        return false;
    }
    timer = reinterpret_cast<volatile uint32_t*>(static_cast<char*>(base) + COUNTER_LOW_OFFSET);
    return true;
}

uint32_t clk_count() {
    return timer ? *timer : 0;
}

#else

#include "BoardIO.h"

bool clk_init() {
    return true;
}

uint32_t clk_count() {
    return micros();
}

#endif
