// `qmhost calibrate`: the technician's calibration bench. The simulated board
// gets the channel errors given on the command line; the loaded module then
// runs calibration commands posted through the host block, on the board's
// virtual clock, and the bench shows the error of every channel before and
// after.
#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "BoardScale.h"
#include "CalibrationBench.h"
#include "HostBlock.h"
#include "PluginLoader.h"
#include "Sim.h"
#include "Tools.h"

namespace {

struct Command {
    uint32_t ulCode;
    CalQuantities quantities;  // as given before the command on the line
};

struct Options {
    std::string plugin = QM_PLUGIN_PATH;
    std::string config;  // empty: the bench's own meter
    std::string cal;     // empty: a new file listing every constant
    bool bSequence = false;
    bool bVerbose = false;
    CalQuantities quantities;
    std::vector<Command> commands;
    std::vector<std::pair<sim::Channel, sim::ChannelError>> errors;
    std::vector<std::pair<sim::Phase, std::pair<double, double>>> powerOffsets;
};

void usage() {
    puts(
        "usage: qmhost calibrate (--sequence | --command N [--command N ...]) [options]\r\n"
        "  Runs the measurement module's calibration against the simulated board on its\r\n"
        "  virtual clock and shows the error of every channel before and after.\r\n"
        "  --sequence             start, voltage and current gains and offsets, phase,\r\n"
        "                         power gain, power offsets, waveform offset, save\r\n"
        "  --command N            one command (0..17; 4294967295 acknowledges a failure);\r\n"
        "                         repeatable, run in order with the quantities given before it\r\n"
        "  --volts V, --amps A    applied RMS values (230 V, 5 A)\r\n"
        "  --region R, --thresholds LO:HI, --option N   multipoint inputs\r\n"
        "  --error CH:PERCENT     gain error of a channel (VA VB VC IA IB IC IN)\r\n"
        "  --rms-offset CH:VALUE  RMS offset of a channel, volts or amps\r\n"
        "  --dc-offset CH:COUNTS  DC offset of a channel's waveform samples\r\n"
        "  --phase-error P:DEG    extra current lag of a phase (A B C)\r\n"
        "  --power-offset P:W[:VAR]  power offsets of a phase\r\n"
        "  --config PATH          measurement configuration (a 230 V, 5 A, 50 Hz wye meter\r\n"
        "                         with 500 V and 10 A full scale)\r\n"
        "  --cal PATH             calibration file (a new one listing every constant)\r\n"
        "  --verbose              show the module's own output\r\n"
        "  --plugin PATH          the module to load\r");
}

bool parseChannel(const std::string& name, sim::Channel& channel) {
    const char* const names[] = {"IA", "VA", "IB", "VB", "IC", "VC", "IN"};
    for (int i = 0; i < 7; i++)
        if (name == names[i]) {
            channel = static_cast<sim::Channel>(i);
            return true;
        }
    return false;
}

bool parsePhase(const std::string& name, sim::Phase& phase) {
    if (name.size() != 1 || name[0] < 'A' || name[0] > 'C') return false;
    phase = static_cast<sim::Phase>(name[0] - 'A');
    return true;
}

// "NAME:VALUE[:VALUE]"; every number must be complete and finite.
bool splitValues(const std::string& text, std::string& name, std::vector<double>& values) {
    size_t start = text.find(':');
    if (start == std::string::npos) return false;
    name = text.substr(0, start);
    while (start != std::string::npos) {
        const size_t next = text.find(':', start + 1);
        const std::string field =
            text.substr(start + 1, next == std::string::npos ? std::string::npos : next - start - 1);
        char* pEnd = nullptr;
        const double dValue = strtod(field.c_str(), &pEnd);
        if (field.empty() || *pEnd != '\0' || !std::isfinite(dValue)) return false;
        values.push_back(dValue);
        start = next;
    }
    return true;
}

bool parseNumber(const char* pszText, double& dValue) {
    char* pEnd = nullptr;
    dValue = strtod(pszText, &pEnd);
    return *pszText != '\0' && *pEnd == '\0' && std::isfinite(dValue);
}

bool parseCode(const char* pszText, uint32_t& ulCode) {
    char* pEnd = nullptr;
    const unsigned long long ullCode = strtoull(pszText, &pEnd, 0);
    if (*pszText == '\0' || *pszText == '-' || *pEnd != '\0' || ullCode > 0xFFFFFFFFull) return false;
    ulCode = static_cast<uint32_t>(ullCode);
    return true;
}

sim::ChannelError& channelError(Options& options, sim::Channel channel) {
    for (auto& [existing, error] : options.errors)
        if (existing == channel) return error;
    options.errors.push_back({channel, {}});
    return options.errors.back().second;
}

bool parseOption(Options& options, const std::string& arg, const char* pszValue) {
    std::string name;
    std::vector<double> values;
    double dValue = 0;
    if (arg == "--command") {
        uint32_t ulCode = 0;
        if (!parseCode(pszValue, ulCode)) return false;
        options.commands.push_back({ulCode, options.quantities});
    } else if (arg == "--volts" && parseNumber(pszValue, dValue)) {
        options.quantities.fVolts = static_cast<float>(dValue);
    } else if (arg == "--amps" && parseNumber(pszValue, dValue)) {
        options.quantities.fAmps = static_cast<float>(dValue);
    } else if (arg == "--region" || arg == "--option") {
        uint32_t ulValue = 0;
        if (!parseCode(pszValue, ulValue)) return false;
        (arg == "--region" ? options.quantities.ulRegion : options.quantities.ulOption) = ulValue;
    } else if (arg == "--thresholds" && splitValues(std::string("T:") + pszValue, name, values) &&
               values.size() == 2) {
        options.quantities.fThreshLo = static_cast<float>(values[0]);
        options.quantities.fThreshHi = static_cast<float>(values[1]);
    } else if (arg == "--error" || arg == "--rms-offset" || arg == "--dc-offset") {
        sim::Channel channel{};
        if (!splitValues(pszValue, name, values) || values.size() != 1 || !parseChannel(name, channel))
            return false;
        sim::ChannelError& error = channelError(options, channel);
        if (arg == "--error") error.gainPercent = values[0];
        if (arg == "--rms-offset") error.rmsOffset = values[0];
        if (arg == "--dc-offset") error.dcOffsetCounts = static_cast<int>(values[0]);
    } else if (arg == "--phase-error") {
        sim::Phase phase{};
        if (!splitValues(pszValue, name, values) || values.size() != 1 || !parsePhase(name, phase))
            return false;
        channelError(options, static_cast<sim::Channel>(2 * static_cast<int>(phase))).phaseDegrees =
            values[0];
    } else if (arg == "--power-offset") {
        sim::Phase phase{};
        if (!splitValues(pszValue, name, values) || values.empty() || values.size() > 2 ||
            !parsePhase(name, phase))
            return false;
        options.powerOffsets.push_back({phase, {values[0], values.size() > 1 ? values[1] : 0.0}});
    } else if (arg == "--config") {
        options.config = pszValue;
    } else if (arg == "--cal") {
        options.cal = pszValue;
    } else if (arg == "--plugin") {
        options.plugin = pszValue;
    } else {
        return false;
    }
    return true;
}

bool parse(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; i++) {
        const std::string arg = argv[i];
        if (arg == "--sequence") {
            options.bSequence = true;
        } else if (arg == "--verbose") {
            options.bVerbose = true;
        } else if (i + 1 < argc && parseOption(options, arg, argv[i + 1])) {
            i++;
        } else {
            fprintf(stderr, "qmhost calibrate: bad option %s%s%s\n", arg.c_str(), i + 1 < argc ? " " : "",
                    i + 1 < argc ? argv[i + 1] : "");
            return false;
        }
    }
    if (options.bSequence == !options.commands.empty()) {
        fputs("qmhost calibrate: give either --sequence or --command\n", stderr);
        return false;
    }
    return true;
}

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
    bool prepare(const Options& options) {
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
    printf("  %10u  %-22s %6d   0x%08X  %10u  %6.2f s\r\n", outcome.ulCode, calCommandName(outcome.ulCode),
           outcome.nResult, outcome.ulCalMode, outcome.ulOpMode, outcome.dSeconds);
}

