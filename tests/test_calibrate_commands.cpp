// Calibration as the host runs it: commands posted through the block to the
// loaded plug-in, the outcomes written back, the calibration file and the
// chip after the sequence commands, a full calibration that converges, and
// the technician's bench.
#include <pthread.h>
#include <sys/stat.h>

#include <cmath>
#include <limits>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "CalibrationBench.h"
#include "ConfigFile.h"
#include "PluginFixture.h"
#include "ScratchFiles.h"
#include "Tools.h"

namespace {

constexpr uint32_t FAILED = 0xFFFFFFFF;
const CalQuantities APPLIED{};  // 230 V, 5 A

// The constants of a calibration file: name, address, value, fvalue.
struct SavedConstant {
    std::string name;
    uint16_t unAddress;
    int32_t lValue;
    double dFValue;
};

std::vector<SavedConstant> savedConstants(const std::string& text) {
    static const std::regex line(
        R"re(      \{"address": "0x([0-9A-F]{4})", "value": (-?\d+), "fvalue": (-?\d+\.\d{6}), "bits": 32, )re"
        R"re("name": "(\w+)"\},?\r\n)re");
    std::vector<SavedConstant> constants;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), line); it != std::sregex_iterator(); ++it)
        constants.push_back({(*it)[4], static_cast<uint16_t>(std::stoul((*it)[1], nullptr, 16)),
                             static_cast<int32_t>(std::stol((*it)[2])), std::stod((*it)[3])});
    return constants;
}

// The list file with every constant at a value of its own.
std::string nonZeroList() {
    std::string text = calibrationListFile();
    const std::string zero = "\"value\": 0,";
    int n = 0;
    for (size_t pos = text.find(zero); pos != std::string::npos; pos = text.find(zero, pos + 1))
        text.replace(pos, zero.size(), "\"value\": " + std::to_string(1000 + 7 * n++) + ",");
    return text;
}

SavedConstant named(const std::vector<SavedConstant>& constants, const std::string& name) {
    for (const SavedConstant& c : constants)
        if (c.name == name) return c;
    return {};
}

bool endsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

class CalCommands : public PluginTest {
protected:
    void SetUp() override {
        PluginTest::SetUp();
        writeConfig(m_dir.path("QM9000.json"), wyeMeter());
        m_calPath = m_dir.write("Cal9000.json", calibrationListFile());
        snprintf(block().s_pszActiveCal, sizeof(block().s_pszActiveCal), "%s", m_calPath.c_str());
        sim::setFullScale(500 * 0.90045f, 10);
    }
    void startModule() {
        const std::string config = m_dir.path("QM9000.json");
        captureStdout([&] {
            m_pModule->initialize(config.c_str(), nullptr, m_block.get());
            m_pModule->updateConfig(config.c_str());
        });
        m_bench.emplace(*m_pModule, block());
    }
    CalOutcome run(uint32_t ulCode, const CalQuantities& quantities = APPLIED) {
        CalOutcome outcome{};
        m_output = captureStdout([&] { outcome = m_bench->run(ulCode, quantities); });
        return outcome;
    }
    MeterErrors measure() {
        MeterErrors errors{};
        captureStdout([&] { errors = m_bench->measure(APPLIED); });
        return errors;
    }
    static void expectOutcome(const CalOutcome& outcome, int nResult, uint32_t ulCalMode, uint32_t ulOpMode) {
        EXPECT_EQ(outcome.nResult, nResult) << calCommandName(outcome.ulCode);
        EXPECT_EQ(outcome.ulCalMode, ulCalMode) << calCommandName(outcome.ulCode);
        EXPECT_EQ(outcome.ulOpMode, ulOpMode) << calCommandName(outcome.ulCode);
    }
    void resumeMeasuring() {
        pthread_mutex_lock(QM_BLOCK_MUTEX(block(), s_mutexOpMode));
        block().s_ulOpMode = 0;
        pthread_mutex_unlock(QM_BLOCK_MUTEX(block(), s_mutexOpMode));
    }
    void expectChipHolds(const std::string& file) {
        for (const SavedConstant& c : savedConstants(file)) {
            if (c.unAddress >= 0x1000) continue;  // not a chip register
            EXPECT_EQ(int32_t(sim::chipRegister(c.unAddress)), c.lValue) << c.name;
        }
    }
    ino_t calInode() const {
        struct stat st {};
        stat(m_calPath.c_str(), &st);
        return st.st_ino;
    }

