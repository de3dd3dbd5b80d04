// addFieldIfMissing on arbitrary file content. The first three input lines are
// the section, the field and the value; the rest is the file. The file either
// stays as it was or gains one element directly before a ']', the rest of it
// unchanged byte for byte.
#include "FuzzInput.h"
#include "JSONFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::silenceStdout();
    const fuzz::SplitInput input = fuzz::split(data, size, 3);
    const std::string path = fuzz::scratchPath("fields.json");
    const std::string& before = input.rest;
    fuzz::writeFile(path, before);
    JSONFile().addFieldIfMissing(path.c_str(), input.fields[0].c_str(), input.fields[1].c_str(),
                                 input.fields[2].c_str());

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
