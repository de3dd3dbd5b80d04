#include "EventStateNote.h"

std::string eventStateNote(const StoredEvent& event) {
    std::string note;
    if (event.bIncomplete)
        note =
            "incomplete: the recorder stopped while the event went on, so it ends at its last stored record";
    if (event.bRecordsPruned)
        note += std::string(note.empty() ? "" : "; ") +
                "records pruned: they were deleted to keep the event database within its bound";
    return note;
}
