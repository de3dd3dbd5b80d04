// `qmhost modbus-map`: the Modbus server's registers as the document
// docs/modbus.md is, printed from the tables the server fills them from.
#include <CLI/CLI.hpp>
#include <cstdio>

#include "HostCommandLine.h"
#include "ModbusMapDocument.h"

ToolAction addModbusMapCommand(CLI::App& command, HostOptions&) {
    command.footer("Prints the registers `qmhost run --modbus` serves, as Markdown (docs/modbus.md).");
    return [] {
        fputs(modbusMapDocument().c_str(), stdout);
        return TOOL_OK;
    };
}
