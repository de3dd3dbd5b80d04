#include "HostLibraries.h"

#include <unistd.h>

#include <climits>

std::string executableDirectory() {
    char szPath[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", szPath, sizeof(szPath) - 1);
    if (length <= 0) return "";
    const std::string path(szPath, static_cast<size_t>(length));
    return path.substr(0, path.rfind('/'));
}

std::string hostLibraryPath(const std::string& fileName) {
    const std::string directory = executableDirectory();
    if (directory.empty()) return fileName;
    for (const std::string& candidate :
         {directory + "/" + fileName, directory + "/../lib/qm9000/" + fileName})
        if (access(candidate.c_str(), F_OK) == 0) return candidate;
    return fileName;
}

std::string hostDataDirectory(const std::string& name) {
    const std::string directory = executableDirectory();
    if (directory.empty()) return "";
    for (const std::string& candidate : {directory + "/" + name, directory + "/../share/qm9000/" + name})
        if (access(candidate.c_str(), F_OK) == 0) return candidate;
    return "";
}
