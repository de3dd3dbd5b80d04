#include "SimulatedLineLink.h"

#include <dlfcn.h>

#include "HostLibraries.h"

SimulatedLine* loadSimulatedLine(std::string& error) {
    const std::string path = hostLibraryPath("libqmsimline.so");
    void* pLibrary = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!pLibrary) {
        const char* pszError = dlerror();
        error = "cannot load " + path + ": " + (pszError ? pszError : "dlopen failed");
        return nullptr;
    }
    using LineFunction = SimulatedLine* (*)(void);
    const auto line = reinterpret_cast<LineFunction>(dlsym(pLibrary, "qmSimulatedLine"));
    if (!line) {
        error = "cannot use " + path + ": it does not define qmSimulatedLine";
        return nullptr;
    }
    return line();
}
