#include "LiveView.h"

#include <cstdarg>
#include <cstdio>

#include "AccumulatorTables.h"
#include "JournalTables.h"
#include "Requests.h"

namespace {

void line(std::string& screen, const char* pszFormat, ...) __attribute__((format(printf, 2, 3)));
void line(std::string& screen, const char* pszFormat, ...) {
    char szLine[256];
    va_list args;
    va_start(args, pszFormat);
    vsnprintf(szLine, sizeof(szLine), pszFormat, args);
    va_end(args);
    screen += szLine;
    screen += "\n";
}

void phaseRow(std::string& screen, const char* pszName, const char* pszFormat, const float* pfJournal,
              int nFirst, int nTotal) {
    char szRow[160];
    int n = snprintf(szRow, sizeof(szRow), "  %-12s", pszName);
    for (int p = 0; p < 3; p++) n += snprintf(szRow + n, sizeof(szRow) - n, pszFormat, pfJournal[nFirst + p]);
    if (nTotal >= 0) snprintf(szRow + n, sizeof(szRow) - n, pszFormat, pfJournal[nTotal]);
    screen += szRow;
    screen += "\n";
}

}  // namespace

std::string renderLiveView(MeasSOM& module, STATUS_AND_CONTROL& stat, const RecorderCounts& recorded,
                           double dSeconds, const std::string& boardLine) {
    float fMap[MODBUS_FLOATS] = {};     // journal, interval energy, running energy
    float fEnergy[ENERGY_FLOATS] = {};  // interval energy, running energy, peak demand
    module.realtimeGet(REQ_MODBUS, fMap, sizeof(fMap));
    module.realtimeGet(REQ_ENERGY, fEnergy, sizeof(fEnergy));
    const float* pfJournal = fMap;
    const float* pfEnergyAccum = fEnergy;
    const float* pfDemandMax = fEnergy + 2 * accum_ENERGY_MAX;

    std::string screen = "\x1b[H\x1b[2J";  // home, clear
    line(screen, "QM9000 meter   t = %.0f s   %s", dSeconds, boardLine.c_str());
    line(screen, "%s", "");
    line(screen, "  %-12s%12s%12s%12s%12s", "", "A", "B", "C", "Total");
    phaseRow(screen, "Hz", "%12.3f", pfJournal, jrnl_FREQ_A, -1);
    phaseRow(screen, "V", "%12.2f", pfJournal, jrnl_VRMS_A, -1);
    phaseRow(screen, "I", "%12.3f", pfJournal, jrnl_IRMS_A, -1);
    phaseRow(screen, "W", "%12.1f", pfJournal, jrnl_WATT_A, jrnl_TOT_WATT);
    phaseRow(screen, "VA", "%12.1f", pfJournal, jrnl_VA_A, jrnl_TOT_VA);
    phaseRow(screen, "VAR", "%12.1f", pfJournal, jrnl_VAR_A, jrnl_TOT_VAR);
    phaseRow(screen, "PF", "%12.3f", pfJournal, jrnl_PF_A, jrnl_TOT_PF);
    phaseRow(screen, "THD V %", "%12.2f", pfJournal, jrnl_VTHD_A, -1);
    phaseRow(screen, "THD I %", "%12.2f", pfJournal, jrnl_ITHD_A, -1);
    phaseRow(screen, "V angle", "%12.2f", pfJournal, jrnl_VANGLE_A, -1);
    phaseRow(screen, "I angle", "%12.2f", pfJournal, jrnl_IANGLE_A, -1);
    line(screen, "  %-12s%12.3f", "Neutral I", pfJournal[jrnl_NIRMS]);
    line(screen, "%s", "");
    phaseRow(screen, "Wh interval", "%12.3f", pfEnergyAccum, accum_AWATTHR, accum_TOT_WATTHR);
    phaseRow(screen, "Peak W", "%12.1f", pfDemandMax, accum_AWATT_ACC, accum_TOT_WATT_ACC);
    line(screen, "%s", "");
    const uint32_t ulLimits = stat.s_ulLimitStatusBits;
    const uint16_t unFlags = stat.s_unSignalValidFlags;
    line(screen, "  limits 0x%08X   signal flags 0x%04X", ulLimits, unFlags);
    if (!recorded.bRecording) {
        line(screen, "  NOT RECORDING%s%s", recorded.lastError.empty() ? "" : ": ",
             recorded.lastError.c_str());
    } else {
        line(screen,
             "  stored: %u windows (%lu records), %u intervals   pending %u   retried %u   dropped %u   lost "
             "%u",
             recorded.unWindows, recorded.ulRecords, recorded.unIntervals,
             recorded.unPendingWindows + recorded.unPendingIntervals, recorded.unRetriedWrites,
             recorded.unDroppedWindows + recorded.unDroppedIntervals, recorded.unLostWindows);
        if (!recorded.lastError.empty()) line(screen, "  recorder: %s", recorded.lastError.c_str());
    }
    line(screen, "%s", "");
    line(screen, "%s",
         "  keys + Enter: j = JSON values, s = scaled JSON values, r = register list, q = quit");
    return screen;
}
