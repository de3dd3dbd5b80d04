// Members of class QM9000 (QM9000.h): the module keeps one source per concern.
// The JSON answers to the host's realtime requests: the values report (11) and
// the scaled values report with units and validity by wiring (6).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "JSONEscape.h"
#include "QM9000.h"
#include "Tables9000.h"

namespace {

// ---- Values report (11) ----

constexpr char VALUES_HEADER[] = "    \"registers\": {\n      \"power\":[\n";
constexpr char ENERGY_DELIMITER[] = "      ],\n      \"energy\":[\n";
constexpr char DEMAND_DELIMITER[] = "      ],\n      \"demand\":[\n";
constexpr char VALUES_CLOSING[] = "    ]\n    }";
constexpr uint32_t VALUES_HEADER_LENGTH = sizeof(VALUES_HEADER) - 1;  // 35
// Delimiters, closing and NUL: always written, so reserved from the start.
constexpr uint32_t VALUES_FIXED_TAIL =
    sizeof(ENERGY_DELIMITER) - 1 + sizeof(DEMAND_DELIMITER) - 1 + sizeof(VALUES_CLOSING) - 1 + 1;  // 64
constexpr char ITEM_END[] = ",\n";
constexpr char LAST_ITEM_END[] = "\n";
// A full report of plain names takes about 10 KB; the text is reserved once.
constexpr uint32_t VALUES_RESERVE = 12 * 1024;

// Appends one array's items while they fit the budget. Items are separated by
// ITEM_END and the last one written ends with LAST_ITEM_END, also when the
// array is cut short. Each item is counted with the end it has in a full array.
class ValuesArray {
public:
    ValuesArray(std::string& text, uint32_t& ulCount, uint32_t ulLimit)
        : m_text(text), m_ulCount(ulCount), m_ulLimit(ulLimit) {}
    // False once an item did not fit: the array stops there.
    bool add(int nIndex, float fValue, const char* pszName, size_t nNameMax, int nDecimals,
             bool bLastOfArray) {
        char szHead[128];
        const int nHead =
            snprintf(szHead, sizeof(szHead), "      { \"reg\": \"%d\", \"value\": \"%.*f\", \"name\": \"",
                     nIndex, nDecimals, static_cast<double>(fValue));
        if (nHead < 0 || static_cast<size_t>(nHead) >= sizeof(szHead)) return false;
        // Written in place, and taken back when it does not fit.
        const size_t nBefore = m_text.size();
        if (m_bAny) m_text += ITEM_END;
        const size_t nItemStart = m_text.size();
        m_text.append(szHead, static_cast<size_t>(nHead));
        appendJSONEscaped(m_text, pszName, nNameMax);
        m_text += "\"}";
        const uint32_t ulCounted = static_cast<uint32_t>(m_text.size() - nItemStart) + (bLastOfArray ? 1 : 2);
        if (m_ulCount + ulCounted > m_ulLimit) {
            m_text.resize(nBefore);
            return false;
        }
        m_ulCount += ulCounted;
        m_bAny = true;
        return true;
    }
    void close() {
        if (m_bAny) m_text += LAST_ITEM_END;
    }

private:
    std::string& m_text;
    uint32_t& m_ulCount;
    const uint32_t m_ulLimit;
    bool m_bAny = false;
};

// ---- Scaled values report (6) ----

constexpr char ENERGY_OPENING[] =
    "      { \"section\":\"energy\", \"titles\":[\"A\",\"B\",\"C\",\"Total\"], \"values\":[\n";
constexpr char POWER_OPENING[] =
    "      ]},\n      { \"section\":\"power\", \"titles\":[\"A\",\"B\",\"C\",\"Total\"], \"values\":[ \n";
constexpr char NEUTRAL_OPENING[] =
    "      ]},\n      { \"section\":\"neutral\", \"titles\":[\"A\",\"B\",\"C\",\"Total\"], \"values\":[ \n";
constexpr char DEMAND_OPENING[] =
    "      ]},\n      { \"section\":\"demand\", \"titles\":[\"A\",\"B\",\"C\",\"Total\"], \"values\":[ \n";
constexpr char SCALED_CLOSING[] = "    ]}\n";
constexpr uint16_t VALID_A = 0x0001, VALID_B = 0x0002, VALID_C = 0x0004, VALID_TOTAL = 0x8000;
constexpr size_t VALUE_LIST_MAX = 128;
constexpr size_t SCALED_ROW_MAX = 512;                          // description, units and a full value list
constexpr size_t SCALED_DESC_MAX = 256, SCALED_UNITS_MAX = 64;  // escaped
// The row's fixed text (49), a unit prefix and a two-character line end fit
// in what is left.
static_assert(56 + SCALED_DESC_MAX + SCALED_UNITS_MAX + VALUE_LIST_MAX < SCALED_ROW_MAX);
constexpr size_t SCALED_RESERVE = 4096;  // the whole report with everyday values (about 3.6 KB)

struct ScaledRow {
    const char* pszDesc;
    const char* pszUnits;
    bool bScale;
    uint16_t unA, unB, unC, unTotal;  // source indexes; NO_VALUE = the constant 0
};
constexpr uint16_t NO_VALUE = 0xFFFF;

constexpr ScaledRow ENERGY_ROWS[] = {
    {"True Energy", "Whr", true, 0, 1, 2, 18},
    {"Reactive Energy", "VArhr", true, 3, 4, 5, 19},
    {"Apparent Energy", "VAhr", true, 6, 7, 8, 20},
    {"True Energy (Fundamental)", "Whr", true, 9, 10, 11, 21},
    {"Reactive Energy (Fundamental)", "VArhr", true, 12, 13, 14, 22},
    {"Apparent Energy (Fundamental)", "VAhr", true, 15, 16, 17, 23},
};

constexpr ScaledRow DEMAND_ROWS[] = {
    {"Peak Demand", "W", true, 0, 1, 2, 18},
    {"Peak Reactive Demand", "VAr", true, 3, 4, 5, 19},
    {"Peak Apparent Demand", "VA", true, 6, 7, 8, 20},
    {"Peak Demand (Fund.)", "W", true, 9, 10, 11, 21},
    {"Peak Reactive Demand (Fund.)", "VAr", true, 12, 13, 14, 22},
    {"Peak Apparent Demand (Fund.)", "VA", true, 15, 16, 17, 23},
};

#define QM_PHASES(q) q##_A, q##_B, q##_C
constexpr ScaledRow POWER_ROWS[] = {
    {"Frequency", "Hz", false, QM_PHASES(jrnl_FREQ), NO_VALUE},
    {"RMS Voltage", "Vrms", true, QM_PHASES(jrnl_VRMS1), NO_VALUE},
    {"RMS Current", "Irms", true, QM_PHASES(jrnl_IRMS1), NO_VALUE},
    {"True Power", "W", true, QM_PHASES(jrnl_WATT), jrnl_TOT_WATT},
    {"Apparent Power", "VA", true, QM_PHASES(jrnl_VA), jrnl_TOT_VA},
    {"Reactive Power", "VAr", true, QM_PHASES(jrnl_VAR), jrnl_TOT_VAR},
    {"Power Factor", " ", false, QM_PHASES(jrnl_PF), jrnl_TOT_PF},
    {"Voltage THD", "%", false, QM_PHASES(jrnl_VTHD), NO_VALUE},
    {"Current THD", "%", false, QM_PHASES(jrnl_ITHD), NO_VALUE},
    {"RMS Voltage (Fundamental)", "Vrms", true, QM_PHASES(jrnl_FVRMS), NO_VALUE},
    {"RMS Current (Fundamental)", "Irms", true, QM_PHASES(jrnl_FIRMS), NO_VALUE},
    {"True Power (Fundamental)", "W", true, QM_PHASES(jrnl_FWATT), jrnl_TOT_FWATT},
    {"Apparent Power (Fundamental)", "VA", true, QM_PHASES(jrnl_FVA), jrnl_TOT_FVA},
    {"Reactive Power (Fundamental)", "VAr", true, QM_PHASES(jrnl_FVAR), jrnl_TOT_FVAR},
    {"RMS Voltage (1 sec avg)", "Vrms", true, QM_PHASES(jrnl_VRMS), NO_VALUE},
    {"RMS Current (1 sec avg)", "Irms", true, QM_PHASES(jrnl_IRMS), NO_VALUE},
    {"RMS Voltage (10/12 cycle)", "Vrms", true, QM_PHASES(jrnl_VRMS1012), NO_VALUE},
    {"RMS Current (10/12 cycle)", "Irms", true, QM_PHASES(jrnl_IRMS1012), NO_VALUE},
    {"Voltage Phase", "Deg.", false, QM_PHASES(jrnl_VANGLE), NO_VALUE},
    {"Current Phase", "Deg.", false, QM_PHASES(jrnl_IANGLE), NO_VALUE},
};
#undef QM_PHASES

constexpr ScaledRow NEUTRAL_ROWS[] = {
    {"Neutral RMS Current", "Irms", true, jrnl_NIRMSONE, NO_VALUE, NO_VALUE, NO_VALUE},
    {"Neutral RMS Current (1 sec avg)", "Irms", true, jrnl_NIRMS, NO_VALUE, NO_VALUE, NO_VALUE},
    {"Neutral RMS Current (10/12 cycle)", "Irms", true, jrnl_NIRMS1012, NO_VALUE, NO_VALUE, NO_VALUE},
};

float valueAt(const float* pfValues, uint16_t unIndex) {
    return unIndex == NO_VALUE ? 0.0f : pfValues[unIndex];
}

}  // namespace

