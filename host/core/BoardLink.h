// The board the host runs on. The board functions the module calls are
// defined by a library the host loads before the module, with its symbols
// global, so the module's calls resolve to it: libqmsim.so for the simulated
// board, libqmboard.so for the real one. The host reaches the same board
// through the functions below, looked up in that library.
#pragma once

#include <string>

#include "I2CDevice.h"

enum class Board { Simulated, Hardware };

// "sim" and "hw", as --board names them.
const char* boardName(Board board);
bool parseBoard(const std::string& name, Board& board);

// The functions of the loaded board library the host itself calls.
struct BoardFunctions {
    // The module description table's EEPROM transfers.
    int (*i2cBegin)(void) = nullptr;
    void (*i2cEnd)(void) = nullptr;
    void (*delayMicroseconds)(unsigned int) = nullptr;
    const I2CDeviceOps* (*i2cDeviceOps)(void) = nullptr;
    // No interrupt routine is called after it returns: before the module
    // that registered one is unloaded.
    void (*stopInterrupts)(void) = nullptr;
    // The real board's devices that are missing, listed into the buffer;
    // their number. Null on a board library that cannot tell (the simulated).
    int (*missingDevices)(char* pszList, int nSize) = nullptr;
};

// Loads the board's library for the rest of the process (loading it again is
// harmless). False with `error` set to one line naming the library and what
// failed.
bool loadBoardLibrary(Board board, std::string& error);

// The loaded library's functions; null before loadBoardLibrary succeeded.
const BoardFunctions& boardFunctions();
