// COMTRADE 2013, as written here:
// - .cfg, one field list per line, fields separated by commas (no quoting, so
//   a comma or control character in the station name becomes a space; it is
//   cut to the 64 characters a text field may have):
//     station_name,rec_dev_id,rev_year         rev_year 2013
//     TT,##A,##D                               total, analog, digital (0D here)
//     An,ch_id,ph,ccbm,uu,a,b,skew,min,max,primary,secondary,PS   per analog channel
//     lf                                       nominal line frequency, 50 or 60
//     nrates                                   0: no fixed rate, the .dat times rule
//     samp,endsamp                             per rate; with nrates 0 one line "0,<last sample>"
//     dd/mm/yyyy,hh:mm:ss.ssssss               time of the first sample
//     dd/mm/yyyy,hh:mm:ss.ssssss               trigger time
//     ft                                       ASCII
//     timemult                                 1: the .dat times are microseconds
//     time_code,local_code                     +0h00,+0h00: the stamps are UTC
//     tmq_code,leapsec                         0,0
// - .dat (ASCII): per sample "n,timestamp,A1,...,An": n counts from 1, the
//   time stamp is in microseconds from the first sample, each analog value is
//   an integer x with the physical value a*x + b; a missing value is an empty
//   field.
// - Every line ends with CR LF.
// Each channel gets b = 0 and a = its largest magnitude / 32767: the samples
// stay within 16 bits, which every reader takes (and a binary file would
// hold), and a step is 1/32767 of the channel's peak, far finer than the
// meter's accuracy.
#include "ComtradeExport.h"

#include <charconv>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <vector>

#include "EventStateNote.h"
#include "ExportChannels.h"
#include "UtcTime.h"

namespace {

ComtradeFiles refused(const char* pszWhy) {
    ComtradeFiles files;
    files.refusal = pszWhy;
    return files;
}

constexpr int SAMPLE_LIMIT = 32767;
constexpr size_t TEXT_FIELD_MAX = 64;
constexpr uint64_t MAX_TIME_STAMP = 9999999999;
const char* const CRLF = "\r\n";

struct AnalogChannel {
    std::string name, phase, unit;
    std::vector<float> values;  // one per sample
};

struct Recording {
    std::string station;
    int lineFrequency;
    double rate;  // samples per second, 0 when the times are the samples' own
    int64_t llFirstMicros, llTriggerMicros;
    std::vector<int64_t> sampleMicros;  // from the first sample
    std::vector<AnalogChannel> channels;
};

std::string decimal(double x) {
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, x);
    return std::string(text, result.ptr);
}

std::string stamp(int64_t llMicros) {
    const UtcTime t = utcOfMicros(llMicros);
    char text[64];
    std::snprintf(text, sizeof text, "%02d/%02d/%04" PRId64 ",%02d:%02d:%02d.%06d", t.day, t.month, t.year,
                  t.hour, t.minute, t.second, t.microsecond);
    return text;
}

std::string textField(std::string text) {
    for (char& c : text)
        if (c == ',' || static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
    if (text.size() <= TEXT_FIELD_MAX) return text;
    size_t cut = TEXT_FIELD_MAX;  // not inside a UTF-8 character
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) cut--;
    return text.substr(0, cut);
}

int nearestLineFrequency(double hertz) {
    return hertz > 55 ? 60 : 50;
}

// The factor a as written in the .cfg (six significant digits, rounded up so
// the largest value still fits), and the factor the samples are made with.
double scaleOf(const std::vector<float>& values, std::string& written) {
    double peak = 0;
    for (float v : values)
        if (std::isfinite(v)) peak = std::fmax(peak, std::fabs(static_cast<double>(v)));
    if (peak == 0) {  // all zero or missing: any factor will do
        written = "1";
        return 1;
    }
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, peak / SAMPLE_LIMIT * (1 + 1e-5),
                                      std::chars_format::general, 6);
    written.assign(text, result.ptr);
    double a = 0;
    std::from_chars(text, result.ptr, a);
    return a;
}

ComtradeFiles comtradeOf(const Recording& r) {
    const size_t nChannels = r.channels.size(), nSamples = r.sampleMicros.size();
    ComtradeFiles files;
    std::string& cfg = files.cfg;
    cfg += textField(r.station) + ",QM9000,2013" + CRLF;
    cfg += std::to_string(nChannels) + "," + std::to_string(nChannels) + "A,0D" + CRLF;
    std::vector<double> scales;
    for (size_t c = 0; c < nChannels; c++) {
        const AnalogChannel& ch = r.channels[c];
        std::string aText;
        scales.push_back(scaleOf(ch.values, aText));
        cfg += std::to_string(c + 1) + "," + ch.name + "," + ch.phase + ",," + ch.unit + "," + aText +
               ",0,0," + std::to_string(-SAMPLE_LIMIT) + "," + std::to_string(SAMPLE_LIMIT) + ",1,1,P" + CRLF;
    }
    cfg += std::to_string(r.lineFrequency) + CRLF;
    if (r.rate > 0)
        cfg += std::string("1") + CRLF + decimal(r.rate) + "," + std::to_string(nSamples) + CRLF;
    else
        cfg += std::string("0") + CRLF + "0," + std::to_string(nSamples) + CRLF;
    cfg += stamp(r.llFirstMicros) + CRLF + stamp(r.llTriggerMicros) + CRLF;
    cfg += std::string("ASCII") + CRLF + "1" + CRLF + "+0h00,+0h00" + CRLF + "0,0" + CRLF;

    for (size_t s = 0; s < nSamples; s++) {
        files.dat += std::to_string(s + 1) + "," + std::to_string(r.sampleMicros[s]);
        for (size_t c = 0; c < nChannels; c++) {
            const float v = r.channels[c].values[s];
            files.dat += ",";
            if (std::isfinite(v)) files.dat += std::to_string(std::llround(v / scales[c]));
        }
        files.dat += CRLF;
    }
    return files;
}

