#include "ModbusServer.h"

#include <fcntl.h>
#include <modbus/modbus.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <list>
#include <map>
#include <thread>
#include <vector>

#include "ListeningSocket.h"
#include "ModbusRequest.h"
#include "RegisterImageCache.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int POLL_MILLIS = 250;  // how often the deadlines are looked at
// The loop yields the processor to the host's loop: a flood of requests slows
// the answers, never the measurement.
constexpr int SERVER_NICENESS = 10;
constexpr int ACCEPT_BATCH = 32;

struct Connection {
    int fd;
    std::string address;
    uint8_t buffer[MAX_FRAME];
    size_t used = 0;
    Clock::time_point lastActive, requestStarted;
};

std::string peerAddress(const sockaddr_storage& peer, socklen_t size) {
    char szHost[NI_MAXHOST] = "?";
    getnameinfo(reinterpret_cast<const sockaddr*>(&peer), size, szHost, sizeof szHost, nullptr, 0,
                NI_NUMERICHOST);
    return szHost;
}

}  // namespace

struct ModbusServer::Impl {
    Impl(RegisterImageCache& cache, uint8_t uUnit, const ModbusLimits& given)
        : images(cache), uUnitId(uUnit), limits(given) {}

    RegisterImageCache& images;
    const uint8_t uUnitId;
    const ModbusLimits limits;
    int listenFd = -1, nPort = 0;
    int wakeFds[2] = {-1, -1};
    std::atomic<bool> bStop{false};
    std::thread thread;
    // The loop's own: libmodbus encodes each answer on this context, bound
    // to the connection it answers.
    modbus_t* pContext = nullptr;
    std::list<Connection> connections;
    std::map<std::string, unsigned> perAddress;

    void close(std::list<Connection>::iterator it) {
        ::close(it->fd);
        if (--perAddress[it->address] == 0) perAddress.erase(it->address);
        connections.erase(it);
    }

    // One waiting connection taken (or refused at once); false when none waits.
    bool accept() {
        sockaddr_storage peer{};
        socklen_t size = sizeof peer;
        const int fd =
            accept4(listenFd, reinterpret_cast<sockaddr*>(&peer), &size, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) return false;
        const std::string address = peerAddress(peer, size);
        if (connections.size() >= limits.nConnections ||
            perAddress[address] >= limits.nConnectionsPerAddress) {
            if (perAddress[address] == 0) perAddress.erase(address);
            ::close(fd);
            return true;
        }
        perAddress[address]++;
        Connection& c = connections.emplace_back();
        c.fd = fd;
        c.address = address;
        c.lastActive = Clock::now();
        return true;
    }

    // One complete frame answered; false when the connection is to close.
    bool answer(Connection& c, const uint8_t* pFrame, size_t size) {
        const RequestVerdict verdict = judgeRequest(pFrame, size, uUnitId);
        if (verdict.kind == RequestVerdict::Close) return false;
        modbus_set_socket(pContext, c.fd);
        if (verdict.kind == RequestVerdict::Exception)
            return modbus_reply_exception(pContext, pFrame, verdict.uException) > 0;
        const std::shared_ptr<const RegisterImage> pImage = images.current();
        // libmodbus writes to a mapping only for the write functions, which never reach it.
        uint16_t* pRegisters = const_cast<uint16_t*>(pImage->registers());
        modbus_mapping_t mapping{};
        mapping.nb_registers = mapping.nb_input_registers = RegisterImage::SIZE;
        mapping.tab_registers = mapping.tab_input_registers = pRegisters;
        return modbus_reply(pContext, pFrame, static_cast<int>(size), &mapping) > 0;
    }

    // What arrived on `c`, each complete frame answered; false when it is to close.
    bool receive(Connection& c) {
        const ssize_t n = recv(c.fd, c.buffer + c.used, sizeof c.buffer - c.used, 0);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) return false;
        if (n < 0) return true;
        const Clock::time_point now = Clock::now();
        if (c.used == 0) c.requestStarted = now;
        c.used += static_cast<size_t>(n);
        c.lastActive = now;
        size_t size = 0;
        for (;;) {
            const FrameState state = frameAt(c.buffer, c.used, size);
            if (state == FrameState::Malformed) return false;
            if (state == FrameState::Incomplete) return true;
            if (!answer(c, c.buffer, size)) return false;
            memmove(c.buffer, c.buffer + size, c.used - size);
            c.used -= size;
            c.requestStarted = now;
        }
    }

    bool overdue(const Connection& c, Clock::time_point now) const {
        return c.used > 0 ? now - c.requestStarted >= limits.requestDeadline
                          : now - c.lastActive >= limits.idle;
    }

    void loop() {
        setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), SERVER_NICENESS);
        std::vector<pollfd> fds;
        while (!bStop) {
            fds.assign({{wakeFds[0], POLLIN, 0}, {listenFd, POLLIN, 0}});
            for (const Connection& c : connections) fds.push_back({c.fd, POLLIN, 0});
            if (poll(fds.data(), fds.size(), POLL_MILLIS) < 0 && errno != EINTR) break;
            const Clock::time_point now = Clock::now();
            size_t i = 2;
            for (auto it = connections.begin(); it != connections.end(); i++) {
                // Overdue whether or not bytes came: a client that trickles
                // a byte at a time meets the deadline too.
                const bool bKeep = !overdue(*it, now) &&
                                   (fds[i].revents == 0 || ((fds[i].revents & POLLIN) != 0 && receive(*it)));
                if (bKeep)
                    ++it;
                else
                    close(it++);
            }
            // The backlog emptied a bounded batch at a time, so a flood of
            // connections does not keep those open from being read.
            for (int n = 0; (fds[1].revents & POLLIN) && n < ACCEPT_BATCH && accept(); n++) {
            }
        }
        while (!connections.empty()) close(connections.begin());
    }
};

ModbusServer::ModbusServer(RegisterImageCache& images, uint8_t uUnitId, const ModbusLimits& limits)
    : m_pImpl(std::make_unique<Impl>(images, uUnitId, limits)) {}

ModbusServer::~ModbusServer() {
    stop();
}

int ModbusServer::port() const {
    return m_pImpl->nPort;
}

bool ModbusServer::start(const std::string& host, int port, std::string& error) {
    Impl& impl = *m_pImpl;
    ListeningSocket listening;
    if (!openListeningSocket(host, port, impl.limits.nBacklog, listening, error)) return false;
    const int fd = listening.fd;
    impl.nPort = listening.nPort;
    impl.pContext = modbus_new_tcp("127.0.0.1", impl.nPort);  // never connects: it only encodes
    if (impl.pContext == nullptr || pipe2(impl.wakeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
        error = std::string("cannot set up the server: ") + strerror(errno);
        close(fd);
        stop();
        return false;
    }
    impl.listenFd = fd;
    impl.bStop = false;
    impl.thread = std::thread([&impl] { impl.loop(); });
    return true;
}

void ModbusServer::stop() {
    Impl& impl = *m_pImpl;
    impl.bStop = true;
    if (impl.wakeFds[1] >= 0 && write(impl.wakeFds[1], "x", 1) < 0) {
        // The loop still sees the flag within one poll period.
    }
    if (impl.thread.joinable()) impl.thread.join();
    for (int& fd : impl.wakeFds)
        if (fd >= 0) close(fd), fd = -1;
    if (impl.listenFd >= 0) close(impl.listenFd);
    impl.listenFd = -1;
    if (impl.pContext != nullptr) modbus_free(impl.pContext);
    impl.pContext = nullptr;
}
