// A recording window as CSV for spreadsheets: one row per record.
#pragma once

#include <string>

#include "StoredEvent.h"

// A header row (time, limit status, then the exported journal values of
// ExportChannels.h as "NAME [unit]") and one row per record; a window
// without records gives the header alone. An incomplete or pruned event
// says so in a last column, note.
std::string csvOfEvent(const StoredEvent& event);
