// Members of class QM9000 (QM9000.h): the module keeps one source per concern.
// Totals by wiring code and the validity of each value for a wiring.
#include "QM9000.h"

namespace {
constexpr uint16_t NONE = TOTAL_VALUE_NONE;

// Power totals: entry k writes jrnl_TOT_START + k from the phase values.
#define QM_POWER_TOTALS(B, C)                                                   \
    {                                                                           \
        {jrnl_TOT_WATT, {jrnl_WATT_A, B(jrnl_WATT_B), C(jrnl_WATT_C)}},         \
            {jrnl_TOT_VA, {jrnl_VA_A, B(jrnl_VA_B), C(jrnl_VA_C)}},             \
            {jrnl_TOT_VAR, {jrnl_VAR_A, B(jrnl_VAR_B), C(jrnl_VAR_C)}},         \
            {jrnl_TOT_PF, {jrnl_PF_A, B(jrnl_PF_B), C(jrnl_PF_C)}},             \
            {jrnl_TOT_FWATT, {jrnl_FWATT_A, B(jrnl_FWATT_B), C(jrnl_FWATT_C)}}, \
            {jrnl_TOT_FVA, {jrnl_FVA_A, B(jrnl_FVA_B), C(jrnl_FVA_C)}},         \
            {jrnl_TOT_FVAR, {jrnl_FVAR_A, B(jrnl_FVAR_B), C(jrnl_FVAR_C)}},     \
    }

// Energy and demand totals: entry k writes 18 + k from indexes 3k, 3k+1, 3k+2.
#define QM_ACCUM_TOTALS(B, C)                                                              \
    {                                                                                      \
        {accum_TOT_WATTHR, {0, B(1), C(2)}}, {accum_TOT_VARHR, {3, B(4), C(5)}},           \
            {accum_TOT_VAHR, {6, B(7), C(8)}}, {accum_TOT_FWATTHR, {9, B(10), C(11)}},     \
            {accum_TOT_FVARHR, {12, B(13), C(14)}}, {accum_TOT_FVAHR, {15, B(16), C(17)}}, \
    }

#define QM_USE(x) (x)
#define QM_SKIP(x) NONE
}  // namespace

const TOTAL_CALC_ENTRY QM9000::s_tcePowerSingle[7] = QM_POWER_TOTALS(QM_SKIP, QM_SKIP);
const TOTAL_CALC_ENTRY QM9000::s_tcePowerSplit[7] = QM_POWER_TOTALS(QM_SKIP, QM_USE);
const TOTAL_CALC_ENTRY QM9000::s_tcePowerWye[7] = QM_POWER_TOTALS(QM_USE, QM_USE);
const TOTAL_CALC_ENTRY QM9000::s_tcePowerDelta2[7] = QM_POWER_TOTALS(QM_SKIP, QM_USE);
const TOTAL_CALC_ENTRY QM9000::s_tcePowerDelta3[7] = QM_POWER_TOTALS(QM_SKIP, QM_USE);

const TOTAL_CALC_ENTRY QM9000::s_tceEnergySingle[6] = QM_ACCUM_TOTALS(QM_SKIP, QM_SKIP);
const TOTAL_CALC_ENTRY QM9000::s_tceEnergySplit[6] = QM_ACCUM_TOTALS(QM_SKIP, QM_USE);
const TOTAL_CALC_ENTRY QM9000::s_tceEnergyWye[6] = QM_ACCUM_TOTALS(QM_USE, QM_USE);
const TOTAL_CALC_ENTRY QM9000::s_tceEnergyDelta2[6] = QM_ACCUM_TOTALS(QM_SKIP, QM_USE);
const TOTAL_CALC_ENTRY QM9000::s_tceEnergyDelta3[6] = QM_ACCUM_TOTALS(QM_SKIP, QM_USE);

const TOTAL_CALC_ENTRY QM9000::s_tceDemandSingle[6] = QM_ACCUM_TOTALS(QM_SKIP, QM_SKIP);
const TOTAL_CALC_ENTRY QM9000::s_tceDemandSplit[6] = QM_ACCUM_TOTALS(QM_SKIP, QM_USE);
const TOTAL_CALC_ENTRY QM9000::s_tceDemandWye[6] = QM_ACCUM_TOTALS(QM_USE, QM_USE);
const TOTAL_CALC_ENTRY QM9000::s_tceDemandDelta2[6] = QM_ACCUM_TOTALS(QM_SKIP, QM_USE);
const TOTAL_CALC_ENTRY QM9000::s_tceDemandDelta3[6] = QM_ACCUM_TOTALS(QM_SKIP, QM_USE);

const TOTAL_CALC_TABLE QM9000::s_ptceTotalsByWiring[WIRING_CODES] = {
    {{0, 0, 0}, {nullptr, nullptr, nullptr}},
    {{7, 6, 6}, {s_tcePowerSingle, s_tceEnergySingle, s_tceDemandSingle}},
    {{7, 6, 6}, {s_tcePowerSplit, s_tceEnergySplit, s_tceDemandSplit}},
    {{7, 6, 6}, {s_tcePowerWye, s_tceEnergyWye, s_tceDemandWye}},
    {{7, 6, 6}, {s_tcePowerDelta2, s_tceEnergyDelta2, s_tceDemandDelta2}},
    {{7, 6, 6}, {s_tcePowerDelta3, s_tceEnergyDelta3, s_tceDemandDelta3}},
};

namespace {
// Validity rows of the power section: per-phase only, per-phase with C on
// three-wire delta, and rows that also have a total.
constexpr uint16_t PHASES[WIRING_CODES] = {0x0000, 0x0001, 0x0005, 0x0007, 0x0005, 0x0005};
constexpr uint16_t PHASES_DELTA3[WIRING_CODES] = {0x0000, 0x0001, 0x0005, 0x0007, 0x0005, 0x0007};
constexpr uint16_t WITH_TOTAL[WIRING_CODES] = {0x0000, 0x8001, 0x8005, 0x8007, 0x8000, 0x8000};
}  // namespace

#define QM_ROW(r) \
    { r[0], r[1], r[2], r[3], r[4], r[5] }
const uint16_t QM9000::s_unPowerValidByWiring[20][WIRING_CODES] = {
    QM_ROW(PHASES),        QM_ROW(PHASES),        QM_ROW(PHASES_DELTA3), QM_ROW(WITH_TOTAL),
    QM_ROW(WITH_TOTAL),    QM_ROW(WITH_TOTAL),    QM_ROW(WITH_TOTAL),    QM_ROW(PHASES),
    QM_ROW(PHASES_DELTA3), QM_ROW(PHASES),        QM_ROW(PHASES_DELTA3), QM_ROW(WITH_TOTAL),
    QM_ROW(WITH_TOTAL),    QM_ROW(WITH_TOTAL),    QM_ROW(PHASES),        QM_ROW(PHASES_DELTA3),
    QM_ROW(PHASES),        QM_ROW(PHASES_DELTA3), QM_ROW(PHASES),        QM_ROW(PHASES),
};
#undef QM_ROW

const uint16_t QM9000::s_unEnergyValidByWiring[WIRING_CODES] = {0x0000, 0x8001, 0x8005,
                                                                0x8007, 0x8000, 0x8000};
const uint16_t QM9000::s_unDemandValidByWiring[WIRING_CODES] = {0x0000, 0x8001, 0x8005,
                                                                0x8007, 0x8000, 0x8000};
