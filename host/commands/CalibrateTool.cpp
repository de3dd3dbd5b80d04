// `qmhost calibrate`: the technician's calibration bench. The loaded module
// runs calibration commands posted through the host block, and the bench
// shows the error of every channel before and after. On the simulated board
// the line gets the channel errors given on the command line and the bench
// drives it, on the board's virtual clock; on the real board the technician
// applies --volts and --amps in phase and the bench runs in real time.
#include <fcntl.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "CalibrateOptions.h"
#include "CalibrationBench.h"
#include "HostBlock.h"
#include "HostCommandLine.h"
#include "LineSettings.h"
#include "ModuleSession.h"

namespace {

// The module reports its every step on standard output; the bench shows it
// only when asked, so its own table stays readable.
class ModuleOutput {
public:
    explicit ModuleOutput(bool bShow) {
        fflush(stdout);
        if (bShow) return;
        m_nSaved = dup(STDOUT_FILENO);
        const int nNull = open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (m_nSaved >= 0 && nNull >= 0) dup2(nNull, STDOUT_FILENO);
        if (nNull >= 0) close(nNull);
    }
    ~ModuleOutput() {
        fflush(stdout);
        if (m_nSaved < 0) return;
        dup2(m_nSaved, STDOUT_FILENO);
        close(m_nSaved);
    }
    ModuleOutput(const ModuleOutput&) = delete;
    ModuleOutput& operator=(const ModuleOutput&) = delete;

private:
    int m_nSaved = -1;
};

// The bench's files: the given ones, or new ones in a scratch directory that
// goes when the bench ends.
class BenchFiles {
public:
    bool prepare(const CalibrateOptions& options) {
        if (options.config.empty() || options.cal.empty()) {
            char szDir[] = "/tmp/qmhost-calibrate-XXXXXX";
            if (!mkdtemp(szDir)) return false;
            m_scratch = szDir;
        }
        config = options.config.empty() ? m_scratch + "/QM9000.json" : options.config;
        cal = options.cal.empty() ? m_scratch + "/Cal9000.json" : options.cal;
        if (options.config.empty() && !writeText(config, defaultConfig())) return false;
        // A calibration file given but not there yet starts as the full list.
        if (access(cal.c_str(), F_OK) != 0 && !writeText(cal, calibrationListFile())) return false;
        return true;
    }
    ~BenchFiles() {
        if (m_scratch.empty()) return;
        unlink((m_scratch + "/QM9000.json").c_str());
        unlink((m_scratch + "/Cal9000.json").c_str());
        rmdir(m_scratch.c_str());
    }