void printErrors(const MeterErrors& before, const MeterErrors& after) {
    puts("\r\nError per channel (reading - applied, in % of applied; W at PF 1 and PF 0.5)\r");
    puts("          ---------------- before ----------------   ----------------- after ----------------\r");
    puts("  phase        V        I   W PF 1  W PF .5            V        I   W PF 1  W PF .5\r");
    for (int p = 0; p < 3; p++) {
        const PhaseErrors& b = before.phase[p];
        const PhaseErrors& a = after.phase[p];
        printf("  %c      %+8.3f %+8.3f %+8.3f %+8.3f     %+8.3f %+8.3f %+8.3f %+8.3f\r\n", 'A' + p, b.dVolts,
               b.dAmps, b.dWatts, b.dWattsLagging, a.dVolts, a.dAmps, a.dWatts, a.dWattsLagging);
    }
    printf("  N               %+8.3f                                     %+8.3f\r\n", before.dNeutralAmps,
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
        puts("\r\nThe calibration file is unchanged.\r");
        return;
    }
    printf("\r\nChanged in the calibration file (%zu lines):\r\n", changed.size());
    for (const std::string& line : changed) fputs(line.c_str(), stdout);
}

}  // namespace

int calibrateTool(int argc, char** argv) {
    Options options;
    if (argc > 1 && (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0)) {
        usage();
        return 0;
    }
    if (!parse(argc, argv, options)) {
        usage();
        return 2;
    }
    BenchFiles files;
    if (!files.prepare(options)) {
        fprintf(stderr, "qmhost calibrate: cannot prepare the configuration and calibration files\n");
        return 1;
    }

    sim::reset();  // virtual clock: the whole calibration takes a moment
    BoardScale scale{sim::fullScaleVolts(), sim::fullScaleAmps()};
    if (readBoardScale(files.config, scale) && scale.dVolts > 0 && scale.dAmps > 0)
        sim::setFullScale(scale.dVolts, scale.dAmps);
    for (const auto& [channel, error] : options.errors) sim::setChannelError(channel, error);
    for (const auto& [phase, offsets] : options.powerOffsets)
        sim::setPowerOffset(phase, offsets.first, offsets.second);

    PluginLoader loader;
    if (!loader.open(options.plugin)) {
        fprintf(stderr, "qmhost calibrate: cannot load %s: %s\n", options.plugin.c_str(),
                loader.error().c_str());
        return 1;
    }
    HostBlockPtr block = makeHostBlock();
    snprintf(block->s_pszActiveConfig, sizeof(block->s_pszActiveConfig), "%s", files.config.c_str());
    snprintf(block->s_pszActiveCal, sizeof(block->s_pszActiveCal), "%s", files.cal.c_str());
    const std::string calBefore = readText(files.cal);

    std::vector<CalOutcome> outcomes;
    MeterErrors before{}, after{};
    {
        ModuleOutput output(options.bVerbose);
        MeasSOM* pModule = loader.create();
        CalibrationBench bench(*pModule, *block);
        pModule->initialize(files.config.c_str(), nullptr, block.get());
        pModule->updateConfig(files.config.c_str());
        before = bench.measure(options.quantities);
        if (options.bSequence) {
            outcomes = bench.runSequence(options.quantities);
        } else {
            for (const Command& command : options.commands) {
                outcomes.push_back(bench.run(command.ulCode, command.quantities));
                if (outcomes.back().nResult != 0 && command.ulCode != CAL_CODE_ACKNOWLEDGE)
                    outcomes.push_back(bench.acknowledge());
            }
        }
        after = bench.measure(options.quantities);
        loader.destroy(pModule);
    }

    printf("qmhost calibrate: %.3f V and %.3f A applied; calibration file %s\r\n",
           static_cast<double>(options.quantities.fVolts), static_cast<double>(options.quantities.fAmps),
           files.cal.c_str());
    puts("\r\n        code  command                result  s_ulCalMode  s_ulOpMode    time\r");
    bool bFailed = false;
    for (const CalOutcome& outcome : outcomes) {
        printOutcome(outcome);
        bFailed |= outcome.nResult != 0;
    }
    printErrors(before, after);
    printChangedLines(calBefore, readText(files.cal));
    return bFailed ? 1 : 0;
}
