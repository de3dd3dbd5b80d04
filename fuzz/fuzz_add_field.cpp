// addFieldIfMissing on arbitrary file content (input lines: section, field, value,
// then the file): the file stays as it was or gains one element just before a ']'.
#include "FuzzInput.h"
#include "JSONFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto [fields, before] = fuzz::split(data, size, 3);
    const std::string path = fuzz::scratchFile("fields.json", before);
    JSONFile().addFieldIfMissing(path.c_str(), fields[0].c_str(), fields[1].c_str(), fields[2].c_str());

    const std::string after = fuzz::readFile(path);
    if (after == before) return 0;
    fuzz::check(after.size() > before.size(), "the file only grows");
    const size_t nInserted = after.size() - before.size();
    fuzz::check(nInserted < 256, "the element fits its work buffer");
    size_t k = 0;
    while (k < before.size() && before[k] == after[k]) k++;
    fuzz::check(k < before.size() && before[k] == ']', "the element stands before a ']'");
    fuzz::check(after.compare(k + nInserted, std::string::npos, before, k, std::string::npos) == 0,
                "the rest of the file is unchanged");
    return 0;
}
