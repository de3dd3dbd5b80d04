#include "ComtradeReader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

Fields split(const std::string& text, const std::string& separator) {
    Fields parts;
    size_t from = 0;
    for (size_t at; (at = text.find(separator, from)) != std::string::npos; from = at + separator.size())
        parts.push_back(text.substr(from, at - from));
    parts.push_back(text.substr(from));
    return parts;
}

std::vector<Fields> rows(const std::string& text) {
    Fields lines = split(text, "\r\n");
    EXPECT_EQ(lines.back(), "") << "text not ending with CR LF";
    std::vector<Fields> out;
    for (size_t i = 0; i + 1 < lines.size(); i++) out.push_back(split(lines[i], ","));
    return out;
}

Fields journal() {
    return split(
        "FREQ_A,A,Hz FREQ_B,B,Hz FREQ_C,C,Hz VRMS_A,A,V VRMS_B,B,V VRMS_C,C,V IRMS_A,A,A IRMS_B,B,A "
        "IRMS_C,C,A WATT_A,A,W WATT_B,B,W WATT_C,C,W VA_A,A,VA VA_B,B,VA VA_C,C,VA VAR_A,A,var VAR_B,B,var "
        "VAR_C,C,var PF_A,A, PF_B,B, PF_C,C, VTHD_A,A,% VTHD_B,B,% VTHD_C,C,% ITHD_A,A,% ITHD_B,B,% "
        "ITHD_C,C,% FVRMS_A,A,V FVRMS_B,B,V FVRMS_C,C,V FIRMS_A,A,A FIRMS_B,B,A FIRMS_C,C,A FWATT_A,A,W "
        "FWATT_B,B,W FWATT_C,C,W FVA_A,A,VA FVA_B,B,VA FVA_C,C,VA FVAR_A,A,var FVAR_B,B,var FVAR_C,C,var "
        "VRMS1_A,A,V VRMS1_B,B,V VRMS1_C,C,V IRMS1_A,A,A IRMS1_B,B,A IRMS1_C,C,A VRMS1012_A,A,V "
        "VRMS1012_B,B,V VRMS1012_C,C,V IRMS1012_A,A,A IRMS1012_B,B,A IRMS1012_C,C,A VANGLE_A,A,deg "
        "VANGLE_B,B,deg VANGLE_C,C,deg IANGLE_A,A,deg IANGLE_B,B,deg IANGLE_C,C,deg NIRMS,N,A NIRMSONE,N,A "
        "NIRMS1012,N,A TOT_WATT,,W TOT_VA,,VA TOT_VAR,,var TOT_PF,, TOT_FWATT,,W TOT_FVA,,VA TOT_FVAR,,var",
        " ");
}

std::vector<int> exportedPositions() {
    std::vector<int> positions;
    for (int p = 0; p < 70; p++)
        if (const std::string unit = split(journal()[p], ",")[2]; unit != "" && unit != "%" && unit != "deg")
            positions.push_back(p);
    return positions;
}

Comtrade readComtrade(const ComtradeFiles& files) {
    const std::vector<Fields> cfg = rows(files.cfg);
    Comtrade r{{}, {}, {}, rows(files.dat)};
    const std::string n = cfg.at(1).at(0);
    for (size_t i = 0; i < cfg.size(); i++) {
        const Fields& f = cfg[i];
        if (i < 2 || i >= 2 + std::stoul(n)) {
            r.lines.push_back(f[0] + (f.size() > 1 ? "," + f[1] : "") + (f.size() > 2 ? "," + f[2] : ""));
            continue;
        }
        EXPECT_TRUE(f.size() == 13 && f[0] == std::to_string(i - 1)) << files.cfg;
        r.ids.push_back(f.at(1) + "," + f.at(2) + "," + f.at(4));
        r.scales.push_back({std::stod(f.at(5)), std::stod(f.at(6)), std::stod(f.at(8)), std::stod(f.at(9))});
    }
    return r;
}

void expectSamples(const Comtrade& r, const std::vector<std::vector<float>>& values,
                   const std::vector<double>& micros) {
    ASSERT_EQ(r.dat.size(), micros.size());
    std::vector<long> peaks(r.ids.size());
    for (size_t s = 0; s < micros.size(); s++) {
        const Fields& row = r.dat[s];
        ASSERT_EQ(row.size(), 2 + r.ids.size());
        EXPECT_EQ(row[0], std::to_string(s + 1));
        EXPECT_NEAR(std::stod(row[1]), micros[s], 0.5) << "sample " << s;
        for (size_t c = 0; c < r.ids.size(); c++) {
            const auto [a, b, min, max] = r.scales[c];
            const float x = values.at(c).at(s);
            const long q = row[2 + c] == "" ? 0 : std::stol(row[2 + c]);
            EXPECT_EQ(row[2 + c] == "", !std::isfinite(x)) << r.ids[c] << " sample " << s;
            EXPECT_TRUE(q >= min && q <= max && min >= -32767 && max <= 32767) << r.ids[c] << " " << q;
            if (std::isfinite(x)) {
                EXPECT_NEAR(a * q + b, x, a * 0.5 * (1 + 1e-9)) << r.ids[c] << " sample " << s;
            }
            peaks[c] = std::max(peaks[c], std::labs(q));
        }
    }
    for (size_t c = 0; c < peaks.size(); c++)
        EXPECT_TRUE(peaks[c] == 0 || peaks[c] > 16384) << r.ids[c] << " peaks at " << peaks[c];
}

void expectRecords(const Comtrade& r, const std::vector<StoredRecord>& records) {
    Fields ids;
    std::vector<std::vector<float>> values;
    std::vector<double> micros;
    for (const StoredRecord& record : records)
        micros.push_back(record.llTimeMicros - records[0].llTimeMicros);
    for (const int p : exportedPositions()) {
        ids.push_back(journal()[p]);
        values.emplace_back();
        for (const StoredRecord& record : records) values.back().push_back(record.values[p]);
    }
    EXPECT_EQ(r.ids, ids);
    expectSamples(r, values, micros);
}
