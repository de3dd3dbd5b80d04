// The meter's Modbus TCP server, read-only, on a thread of its own: one poll
// loop holds every connection without blocking on any, so a client that
// idles or trickles a request costs a socket and holds up nobody. Answers
// come whole from the shared register image (RegisterImageCache), encoded by
// Debian's libmodbus.
//
// The limits: connections are capped in total and per client address (one
// beyond is closed at once); a request must arrive whole within the request
// deadline of its first byte; a connection idle for the idle timeout is
// closed (pollers commonly keep theirs open between reads a few seconds
// apart); a malformed frame closes its connection, as the stream cannot be
// followed after it.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

class RegisterImageCache;

struct ModbusLimits {
    unsigned nConnections = 64;
    unsigned nConnectionsPerAddress = 16;
    std::chrono::seconds idle{60};
    std::chrono::seconds requestDeadline{5};
    int nBacklog = 16;
};

class ModbusServer {
public:
    // Answers unit `uUnitId`, and 0 and 255 as gateways send them; another
    // unit id gets exception 0B.
    ModbusServer(RegisterImageCache& images, uint8_t uUnitId, const ModbusLimits& limits = {});
    ~ModbusServer();
    ModbusServer(const ModbusServer&) = delete;
    ModbusServer& operator=(const ModbusServer&) = delete;

    // Listens on `host`:`port` (0: any free port). False with `error` set.
    bool start(const std::string& host, int port, std::string& error);
    int port() const;
    // Closes every connection and stops listening.
    void stop();

private:
    struct Impl;
    std::unique_ptr<Impl> m_pImpl;
};
