// Replays a fuzz target's corpus without libFuzzer: each file named, or found in a directory
// named, on the command line is fed to the target once, in name order. Built with the normal
// compiler, so the corpus also runs on the board's architecture. Fails if nothing was replayed.
#include <algorithm>

#include "FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    std::vector<fs::path> files;
    for (int i = 1; i < argc; i++) {
        if (fs::is_regular_file(argv[i])) files.push_back(argv[i]);
        if (!fs::is_directory(argv[i])) continue;
        for (const fs::directory_entry& entry : fs::recursive_directory_iterator(argv[i]))
            if (entry.is_regular_file() && entry.path().filename().string()[0] != '.') files.push_back(entry);
    }
    if (files.empty()) {
        fprintf(stderr, "replay: no inputs found\n");
        return 1;
    }
    std::sort(files.begin(), files.end());
    for (const fs::path& file : files) {
        const std::string content = fuzz::readFile(file);
        fprintf(stderr, "replay: %s (%zu bytes)\n", file.c_str(), content.size());
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(content.data()), content.size());
    }
    fprintf(stderr, "replay: %zu inputs, no failure\n", files.size());
    return 0;
}
