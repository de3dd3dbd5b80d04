// Helpers shared by the fuzz targets: splitting an input into a few leading
// parameter lines and the text that follows, and a scratch file to load.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace fuzz {

// The first `count` lines of the input (without their '\n') and the rest.
struct SplitInput {
    std::vector<std::string> fields;
    std::string rest;
};

inline SplitInput split(const uint8_t* data, size_t size, size_t count) {
    SplitInput input;
    std::string text(reinterpret_cast<const char*>(data), size);
    size_t position = 0;
    while (input.fields.size() < count) {
        const size_t end = text.find('\n', position);
        if (end == std::string::npos) {
            input.fields.push_back(text.substr(position));
            position = text.size();
            break;
        }
        input.fields.push_back(text.substr(position, end - position));
        position = end + 1;
    }
    input.fields.resize(count);
    input.rest = text.substr(position);
    return input;
}

// A private scratch directory for the process, created on first use and
// removed with everything in it when the process ends.
class ScratchDirectory {
public:
    ScratchDirectory() {
        const char* pszBase = getenv("TMPDIR");
        m_path = std::string(pszBase && *pszBase ? pszBase : "/tmp") + "/qmfuzzXXXXXX";
        if (!mkdtemp(m_path.data())) abort();
    }
    ~ScratchDirectory() {
        if (DIR* pDir = opendir(m_path.c_str())) {
            while (const dirent* pEntry = readdir(pDir))
                if (pEntry->d_name[0] != '.') unlink((m_path + "/" + pEntry->d_name).c_str());
            closedir(pDir);
        }
        rmdir(m_path.c_str());
    }
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

inline const std::string& scratchDirectory() {
    static const ScratchDirectory directory;
    return directory.path();
}

inline std::string scratchPath(const char* pszName) {
    return scratchDirectory() + "/" + pszName;
}

inline void writeFile(const std::string& path, const std::string& content) {
    FILE* pFile = fopen(path.c_str(), "wb");
    if (!pFile) abort();
    if (!content.empty() && fwrite(content.data(), 1, content.size(), pFile) != content.size()) abort();
    fclose(pFile);
}

inline std::string readFile(const std::string& path) {
    std::string content;
    FILE* pFile = fopen(path.c_str(), "rb");
    if (!pFile) return content;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof(buffer), pFile)) > 0) content.append(buffer, n);
    fclose(pFile);
    return content;
}

// The loaders report on standard output; at fuzzing speed that is only noise.
inline void silenceStdout() {
    static const bool bDone = [] {
        fflush(stdout);
        const int fd = open("/dev/null", O_WRONLY);
        if (fd >= 0) {
            dup2(fd, STDOUT_FILENO);
            close(fd);
        }
        return true;
    }();
    (void)bDone;
}

// A failed property: abort so both libFuzzer and the corpus replay report it.
inline void check(bool bHolds, const char* pszWhat) {
    if (!bHolds) {
        fprintf(stderr, "property violated: %s\n", pszWhat);
        abort();
    }
}

}  // namespace fuzz
