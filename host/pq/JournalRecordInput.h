// The module's half-cycle record (a DATA_ACQ of the host block's ring) as the
// analysis takes it. The only part of the analysis that knows the module.
#pragma once

#include "HalfCycleRecord.h"

struct DATA_ACQ;

namespace pq {

HalfCycleRecord halfCycleFromJournal(const DATA_ACQ& record);

}  // namespace pq