// The mean of the phases' frequencies over the window is the line's;
// an interrupted phase reads 0 and does not count.
int lineFrequencyOf(const std::vector<StoredRecord>& records) {
    double sum = 0;
    int n = 0;
    for (const StoredRecord& rec : records)
        for (int p = 0; p < 3; p++) {
            const float f = rec.values[jrnl_FREQ_A + p];
            if (std::isfinite(f) && f > 0) {
                sum += f;
                n++;
            }
        }
    return nearestLineFrequency(n ? sum / n : 50);
}

}  // namespace

ComtradeFiles comtradeOfEvent(const StoredEvent& event, const std::string& station) {
    const std::vector<StoredRecord>& records = event.records;
    if (records.empty())
        return refused(event.bRecordsPruned ? "its records were pruned to keep the database within its bound"
                                            : "it has no records");
    Recording r{station, lineFrequencyOf(records), 0, records.front().llTimeMicros, event.llTriggerMicros, {},
                {}};
    // The records are written in stored order, each at its own time after the
    // first. A clock that stepped between two of them (NTP) cannot be: the
    // time stamps only grow and fit ten digits. From such a step on, a record
    // comes a nominal half-cycle after the one before, and the note says so.
    const uint64_t ullHalfCycle = static_cast<uint64_t>(1000000 / (2 * r.lineFrequency));
    uint64_t ullStamp = 0;
    std::string note;
    for (size_t i = 0; i < records.size(); i++) {
        if (i > 0) {
            // Unsigned, so no difference overflows; a step back wraps to a huge one.
            uint64_t ullApart = static_cast<uint64_t>(records[i].llTimeMicros) -
                                static_cast<uint64_t>(records[i - 1].llTimeMicros);
            if (ullApart > MAX_TIME_STAMP - ullStamp) {
                if (note.empty())
                    note =
                        "the record times step " +
                        std::string(records[i].llTimeMicros < records[i - 1].llTimeMicros ? "back" : "on") +
                        " at record " + std::to_string(i + 1) +
                        " (a clock step): written a half-cycle apart from there";
                ullApart = ullHalfCycle;
            }
            ullStamp += ullApart;
        }
        if (ullStamp > MAX_TIME_STAMP)
            return refused("its records span more than COMTRADE's 9999999999 microseconds (2.8 hours)");
        r.sampleMicros.push_back(static_cast<int64_t>(ullStamp));
    }
    for (const ExportChannel& ch : exportChannels()) {
        r.channels.push_back({ch.name, ch.phase, ch.unit, {}});
        for (const StoredRecord& rec : records) r.channels.back().values.push_back(rec.values[ch.index]);
    }
    ComtradeFiles files = comtradeOf(r);
    files.note = note;
    const std::string state = eventStateNote(event);
    if (!state.empty()) files.hdr = "event " + std::to_string(event.llId) + ": " + state + CRLF;
    return files;
}

ComtradeFiles comtradeOfSnapshot(const StoredSnapshot& snapshot, const std::string& station) {
    const double f = snapshot.dFrequency;
    if (!(f >= 1 && f <= 1000)) return refused("its frequency is no line frequency (1 to 1000 Hz)");
    const double rate = SNAPSHOT_SAMPLES * f;
    // Nothing triggers a snapshot: its time stands for both.
    Recording r{station, nearestLineFrequency(f), rate, snapshot.llTimeMicros, snapshot.llTimeMicros, {}, {}};
    for (int s = 0; s < SNAPSHOT_SAMPLES; s++) r.sampleMicros.push_back(std::llround(s * 1e6 / rate));
    static const char* const NAMES[SNAPSHOT_CHANNELS] = {"VA", "VB", "VC", "IA", "IB", "IC"};
    for (int c = 0; c < SNAPSHOT_CHANNELS; c++)
        r.channels.push_back({NAMES[c],
                              std::string(1, NAMES[c][1]),
                              c < 3 ? "V" : "A",
                              {snapshot.samples[c].begin(), snapshot.samples[c].end()}});
    return comtradeOf(r);
}
