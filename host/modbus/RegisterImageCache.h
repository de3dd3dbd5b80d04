// The register image every Modbus client is served: made anew only when the
// last is older than the period, so any number of clients costs the module
// one set of reads a period, and each answer comes whole from one image.
#pragma once

#include <chrono>
#include <memory>
#include <mutex>

#include "RegisterImage.h"

class RegisterImageCache {
public:
    RegisterImageCache(MeterSources sources, MeterIdentity identity,
                       std::chrono::milliseconds period = std::chrono::milliseconds(100));

    // The latest image; safe from any thread. An image handed out is never
    // changed: a newer one replaces it.
    std::shared_ptr<const RegisterImage> current();
    // How many images it made.
    unsigned builds() const;

private:
    using Clock = std::chrono::steady_clock;
    const MeterSources m_sources;
    const MeterIdentity m_identity;
    const std::chrono::milliseconds m_period;
    mutable std::mutex m_mutex;
    std::shared_ptr<const RegisterImage> m_pImage;
    Clock::time_point m_made;
    unsigned m_unBuilds = 0;
};
