// The one seam between the board functions and the system: every device call
// they make goes through this table. On the board it holds the system calls
// and libgpiod's functions; tests bind it to a fake device layer.
#pragma once

#include <gpiod.h>
#include <pthread.h>
#include <sys/types.h>
#include <time.h>

namespace board {

struct System {
    // Same contracts as the system calls: -1 with errno set on failure.
    int (*open)(const char* path, int flags);
    int (*close)(int fd);
    int (*ioctl)(int fd, unsigned long request, void* arg);
    ssize_t (*read)(int fd, void* buf, size_t count);
    ssize_t (*write)(int fd, const void* buf, size_t count);
    int (*flock)(int fd, int operation);
    // Returns 0 or an error number, as clock_nanosleep does.
    int (*clockNanosleep)(clockid_t clock, int flags, const timespec* request, timespec* remain);
    int (*clockGettime)(clockid_t clock, timespec* now);
    // Returns 0 or an error number, as pthread_setschedparam does.
    int (*threadSetSchedParam)(pthread_t thread, int policy, const sched_param* param);

    // libgpiod (v1 API): null or -1 with errno set on failure.
    gpiod_chip* (*chipOpen)(const char* path);
    void (*chipClose)(gpiod_chip* chip);
    const char* (*chipLabel)(gpiod_chip* chip);
    gpiod_line* (*chipGetLine)(gpiod_chip* chip, unsigned int offset);
    const char* (*lineName)(gpiod_line* line);  // null for an unnamed line
    int (*lineRequestOutput)(gpiod_line* line, const char* consumer, int value);
    // `flags`: GPIOD_LINE_REQUEST_FLAG_BIAS_* (0 leaves the line's bias as it is).
    int (*lineRequestFallingEdgeEventsFlags)(gpiod_line* line, const char* consumer, int flags);
    int (*lineSetValue)(gpiod_line* line, int value);
    int (*lineEventWait)(gpiod_line* line, const timespec* timeout);
    int (*lineEventRead)(gpiod_line* line, gpiod_line_event* event);
    void (*lineRelease)(gpiod_line* line);
};

// The table in use: the system's unless a test bound another.
const System& sys();

}  // namespace board
