// findStr on arbitrary text (first line: the copy limit, its first byte less 4;
// second: the key): the copy stays within the limit.
#include <cstring>

#include "FuzzInput.h"
#include "JSONBuffer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto [fields, rest] = fuzz::split(data, size, 2);
    const int nMax = fields[0].empty() ? 31 : static_cast<uint8_t>(fields[0][0]) - 4;
    const size_t nRoom = static_cast<size_t>(nMax > 0 ? nMax : 0);
    std::vector<char> text = fuzz::terminated(rest);
    std::vector<char> dest(nRoom + 1, 'X');  // exactly the nMax + 1 bytes a caller must provide

    const bool bFound = JSONBuffer().findStr(text.data(), dest.data(), fields[1].c_str(), nMax);
    fuzz::check(strlen(dest.data()) <= nRoom, "the copy keeps to nMax");
    if (strlen(fields[1].c_str()) > static_cast<size_t>(JSONBuffer::MAX_KEY_LENGTH))
        fuzz::check(!bFound, "an overlong key finds nothing");
    if (!bFound) fuzz::check(dest[0] == '\0', "nothing found leaves an empty string");
    fuzz::check(memcmp(text.data(), rest.data(), rest.size()) == 0, "the text is unchanged");
    return 0;
}
