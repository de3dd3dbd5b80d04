// Replays a fuzz target's corpus without libFuzzer: every file named on the
// command line, or found in a directory named there, is fed to the target
// once, in name order. Built with the normal compiler, so the corpus also
// runs on the board's architecture. Fails when there was nothing to replay.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    std::vector<fs::path> files;
    for (int i = 1; i < argc; i++) {
        if (!fs::is_directory(argv[i])) {
            if (fs::exists(argv[i])) files.push_back(argv[i]);
            continue;
        }
        for (const fs::directory_entry& entry : fs::recursive_directory_iterator(argv[i]))
            if (entry.is_regular_file() && entry.path().filename().string()[0] != '.') files.push_back(entry);
    }
    if (files.empty()) {
        fprintf(stderr, "replay: no inputs found\n");
        return 1;
    }
    std::sort(files.begin(), files.end());
    for (const fs::path& file : files) {
        std::ifstream in(file, std::ios::binary);
        if (!in) {
            fprintf(stderr, "replay: cannot read %s\n", file.c_str());
            return 1;
        }
        const std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        fprintf(stderr, "replay: %s (%zu bytes)\n", file.c_str(), content.size());
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(content.data()), content.size());
    }
    fprintf(stderr, "replay: %zu inputs, no failure\n", files.size());
    return 0;
}
