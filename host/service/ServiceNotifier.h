// What the service manager hears from the meter (the notify protocol of
// systemd): ready once it measures, the watchdog fed while records are made,
// a status line, stopping. Outside a service every call does nothing.
#pragma once

#include <cstdint>
#include <string>

class ServiceNotifier {
public:
    ServiceNotifier();
    void ready(const std::string& status);
    void status(const std::string& status);
    // Feeds the watchdog, at most twice per watchdog period (or once a
    // second when the service has none).
    void watchdog(uint64_t ullNowMicros);
    void stopping();

private:
    uint64_t m_ullWatchdogEveryMicros = 1000000;
    uint64_t m_ullLastFedMicros = 0;
    bool m_bFedOnce = false;
};
