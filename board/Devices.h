// What the board functions share: their failure message and the release of
// what each part holds.
#pragma once

#include <string>

namespace board::detail {

// One line: "board: <what> <device> (board file <path>): <system error>".
void reportDeviceError(const char* pszWhat, const std::string& device, int error);

void releaseSpi();
void releaseGpio();  // stops the interrupt thread first
void releaseI2c();
void releaseAll();

}  // namespace board::detail
