// The host's command line, `qmhost [SUBCOMMAND] [OPTIONS]`, and the
// subcommands on it: run (the live meter, also what runs without a
// subcommand), calibrate, mdt, export and modbus-map.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <string>

#include "BoardLink.h"
#include "SimulatedLine.h"

// Exit codes of qmhost and each subcommand.
constexpr int TOOL_OK = 0;      // done, or help shown
constexpr int TOOL_FAILED = 1;  // "qmhost: <what>: <why>" on standard error
constexpr int TOOL_USAGE = 2;   // a bad command line, said in one line on standard error

// `qmhost ...`: parses the whole command line, loads the board's library and
// runs the subcommand; its exit code.
int hostMain(int argc, char** argv);

// Says "qmhost: <what>: <why>" on standard error; TOOL_FAILED.
int toolFailed(const std::string& what, const std::string& why);
// The same for a failure already worded "<what>: <why>".
int toolFailed(const std::string& failure);
// Says "qmhost: <what>: <why>" on standard error; TOOL_USAGE.
int toolUsage(const std::string& what, const std::string& why);

// What every subcommand is given: the board (--board) and, for those that
// load it, the module (--plugin; empty: QM9000.so where the host finds its
// libraries).
struct HostOptions {
    Board board = Board::Simulated;
    SimulatedLine* pLine = nullptr;  // the simulated board's line; null on the real board
    std::string plugin;
    std::string pluginPath() const;
};

// The options only the simulated board has are in this group; with
// --board hw they are refused.
constexpr const char* SIMULATED_BOARD_ONLY = "Simulated board only";

// A subcommand's work, run once the command line has parsed; the exit code.
using ToolAction = std::function<int()>;

// Each adds its options to its subcommand and returns its work; `host` is
// filled in when the work runs. Each is defined in its subcommand's own file,
// which has no header of its own: RunCommand.cpp, CalibrateTool.cpp,
// MdtTool.cpp, ExportTool.cpp and ModbusMapTool.cpp.
ToolAction addRunCommand(CLI::App& command, HostOptions& host);
ToolAction addCalibrateCommand(CLI::App& command, HostOptions& host);
ToolAction addMdtCommand(CLI::App& command, HostOptions& host);
ToolAction addExportCommand(CLI::App& command, HostOptions& host);
ToolAction addModbusMapCommand(CLI::App& command, HostOptions& host);

// --plugin PATH, for the subcommands that load the module.
void addPluginOption(CLI::App& command, HostOptions& host);

// Checks of option values. Each fails with a message saying what was wrong,
// which the command line prefixes with the option's name.
// A finite number, at least 0.
CLI::Validator nonNegativeNumber();
// A number above 0 that a float holds (not 0 once rounded to one).
CLI::Validator positiveFloat();
// A value `accepts` takes; `expected` describes such a value for the message.
CLI::Validator acceptedBy(std::function<bool(const std::string&)> accepts, const std::string& expected);