    ScratchDirectory m_dir;
    std::string m_calPath, m_output;
    std::optional<CalibrationBench> m_bench;
};

TEST_F(CalCommands, IdleAndUnknownCodesTouchNeitherChipNorRing) {
    startModule();
    sim::clearSpiLog();
    const uint16_t unNextIn = nextIn();
    expectOutcome(run(0), 0, 0, 1);
    expectOutcome(run(18), 2, FAILED, 1);
    EXPECT_TRUE(sim::spiLog().empty());
    EXPECT_EQ(nextIn(), unNextIn);
    EXPECT_EQ(m_output, "");
    pthread_mutex_t* pMutex = QM_BLOCK_MUTEX(block(), s_mutexOpMode);
    ASSERT_EQ(pthread_mutex_trylock(pMutex), 0) << "the command lock is released";
    pthread_mutex_unlock(pMutex);
}

TEST_F(CalCommands, FailureIsAcknowledgedAndMeasuringResumes) {
    startModule();
    CalQuantities noVolts = APPLIED;
    noVolts.fVolts = 0;
    expectOutcome(run(5, noVolts), 4, FAILED, 1);
    CalOutcome ack{};
    m_output = captureStdout([&] { ack = m_bench->acknowledge(); });
    expectOutcome(ack, 2, FAILED, 0);
    EXPECT_GE(ack.dSeconds, 1.5);
    EXPECT_LT(ack.dSeconds, 1.51);
    EXPECT_EQ(m_output, "");
    for (sim::Phase p : {sim::Phase::A, sim::Phase::B, sim::Phase::C}) sim::setPhaseVolts(p, 230);
    const uint16_t unNextIn = nextIn();
    captureStdout([&] { runFor(100); });
    EXPECT_NE(nextIn(), unNextIn) << "back to measuring";
}

// The host's block holds an impossible applied value while the line carries
// the usual test signal: refused as a missing one, nothing pushed or saved.
TEST_F(CalCommands, ImpossibleAppliedValuesAreRefusedAndNeverSaved) {
    const float INF = std::numeric_limits<float>::infinity(), NaN = std::numeric_limits<float>::quiet_NaN();
    const struct {
        uint32_t ulCode;
        float fVolts, fAmps, fThreshLo;
    } cases[] = {{5, INF, 5, 0}, {5, NaN, 5, 0},      {5, -230, 5, 0},   {5, 1e-20f, 5, 0},
                 {5, 0, 5, 0},   {6, 230, 1e-20f, 0}, {10, 230, INF, 0}, {13, 230, 5, -10}};
    startModule();
    const std::string before = readFile(m_calPath);
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.ulCode << ": " << c.fVolts << " V, " << c.fAmps << " A");
        block().s_fCalVolts = c.fVolts;  // no other thread here: no lock needed
        block().s_fCalAmps = c.fAmps;
        block().s_fCalThreshLo = c.fThreshLo;
        block().s_ulCalMode = c.ulCode;
        block().s_ulOpMode = 1;
        sim::clearSpiLog();
        int nResult = 0;
        captureStdout([&] { nResult = m_pModule->process(); });
        expectOutcome({c.ulCode, nResult, block().s_ulCalMode, block().s_ulOpMode, 0}, 4, FAILED, 1);
        EXPECT_TRUE(sim::spiWrites().empty());
        expectOutcome(run(3), 0, 0, 0);
        EXPECT_TRUE(readFile(m_calPath) == before) << "nothing saved";
    }
}

