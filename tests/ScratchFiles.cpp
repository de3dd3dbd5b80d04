#include "ScratchFiles.h"

#include <dirent.h>
#include <ftw.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <vector>

namespace {

int removeEntry(const char* pszPath, const struct stat*, int, struct FTW*) {
    remove(pszPath);
    return 0;
}

}  // namespace

ScratchDirectory::ScratchDirectory() {
    const char* pszBase = getenv("TMPDIR");
    std::string pattern = std::string(pszBase && *pszBase ? pszBase : "/tmp") + "/qmcfgXXXXXX";
    if (!mkdtemp(pattern.data())) ADD_FAILURE() << "cannot create a scratch directory";
    m_path = pattern;
}

ScratchDirectory::~ScratchDirectory() {
    nftw(m_path.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
}

std::string ScratchDirectory::write(const std::string& name, const std::string& content) const {
    const std::string file = path(name);
    writeFile(file, content);
    return file;
}

std::string ScratchDirectory::read(const std::string& name) const {
    return readFile(path(name));
}

std::vector<std::string> ScratchDirectory::entries() const {
    std::vector<std::string> names;
    if (DIR* pDir = opendir(m_path.c_str())) {
        while (const dirent* pEntry = readdir(pDir)) {
            const std::string name = pEntry->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        closedir(pDir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string readFile(const std::string& path) {
    std::string content;
    FILE* pFile = fopen(path.c_str(), "rb");
    if (!pFile) return content;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof(buffer), pFile)) > 0) content.append(buffer, n);
    fclose(pFile);
    return content;
}

void writeFile(const std::string& path, const std::string& content) {
    FILE* pFile = fopen(path.c_str(), "wb");
    ASSERT_NE(pFile, nullptr) << path;
    fwrite(content.data(), 1, content.size(), pFile);
    fclose(pFile);
}

void withFileSizeLimit(size_t bytes, const std::function<void()>& action) {
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved;
    limited.rlim_cur = bytes;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    action();
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, previousHandler);
}
