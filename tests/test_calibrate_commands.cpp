// Calibration as the host runs it, through the block to the loaded plug-in.
#include <pthread.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <map>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "CalibrationBench.h"
#include "ConfigFile.h"
#include "HostCommandLine.h"
#include "PluginFixture.h"
#include "ScratchFiles.h"

namespace {

constexpr uint32_t FAILED = 0xFFFFFFFF;
const CalQuantities APPLIED{};  // 230 V, 5 A

// The constants of a calibration file by name, from lines of the saved format.
struct SavedConstant {
    uint16_t unAddress;
    int32_t lValue;
    double dFValue;
};
std::map<std::string, SavedConstant> savedConstants(const std::string& text) {
    static const std::regex line(
        R"re(      \{"address": "0x([0-9A-F]{4})", "value": (-?\d+), "fvalue": (-?\d+\.\d{6}), "bits": 32, )re"
        R"re("name": "(\w+)"\},?\r\n)re");
    std::map<std::string, SavedConstant> constants;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), line); it != std::sregex_iterator(); ++it)
        constants[(*it)[4]] = {static_cast<uint16_t>(std::stoul((*it)[1], nullptr, 16)),
                               static_cast<int32_t>(std::stol((*it)[2])), std::stod((*it)[3])};
    return constants;
}

std::string nonZeroList() {
    std::string text = calibrationListFile();
    int n = 0;
    for (size_t pos = text.find("\"value\": 0,"); pos != std::string::npos;
         pos = text.find("\"value\": 0,", pos))
        text.replace(pos, 11, "\"value\": " + std::to_string(1000 + 7 * n++) + ",");
    return text;
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
    void startModule(const std::string& calFile = calibrationListFile()) {
        writeFile(m_calPath, calFile);
        captureStdout([&] {
            m_pModule->initialize(m_dir.path("QM9000.json").c_str(), nullptr, m_block.get());
            m_pModule->updateConfig(m_dir.path("QM9000.json").c_str());
        });
        m_bench.emplace(*m_pModule, block(), qmSimulatedLine());
    }
    // bFullDisk: writes past 1000 bytes fail.
    CalOutcome run(uint32_t ulCode, const CalQuantities& quantities = APPLIED, bool bFullDisk = false) {
        CalOutcome outcome{};
        const auto action = [&] {
            m_output = captureStdout([&] { outcome = m_bench->run(ulCode, quantities); });
        };
        bFullDisk ? withFileSizeLimit(1000, action) : action();
        return outcome;
    }
    static void expectOutcome(const CalOutcome& o, int nResult, uint32_t ulCalMode, uint32_t ulOpMode) {
        EXPECT_EQ(std::make_tuple(o.nResult, o.ulCalMode, o.ulOpMode),
                  std::make_tuple(nResult, ulCalMode, ulOpMode))
            << calCommandName(o.ulCode);
    }
    void expectChipHolds(const std::string& file) {
        for (const auto& [name, c] : savedConstants(file))  // chip registers only
            EXPECT_TRUE(c.unAddress >= 0x1000 || int32_t(sim::chipRegister(c.unAddress)) == c.lValue) << name;
    }
    bool has(const std::string& text) const { return m_output.find(text) != std::string::npos; }

    ScratchDirectory m_dir;
    std::string m_calPath, m_output;
    std::optional<CalibrationBench> m_bench;
};

