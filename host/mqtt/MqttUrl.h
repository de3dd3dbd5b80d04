// Where the publisher connects: "mqtt://[user:password@]host[:port]" or
// "mqtts://..." (TLS), as --mqtt gives it.
#pragma once

#include <string>

struct MqttUrl {
    bool bTls = false;
    std::string host;
    int port = 1883;             // 8883 for mqtts
    std::string user, password;  // percent-decoded; empty: anonymous
};

// False with `error` one line saying what is wrong: another scheme, no host,
// a port outside 1..65535, a path, a malformed percent escape.
bool parseMqttUrl(const std::string& text, MqttUrl& url, std::string& error);
