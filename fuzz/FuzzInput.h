// Helpers shared by the fuzz targets: the input as text or split into a few
// leading parameter lines and the rest, a scratch directory for the files
// they load, and the failed-property report.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fuzz {

inline std::string text(const uint8_t* data, size_t size) {
    return std::string(reinterpret_cast<const char*>(data), size);
}

// A modifiable copy with its NUL and nothing after it, so a read past the end is caught.
inline std::vector<char> terminated(const std::string& text) {
    std::vector<char> copy(text.begin(), text.end());
    copy.push_back('\0');
    return copy;
}

// The first `count` lines of the input (without their '\n') and the rest.
struct SplitInput {
    std::vector<std::string> fields;
    std::string rest;
};

inline SplitInput split(const uint8_t* data, size_t size, size_t count) {
    SplitInput input{{}, text(data, size)};
    while (input.fields.size() < count) {
        const size_t end = input.rest.find('\n');
        input.fields.push_back(input.rest.substr(0, end));
        input.rest = end == std::string::npos ? std::string() : input.rest.substr(end + 1);
    }
    return input;
}

// A private directory, created on first use and removed with everything in it
// when the process ends.
inline const std::string& scratchDirectory() {
    static const struct Directory {
        std::string path;
        Directory() {
            const char* pszBase = getenv("TMPDIR");
            path = std::string(pszBase && *pszBase ? pszBase : "/tmp") + "/qmfuzzXXXXXX";
            if (!mkdtemp(path.data())) abort();
        }
        ~Directory() { std::filesystem::remove_all(path); }
    } directory;
    return directory.path;
}

inline std::string scratchPath(const char* pszName) {
    return scratchDirectory() + "/" + pszName;
}

// The scratch directory as the application directory, where description
// table pages create their configuration files.
inline void useScratchAsAppDirectory() {
    static const bool bSet = setenv("QM_APP_DIR", scratchDirectory().c_str(), 1) == 0;
    (void)bSet;
}

inline void emptyScratchDirectory() {
    for (const auto& entry : std::filesystem::directory_iterator(scratchDirectory()))
        std::filesystem::remove_all(entry.path());
}

inline void writeFile(const std::string& path, const std::string& content) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (!file.write(content.data(), static_cast<std::streamsize>(content.size()))) abort();
}

inline std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// The loaders report on standard output; at fuzzing speed that is only noise.
inline void silenceStdout() {
    static const bool bSilenced = freopen("/dev/null", "w", stdout) != nullptr;
    (void)bSilenced;
}

// A failed property: abort so both libFuzzer and the corpus replay report it.
inline void check(bool bHolds, const char* pszWhat) {
    if (!bHolds) {
        fprintf(stderr, "property violated: %s\n", pszWhat);
        abort();
    }
}

}  // namespace fuzz