TEST_F(CalCommands, EachCodeRunsItsCommandUnknownAndFailedOnesAreAcknowledged) {
    startModule();
    std::istringstream names(
        "- Clean Start Save Cancel VGain IGain VOS IOS Phase PGain PWOS PVAROS "
        "MultipointDefine MultipointGain MultipointPhase MultipointEnable WFBOS");
    const std::vector<std::string> NAMES{std::istream_iterator<std::string>(names), {}};
    for (uint32_t ulCode : {2, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 4, 3, 1}) {
        expectOutcome(run(ulCode), 0, 0, ulCode == 1 || ulCode == 3 || ulCode == 4 ? 0 : 1);
        EXPECT_EQ(m_output.find(std::string(65, '=') + "\r\n\r\nprocessCal" + NAMES[ulCode] + ": Begin \r\n"),
                  0u);
    }
    sim::clearSpiLog();
    const uint16_t unNextIn = nextIn();
    expectOutcome(run(0), 0, 0, 1);
    expectOutcome(run(18), 2, FAILED, 1);
    EXPECT_TRUE(sim::spiLog().empty() && m_output.empty());
    EXPECT_EQ(nextIn(), unNextIn);
    ASSERT_EQ(pthread_mutex_trylock(QM_BLOCK_MUTEX(block(), s_mutexOpMode)), 0);  // released
    pthread_mutex_unlock(QM_BLOCK_MUTEX(block(), s_mutexOpMode));

    expectOutcome(run(13, {230, 5, 5}), 4, FAILED, 1);  // region 5
    CalOutcome ack{};
    m_output = captureStdout([&] { ack = m_bench->acknowledge(); });
    expectOutcome(ack, 2, FAILED, 0);
}

// Save, clean and cancel fail with 4 keeping what is pending; a cancel restores the
// list (the chip keeps the pushed gain); clean zeroes file and chip, start only the chip.
TEST_F(CalCommands, SaveCleanAndCancelReplaceTheFileWholeOrFailKeepingWhatIsPending) {
    sim::setGainError(sim::Channel::VA, 2.0);
    startModule(nonZeroList());
    const std::string before = readFile(m_calPath);
    expectChipHolds(before);
    expectOutcome(run(2), 0, 0, 1);
    expectChipHolds(calibrationListFile());
    run(5);
    const uint32_t ulGain = sim::chipRegister(0x00B);
    expectOutcome(run(3, APPLIED, true), 4, FAILED, 0);
    EXPECT_TRUE(has("processCalSave: Calibration file not written, pending values kept\r\n"));
    EXPECT_EQ(readFile(m_calPath), before);
    EXPECT_EQ(m_dir.entries(), (std::vector<std::string>{"Cal9000.json", "QM9000.json"}));
    expectOutcome(run(3), 0, 0, 0);
    const std::string saved = readFile(m_calPath);
    EXPECT_EQ(uint32_t(savedConstants(saved)["AVGAIN"].lValue), ulGain);
    run(5);
    const uint32_t ulPushed = sim::chipRegister(0x00B);
    expectOutcome(run(4), 0, 0, 0);
    EXPECT_EQ(sim::chipRegister(0x00B), ulPushed);
    struct stat stSaved = {}, stNow = {};
    stat(m_calPath.c_str(), &stSaved);
    expectOutcome(run(3), 0, 0, 0);
    stat(m_calPath.c_str(), &stNow);
    EXPECT_EQ(stNow.st_ino, stSaved.st_ino) << "nothing pending after the cancel: the file is not written";
    expectOutcome(run(1, APPLIED, true), 4, FAILED, 0);
    EXPECT_EQ(readFile(m_calPath), saved);
    expectChipHolds(saved);
    expectOutcome(run(1), 0, 0, 0);
    EXPECT_EQ(readFile(m_calPath), calibrationListFile());
    expectChipHolds(calibrationListFile());

    run(5);
    unlink(m_calPath.c_str());
    expectOutcome(run(4), 4, FAILED, 0);  // nothing to restore from
    EXPECT_TRUE(has("processCalCancel: Calibration file not read, pending values kept\r\n"));
}

// Percent error of the power read at a lag of 60 (or 0) degrees when the current lags
// `dDegrees` more and the reading is `dGain` times the truth.
double powerError(double dGain, double dDegrees, double dLag) {
    const double dRadiansPerDegree = 3.14159265358979323846 / 180;
    return (dGain * std::cos((dLag + dDegrees) * dRadiansPerDegree) / std::cos(dLag * dRadiansPerDegree) -
            1) *
           100;
}