    std::string config, cal;

private:
    static std::string defaultConfig() {
        const char* const settings[][2] = {{"Wiring", "3"},           {"FNominal", "50"},
                                           {"VNominal", "230"},       {"INominal", "5"},
                                           {"FullScaleVolts", "500"}, {"FullScaleAmps", "10"}};
        std::string text = "{\n  \"settings\": [\n";
        for (size_t i = 0; i < sizeof(settings) / sizeof(settings[0]); i++)
            text += std::string("    { \"name\": \"") + settings[i][0] + "\", \"value\": " + settings[i][1] +
                    " }" + (i + 1 < sizeof(settings) / sizeof(settings[0]) ? "," : "") + "\n";
        return text + "  ]\n}\n";
    }
    static bool writeText(const std::string& path, const std::string& text) {
        FILE* pFile = fopen(path.c_str(), "wb");
        if (!pFile) return false;
        const bool bWritten = fwrite(text.data(), 1, text.size(), pFile) == text.size();
        return fclose(pFile) == 0 && bWritten;
    }
    std::string m_scratch;
};

std::string readText(const std::string& path) {
    std::string text;
    FILE* pFile = fopen(path.c_str(), "rb");
    if (!pFile) return text;
    char buffer[4096];
    size_t n = 0;
    while ((n = fread(buffer, 1, sizeof(buffer), pFile)) > 0) text.append(buffer, n);
    fclose(pFile);
    return text;
}

void printOutcome(const CalOutcome& outcome) {
    printf("  %10u  %-22s %6d   0x%08X  %10u  %6.2f s\n", outcome.ulCode, calCommandName(outcome.ulCode),
           outcome.nResult, outcome.ulCalMode, outcome.ulOpMode, outcome.dSeconds);
}

// An error, or "-" for one not measured (NaN).
std::string shownError(double dPercent) {
    if (std::isnan(dPercent)) return "       -";
    char szText[16];
    snprintf(szText, sizeof(szText), "%+8.3f", dPercent);
    return szText;
}

void printErrors(const MeterErrors& before, const MeterErrors& after) {
    puts("\nError per channel (reading - applied, in % of applied; W at PF 1 and PF 0.5)");
    puts("          ---------------- before ----------------   ----------------- after ----------------");
    puts("  phase        V        I   W PF 1  W PF .5            V        I   W PF 1  W PF .5");
    for (int p = 0; p < 3; p++) {
        const PhaseErrors& b = before.phase[p];
        const PhaseErrors& a = after.phase[p];
        printf("  %c      %+8.3f %+8.3f %+8.3f %s     %+8.3f %+8.3f %+8.3f %s\n", 'A' + p, b.dVolts, b.dAmps,
               b.dWatts, shownError(b.dWattsLagging).c_str(), a.dVolts, a.dAmps, a.dWatts,
               shownError(a.dWattsLagging).c_str());
    }
    printf("  N               %+8.3f                                     %+8.3f\n", before.dNeutralAmps,
           after.dNeutralAmps);
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    for (size_t start = 0; start < text.size();) {
        const size_t end = text.find('\n', start);
        result.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end + 1 - start));
        start = end == std::string::npos ? text.size() : end + 1;
    }
    return result;
}

// The constants the commands changed, as the calibration file now holds them.
void printChangedLines(const std::string& before, const std::string& after) {
    const std::vector<std::string> old = lines(before), now = lines(after);
    std::vector<std::string> changed;
    for (size_t i = 0; i < now.size(); i++)
        if (i >= old.size() || now[i] != old[i]) changed.push_back(now[i]);
    if (changed.empty()) {
        puts("\nThe calibration file is unchanged.");
        return;
    }
    printf("\nChanged in the calibration file (%zu lines):\n", changed.size());
    for (const std::string& line : changed) fputs(line.c_str(), stdout);
}

// The constants the commands asked for compute but the calibration file does
// not list, comma-separated: the module drops them, and the channel stays as
// it was.
std::string uncalibrated(const CalibrateOptions& options, const std::string& calText) {
    std::vector<CalCommand> commands = options.commands;
    if (options.bSequence)
        for (uint32_t ulCode : calSequence()) commands.push_back({ulCode, options.quantities});
    std::vector<std::string> names;
    for (const CalCommand& command : commands)
        for (const std::string& name :
             uncalibratedConstants(command.ulCode, command.quantities.ulRegion, calText))
            if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
    std::string list;
    for (const std::string& name : names) list += (list.empty() ? "" : ", ") + name;
    return list;
}

// The simulated board for the bench: on its virtual clock, built for the
// configuration's full scale, with the errors the line gave.
void prepareSimulatedBoard(SimulatedLine& line, const CalibrateOptions& options,
                           const std::string& configFile) {
    line.reset();  // virtual clock: the whole calibration takes a moment
    LineSettings settings;
    if (readLineSettings(configFile.c_str(), settings) && settings.correctedFullScaleVolts() > 0)
        line.setFullScale(settings.correctedFullScaleVolts(),
                          settings.fFullScaleAmps > 0 ? settings.fFullScaleAmps : line.fullScaleAmps());
    for (const auto& [channel, error] : options.errors) line.setChannelError(channel, error);
    for (const auto& [phase, offsets] : options.powerOffsets)
        line.setPowerOffset(phase, offsets.first, offsets.second);
}

