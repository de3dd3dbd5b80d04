// The calibration arithmetic: saturating register conversions, the expected
// codes of applied quantities and the register values computed from
// readings, against worked examples of the meter's calibration.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

#include "CalibrationMath.h"

namespace {

using namespace calmath;

constexpr double INF = std::numeric_limits<double>::infinity();
constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

// A value fits when its truncation is the register's value, not a saturation.
TEST(RegisterConversion, TruncatesTowardZeroAndSaturates) {
    const struct {
        double dValue;
        int32_t lSigned;
        uint32_t ulUnsigned;
        bool bFitsSigned, bFitsUnsigned;
    } cases[] = {
        {1.9, 1, 1, true, true},
        {-1.9, -1, 0, true, false},
        {-0.5, 0, 0, true, true},
        {2147483647.9, 2147483647, 2147483647u, true, true},
        {2147483648.0, 2147483647, 2147483648u, false, true},
        {-2147483648.9, INT32_MIN, 0, true, false},
        {-2147483649.0, INT32_MIN, 0, false, false},
        {4294967295.9, INT32_MAX, 0xFFFFFFFFu, false, true},
        {4294967296.0, INT32_MAX, 0xFFFFFFFFu, false, false},
        {INF, INT32_MAX, 0xFFFFFFFFu, false, false},
        {-INF, INT32_MIN, 0, false, false},
        {NaN, 0, 0, false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(toRegisterS32(c.dValue), c.lSigned) << c.dValue;
        EXPECT_EQ(toRegisterU32(c.dValue), c.ulUnsigned) << c.dValue;
        EXPECT_EQ(fitsRegisterS32(c.dValue), c.bFitsSigned) << c.dValue;
        EXPECT_EQ(fitsRegisterU32(c.dValue), c.bFitsUnsigned) << c.dValue;
    }
}

// Applied quantities must be finite and above zero; a gain within a factor of ten.
TEST(CalibrationInputs, UsableAppliedValuesAndGains) {
    for (float f : {1e-20f, 230.0f, 3e38f}) EXPECT_TRUE(usableApplied(f)) << f;
    for (float f : {0.0f, -0.0f, -230.0f, float(INF), float(-INF), float(NaN)})
        EXPECT_FALSE(usableApplied(f)) << f;
    for (double d : {0.1, 1.0, 10.0}) EXPECT_TRUE(usableGain(d)) << d;
    for (double d : {0.0999999, 10.000001, 0.0, -1.0, INF, NaN}) EXPECT_FALSE(usableGain(d)) << d;
}

TEST(ExpectedCodes, VoltageAndCurrentInTheirOwnPrecision) {
    EXPECT_NEAR(expectedVoltageCode(230.0f, 500.0f), 34284727.59, 0.005);
    EXPECT_NEAR(expectedVoltageCode(10.0f, 500.0f), 1490640.33, 0.005);
    // Only the product of full scale and 0.70710677 is single precision.
    EXPECT_EQ(expectedVoltageCode(230.0f, 500.0f), 230.0 / double(500.0f * 0.70710677f) * 52702092.0);
    EXPECT_EQ(expectedCurrentCode(5.0f, 10.0f),
              5.0 / (double(10.0f * 0.70710677f) * 3.003003003003003) * 52702092.0);
    EXPECT_NE(expectedCurrentCode(5.0f, 10.0f), 5.0 / (10.0 * 0.70710677 * 3.003003003003003) * 52702092.0);
}

TEST(RmsCalibration, GainsAndOffsetsOfTheWorkedExamples) {
    const double dApplied = expectedVoltageCode(230.0f, 500.0f);
    EXPECT_EQ(gainRegister(dApplied / 34284727u), 2);
    EXPECT_EQ(gainRegister(dApplied / 33941880u), 1355735);   // 1 % low
    EXPECT_EQ(gainRegister(dApplied / 34627574u), -1328885);  // 1 % high: 0xFFEBB90B
    EXPECT_EQ(gainRegister(INF), INT32_MAX);                  // a channel that read 0 saturates

    const double dOffsetApplied = expectedVoltageCode(10.0f, 500.0f);
    EXPECT_EQ(toRegisterS32(rmsOffset(dOffsetApplied, 1490000)), 58245);
    EXPECT_EQ(toRegisterS32(rmsOffset(dOffsetApplied, 1491000)), -32727);  // 0xFFFF8029
    EXPECT_EQ(rmsOffset(1490000.0, 1490000), 0.0);
    EXPECT_LT(rmsOffset(1490000.0, 1490001), 0.0);
    // The average is squared as a double: no 32-bit overflow for large codes.
    EXPECT_EQ(rmsOffset(0.0, 60000000), -60000000.0 * 60000000.0 / 32768.0);
}

TEST(PhaseCalibration, CorrectionOfTheWorkedExamples) {
    const double dOmega = omega(50.0f);
    EXPECT_NEAR(dOmega, 0.0392699, 1e-7);
    const struct {
        int32_t lWatt, lVar;
        int32_t lPHCAL;
        double dErrorDegrees;
    } cases[] = {
        {1000000, 1732051, 82, 0.0},
        {498488, 866897, 3050972, 0.09999},
    };
    for (const auto& c : cases) {
        const double dError = phaseError(phaseTangent(c.lWatt, c.lVar));
        EXPECT_NEAR(dError * 180.0 / PI, c.dErrorDegrees, 1e-5) << c.lWatt;
        EXPECT_EQ(toRegisterS32(phaseCorrection(dError, dOmega) * GAIN_UNIT), c.lPHCAL);
    }
    // Exactly 60 degrees: no error, no correction.
    EXPECT_NEAR(phaseError(phaseTangent(1000000, 1000000)) * 180.0 / PI, -15.0, 1e-9);  // 45 degrees
    EXPECT_EQ(phaseCorrection(0.0, dOmega), 0.0);
    // No energy at all: the tangent is not a number and the register gets 0.
    EXPECT_EQ(toRegisterS32(phaseCorrection(phaseError(phaseTangent(0, 0)), dOmega) * GAIN_UNIT), 0);
}

TEST(PowerCalibration, ExpectedEnergyAndGainOfTheWorkedExample) {
    const double dPower = expectedPowerCode(230.0f, 5.0f, 500.0f, 10.0f);
    EXPECT_NEAR(dPower, 3169917.04, 0.005);
    const double dEnergy = intervalEnergyCode(dPower);
    EXPECT_NEAR(dEnergy, 3095614.19, 0.005);
    EXPECT_EQ(toRegisterU32(dEnergy), 0x002F3C3Eu);
    EXPECT_NEAR(powerGain(dEnergy, 3033701), 0.0204085, 1e-7);
    EXPECT_EQ(toRegisterS32(powerGain(dEnergy, 3033701) * GAIN_UNIT), 2739177);
    EXPECT_EQ(powerGain(3000000.0, 3000000), 0.0);
    // Expected watts: the product in single precision, the quotient in double.
    EXPECT_EQ(expectedWattCode(100.0f, 5.0f, 0.5f), 1000.0);
    EXPECT_EQ(expectedWattCode(0.1f, 0.3f, 0.5f), double(0.1f * 0.3f) / 0.5);
}

TEST(MultipointCalibration, ThresholdsAreVoltageCodes) {
    EXPECT_EQ(toRegisterU32(expectedVoltageCode(10.0f, 500.0f)), 1490640u);
    EXPECT_EQ(toRegisterU32(expectedVoltageCode(100.0f, 500.0f)), 14906403u);
}

// A buffer whose voltage channels hold the given samples (current channels
// hold a large value the mean must not see), most significant byte first.
ADE9000_WAVEFORM_RECV_BUFFER buffer(const std::function<int16_t(int nChannel, int nSet)>& sample) {
    ADE9000_WAVEFORM_RECV_BUFFER b{};
    for (int s = 0; s < 256; s++)
        for (int c = 0; c < 6; c++)
            b.unSample[s][c] = ADE_9000::swapBytes(static_cast<uint16_t>(c % 2 ? sample(c, s) : 30000));
    return b;
}

TEST(WaveformOffset, MeanOfTheVoltageChannelMeansTruncatedTowardZero) {
    // Channel sums 2560, -512 and 0: means 10, -2 and 0, offset 8 / 3 = 2.
    const auto b = buffer([](int c, int) -> int16_t { return c == 1 ? 10 : c == 3 ? -2 : 0; });
    EXPECT_EQ(waveformChannelMean(b, 1), 10);
    EXPECT_EQ(waveformChannelMean(b, 3), -2);
    EXPECT_EQ(waveformOffset(b), 2);
    // A sum of -255 is a mean of 0, not -1; so is a mean of -5 / 3 a total of -1.
    const auto c = buffer([](int, int s) -> int16_t { return s < 255 ? -1 : 0; });
    EXPECT_EQ(waveformChannelMean(c, 1), 0);
    const auto d = buffer([](int c, int) -> int16_t { return c == 1 ? -5 : 0; });
    EXPECT_EQ(waveformOffset(d), -1);
    // Full-scale samples do not overflow the sums.
    const auto e = buffer([](int, int) -> int16_t { return -32768; });
    EXPECT_EQ(waveformOffset(e), -32768);
}

}  // namespace
