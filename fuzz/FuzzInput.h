// Helpers shared by the fuzz targets: the input as text or split into leading
// parameter lines and the rest, scratch files, and the failed-property report.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <utility>
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
inline std::pair<std::vector<std::string>, std::string> split(const uint8_t* data, size_t size,
                                                              size_t count) {
    std::istringstream in(text(data, size));
    std::vector<std::string> fields(count);
    for (std::string& field : fields) std::getline(in, field);
    return {fields, std::string(std::istreambuf_iterator<char>(in), {})};
}

// A private directory, created on first use and removed when the process ends.
inline const std::string& scratchDirectory() {
    static const struct Directory {
        std::string path = (std::filesystem::temp_directory_path() / "qmfuzzXXXXXX").string();
        Directory() {
            if (!mkdtemp(path.data())) abort();
        }
        ~Directory() { std::filesystem::remove_all(path); }
    } directory;
    return directory.path;
}

// Once per process: drops the loaders' reports (at fuzzing speed only noise) and makes the
// scratch directory the application one, where description-table pages create files.
inline void setUp() {
    [[maybe_unused]] static const bool bSilenced = freopen("/dev/null", "w", stdout) != nullptr;
    [[maybe_unused]] static const bool bAppDir = setenv("QM_APP_DIR", scratchDirectory().c_str(), 1) == 0;
}

// Writes the scratch file `pszName` and returns its path, the process set up first.
inline std::string scratchFile(const char* pszName, const std::string& content) {
    setUp();
    const std::string path = scratchDirectory() + "/" + pszName;
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (!file.write(content.data(), static_cast<std::streamsize>(content.size()))) abort();
    return path;
}

inline std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

inline void emptyScratchDirectory() {
    for (const auto& entry : std::filesystem::directory_iterator(scratchDirectory()))
        std::filesystem::remove_all(entry.path());
}

// A failed property: abort so both libFuzzer and the corpus replay report it.
inline void check(bool bHolds, const char* pszWhat) {
    if (!bHolds) {
        fprintf(stderr, "property violated: %s\n", pszWhat);
        abort();
    }
}

}  // namespace fuzz