struct BenchRun {
    std::vector<CalOutcome> outcomes;
    MeterErrors before{}, after{};
};

// The module on the bench: brought up, measured, calibrated by the commands
// (or the whole sequence), measured again, taken down. False with `failure`
// set when the module could not be brought up.
bool runBench(const HostOptions& host, const CalibrateOptions& options, const BenchFiles& files,
              BenchRun& run, std::string& failure) {
    HostBlockPtr block = makeHostBlock();
    snprintf(block->s_pszActiveConfig, sizeof(block->s_pszActiveConfig), "%s", files.config.c_str());
    snprintf(block->s_pszActiveCal, sizeof(block->s_pszActiveCal), "%s", files.cal.c_str());
    ModuleOutput output(options.bVerbose);
    ModuleSession session;
    if (!session.create(host.pluginPath(), failure) ||
        !session.start(files.config, nullptr, *block, false, failure))
        return false;
    CalibrationBench bench(session.module(), *block, host.pLine);
    run.before = bench.measure(options.quantities);
    if (options.bSequence) {
        run.outcomes = bench.runSequence(options.quantities);
    } else {
        for (const CalCommand& command : options.commands) {
            run.outcomes.push_back(bench.run(command.ulCode, command.quantities));
            if (run.outcomes.back().nResult != CAL_DONE && command.ulCode != CAL_ACKNOWLEDGE)
                run.outcomes.push_back(bench.acknowledge());
        }
    }
    run.after = bench.measure(options.quantities);
    return true;
}

int runCalibrate(const HostOptions& host, const CalibrateOptions& options) {
    BenchFiles files;
    if (!files.prepare(options))
        return toolFailed("calibrate", "cannot prepare the configuration and calibration files");
    try {
        if (host.pLine) prepareSimulatedBoard(*host.pLine, options, files.config);
    } catch (const std::exception& e) {
        return toolUsage("the simulated board", e.what());
    }
    const std::string calBefore = readText(files.cal);
    BenchRun run;
    std::string failure;
    if (!runBench(host, options, files, run, failure)) return toolFailed(failure);

    printf("qmhost calibrate: %.3f V and %.3f A applied; calibration file %s\n",
           static_cast<double>(options.quantities.fVolts), static_cast<double>(options.quantities.fAmps),
           files.cal.c_str());
    puts("\n        code  command                result  s_ulCalMode  s_ulOpMode    time");
    bool bFailed = false;
    for (const CalOutcome& outcome : run.outcomes) {
        printOutcome(outcome);
        bFailed |= outcome.nResult != CAL_DONE;
    }
    printErrors(run.before, run.after);
    printChangedLines(calBefore, readText(files.cal));
    if (bFailed) return toolFailed("calibrate", "a command failed (result above)");
    const std::string skipped = uncalibrated(options, calBefore);
    if (!skipped.empty())
        return toolFailed("calibrate", "not calibrated, as " + files.cal + " does not list them: " + skipped);
    return TOOL_OK;
}

}  // namespace

ToolAction addCalibrateCommand(CLI::App& command, HostOptions& host) {
    auto options = std::make_shared<CalibrateOptions>();
    command.footer(
        "Runs the measurement module's calibration and shows the error of every channel before\n"
        "and after. --sequence runs start, voltage and current gains and offsets, phase, power\n"
        "gain, power offsets, waveform offset and save. On the simulated board the bench drives\n"
        "the line (with the channel errors given) on the board's virtual clock; on the real\n"
        "board the technician applies --volts and --amps in phase, and the test with the\n"
        "current lagging 60 degrees is not measured.");
    addCalibrateOptions(command, *options);
    addPluginOption(command, host);
    return [&host, options] { return runCalibrate(host, *options); };
}
