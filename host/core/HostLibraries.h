// Where qmhost finds the libraries it loads at run time (the module and the
// board libraries) and the files it serves (the web page). In the build tree
// they sit next to the executable; in the installed package in
// <prefix>/lib/qm9000 and <prefix>/share/qm9000 beside <prefix>/bin/qmhost.
#pragma once

#include <string>

// The directory of the running executable (/proc/self/exe); empty when it
// cannot be read.
std::string executableDirectory();

// The first of <executable dir>/NAME and <executable dir>/../lib/qm9000/NAME
// that exists; otherwise NAME itself, which dlopen looks for on the dynamic
// linker's own path (and finds a library the process has loaded already).
std::string hostLibraryPath(const std::string& fileName);

// The first of <executable dir>/NAME and <executable dir>/../share/qm9000/NAME
// that exists; empty when neither does.
std::string hostDataDirectory(const std::string& name);