int QM9000::realtimeGetJSONValues(int, void* pvResult, uint32_t ulMaxResult) {
    // The whole text, fixed pieces and NUL included, stays within the buffer.
    if (ulMaxResult < VALUES_HEADER_LENGTH + VALUES_FIXED_TAIL) return REQ_TOO_SMALL;
    const DATA_ACQ record = m_pStat->s_AcquisitionBuffer[publishedIndex()];
    const ACCUMULATOR_DATA working = workingIntervalSnapshot();
    const ACCUMULATOR_DATA* pWorking = &working;
    const int nPowerDecimals = m_bExtraDigits ? 4 : 2;
    const int nEnergyDecimals = m_bExtraDigits ? 5 : 3;
    const uint32_t ulLimit = ulMaxResult - VALUES_FIXED_TAIL;

    std::string text;
    text.reserve(std::min(ulMaxResult, VALUES_RESERVE));
    text += VALUES_HEADER;
    uint32_t ulCount = VALUES_HEADER_LENGTH;
    ValuesArray power(text, ulCount, ulLimit);
    for (int i = 0; i < jrnl_MAX; i++) {
        // A name may fill its field without a terminator.
        if (!power.add(i, record.m_fJournal[i], m_pszJrnlName[i], sizeof(m_pszJrnlName[i]), nPowerDecimals,
                       i == jrnl_MAX - 1))
            break;
    }
    power.close();

    text += ENERGY_DELIMITER;
    ValuesArray energy(text, ulCount, ulLimit);
    for (int i = 0; i < accum_ENERGY_MAX; i++) {
        if (!energy.add(i, pWorking->m_fEnergyTotal[i], g_engDesc[i].pszAbbrev, SIZE_MAX, nEnergyDecimals,
                        i == accum_ENERGY_MAX - 1))
            break;
    }
    energy.close();

    text += DEMAND_DELIMITER;
    ValuesArray demand(text, ulCount, ulLimit);
    for (int i = accum_POWER_MAX; i < ENERGY_DESC_ROWS; i++) {
        if (!demand.add(i, pWorking->m_fDemandMax[i - accum_POWER_MAX], g_engDesc[i].pszAbbrev, SIZE_MAX,
                        nEnergyDecimals, i == ENERGY_DESC_ROWS - 1))
            break;
    }
    demand.close();

    text += VALUES_CLOSING;
    memcpy(pvResult, text.c_str(), text.size() + 1);
    return REQ_OK;
}

