// A recording window or a waveform snapshot as a COMTRADE record (IEEE
// C37.111-2013 / IEC 60255-24): the configuration file and the ASCII data
// file, as texts for the caller to store as <name>.cfg and <name>.dat.
#pragma once

#include <string>

#include "StoredEvent.h"

struct ComtradeFiles {
    std::string cfg, dat;
    std::string refusal;  // why there is nothing to write
    std::string note;     // what the writer had to change (a clock step), to be said once
    // The optional header file (<name>.hdr, free text): what the records do
    // not show (EventStateNote.h); empty when there is nothing to say.
    std::string hdr;
    // Nothing to write: both texts are empty.
    bool empty() const { return cfg.empty(); }
};

// One analog channel per exported journal value (ExportChannels.h), one
// sample per record, in stored order, at the record's own time; across a
// clock step, a nominal half-cycle after the record before (said in the
// note). Empty, with the refusal said, for a window without records (or
// whose records were pruned) or whose records span more than 9999999999 µs.
ComtradeFiles comtradeOfEvent(const StoredEvent& event, const std::string& station);

// The six inputs over one cycle, 128 samples at 128 times the line frequency.
// Empty when the snapshot's frequency is not a line frequency (1 to 1000 Hz).
ComtradeFiles comtradeOfSnapshot(const StoredSnapshot& snapshot, const std::string& station);
