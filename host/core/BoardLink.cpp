#include "BoardLink.h"

#include <dlfcn.h>

#include "HostLibraries.h"

namespace {

BoardFunctions g_functions;

const char* libraryFileName(Board board) {
    return board == Board::Simulated ? "libqmsim.so" : "libqmboard.so";
}

template <typename Function>
bool lookUp(void* pLibrary, const char* pszName, Function& function) {
    function = reinterpret_cast<Function>(dlsym(pLibrary, pszName));
    return function != nullptr;
}

}  // namespace

const char* boardName(Board board) {
    return board == Board::Simulated ? "sim" : "hw";
}

bool parseBoard(const std::string& name, Board& board) {
    if (name != "sim" && name != "hw") return false;
    board = name == "sim" ? Board::Simulated : Board::Hardware;
    return true;
}

bool loadBoardLibrary(Board board, std::string& error) {
    const std::string path = hostLibraryPath(libraryFileName(board));
    // RTLD_GLOBAL: the module, loaded later, resolves its board functions
    // here. RTLD_NOW: a library missing a symbol fails now, not at first use.
    void* pLibrary = dlopen(path.c_str(), RTLD_NOW | RTLD_GLOBAL);
    if (!pLibrary) {
        const char* pszError = dlerror();
        error = "cannot load " + path + ": " + (pszError ? pszError : "dlopen failed");
        return false;
    }
    BoardFunctions functions;
    const char* pszMissing = nullptr;
    if (!lookUp(pLibrary, "I2Cbegin", functions.i2cBegin))
        pszMissing = "I2Cbegin";
    else if (!lookUp(pLibrary, "I2Cend", functions.i2cEnd))
        pszMissing = "I2Cend";
    else if (!lookUp(pLibrary, "delayMicroseconds", functions.delayMicroseconds))
        pszMissing = "delayMicroseconds";
    else if (!lookUp(pLibrary, "boardI2CDeviceOps", functions.i2cDeviceOps))
        pszMissing = "boardI2CDeviceOps";
    else if (!lookUp(pLibrary, "boardStopInterrupts", functions.stopInterrupts))
        pszMissing = "boardStopInterrupts";
    if (pszMissing) {
        error = "cannot use " + path + ": it does not define " + pszMissing;
        return false;
    }
    lookUp(pLibrary, "boardMissingDevices", functions.missingDevices);  // optional
    g_functions = functions;
    return true;
}

const BoardFunctions& boardFunctions() {
    return g_functions;
}
