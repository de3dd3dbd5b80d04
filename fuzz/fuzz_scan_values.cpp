// The value scanners on arbitrary text: the first input line is the name,
// the rest the text. Nothing may be read outside the text or changed in it.
#include <cstring>

#include "FuzzInput.h"
#include "JSONBuffer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto [fields, rest] = fuzz::split(data, size, 1);
    const char* pszName = fields[0].c_str();
    std::vector<char> text = fuzz::terminated(rest);

    const JSONBuffer scanner;
    scanner.findPair(text.data(), pszName);
    scanner.findHexPair(text.data(), pszName);
    scanner.findFloat(text.data(), pszName);
    scanner.isNumber(text.data());
    for (char c : rest) scanner.htoi(c);
    fuzz::check(memcmp(text.data(), rest.data(), rest.size()) == 0, "scanning leaves the text as it was");
    return 0;
}
