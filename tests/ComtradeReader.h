// A minimal COMTRADE (ASCII) and CSV reader of the tests' own, independent of
// the exporters: the texts split into fields, the channels' scaling, and each
// sample checked against the float it stands for, by the journal's own list.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "ComtradeExport.h"

using Fields = std::vector<std::string>;

Fields split(const std::string& text, const std::string& separator);
// The comma-separated fields of each line; every line must end with CR LF.
std::vector<Fields> rows(const std::string& text);

struct Comtrade {
    Fields lines, ids;  // lines: the .cfg but the channels'; ids: each channel's "name,phase,unit"
    std::vector<std::array<double, 4>> scales;  // a, b, min, max
    std::vector<Fields> dat;
};

Comtrade readComtrade(const ComtradeFiles& files);

// The 70 journal values in record order, "name,phase,unit" (N: neutral; none: total).
Fields journal();
// The positions an export carries: not power factors (no unit), distortion (%) or angles.
std::vector<int> exportedPositions();
// Every channel's samples against the floats they stand for, within half a
// step, and the step fine enough that the largest value spans the 16 bits.
// `micros`: each sample's time from the first.
void expectSamples(const Comtrade& r, const std::vector<std::vector<float>>& values,
                   const std::vector<double>& micros);
// A window's COMTRADE record against its records: a channel per exported value, a sample per record.
void expectRecords(const Comtrade& r, const std::vector<StoredRecord>& records);
