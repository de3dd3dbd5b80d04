// The listening TCP socket of each server the meter runs (the web page,
// Modbus): bound to the address it is given, non-blocking, closed on exec.
#pragma once

#include <string>

struct ListeningSocket {
    int fd = -1;
    int nPort = 0;  // the port it got: the one asked for, or a free one for 0
    bool bIpv6 = false;
};

// Listens on `host`:`port` (0: any free port) with `nBacklog` connections
// waiting at most. False with `error` set, nothing left open.
bool openListeningSocket(const std::string& host, int port, int nBacklog, ListeningSocket& socket,
                         std::string& error);
