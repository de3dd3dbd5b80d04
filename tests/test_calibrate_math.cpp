// The calibration arithmetic: saturating register conversions, the gains a
// calibration may set, and the register values computed from readings,
// against worked examples of the meter's calibration.
#include <gtest/gtest.h>

#include <limits>

#include "CalibrationMath.h"

namespace {

using namespace calmath;

constexpr double INF = std::numeric_limits<double>::infinity();
constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

// A value fits when its truncation is the register's value, not a saturation.
TEST(RegisterConversion, TruncatesTowardZeroSaturatesAndGainsStayWithinTen) {
    const struct {
        double dValue;
        int32_t lSigned;
        uint32_t ulUnsigned;
        bool bFitsSigned, bFitsUnsigned;
    } cases[] = {{-1.9, -1, 0, true, false},
                 {2147483647.9, 2147483647, 2147483647u, true, true},
                 {2147483648.0, 2147483647, 2147483648u, false, true},
                 {-2147483648.9, INT32_MIN, 0, true, false},
                 {-2147483649.0, INT32_MIN, 0, false, false},
                 {4294967295.9, INT32_MAX, 0xFFFFFFFFu, false, true},
                 {4294967296.0, INT32_MAX, 0xFFFFFFFFu, false, false},
                 {-INF, INT32_MIN, 0, false, false},
                 {NaN, 0, 0, false, false}};
    for (const auto& c : cases) {
        EXPECT_EQ(toRegisterS32(c.dValue), c.lSigned) << c.dValue;
        EXPECT_EQ(toRegisterU32(c.dValue), c.ulUnsigned) << c.dValue;
        EXPECT_EQ(fitsRegisterS32(c.dValue), c.bFitsSigned) << c.dValue;
        EXPECT_EQ(fitsRegisterU32(c.dValue), c.bFitsUnsigned) << c.dValue;
    }
    // A gain within a factor of ten.
    for (double d : {0.1, 1.0, 10.0}) EXPECT_TRUE(usableGain(d)) << d;
    for (double d : {0.0999999, 10.000001, 0.0, -1.0, INF, NaN}) EXPECT_FALSE(usableGain(d)) << d;
}

// The worked examples of the meter's calibration, register for register. Only
// the product of full scale and 0.70710677 is single precision; the expected
// watts are a single-precision product and a double quotient.
TEST(CalibrationMath, WorkedExamples) {
    const double dApplied = expectedVoltageCode(230.0f, 500.0f), dOffset = expectedVoltageCode(10.0f, 500.0f);
    EXPECT_NEAR(dApplied, 34284727.59, 0.005);
    EXPECT_NEAR(expectedCurrentCode(5.0f, 10.0f), 12409580.213, 0.001);  // 12409580.406 all in double
    const double dPower = expectedPowerCode(230.0f, 5.0f, 500.0f, 10.0f),
                 dEnergy = intervalEnergyCode(dPower);
    EXPECT_NEAR(dPower, 3169917.04, 0.005);
    EXPECT_NEAR(dEnergy, 3095614.19, 0.005);
    EXPECT_EQ(expectedWattCode(0.1f, 0.3f, 0.5f), double(0.1f * 0.3f) / 0.5);
    const double dOmega = omega(50.0f);
    EXPECT_NEAR(dOmega, 0.0392699, 1e-7);
    const auto phcal = [&](int32_t lWatt, int32_t lVar) {
        return toRegisterS32(phaseCorrection(phaseError(phaseTangent(lWatt, lVar)), dOmega) * GAIN_UNIT);
    };
    const int64_t registers[][2] = {
        {gainRegister(dApplied / 34284727u), 2},
        {gainRegister(dApplied / 33941880u), 1355735},   // 1 % low
        {gainRegister(dApplied / 34627574u), -1328885},  // 1 % high: 0xFFEBB90B
        {gainRegister(INF), INT32_MAX},                  // a channel that read 0 saturates
        {toRegisterU32(dOffset), 1490640},               // a region threshold
        {toRegisterS32(rmsOffset(dOffset, 1490000)), 58245},
        {toRegisterS32(rmsOffset(dOffset, 1491000)), -32727},  // 0xFFFF8029
        {toRegisterS32(powerGain(dEnergy, 3033701) * GAIN_UNIT), 2739177},
        {phcal(498488, 866897), 3050972},
        {phcal(0, 0), 0},  // no energy at all: the tangent is not a number
    };
    for (const auto& r : registers) EXPECT_EQ(r[0], r[1]) << &r - registers;
    EXPECT_NEAR(phaseError(phaseTangent(498488, 866897)) * 180.0 / PI, 0.09999, 1e-5);
    // The average is squared as a double: no 32-bit overflow for large codes.
    EXPECT_EQ(rmsOffset(0.0, 60000000), -60000000.0 * 60000000.0 / 32768.0);
}

}  // namespace
