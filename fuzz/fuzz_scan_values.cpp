// The value scanners on arbitrary text: the first input line is the name,
// the rest the text. Nothing may be read outside the text or changed in it.
#include <cstring>
#include <vector>

#include "FuzzInput.h"
#include "JSONBuffer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const fuzz::SplitInput input = fuzz::split(data, size, 1);
    const std::string& name = input.fields[0];
    // Exactly as long as the text, so a read past its end is caught.
    std::vector<char> text(input.rest.begin(), input.rest.end());
    text.push_back('\0');

    const JSONBuffer scanner;
    scanner.findPair(text.data(), name.c_str());
    scanner.findHexPair(text.data(), name.c_str());
    scanner.findFloat(text.data(), name.c_str());
    scanner.isNumber(text.data());
    for (char c : input.rest) scanner.htoi(c);

    fuzz::check(memcmp(text.data(), input.rest.data(), input.rest.size()) == 0,
                "scanning leaves the text as it was");
    return 0;
}
