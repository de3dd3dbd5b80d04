#include "OptionChecks.h"

#include <cmath>
#include <cstdlib>

namespace {

// A finite number; `outOfRange` says what is wrong with it, or null.
CLI::Validator number(const char* (*outOfRange)(double)) {
    return CLI::Validator(
        [=](std::string& text) -> std::string {
            char* pEnd = nullptr;
            const double dValue = strtod(text.c_str(), &pEnd);
            if (text.empty() || *pEnd != '\0' || !std::isfinite(dValue))
                return "Value " + text + " not a number";
            const char* pszWrong = outOfRange(dValue);
            return pszWrong ? "Value " + text + " " + pszWrong : "";
        },
        "");
}

}  // namespace

CLI::Validator nonNegativeNumber() {
    return number([](double dValue) { return dValue < 0 ? "is negative" : nullptr; });
}

CLI::Validator positiveFloat() {
    return number([](double dValue) {
        const float fValue = static_cast<float>(dValue);
        return !std::isfinite(fValue) ? "is too large" : fValue <= 0 ? "is not above 0" : nullptr;
    });
}

CLI::Validator acceptedBy(std::function<bool(const std::string&)> accepts, const std::string& expected) {
    return CLI::Validator(
        [accepts, expected](std::string& text) -> std::string {
            return accepts(text) ? "" : "Value " + text + " not " + expected;
        },
        "");
}
