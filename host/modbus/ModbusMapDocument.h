// docs/modbus.md: the Modbus server's registers as a document, printed from
// the tables the server fills its image from (`qmhost modbus-map`). A test
// compares the committed file with it.
#pragma once

#include <string>

std::string modbusMapDocument();