// Gain errors on a voltage, a current and the neutral channel, phase errors and a
// power offset: before, each channel reads its own error only (3 W of 1150 W and 575 W
// on B); after, about none, but B's at PF 0.5: the phase command read B's angle as
// atan(995.9 VAR / 578 W) = 59.871 degrees, and its correction stays when the offset
// command, at PF 1, removes the 3 W: 1150 - 1150 / 1153 x 1150 (cos 0.129 - cos 60.129).
TEST_F(CalCommands, FullCalibrationBringsEveryChannelToTheAppliedValuesAndSavesThem) {
    sim::setGainError(sim::Channel::VA, 1.3);
    sim::setGainError(sim::Channel::IC, 0.4);
    sim::setGainError(sim::Channel::IN, -0.7);
    sim::setPhaseError(sim::Phase::A, 0.5);
    sim::setPhaseError(sim::Phase::C, -0.3);
    sim::setPowerOffset(sim::Phase::B, 3.0);
    startModule();
    const PhaseErrors expected[2][3] = {{{1.3, 0, powerError(1.013, 0.5, 0), powerError(1.013, 0.5, 60)},
                                         {0, 0, 300.0 / 1150, 300.0 / 575},
                                         {0, 0.4, powerError(1.004, -0.3, 0), powerError(1.004, -0.3, 60)}},
                                        {{0, 0, 0, 0}, {0, 0, 0, -0.128}, {0, 0, 0, 0}}};

    MeterErrors measured[2]{};
    std::vector<CalOutcome> outcomes;
    m_output = captureStdout([&] {
        measured[0] = m_bench->measure(APPLIED);
        outcomes = m_bench->runSequence(APPLIED);
        measured[1] = m_bench->measure(APPLIED);
    });
    // Start, gains, offsets, phase, power gain and offsets, waveform offset, save.
    EXPECT_EQ(calSequence(), (std::vector<uint32_t>{2, 5, 6, 7, 8, 9, 10, 11, 12, 17, 3}));
    ASSERT_EQ(outcomes.size(), calSequence().size());
    for (const CalOutcome& outcome : outcomes) expectOutcome(outcome, 0, 0, outcome.ulCode == 3 ? 0 : 1);
    for (int n = 0; n < 2; n++) {
        for (int p = 0; p < 3; p++) {
            SCOPED_TRACE(std::string(n ? "after, phase " : "before, phase ") + char('A' + p));
            const PhaseErrors &e = expected[n][p], &m = measured[n].phase[p];
            EXPECT_NEAR(m.dVolts, e.dVolts, 0.005);
            EXPECT_NEAR(m.dAmps, e.dAmps, 0.005);
            EXPECT_NEAR(m.dWatts, e.dWatts, 0.005);
            EXPECT_NEAR(m.dWattsLagging, e.dWattsLagging, 0.005);
        }
        EXPECT_NEAR(measured[n].dNeutralAmps, n ? 0 : -0.7, 0.005);
    }

    const std::string saved = readFile(m_calPath);
    const auto constants = savedConstants(saved);
    EXPECT_NEAR(constants.at("AVGAIN").dFValue, 1 / 1.013, 1.5e-6);
    expectChipHolds(saved);
    // Each constant once, at the chip's address; the waveform offset is no chip register.
    const std::pair<const char*, int> known[] = {
        {"AIGAIN", 0x000},  {"AVGAIN", 0x00B},      {"BIGAIN", 0x020},   {"BPHCAL0", 0x026},
        {"CIGAIN4", 0x045}, {"CFVAROS", 0x052},     {"MTTHR_H4", 0x06A}, {"NIGAIN", 0x06D},
        {"NIRMSOS", 0x06B}, {"NIRMS1012OS", 0x070}, {"WFBOS", 0xFFFF}};
    for (const auto& [pszName, nAddress] : known)
        EXPECT_EQ(constants.count(pszName) ? constants.at(pszName).unAddress : -1, nAddress) << pszName;
    size_t nChip = 0;  // every line well-formed (three above and below them), no name twice
    for (const auto& entry : constants) nChip += entry.second.unAddress < 0x1000;
    EXPECT_EQ(std::make_pair(constants.size() + 6, nChip + 1),
              std::make_pair(size_t(std::count(saved.begin(), saved.end(), '\n')), constants.size()));
}