TEST_F(CalCommands, EachCodeRunsItsCommandAndWritesTheBlockBack) {
    startModule();
    const struct {
        uint32_t ulCode;
        const char* pszProcedure;
        uint32_t ulOpMode;
    } cases[] = {
        {2, "processCalStart", 1},
        {5, "processCalVGain", 1},
        {6, "processCalIGain", 1},
        {7, "processCalVOS", 1},
        {8, "processCalIOS", 1},
        {9, "processCalPhase", 1},
        {10, "processCalPGain", 1},
        {11, "processCalPWOS", 1},
        {12, "processCalPVAROS", 1},
        {13, "processCalMultipointDefine", 1},
        {14, "processCalMultipointGain", 1},
        {15, "processCalMultipointPhase", 1},
        {16, "processCalMultipointEnable", 1},
        {17, "processCalWFBOS", 1},
        {4, "processCalCancel", 0},
        {3, "processCalSave", 0},
        {1, "processCalClean", 0},
    };
    for (const auto& c : cases) {
        const CalOutcome outcome = run(c.ulCode);
        expectOutcome(outcome, 0, 0, c.ulOpMode);
        const std::string begin = std::string("\r\n") + c.pszProcedure + ": Begin \r\n";
        EXPECT_EQ(
            m_output.find("=================================================================\r\n" + begin),
            0u)
            << c.pszProcedure;
        EXPECT_NE(m_output.find(std::string("\r\n") + c.pszProcedure + ": End ("), std::string::npos);
    }
    CalQuantities region5 = APPLIED;
    region5.ulRegion = 5;
    expectOutcome(run(13, region5), 4, FAILED, 1);
}

TEST_F(CalCommands, SaveWritesAtomicallyAndOnlyWhatChanged) {
    sim::setGainError(sim::Channel::VA, 1.3);
    startModule();
    const ino_t inode = calInode();
    expectOutcome(run(3), 0, 0, 0);
    EXPECT_EQ(calInode(), inode) << "nothing pending: the file is not written";

    run(2);
    run(5);
    expectOutcome(run(3), 0, 0, 0);
    EXPECT_NE(calInode(), inode) << "replaced whole";
    EXPECT_EQ(m_dir.entries(), (std::vector<std::string>{"Cal9000.json", "QM9000.json"}));
    const std::string saved = readFile(m_calPath);
    const std::vector<SavedConstant> constants = savedConstants(saved);
    EXPECT_EQ(constants.size(), savedConstants(calibrationListFile()).size());
    EXPECT_NEAR(named(constants, "AVGAIN").dFValue, 1 / 1.013, 1.5e-6);
    EXPECT_NEAR(named(constants, "AVGAIN").lValue, (1 / 1.013 - 1) * 134217728, 20);
    expectChipHolds(saved);
}

TEST_F(CalCommands, FailedSaveKeepsTheFileAndThePendingValuesForARetry) {
    sim::setGainError(sim::Channel::VB, -0.7);
    startModule();
    const std::string before = readFile(m_calPath);
    run(2);
    run(5);
    const uint32_t ulGain = sim::chipRegister(0x02B);
    CalOutcome outcome{};
    withFileSizeLimit(1000, [&] { outcome = run(3); });
    expectOutcome(outcome, 4, FAILED, 0);
    EXPECT_NE(m_output.find("processCalSave: Calibration file not written, pending values kept\r\n"),
              std::string::npos);
    EXPECT_EQ(readFile(m_calPath), before);
    EXPECT_EQ(m_dir.entries(), (std::vector<std::string>{"Cal9000.json", "QM9000.json"}));
    EXPECT_EQ(sim::chipRegister(0x02B), ulGain) << "the chip keeps the new gain";

    expectOutcome(run(3), 0, 0, 0);
    EXPECT_EQ(uint32_t(named(savedConstants(readFile(m_calPath)), "BVGAIN").lValue), ulGain);
}

