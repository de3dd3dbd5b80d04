// The host's command line: one application with a subcommand per tool. The
// board is chosen and its library loaded here, before any tool runs, so a
// tool loads the module into a process whose board functions are in place.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "HostLibraries.h"
#include "Tools.h"

namespace {

constexpr int EXIT_FAILED = 1, EXIT_USAGE = 2;

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

}  // namespace

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

    if (argc > 1 && argv[1][0] != '-' && !isTool(argv[1])) {
        fprintf(stderr, "qmhost: %s: not a subcommand (%s)\n", argv[1], toolNames().c_str());
        return EXIT_USAGE;
    }
    std::vector<char*> args = withDefaultCommand(argc, argv);
    try {
        app.parse(static_cast<int>(args.size()), args.data());
    } catch (const CLI::CallForHelp&) {
        fputs(app.help().c_str(), stdout);
        return 0;
    } catch (const CLI::ParseError& error) {
        fprintf(stderr, "qmhost: %s\n", error.what());
        return EXIT_USAGE;
    }
    parseBoard(boardName, host.board);
    for (const auto& [pCommand, action] : tools) {
        if (!pCommand->parsed()) continue;
        const CLI::Option* pSimulatedOnly = simulatedBoardOption(*pCommand);
        if (host.board == Board::Hardware && pSimulatedOnly) {
            fprintf(stderr, "qmhost: %s: only with --board sim\n", pSimulatedOnly->get_name().c_str());
            return EXIT_USAGE;
        }
        std::string error;
        if (!loadBoardLibrary(host.board, error)) {
            fprintf(stderr, "qmhost: %s\n", error.c_str());
            return EXIT_FAILED;
        }
        return action();
    }
    return EXIT_USAGE;  // require_subcommand(1) leaves no other way
}
