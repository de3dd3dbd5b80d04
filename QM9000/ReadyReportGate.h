// Lets through at most one ready report of a kind per half accumulation
// period. A status bit that reads set on every call (stuck, or a lost
// write-1-to-clear) would otherwise add the same energy on every process call.
#pragma once

#include <cstdint>
#include <cstdio>

class ReadyReportGate {
public:
    static constexpr uint32_t MIN_MILLIS = 500;  // the chip reports once a second

    explicit ReadyReportGate(const char* pszName) : m_pszName(pszName) {}

    bool accept(uint32_t ulNowMillis) {
        if (m_bAccepted && ulNowMillis - m_ulLastMillis < MIN_MILLIS) {
            if (!m_bToldIgnored)
                printf("STATUS0: %s report ignored, less than %u msec after the last one\r\n", m_pszName,
                       static_cast<unsigned>(MIN_MILLIS));
            m_bToldIgnored = true;
            return false;
        }
        m_bAccepted = true;
        m_ulLastMillis = ulNowMillis;
        return true;
    }

private:
    const char* m_pszName;
    bool m_bAccepted = false;
    bool m_bToldIgnored = false;
    uint32_t m_ulLastMillis = 0;
};