// The host's command line: exit code, and a text on standard output or error.
TEST(HostCommandLine, RunsWhatItIsGivenAndRefusesBadValuesNamingTheOption) {
    // The example calibration file calibrates the neutral; one without NIGAIN names it.
    ScratchDirectory dir;
    const std::string example = readFile(QM_CONFIG_DIR "/Cal9000.json"), gain = "\"name\": \"NIGAIN\"";
    const std::string withNeutral = dir.write("Cal9000.json", example);
    const std::string withoutNeutral =
        dir.write("short.json", example.substr(0, example.find(gain)) + "\"name\": \"X\"" +
                                    example.substr(example.find(gain) + gain.size()));
    char szNeutral[80];
    snprintf(szNeutral, sizeof(szNeutral), "  N               %+8.3f%37s%+8.3f\n", 2.0, "", 0.0);
    const std::tuple<std::vector<std::string>, int, std::string> lines[] = {
        {{"calibrate", "--plugin", QM_PLUGIN_PATH, "--command", "6", "--error", "IN:+2", "--cal",
          withNeutral},
         0,
         szNeutral},
        {{"calibrate", "--plugin", QM_PLUGIN_PATH, "--command", "6", "--error", "IN:+2", "--cal",
          withoutNeutral},
         1,
         "not calibrated, as " + withoutNeutral + " does not list them: NIGAIN\n"},
        {{"calibrate", "--board", "sim", "--plugin", QM_PLUGIN_PATH, "--sequence", "--error", "VA:+1.3",
          "--phase-error", "A:0.5", "--power-offset", "B:3:1"},
         0,
         "  A        +1.300   +0.000   +1.296   -0.235"},  // before: 101.3 cos 0.5, 101.3 cos 60.5 / cos 60
        {{"calibrate", "--command", "5", "--error", "VX:1"}, 2, "qmhost: --error: Value VX:1 not CH:PERCENT"},
        {{"calibrate", "--volts", "0", "--sequence"}, 2, "qmhost: --volts: Value 0 is not above 0\n"},
        {{"calibrate", "--amps", "5"}, 2, "qmhost: --sequence or --command is required\n"},
        {{"calibrate", "--board", "hw", "--dc-offset", "IA:3", "--sequence"}, 2, "--dc-offset: only with"},
        {{"--seconds", "abc"}, 2, "qmhost: --seconds: Value abc not a number\n"},
        {{"--scenario", "nope"}, 2, "qmhost: --scenario: Value nope not a scenario\n"},
        {{"--pq-swell-percent", "104"}, 2, "qmhost: --pq-swell-percent: Value 104 not in range 105"},
        {{"--pq-rvc-percent", "x"}, 2, "qmhost: --pq-rvc-percent: Value x not in range"},
        {{"--board", "hw", "--fast"}, 2, "qmhost: --fast: only with --board sim\n"},
        {{"--mqtt", "mqtt://h:65536"},
         2,
         "qmhost: --mqtt: \"mqtt://h:65536\": the port must be a number from 1 to"},
        {{"--mqtt", "mqtts://:p@h"}, 2, "qmhost: --mqtt: \"mqtts://:p@h\": a password needs a user\n"},
        {{"--mqtt", "tcp://h"}, 2, "qmhost: --mqtt: \"tcp://h\" is not mqtt://[user:password@]host[:port]"},
        {{"calibrate", "--help"}, 0, "Usage: qmhost calibrate [OPTIONS]"},
    };
    for (auto [args, nExit, text] : lines) {
        std::vector<char*> argv{const_cast<char*>("qmhost")};
        for (std::string& arg : args) argv.push_back(arg.data());
        int nResult = -1;
        testing::internal::CaptureStderr();
        std::string output =
            captureStdout([&] { nResult = hostMain(static_cast<int>(argv.size()), argv.data()); });
        output += testing::internal::GetCapturedStderr();
        EXPECT_EQ(nResult, nExit) << args[0] << " " << args[1];
        EXPECT_NE(output.find(text), std::string::npos) << output;
    }
}

}  // namespace
