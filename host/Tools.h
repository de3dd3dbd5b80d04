// The host's command line, `qmhost [SUBCOMMAND] [OPTIONS]`, and the
// subcommands on it: run (the live meter, also what runs without a
// subcommand), calibrate, mdt and export.
#pragma once

#include <functional>
#include <string>

#include "BoardLink.h"

namespace CLI {
class App;
}

// `qmhost ...`: parses the whole command line, loads the board's library and
// runs the subcommand. Exit code: 0 done (or help shown), 1 failed, 2 a bad
// command line (one line on standard error).
int hostMain(int argc, char** argv);

// What every subcommand is given: the board (--board) and, for those that
// load it, the module (--plugin; empty: QM9000.so where the host finds its
// libraries).
struct HostOptions {
    Board board = Board::Simulated;
    std::string plugin;
    std::string pluginPath() const;
};

// The options only the simulated board has are in this group; with
// --board hw they are refused.
constexpr const char* SIMULATED_BOARD_ONLY = "Simulated board only";

// A subcommand's work, run once the command line has parsed; the exit code.
using ToolAction = std::function<int()>;

// Each adds its options to its subcommand and returns its work; `host` is
// filled in when the work runs.
ToolAction addRunCommand(CLI::App& command, HostOptions& host);
ToolAction addCalibrateCommand(CLI::App& command, HostOptions& host);
ToolAction addMdtCommand(CLI::App& command, HostOptions& host);
ToolAction addExportCommand(CLI::App& command, HostOptions& host);

// --plugin PATH, for the subcommands that load the module.
void addPluginOption(CLI::App& command, HostOptions& host);
