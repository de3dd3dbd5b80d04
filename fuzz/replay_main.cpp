// Replays a fuzz target's corpus without libFuzzer: every file named on the
// command line, or found in a directory named there, is fed to the target
// once. Built with the normal compiler, so the corpus also runs on the board's
// architecture. Fails when there was nothing to replay.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

void collect(const std::string& path, std::vector<std::string>& files) {
    struct stat pathStat {};
    if (stat(path.c_str(), &pathStat) != 0) return;
    if (!S_ISDIR(pathStat.st_mode)) {
        files.push_back(path);
        return;
    }
    DIR* pDir = opendir(path.c_str());
    if (!pDir) return;
    std::vector<std::string> entries;
    while (const dirent* pEntry = readdir(pDir))
        if (pEntry->d_name[0] != '.') entries.push_back(path + "/" + pEntry->d_name);
    closedir(pDir);
    std::sort(entries.begin(), entries.end());
    for (const std::string& entry : entries) collect(entry, files);
}

bool readAll(const std::string& path, std::vector<uint8_t>& content) {
    FILE* pFile = fopen(path.c_str(), "rb");
    if (!pFile) return false;
    content.clear();
    uint8_t buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof(buffer), pFile)) > 0)
        content.insert(content.end(), buffer, buffer + n);
    fclose(pFile);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> files;
    for (int i = 1; i < argc; i++) collect(argv[i], files);
    if (files.empty()) {
        fprintf(stderr, "replay: no inputs found\n");
        return 1;
    }
    std::vector<uint8_t> content;
    for (const std::string& file : files) {
        if (!readAll(file, content)) {
            fprintf(stderr, "replay: cannot read %s\n", file.c_str());
            return 1;
        }
        fprintf(stderr, "replay: %s (%zu bytes)\n", file.c_str(), content.size());
        LLVMFuzzerTestOneInput(content.data(), content.size());
    }
    fprintf(stderr, "replay: %zu inputs, no failure\n", files.size());
    return 0;
}