uint32_t QM9000::realtimeCreateScaledRow(const char* pszDesc, const char* pszBaseUnits,
                                         const char* pszEndOfLine, bool bScale, float fRegA, float fRegB,
                                         float fRegC, float fTotal, char* pszResult, uint16_t uValFlags) {
    float fDivisor = 1.0f;
    const char* pszPrefix = "";
    if (bScale) {
        float fBasis = fRegA;
        if (uValFlags & VALID_TOTAL) {
            fBasis = fTotal;
        } else {
            if (fRegB > fBasis) fBasis = fRegB;
            if (fRegC > fBasis) fBasis = fRegC;
        }
        const float fMagnitude = std::fabs(fBasis);
        if (fMagnitude >= 500.0f && fMagnitude < 500000.0f) {
            fDivisor = 1000.0f;
            pszPrefix = "k";
        } else if (fMagnitude >= 500000.0f && fMagnitude < 500000000.0f) {
            fDivisor = 1000000.0f;
            pszPrefix = "M";
        } else if (fMagnitude >= 500000000.0f) {
            fDivisor = 1000000000.0f;
            pszPrefix = "G";
        }
    }
    const float fValues[4] = {fRegA / fDivisor, fRegB / fDivisor, fRegC / fDivisor, fTotal / fDivisor};
    static constexpr uint16_t kFlags[4] = {VALID_A, VALID_B, VALID_C, VALID_TOTAL};

    // Bounded: a value list of absurd magnitudes is cut, not overflowed.
    char szList[VALUE_LIST_MAX] = {};
    size_t nUsed = 0;
    for (int i = 0; i < 4 && nUsed < sizeof(szList); i++) {
        const char* pszSeparator = i == 0 ? "" : ", ";
        const int nWritten = (uValFlags & kFlags[i])
                                 ? snprintf(szList + nUsed, sizeof(szList) - nUsed, "%s%.3f", pszSeparator,
                                            static_cast<double>(fValues[i]))
                                 : snprintf(szList + nUsed, sizeof(szList) - nUsed, "%s\"*\"", pszSeparator);
        if (nWritten < 0) break;
        nUsed += static_cast<size_t>(nWritten);
    }
    // Description and units are capped (never cut inside an escape), so the
    // row keeps its closing quotes and brackets within SCALED_ROW_MAX; only a
    // long line end is cut.
    constexpr size_t ROOM = SCALED_ROW_MAX - 1;
    size_t nLength = 0;
    auto put = [&](const char* pText, size_t nText) {
        nText = std::min(nText, ROOM - nLength);
        memcpy(pszResult + nLength, pText, nText);
        nLength += nText;
    };
    auto putText = [&](const char* pszText) {
        if (pszText) put(pszText, strlen(pszText));
    };
    auto putEscaped = [&](const char* pszText, size_t nMax) {
        nLength += writeJSONEscaped(pszResult + nLength, std::min(nMax, ROOM - nLength), pszText, SIZE_MAX);
    };
    putText("      { \"desc\": \"");
    putEscaped(pszDesc, SCALED_DESC_MAX);
    putText("\", \"units\": \"");
    putText(pszPrefix);
    putEscaped(pszBaseUnits, SCALED_UNITS_MAX);
    putText("\", \"values\": [ ");
    put(szList, std::min(nUsed, sizeof(szList) - 1));
    putText(" ] }");
    putText(pszEndOfLine);
    pszResult[nLength] = '\0';
    return static_cast<uint32_t>(nLength);
}