TEST_F(CalCommands, CancelRestoresTheListWhileTheChipKeepsThePushedGain) {
    writeFile(m_calPath, nonZeroList());
    sim::setGainError(sim::Channel::VA, 2.0);
    startModule();
    const std::string before = readFile(m_calPath);
    expectChipHolds(before);
    run(2);
    run(5);
    const uint32_t ulGain = sim::chipRegister(0x00B);
    EXPECT_NEAR(int32_t(ulGain), (1 / 1.02 - 1) * 134217728, 20);
    expectOutcome(run(4), 0, 0, 0);
    EXPECT_EQ(sim::chipRegister(0x00B), ulGain);
    const ino_t inode = calInode();
    expectOutcome(run(3), 0, 0, 0);
    EXPECT_EQ(calInode(), inode) << "nothing pending after the cancel";
    EXPECT_EQ(readFile(m_calPath), before);

    run(5);
    unlink(m_calPath.c_str());
    expectOutcome(run(4), 4, FAILED, 0);  // nothing to restore from
    EXPECT_NE(m_output.find("processCalCancel: Calibration file not read, pending values kept\r\n"),
              std::string::npos);
}

TEST_F(CalCommands, CleanLeavesZeroesInFileAndChipAndStartOnlyInTheChip) {
    writeFile(m_calPath, nonZeroList());
    startModule();
    const std::string before = readFile(m_calPath);
    expectOutcome(run(2), 0, 0, 1);
    EXPECT_EQ(readFile(m_calPath), before);
    expectChipHolds(calibrationListFile());

    // The file cannot be replaced: the list is reloaded from it and pushed again.
    CalOutcome outcome{};
    withFileSizeLimit(1000, [&] { outcome = run(1); });
    expectOutcome(outcome, 4, FAILED, 0);
    EXPECT_EQ(readFile(m_calPath), before);
    expectChipHolds(before);

    expectOutcome(run(1), 0, 0, 0);
    EXPECT_EQ(readFile(m_calPath), calibrationListFile());
    expectChipHolds(calibrationListFile());
}

// The meter of the calibration example: gain errors on two voltage channels
// and one current channel, phase errors and a power offset.
TEST_F(CalCommands, FullCalibrationBringsEveryChannelToTheAppliedValues) {
    sim::setGainError(sim::Channel::VA, 1.3);
    sim::setGainError(sim::Channel::VB, -0.7);
    sim::setGainError(sim::Channel::IC, 0.4);
    sim::setPhaseError(sim::Phase::A, 0.5);
    sim::setPhaseError(sim::Phase::C, -0.3);
    sim::setPowerOffset(sim::Phase::B, 3.0);
    startModule();
    const MeterErrors before = measure();
    EXPECT_NEAR(before.phase[0].dVolts, 1.3, 0.01);
    EXPECT_NEAR(before.phase[1].dVolts, -0.7, 0.01);
    EXPECT_NEAR(before.phase[2].dAmps, 0.4, 0.01);
    EXPECT_GT(std::fabs(before.phase[0].dWattsLagging - before.phase[0].dWatts), 1.0);
    EXPECT_GT(std::fabs(before.phase[2].dWattsLagging - before.phase[2].dWatts), 0.5);

    std::vector<CalOutcome> outcomes;
    m_output = captureStdout([&] { outcomes = m_bench->runSequence(APPLIED); });
    ASSERT_EQ(outcomes.size(), calSequence().size());
    for (const CalOutcome& outcome : outcomes)
        EXPECT_EQ(outcome.nResult, 0) << calCommandName(outcome.ulCode);
    EXPECT_EQ(outcomes.back().ulOpMode, 0u) << "the save ends calibration";

    const MeterErrors after = measure();
    for (int p = 0; p < 3; p++) {
        SCOPED_TRACE(testing::Message() << "phase " << p);
        EXPECT_LT(std::fabs(after.phase[p].dVolts), 0.1);
        EXPECT_LT(std::fabs(after.phase[p].dAmps), 0.1);
        EXPECT_LT(std::fabs(after.phase[p].dWatts), 0.1);
    }
    EXPECT_LT(std::fabs(after.dNeutralAmps), 0.1);
    // The phase error is gone where no power offset biased its measurement.
    EXPECT_LT(std::fabs(after.phase[0].dWattsLagging), 0.01);
    EXPECT_LT(std::fabs(after.phase[2].dWattsLagging), 0.01);

    const std::string saved = readFile(m_calPath);
    EXPECT_EQ(saved.rfind("{\r\n  \"startup\": {\r\n    \"registers\": [\r\n", 0), 0u);
    EXPECT_TRUE(endsWith(saved, "\"name\": \"WFBOS\"}\r\n    ]\r\n  }\r\n}\r\n"));
    EXPECT_EQ(savedConstants(saved).size(), savedConstants(calibrationListFile()).size())
        << "every line well-formed";
    expectChipHolds(saved);
}

