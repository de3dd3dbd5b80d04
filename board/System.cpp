// Also bindSystem and release of BoardControl.h: they set the table this file holds.
// The system's side of the seam. libgpiod is loaded when the GPIO is first
// used, so the library (and every host built on it) also starts on a machine
// without it; its absence is then one message and a failed GPIO call.
#include "System.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <mutex>

#include "BoardControl.h"

namespace board {

namespace {

constexpr const char* GPIOD_LIBRARY = "libgpiod.so.2";

// libgpiod's functions, looked up once; every entry null when it is missing.
struct Gpiod {
    decltype(&gpiod_chip_open) chipOpen = nullptr;
    decltype(&gpiod_chip_close) chipClose = nullptr;
    decltype(&gpiod_chip_label) chipLabel = nullptr;
    decltype(&gpiod_chip_get_line) chipGetLine = nullptr;
    decltype(&gpiod_line_request_output) lineRequestOutput = nullptr;
    decltype(&gpiod_line_name) lineName = nullptr;
    decltype(&gpiod_line_request_falling_edge_events_flags) lineRequestFallingEdgeEventsFlags = nullptr;
    decltype(&gpiod_line_set_value) lineSetValue = nullptr;
    decltype(&gpiod_line_event_wait) lineEventWait = nullptr;
    decltype(&gpiod_line_event_read) lineEventRead = nullptr;
    decltype(&gpiod_line_release) lineRelease = nullptr;
};

template <typename Function>
bool lookUp(void* pLibrary, const char* pszName, Function& function) {
    function = reinterpret_cast<Function>(dlsym(pLibrary, pszName));
    return function != nullptr;
}

const Gpiod& gpiod() {
    static Gpiod functions;
    static std::once_flag once;
    std::call_once(once, [] {
        void* pLibrary = dlopen(GPIOD_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        Gpiod found;
        if (pLibrary && lookUp(pLibrary, "gpiod_chip_open", found.chipOpen) &&
            lookUp(pLibrary, "gpiod_chip_close", found.chipClose) &&
            lookUp(pLibrary, "gpiod_chip_label", found.chipLabel) &&
            lookUp(pLibrary, "gpiod_chip_get_line", found.chipGetLine) &&
            lookUp(pLibrary, "gpiod_line_request_output", found.lineRequestOutput) &&
            lookUp(pLibrary, "gpiod_line_name", found.lineName) &&
            lookUp(pLibrary, "gpiod_line_request_falling_edge_events_flags",
                   found.lineRequestFallingEdgeEventsFlags) &&
            lookUp(pLibrary, "gpiod_line_set_value", found.lineSetValue) &&
            lookUp(pLibrary, "gpiod_line_event_wait", found.lineEventWait) &&
            lookUp(pLibrary, "gpiod_line_event_read", found.lineEventRead) &&
            lookUp(pLibrary, "gpiod_line_release", found.lineRelease))
            functions = found;
        else
            printf("board: cannot use %s (install libgpiod2): %s\n", GPIOD_LIBRARY, dlerror());
    });
    return functions;
}

// Only chipOpen can be reached without the library: nothing else gets a chip.
gpiod_chip* systemChipOpen(const char* path) {
    if (!gpiod().chipOpen) {
        errno = ENOSYS;
        return nullptr;
    }
    return gpiod().chipOpen(path);
}

const System g_system{
    [](const char* path, int flags) { return ::open(path, flags | O_CLOEXEC); },
    ::close,
    [](int fd, unsigned long request, void* arg) { return ::ioctl(fd, request, arg); },
    ::read,
    ::write,
    ::flock,
    ::clock_nanosleep,
    ::clock_gettime,
    ::pthread_setschedparam,
    systemChipOpen,
    [](gpiod_chip* chip) { gpiod().chipClose(chip); },
    [](gpiod_chip* chip) { return gpiod().chipLabel(chip); },
    [](gpiod_chip* chip, unsigned offset) { return gpiod().chipGetLine(chip, offset); },
    [](gpiod_line* line) { return gpiod().lineName(line); },
    [](gpiod_line* line, const char* consumer, int value) {
        return gpiod().lineRequestOutput(line, consumer, value);
    },
    [](gpiod_line* line, const char* consumer, int flags) {
        return gpiod().lineRequestFallingEdgeEventsFlags(line, consumer, flags);
    },
    [](gpiod_line* line, int value) { return gpiod().lineSetValue(line, value); },
    [](gpiod_line* line, const timespec* timeout) { return gpiod().lineEventWait(line, timeout); },
    [](gpiod_line* line, gpiod_line_event* event) { return gpiod().lineEventRead(line, event); },
    [](gpiod_line* line) { gpiod().lineRelease(line); },
};

std::atomic<const System*> g_pBound{&g_system};

}  // namespace

const System& sys() {
    return *g_pBound.load();
}

namespace detail {
void releaseAll();
}

void bindSystem(const System* system) {
    detail::releaseAll();
    g_pBound.store(system ? system : &g_system);
}

void release() {
    detail::releaseAll();
}

}  // namespace board
