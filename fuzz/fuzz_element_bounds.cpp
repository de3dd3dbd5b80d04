// getElementBounds on arbitrary text. The first input line gives the two
// delimiters and the start and end offsets; the rest is the text. A success
// must name a balanced pair inside the range; a failure must leave the text
// as it was.
#include <cstring>

#include "FuzzInput.h"
#include "JSONBuffer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const fuzz::SplitInput input = fuzz::split(data, size, 1);
    const std::string& params = input.fields[0];
    const size_t nText = input.rest.size();
    auto byte = [&](size_t i) { return static_cast<uint8_t>(params[i]); };
    const char cOpen = params.size() > 0 ? params[0] : '[';
    const char cClose = params.size() > 1 ? params[1] : ']';
    const size_t nStart = params.size() > 2 ? byte(2) % (nText + 1) : 0;
    const size_t nEnd = params.size() > 4 ? (byte(3) * 256u + byte(4)) % (nText + 1) : nText;
    std::vector<char> text = fuzz::terminated(input.rest);
    char* pStart = nullptr;
    char* pEnd = nullptr;
    const bool bFound = JSONBuffer().getElementBounds(text.data() + nStart, text.data() + nEnd, &pStart,
                                                      &pEnd, cOpen, cClose);

    if (!bFound) {
        fuzz::check(memcmp(text.data(), input.rest.data(), nText) == 0,
                    "a failure leaves the text unchanged");
        fuzz::check(pStart == nullptr && pEnd == nullptr, "a failure names no bounds");
        return 0;
    }
    fuzz::check(pStart >= text.data() + nStart && pStart < pEnd && pEnd < text.data() + nEnd,
                "the pair lies inside the range");
    fuzz::check(*pStart == cOpen && *pEnd == cClose, "the bounds are the delimiters");
    int nDepth = 0;
    for (const char* p = pStart; p <= pEnd; p++) {
        if (*p == cOpen)
            nDepth++;
        else if (*p == cClose)
            nDepth--;
        fuzz::check(nDepth > 0 || p == pEnd, "the closer is the first that balances");
        fuzz::check(nDepth <= JSONBuffer::MAX_ELEMENT_DEPTH, "nesting stays within the supported depth");
    }
    fuzz::check(nDepth == 0, "the pair is balanced");
    return 0;
}
