#include "GpioChip.h"

#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>

#include "Settings.h"
#include "System.h"

namespace board {

namespace {

constexpr int CHIPS_TRIED = 16;  // /dev/gpiochip0..15: past every chip a Pi's kernels have made
constexpr const char* FIRST_CHIP = "/dev/gpiochip0";
// A header line whose name tells the header's chip from the others: the Pi
// kernels name line N "GPION" there, while lines 0 and 1 have been "ID_SDA"
// and "ID_SCL", and other chips leave their lines unnamed or name them
// otherwise.
constexpr unsigned HEADER_PROBE_LINE = 17;
constexpr const char* HEADER_PROBE_NAME = "GPIO17";

std::mutex g_mutex;
bool g_bFound = false;  // g_path below is valid
std::string g_path;

std::string chipPath(int number) {
    return "/dev/gpiochip" + std::to_string(number);
}

// The first chip `matches` accepts, or "".
std::string firstChip(const std::function<bool(gpiod_chip*)>& matches) {
    for (int number = 0; number < CHIPS_TRIED; number++) {
        gpiod_chip* pChip = sys().chipOpen(chipPath(number).c_str());
        if (!pChip) continue;
        const bool bMatches = matches(pChip);
        sys().chipClose(pChip);
        if (bMatches) return chipPath(number);
    }
    return "";
}

bool hasLabel(gpiod_chip* pChip, const std::string& label) {
    const char* pszLabel = sys().chipLabel(pChip);
    return pszLabel && label == pszLabel;
}

bool carriesHeader(gpiod_chip* pChip) {
    gpiod_line* pLine = sys().chipGetLine(pChip, HEADER_PROBE_LINE);
    const char* pszName = pLine ? sys().lineName(pLine) : nullptr;
    return pszName && strcmp(pszName, HEADER_PROBE_NAME) == 0;
}

std::string findChip(const Settings& settings) {
    const std::string& setting = settings.gpioChip;
    if (!setting.empty() && setting[0] == '/') return setting;
    if (!setting.empty()) {
        const std::string path = firstChip([&](gpiod_chip* pChip) { return hasLabel(pChip, setting); });
        if (path.empty())
            printf("board: no GPIO chip of /dev/gpiochip0..%d is labelled \"%s\" (board file %s)\n",
                   CHIPS_TRIED - 1, setting.c_str(), settings.file.c_str());
        return path;
    }
    const std::string path = firstChip(carriesHeader);
    if (path.empty())
        printf(
            "board: no GPIO chip names line %u \"%s\" as the 40-pin header's chip does: using %s (set "
            "GpioChip in board file %s)\n",
            HEADER_PROBE_LINE, HEADER_PROBE_NAME, FIRST_CHIP, settings.file.c_str());
    else if (path != FIRST_CHIP)
        printf("board: the 40-pin header's lines are on %s: using it\n", path.c_str());
    return path.empty() ? FIRST_CHIP : path;
}

}  // namespace

std::string gpioChipPath() {
    const Settings& current = settings();
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_bFound) {
        g_path = findChip(current);
        fflush(stdout);
        g_bFound = true;
    }
    return g_path;
}

std::string gpioChipName() {
    const std::string path = gpioChipPath();
    return path.empty() ? settings().gpioChip : path;
}

void forgetGpioChip() {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_bFound = false;
    g_path.clear();
}

}  // namespace board
