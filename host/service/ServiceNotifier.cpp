#include "ServiceNotifier.h"

#include <systemd/sd-daemon.h>

ServiceNotifier::ServiceNotifier() {
    uint64_t ullWatchdogMicros = 0;
    if (sd_watchdog_enabled(0, &ullWatchdogMicros) > 0 && ullWatchdogMicros > 0)
        m_ullWatchdogEveryMicros = ullWatchdogMicros / 2;
}

void ServiceNotifier::ready(const std::string& status) {
    sd_notifyf(0, "READY=1\nSTATUS=%s", status.c_str());
}

void ServiceNotifier::status(const std::string& status) {
    sd_notifyf(0, "STATUS=%s", status.c_str());
}

void ServiceNotifier::watchdog(uint64_t ullNowMicros) {
    if (m_bFedOnce && ullNowMicros - m_ullLastFedMicros < m_ullWatchdogEveryMicros) return;
    sd_notify(0, "WATCHDOG=1");
    m_ullLastFedMicros = ullNowMicros;
    m_bFedOnce = true;
}

void ServiceNotifier::stopping() {
    sd_notify(0, "STOPPING=1");
}
