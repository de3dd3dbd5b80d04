// Steps every calibration procedure shares: the printed frame, register
// sampling and averaging, the energy-interval setup, and handing a computed
// value to the calibration store by name.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "QM9000.h"

// The banner and Begin line when constructed; end() prints the End line with
// the elapsed milliseconds and the banner. A procedure that leaves early
// without closing simply does not call end().
class CalFrame {
public:
    explicit CalFrame(const char* pszName);
    int end(int nResult);

private:
    const char* m_pszName;
    uint32_t m_ulStartMillis;
};

// One sample of a register: read nReads times in a row, the last reading kept.
uint32_t calSample(ADE_9000& chip, uint16_t unAddress, int nReads);

// nSamples samples, each followed by a wait of unWaitMillis, summed and
// divided by the count toward zero. The sums are exact for any register
// contents; the average of 32-bit readings always fits 32 bits.
uint32_t calAverageUnsigned(ADE_9000& chip, uint16_t unAddress, int nSamples, int nReads,
                            unsigned unWaitMillis);
int32_t calAverageSigned(ADE_9000& chip, uint16_t unAddress, int nSamples, int nReads, unsigned unWaitMillis);

// Energy over intervals of 8000 samples, EGYRDY at the end of each.
void calSetupEnergyInterval(ADE_9000& chip);

// setPending with a name the procedure formed or holds as a constant.
void calSetPending(Cal9000& cal, const char* pszName, uint32_t ulValue, float fValue);

// The one check of what a procedure is given and what it computes. Each
// returns false when the value is no calibration and then says why, in the
// form of the procedure's own messages; the procedure then leaves as it does
// for a missing input, having set and pushed nothing.
//
// An applied quantity ("voltage", "current"): 0 is "not specified"; anything
// else not finite and above zero is out of range. pszLead starts the line as
// the procedure's own message does.
bool calAppliedUsable(const char* pszLead, const char* pszProcedure, const char* pszQuantity, float fValue);
// A gain factor, applied over measured: within a factor of ten.
bool calGainUsable(const char* pszProcedure, const char* pszName, double dGain);
// A value for a signed 32-bit register: finite and within its range.
bool calFitsRegister(const char* pszProcedure, const char* pszName, double dValue);

// The values one procedure computed, handed to the store together once all
// of them passed the checks, so a refused value leaves the pending list and
// the chip as they were.
class CalPendingValues {
public:
    void add(const char* pszName, uint32_t ulValue, float fValue);
    // setPending for each value in order, then one pushPendingCal.
    void commit(Cal9000& cal) const;

private:
    struct Value {
        std::array<char, 16> name;
        uint32_t ulValue;
        float fValue;
    };
    std::vector<Value> m_values;
};

// The host's calibration file path, terminated even when the field is full.
using CalPath = std::array<char, sizeof(STATUS_AND_CONTROL::s_pszActiveCal) + 1>;
CalPath calActivePath(const STATUS_AND_CONTROL& stat);