int QM9000::realtimeGetScaledJSONValues(int, void* pvResult, uint32_t ulMaxResult) {
    const ACCUMULATOR_DATA working = workingIntervalSnapshot();
    const ACCUMULATOR_DATA* pWorking = &working;
    const uint16_t unWiring = m_unWiring < WIRING_CODES ? m_unWiring : 0;
    std::string text;
    text.reserve(SCALED_RESERVE);
    char szRow[SCALED_ROW_MAX];
    auto addRows = [&](const ScaledRow* pRows, size_t nRows, const float* pfValues, auto flagsOf) {
        for (size_t k = 0; k < nRows; k++) {
            const ScaledRow& row = pRows[k];
            const uint32_t ulLength = realtimeCreateScaledRow(
                row.pszDesc, row.pszUnits, k + 1 == nRows ? "\n" : ",\n", row.bScale,
                valueAt(pfValues, row.unA), valueAt(pfValues, row.unB), valueAt(pfValues, row.unC),
                valueAt(pfValues, row.unTotal), szRow, flagsOf(k));
            text.append(szRow, ulLength);
        }
    };

    text += ENERGY_OPENING;
    addRows(ENERGY_ROWS, std::size(ENERGY_ROWS), pWorking->m_fEnergyTotal,
            [&](size_t) { return s_unEnergyValidByWiring[unWiring]; });

    const float* pfJournal = m_pStat->s_AcquisitionBuffer[publishedIndex()].m_fJournal;
    text += POWER_OPENING;
    addRows(POWER_ROWS, std::size(POWER_ROWS), pfJournal,
            [&](size_t k) { return s_unPowerValidByWiring[k][unWiring]; });
    text += NEUTRAL_OPENING;
    const uint16_t unNeutralFlags = m_unWiring <= 3 ? VALID_A : 0;
    addRows(NEUTRAL_ROWS, std::size(NEUTRAL_ROWS), pfJournal, [&](size_t) { return unNeutralFlags; });

    text += DEMAND_OPENING;
    addRows(DEMAND_ROWS, std::size(DEMAND_ROWS), pWorking->m_fDemandMax,
            [&](size_t) { return s_unDemandValidByWiring[unWiring]; });
    text += SCALED_CLOSING;

    if (ulMaxResult != 0 && text.size() + 1 > ulMaxResult) return REQ_TOO_SMALL;
    memcpy(pvResult, text.c_str(), text.size() + 1);
    return REQ_OK;
}
