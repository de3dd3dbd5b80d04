// getElementBounds on arbitrary text (first line: the two delimiters, start and
// end offsets): a balanced pair inside the range, or the text left as it was.
#include <cstring>

#include "FuzzInput.h"
#include "JSONBuffer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto [fields, rest] = fuzz::split(data, size, 1);
    const std::string& params = fields[0];
    const size_t nText = rest.size();
    auto byte = [&](size_t i) { return static_cast<uint8_t>(params[i]); };
    const char cOpen = params.size() > 0 ? params[0] : '[';
    const char cClose = params.size() > 1 ? params[1] : ']';
    const size_t nStart = params.size() > 2 ? byte(2) % (nText + 1) : 0;
    const size_t nEnd = params.size() > 4 ? (byte(3) * 256u + byte(4)) % (nText + 1) : nText;
    std::vector<char> text = fuzz::terminated(rest);
    char *pStart = nullptr, *pEnd = nullptr;
    const bool bFound = JSONBuffer().getElementBounds(text.data() + nStart, text.data() + nEnd, &pStart,
                                                      &pEnd, cOpen, cClose);

    if (!bFound) {
        fuzz::check(memcmp(text.data(), rest.data(), nText) == 0, "a failure leaves the text unchanged");
        fuzz::check(pStart == nullptr && pEnd == nullptr, "a failure names no bounds");
        return 0;
    }
    fuzz::check(pStart >= text.data() + nStart && pStart < pEnd && pEnd < text.data() + nEnd,
                "the pair lies inside the range");
    fuzz::check(*pStart == cOpen && *pEnd == cClose, "the bounds are the delimiters");
    int nDepth = 0;
    for (const char* p = pStart; p <= pEnd; p++) {
        nDepth += *p == cOpen ? 1 : *p == cClose ? -1 : 0;
        fuzz::check(nDepth > 0 || p == pEnd, "the closer is the first that balances");
        fuzz::check(nDepth <= JSONBuffer::MAX_ELEMENT_DEPTH, "nesting stays within the supported depth");
    }
    fuzz::check(nDepth == 0, "the pair is balanced");
    return 0;
}
