#include "RegisterImageCache.h"

RegisterImageCache::RegisterImageCache(MeterSources sources, MeterIdentity identity,
                                       std::chrono::milliseconds period)
    : m_sources(std::move(sources)), m_identity(std::move(identity)), m_period(period) {}

std::shared_ptr<const RegisterImage> RegisterImageCache::current() {
    std::lock_guard<std::mutex> lock(m_mutex);
    const Clock::time_point now = Clock::now();
    if (!m_pImage || now - m_made >= m_period) {
        // Callers meanwhile wait for this one image: the reads take microseconds.
        m_pImage = std::make_shared<const RegisterImage>(readMeter(m_sources), m_identity);
        m_made = now;
        m_unBuilds++;
    }
    return m_pImage;
}

unsigned RegisterImageCache::builds() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_unBuilds;
}
