#include "MeterId.h"

#include <unistd.h>

#include <cctype>

std::string topicSafeId(const std::string& text) {
    std::string id;
    for (const char c : text)
        id += isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.' ? c : '_';
    return id;
}

std::string chooseMeterId(const std::string& given, const std::string& serialNumber) {
    if (!topicSafeId(given).empty()) return topicSafeId(given);
    if (!topicSafeId(serialNumber).empty()) return topicSafeId(serialNumber);
    char szHost[256] = {};
    if (gethostname(szHost, sizeof szHost - 1) == 0 && !topicSafeId(szHost).empty())
        return topicSafeId(szHost);
    return "qm9000";
}
