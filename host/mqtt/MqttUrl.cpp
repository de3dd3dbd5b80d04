#include "MqttUrl.h"

#include <cctype>

namespace {

// "%40" and the like as the bytes they stand for; false for a malformed escape.
bool percentDecoded(const std::string& text, std::string& decoded) {
    decoded.clear();
    for (size_t i = 0; i < text.size(); i++) {
        if (text[i] != '%') {
            decoded += text[i];
            continue;
        }
        if (i + 2 >= text.size()) return false;
        if (!isxdigit(static_cast<unsigned char>(text[i + 1])) ||
            !isxdigit(static_cast<unsigned char>(text[i + 2])))
            return false;
        decoded += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
        i += 2;
    }
    return true;
}

bool fail(std::string& error, const std::string& why) {
    error = why;
    return false;
}

}  // namespace

bool parseMqttUrl(const std::string& text, MqttUrl& url, std::string& error) {
    url = MqttUrl{};
    const size_t schemeEnd = text.find("://");
    const std::string scheme = schemeEnd == std::string::npos ? "" : text.substr(0, schemeEnd);
    if (scheme != "mqtt" && scheme != "mqtts")
        return fail(error, "\"" + text + "\" is not mqtt://[user:password@]host[:port] or mqtts://...");
    url.bTls = scheme == "mqtts";
    url.port = url.bTls ? 8883 : 1883;
    std::string rest = text.substr(schemeEnd + 3);
    if (!rest.empty() && rest.back() == '/') rest.pop_back();
    if (rest.find('/') != std::string::npos)
        return fail(error, "\"" + text + "\": a broker's URL has no path");
    const size_t at = rest.rfind('@');
    if (at != std::string::npos) {
        const std::string credentials = rest.substr(0, at);
        const size_t colon = credentials.find(':');
        if (!percentDecoded(credentials.substr(0, colon), url.user) ||
            (colon != std::string::npos && !percentDecoded(credentials.substr(colon + 1), url.password)))
            return fail(error, "\"" + text + "\": a malformed %-escape in the user or password");
        if (url.user.empty()) return fail(error, "\"" + text + "\": a password needs a user");
        rest = rest.substr(at + 1);
    }
    // "[::1]:1883": an IPv6 address in brackets.
    size_t portColon = std::string::npos;
    if (!rest.empty() && rest[0] == '[') {
        const size_t close = rest.find(']');
        if (close == std::string::npos) return fail(error, "\"" + text + "\": an unclosed [");
        url.host = rest.substr(1, close - 1);
        if (close + 1 < rest.size()) {
            if (rest[close + 1] != ':') return fail(error, "\"" + text + "\": text after ]");
            portColon = close + 1;
        }
    } else {
        portColon = rest.find(':');
        url.host = rest.substr(0, portColon);
    }
    if (url.host.empty()) return fail(error, "\"" + text + "\" names no host");
    if (portColon != std::string::npos) {
        const std::string port = rest.substr(portColon + 1);
        if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos ||
            std::stoi(port) < 1 || std::stoi(port) > 65535)
            return fail(error, "\"" + text + "\": the port must be a number from 1 to 65535");
        url.port = std::stoi(port);
    }
    return true;
}
