// CSV as RFC 4180 has it: fields separated by commas, records ending with
// CR LF, and a field holding a comma, a double quote or a line break enclosed
// in double quotes with its own double quotes doubled. Here:
// - time: ISO 8601 in UTC with microseconds, 2024-02-29T23:59:59.995000Z;
// - limit status: the record's limit bits in hexadecimal, 0x00000004;
// - each value in its shortest form that reads back as the same float; a
//   missing (not finite) value is an empty field;
// - an event incomplete or pruned (EventStateNote.h) has a last column, note,
//   that says so in the first row; one without records has that row alone.
#include "CsvExport.h"

#include <charconv>
#include <cinttypes>
#include <cmath>
#include <cstdio>

#include "EventStateNote.h"
#include "ExportChannels.h"
#include "UtcTime.h"

namespace {

const char* const CRLF = "\r\n";

std::string csvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

std::string value(float v) {
    if (!std::isfinite(v)) return "";
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, v);
    return std::string(text, result.ptr);
}

}  // namespace

std::string csvOfEvent(const StoredEvent& event) {
    const std::string note = eventStateNote(event);
    std::string csv = "time,limit status";
    for (const ExportChannel& ch : exportChannels()) csv += "," + csvField(ch.name + " [" + ch.unit + "]");
    csv += (note.empty() ? "" : ",note") + std::string(CRLF);
    for (size_t r = 0; r < event.records.size(); r++) {
        const StoredRecord& rec = event.records[r];
        char status[16];
        std::snprintf(status, sizeof status, "0x%08" PRIX32, rec.ulLimitStatus);
        csv += isoOfMicros(rec.llTimeMicros) + "," + status;
        for (const ExportChannel& ch : exportChannels()) csv += "," + value(rec.values[ch.index]);
        if (!note.empty()) csv += "," + (r == 0 ? csvField(note) : "");
        csv += CRLF;
    }
    if (event.records.empty() && !note.empty())
        csv += std::string(exportChannels().size() + 1, ',') + "," + csvField(note) + CRLF;
    return csv;
}
