#include "JournalRecordInput.h"

#include "JournalTables.h"

namespace pq {

HalfCycleRecord halfCycleFromJournal(const DATA_ACQ& record) {
    const float* pfJournal = record.m_fJournal;
    HalfCycleRecord input;
    input.llTimeMicros = int64_t{record.m_tvSeconds} * 1000000 + record.m_tvMicroSeconds;
    for (int p = 0; p < PHASES; p++) {
        input.volts[p] = pfJournal[jrnl_VRMS1_A + p];
        input.amps[p] = pfJournal[jrnl_IRMS1_A + p];
        input.voltDegrees[p] = pfJournal[jrnl_VANGLE_A + p];
        input.voltThdPercent[p] = pfJournal[jrnl_VTHD_A + p];
        input.watts[p] = pfJournal[jrnl_WATT_A + p];
        input.vars[p] = pfJournal[jrnl_VAR_A + p];
    }
    // The first phase that has a period: phase A may be the one lost.
    for (int p = 0; p < PHASES && !(input.dHz > 0); p++) input.dHz = pfJournal[jrnl_FREQ_A + p];
    return input;
}

}  // namespace pq
