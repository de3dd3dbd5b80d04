// The host's command line: one application with a subcommand per tool. The
// board is chosen and its library loaded here, before any tool runs, so a
// tool loads the module into a process whose board functions are in place.
#include "HostCommandLine.h"

#include <CLI/CLI.hpp>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "HostLibraries.h"
#include "SimulatedLineLink.h"

namespace {

struct Tool {
    const char* pszName;
    const char* pszDescription;
    ToolAction (*add)(CLI::App& command, HostOptions& host);
};

const Tool TOOLS[] = {
    {"run", "The live meter (what runs without a subcommand)", addRunCommand},
    {"calibrate", "The calibration bench", addCalibrateCommand},
    {"mdt", "The module description table on the module's EEPROM", addMdtCommand},
    {"export", "A recorded event as COMTRADE or CSV", addExportCommand},
    {"modbus-map", "The Modbus registers, as docs/modbus.md", addModbusMapCommand},
};

// Without a subcommand the live meter runs: `qmhost --seconds 2` is
// `qmhost run --seconds 2`.
std::vector<char*> withDefaultCommand(int argc, char** argv) {
    std::vector<char*> args(argv, argv + argc);
    static char szRun[] = "run";
    const bool bNamesCommand =
        argc > 1 && (argv[1][0] != '-' || !strcmp(argv[1], "-h") || !strcmp(argv[1], "--help"));
    if (!bNamesCommand) args.insert(args.begin() + 1, szRun);
    return args;
}

// "run, calibrate, mdt"
std::string toolNames() {
    std::string names;
    for (const Tool& tool : TOOLS) names += (names.empty() ? "" : ", ") + std::string(tool.pszName);
    return names;
}

bool isTool(const char* pszName) {
    for (const Tool& tool : TOOLS)
        if (!strcmp(tool.pszName, pszName)) return true;
    return false;
}

// The first option of the simulated board's that the command line gave.
const CLI::Option* simulatedBoardOption(const CLI::App& command) {
    for (const CLI::Option* pOption : command.get_options())
        if (pOption->get_group() == SIMULATED_BOARD_ONLY && pOption->count() > 0) return pOption;
    return nullptr;
}

// A finite number; `outOfRange` says what is wrong with it, or null.
CLI::Validator number(const char* (*outOfRange)(double)) {
    return CLI::Validator(
        [=](std::string& text) -> std::string {
            char* pEnd = nullptr;
            const double dValue = strtod(text.c_str(), &pEnd);
            if (text.empty() || *pEnd != '\0' || !std::isfinite(dValue))
                return "Value " + text + " not a number";
            const char* pszWrong = outOfRange(dValue);
            return pszWrong ? "Value " + text + " " + pszWrong : "";
        },
        "");
}

}  // namespace

int toolFailed(const std::string& what, const std::string& why) {
    return toolFailed(what + ": " + why);
}

int toolFailed(const std::string& failure) {
    fflush(stdout);  // what the tool said so far comes first
    fprintf(stderr, "qmhost: %s\n", failure.c_str());
    return TOOL_FAILED;
}

int toolUsage(const std::string& what, const std::string& why) {
    fflush(stdout);
    fprintf(stderr, "qmhost: %s: %s\n", what.c_str(), why.c_str());
    return TOOL_USAGE;
}

std::string HostOptions::pluginPath() const {
    return plugin.empty() ? hostLibraryPath("QM9000.so") : plugin;
}

void addPluginOption(CLI::App& command, HostOptions& host) {
    command
        .add_option("--plugin", host.plugin,
                    "The module to load (default: QM9000.so beside the host's libraries)")
        ->type_name("PATH");
}

int hostMain(int argc, char** argv) {
    CLI::App app("The reference host of the QM9000 measurement module.", "qmhost");
    app.require_subcommand(1);
    app.footer(
        "Without a subcommand qmhost runs the live meter: qmhost --seconds 2 is qmhost run --seconds 2.\n"
        "qmhost SUBCOMMAND --help shows a subcommand's options.");
    HostOptions host;
    std::string boardName = QM_DEFAULT_BOARD;
    std::vector<std::pair<CLI::App*, ToolAction>> tools;
    for (const Tool& tool : TOOLS) {
        CLI::App* pCommand = app.add_subcommand(tool.pszName, tool.pszDescription);
        pCommand->add_option("--board", boardName, "The board: hw (the real one) or sim (simulated)")
            ->capture_default_str()
            ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast)
            ->check(CLI::IsMember({"hw", "sim"}));
        tools.emplace_back(pCommand, tool.add(*pCommand, host));
    }

    if (argc > 1 && argv[1][0] != '-' && !isTool(argv[1]))
        return toolUsage(argv[1], "not a subcommand (" + toolNames() + ")");
    std::vector<char*> args = withDefaultCommand(argc, argv);
    try {
        app.parse(static_cast<int>(args.size()), args.data());
    } catch (const CLI::CallForHelp&) {
        fputs(app.help().c_str(), stdout);
        return TOOL_OK;
    } catch (const CLI::ParseError& error) {
        fprintf(stderr, "qmhost: %s\n", error.what());
        return TOOL_USAGE;
    }
    parseBoard(boardName, host.board);
    for (const auto& [pCommand, action] : tools) {
        if (!pCommand->parsed()) continue;
        const CLI::Option* pSimulatedOnly = simulatedBoardOption(*pCommand);
        if (host.board == Board::Hardware && pSimulatedOnly)
            return toolUsage(pSimulatedOnly->get_name(), "only with --board sim");
        std::string error;
        if (!loadBoardLibrary(host.board, error) ||
            (host.board == Board::Simulated && !(host.pLine = loadSimulatedLine(error))))
            return toolFailed(error);
        return action();
    }
    return TOOL_USAGE;  // require_subcommand(1) leaves no other way
}

CLI::Validator nonNegativeNumber() {
    return number([](double dValue) { return dValue < 0 ? "is negative" : nullptr; });
}

CLI::Validator positiveFloat() {
    return number([](double dValue) {
        const float fValue = static_cast<float>(dValue);
        return !std::isfinite(fValue) ? "is too large" : fValue <= 0 ? "is not above 0" : nullptr;
    });
}

CLI::Validator acceptedBy(std::function<bool(const std::string&)> accepts, const std::string& expected) {
    return CLI::Validator(
        [accepts, expected](std::string& text) -> std::string {
            return accepts(text) ? "" : "Value " + text + " not " + expected;
        },
        "");
}