TEST_F(CalCommands, WaveformOffsetShiftsTheScopeOnceSaved) {
    sim::setChannelError(sim::Channel::VA, {0, 0, 0, 10});
    sim::setChannelError(sim::Channel::VB, {0, 0, 0, -2});
    sim::setChannelError(sim::Channel::IA, {0, 0, 0, 7});
    startModule();
    const auto scopeMeans = [&] {
        std::vector<float> samples(768);
        int nResult = 3;
        captureStdout([&] {
            m_pModule->realtimeGet(7, nullptr, 0);
            for (int i = 0; i < 100 && nResult == 3; i++) {
                runFor(5);
                nResult = m_pModule->realtimeGet(1, samples.data(), 3072);
            }
        });
        EXPECT_EQ(nResult, 0);
        std::vector<double> means(6);
        for (int b = 0; b < 6; b++)
            for (int i = 0; i < 128; i++) means[b] += samples[128 * b + i] / 128.0;
        return means;
    };
    const std::vector<double> before = scopeMeans();
    expectOutcome(run(17), 0, 0, 1);
    EXPECT_NE(m_output.find("WFB Offset(Counts): 2\n"), std::string::npos);
    resumeMeasuring();
    const double dConvVolt = 500 * 0.90045f / 18196.0f;
    const std::vector<double> pending = scopeMeans();
    for (int b = 0; b < 6; b++) EXPECT_NEAR(pending[b], before[b], dConvVolt / 4) << "pending only: " << b;
    expectOutcome(run(3), 0, 0, 0);
    EXPECT_NE(m_output.find("WFB Offset (Counts): 2\n"), std::string::npos);
    const std::vector<double> after = scopeMeans();
    for (int b = 0; b < 3; b++)
        EXPECT_NEAR(before[b] - after[b], 2 * dConvVolt, dConvVolt / 4) << "voltage " << b;
    for (int b = 3; b < 6; b++) EXPECT_NEAR(before[b] - after[b], 0.0, dConvVolt / 4) << "current " << b;
}

TEST(CalibrationBenchTool, RunsTheSequenceAndShowsTheErrorsBeforeAndAfter) {
    const char* argv[] = {"calibrate",     "--sequence", "--error",        "VA:+1.3",
                          "--phase-error", "A:0.5",      "--power-offset", "B:3:1"};
    int nResult = -1;
    const std::string output = captureStdout([&] { nResult = calibrateTool(8, const_cast<char**>(argv)); });
    EXPECT_EQ(nResult, 0) << output;
    EXPECT_TRUE(std::regex_search(output, std::regex(R"(\n +3  save +0 +0x00000000 +0 +0\.\d\d s\r\n)")))
        << output;
    // Phase A: before, +1.3 % volts and the phase error at PF 0.5; after, nothing left.
    EXPECT_TRUE(std::regex_search(
        output,
        std::regex(R"(\n  A +\+1\.300 +\+0\.000 +\+1\.296 +-0\.235 +([+-]0\.000 +){3}[+-]0\.000\r\n)")))
        << output;
    EXPECT_NE(output.find("Changed in the calibration file ("), std::string::npos);
    EXPECT_TRUE(std::regex_search(output, std::regex(R"re(\{"address": "0x000B", "value": -1722\d\d\d, )re")))
        << "the voltage gain of phase A";

    const char* bad[] = {"calibrate", "--command", "5", "--error", "VX:1"};
    testing::internal::CaptureStderr();
    captureStdout([&] { nResult = calibrateTool(5, const_cast<char**>(bad)); });
    EXPECT_EQ(nResult, 2);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("bad option --error VX:1"), std::string::npos);
}

}  // namespace
