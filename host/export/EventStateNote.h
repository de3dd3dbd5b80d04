// What a reader of an exported event must know that its records do not show.
#pragma once

#include <string>

#include "StoredEvent.h"

// "incomplete: ..." for an event a stop of the recorder cut, "records
// pruned: ..." for one whose records were deleted to keep the database within
// its bound; both joined by "; "; empty for a whole event.
std::string eventStateNote(const StoredEvent& event);
