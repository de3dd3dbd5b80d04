#include "ListeningSocket.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

bool openListeningSocket(const std::string& host, int port, int nBacklog, ListeningSocket& socket,
                         std::string& error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* pFound = nullptr;
    const int nResolved = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &pFound);
    if (nResolved != 0) return error = gai_strerror(nResolved), false;
    const int fd = ::socket(pFound->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int nOn = 1;
    const bool bListening = fd >= 0 && setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &nOn, sizeof nOn) == 0 &&
                            bind(fd, pFound->ai_addr, pFound->ai_addrlen) == 0 && listen(fd, nBacklog) == 0;
    const bool bIpv6 = pFound->ai_family == AF_INET6;
    freeaddrinfo(pFound);
    sockaddr_storage bound{};
    socklen_t boundSize = sizeof bound;
    if (!bListening || getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &boundSize) != 0) {
        error = strerror(errno);
        if (fd >= 0) close(fd);
        return false;
    }
    socket.fd = fd;
    socket.bIpv6 = bIpv6;
    socket.nPort = ntohs(bIpv6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                               : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
    return true;
}
