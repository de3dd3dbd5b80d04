// The host's writer: stores the records of each recording window the module
// opens (here it counts them), advancing the window as a real writer does.
#pragma once

#include <cstdint>

#include "RPi.h"

class RecordingWriter {
public:
    explicit RecordingWriter(STATUS_AND_CONTROL& stat) : m_stat(stat) {}

    // Takes whatever window is pending; returns the records stored now.
    unsigned drain();

    unsigned windows() const { return m_unWindows; }
    unsigned long records() const { return m_ulRecords; }

private:
    STATUS_AND_CONTROL& m_stat;
    unsigned m_unWindows = 0;
    unsigned long m_ulRecords = 0;
};
