#include "WebAccess.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <netdb.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace {

constexpr size_t TOKEN_BYTES = 32;
constexpr size_t MIN_TOKEN_CHARS = 16;
constexpr off_t MAX_TOKEN_FILE = 4096;
constexpr size_t MAX_QUOTED = 64;  // of a header in a reason
// How long an empty token file may take to get its token: another start
// that has just created it.
constexpr std::chrono::milliseconds CREATION_WAIT{500};

bool equalsIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return tolower(static_cast<unsigned char>(x)) == tolower(static_cast<unsigned char>(y));
           });
}

// Compares all of `expected` whatever `given` is, so the time taken does not
// tell how much of a guess was right.
bool equalsInConstantTime(const std::string& given, const std::string& expected) {
    unsigned char diff = given.size() == expected.size() ? 0 : 1;
    for (size_t i = 0; i < expected.size(); i++)
        diff |= static_cast<unsigned char>(expected[i] ^ (i < given.size() ? given[i] : 0));
    return diff == 0;
}

std::string quoted(const std::string& text) {
    return "\"" + (text.size() > MAX_QUOTED ? text.substr(0, MAX_QUOTED) + "..." : text) + "\"";
}

std::string withoutBrackets(const std::string& host) {
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') return host.substr(1, host.size() - 2);
    return host;
}

bool isIPv4(const std::string& text) {
    in_addr address{};
    return inet_pton(AF_INET, text.c_str(), &address) == 1;
}

bool isIPv6(const std::string& text) {
    in6_addr address{};
    return inet_pton(AF_INET6, text.c_str(), &address) == 1;
}

bool isLoopback(const sockaddr* pAddress) {
    if (pAddress == nullptr) return false;
    if (pAddress->sa_family == AF_INET)
        return (ntohl(reinterpret_cast<const sockaddr_in*>(pAddress)->sin_addr.s_addr) >> 24) == 127;
    if (pAddress->sa_family != AF_INET6) return false;
    const in6_addr& address = reinterpret_cast<const sockaddr_in6*>(pAddress)->sin6_addr;
    return IN6_IS_ADDR_LOOPBACK(&address) || (IN6_IS_ADDR_V4MAPPED(&address) && address.s6_addr[12] == 127);
}

// The names this machine answers to besides its addresses.
bool isThisMachinesName(const std::string& name) {
    if (equalsIgnoringCase(name, "localhost")) return true;
    char szName[256] = {};
    if (gethostname(szName, sizeof(szName) - 1) != 0 || !szName[0]) return false;
    return equalsIgnoringCase(name, szName) || equalsIgnoringCase(name, std::string(szName) + ".local");
}

// A Host header ("name[:port]", "[IPv6][:port]") that names this server.
bool namesThisServer(const std::string& host, int port) {
    std::string name = host, portText;
    bool bBracketed = false;
    if (!host.empty() && host[0] == '[') {
        const size_t close = host.find(']');
        if (close == std::string::npos) return false;
        name = host.substr(1, close - 1);
        bBracketed = true;
        if (close + 1 < host.size()) {
            if (host[close + 1] != ':') return false;
            portText = host.substr(close + 2);
            if (portText.empty()) return false;
        }
    } else if (const size_t colon = host.find(':'); colon != std::string::npos) {
        name = host.substr(0, colon);
        portText = host.substr(colon + 1);
        if (portText.empty()) return false;
    }
    const bool bNameOk = bBracketed ? isIPv6(name) : isIPv4(name) || isThisMachinesName(name);
    if (!bNameOk) return false;
    if (portText.empty()) return port == 80;
    return portText.size() <= 5 &&
           std::all_of(portText.begin(), portText.end(), [](char c) { return c >= '0' && c <= '9'; }) &&
           std::stoi(portText) == port;
}

bool bearerMatches(const std::string& authorization, const std::string& token) {
    constexpr size_t SCHEME = 7;  // "Bearer "
    if (token.empty() || authorization.size() <= SCHEME || authorization[SCHEME - 1] != ' ' ||
        !equalsIgnoringCase(authorization.substr(0, SCHEME - 1), "Bearer"))
        return false;
    const size_t begin = authorization.find_first_not_of(' ', SCHEME);
    const size_t end = authorization.find_last_not_of(" \t");
    if (begin == std::string::npos) return false;
    return equalsInConstantTime(authorization.substr(begin, end + 1 - begin), token);
}

bool isRead(const std::string& method) {
    return method == "GET" || method == "HEAD" || method == "OPTIONS";
}

// A token file: what reading it found.
enum class TokenFile { Read, Missing, Empty, Refused };

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor() {
        if (m_fd >= 0) close(m_fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

std::string failed(const std::string& path, const char* pszWhat) {
    return path + ": " + pszWhat + ": " + strerror(errno);
}

TokenFile readTokenFile(const std::string& path, std::string& token, std::string& error) {
    FileDescriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (file.get() < 0) {
        if (errno == ENOENT) return TokenFile::Missing;
        error = failed(path, "cannot read it");
        return TokenFile::Refused;
    }
    struct stat status {};
    if (fstat(file.get(), &status) != 0) {
        error = failed(path, "cannot read it");
        return TokenFile::Refused;
    }
    char szMode[8];
    snprintf(szMode, sizeof(szMode), "%04o", static_cast<unsigned>(status.st_mode & 07777));
    if (!S_ISREG(status.st_mode) || status.st_size > MAX_TOKEN_FILE) {
        error = path + ": not a token file (a file of one line)";
        return TokenFile::Refused;
    }
    if (status.st_mode & (S_IRWXG | S_IRWXO)) {
        error = path + ": others may read or change it (mode " + szMode +
                "), so it is not used: chmod 600 it, or delete it for a new token";
        return TokenFile::Refused;
    }
    std::string text(static_cast<size_t>(status.st_size), '\0');
    const ssize_t nRead = read(file.get(), text.data(), text.size());
    if (nRead < 0) {
        error = failed(path, "cannot read it");
        return TokenFile::Refused;
    }
    text.resize(static_cast<size_t>(nRead));
    text = text.substr(0, text.find('\n'));
    const size_t begin = text.find_first_not_of(" \t\r");
    if (begin == std::string::npos) return TokenFile::Empty;
    token = text.substr(begin, text.find_last_not_of(" \t\r") + 1 - begin);
    const bool bPrintable =
        std::all_of(token.begin(), token.end(), [](char c) { return c > ' ' && c < 0x7f; });
    if (!bPrintable || token.size() < MIN_TOKEN_CHARS) {
        error = path + ": the token must be at least " + std::to_string(MIN_TOKEN_CHARS) +
                " printable characters without spaces";
        return TokenFile::Refused;
    }
    return TokenFile::Read;
}

bool randomHex(std::string& hex, std::string& error) {
    unsigned char aBytes[TOKEN_BYTES];
    for (size_t got = 0; got < sizeof(aBytes);) {
        const ssize_t n = getrandom(aBytes + got, sizeof(aBytes) - got, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = std::string("no random bytes for a token: ") + strerror(errno);
            return false;
        }
        got += static_cast<size_t>(n);
    }
    static const char HEX[] = "0123456789abcdef";
    hex.clear();
    for (unsigned char byte : aBytes) {
        hex += HEX[byte >> 4];
        hex += HEX[byte & 15];
    }
    return true;
}

// A new token in a file that must not exist yet, so that of two starts only
// one writes it. False without `error` when the file appeared meanwhile.
bool createTokenFile(const std::string& path, std::string& token, std::string& error) {
    if (!randomHex(token, error)) return false;
    FileDescriptor file(open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (file.get() < 0) {
        if (errno != EEXIST) error = failed(path, "cannot create it");
        return false;
    }
    const std::string line = token + "\n";
    // Exactly 0600 whatever the umask, so the owner can read it at the next start.
    if (fchmod(file.get(), 0600) != 0 ||
        write(file.get(), line.data(), line.size()) != ssize_t(line.size()) || fsync(file.get()) != 0) {
        error = failed(path, "cannot write the token");
        unlink(path.c_str());
        return false;
    }
    return true;
}

std::string urlFor(const std::string& address, int port) {
    const bool bIPv6 = address.find(':') != std::string::npos;
    return "http://" + (bIPv6 ? "[" + address + "]" : address) + ":" + std::to_string(port) + "/";
}

// Each interface's address beyond the loopback (IPv6 ones too for `bIPv6`;
// link-local ones need a zone no browser takes, so they are left out).
std::vector<std::string> interfaceAddresses(bool bIPv6) {
    std::vector<std::string> addresses;
    ifaddrs* pList = nullptr;
    if (getifaddrs(&pList) != 0) return addresses;
    for (const ifaddrs* p = pList; p; p = p->ifa_next) {
        if (!p->ifa_addr || isLoopback(p->ifa_addr)) continue;
        char szAddress[INET6_ADDRSTRLEN] = {};
        if (p->ifa_addr->sa_family == AF_INET) {
            inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(p->ifa_addr)->sin_addr, szAddress,
                      sizeof(szAddress));
        } else if (p->ifa_addr->sa_family == AF_INET6 && bIPv6) {
            const in6_addr& address = reinterpret_cast<const sockaddr_in6*>(p->ifa_addr)->sin6_addr;
            if (IN6_IS_ADDR_LINKLOCAL(&address)) continue;
            inet_ntop(AF_INET6, &address, szAddress, sizeof(szAddress));
        }
        if (szAddress[0] && std::find(addresses.begin(), addresses.end(), szAddress) == addresses.end())
            addresses.push_back(szAddress);
    }
    freeifaddrs(pList);
    return addresses;
}

}  // namespace

AccessVerdict judgeAccess(const AccessPolicy& policy, const AccessRequest& request, std::string& reason) {
    if (request.host.empty()) {
        reason = "the request names no Host";
        return AccessVerdict::Forbidden;
    }
    if (!namesThisServer(request.host, policy.port)) {
        reason = "Host " + quoted(request.host) + " is not this meter";
        return AccessVerdict::Forbidden;
    }
    const bool bRead = isRead(request.method);
    if (!bRead && !request.origin.empty() && !equalsIgnoringCase(request.origin, "http://" + request.host)) {
        reason = request.origin == "null"
                     ? "a page without an origin may not change the meter"
                     : "another page (Origin " + quoted(request.origin) + ") may not change the meter";
        return AccessVerdict::Forbidden;
    }
    const bool bTokenNeeded = policy.bBeyondLoopback && !(bRead && policy.bOpenReads);
    if (!bTokenNeeded || bearerMatches(request.authorization, policy.token)) return AccessVerdict::Allow;
    reason = request.authorization.empty()
                 ? "this meter needs its token, sent as \"Authorization: Bearer <token>\""
                 : "the token sent is not this meter's";
    return AccessVerdict::Unauthorized;
}

bool loadOrCreateWebToken(const std::string& path, std::string& token, bool& bCreated, std::string& error) {
    bCreated = false;
    error.clear();
    const auto deadline = std::chrono::steady_clock::now() + CREATION_WAIT;
    for (;;) {
        switch (readTokenFile(path, token, error)) {
            case TokenFile::Read:
                return true;
            case TokenFile::Refused:
                return false;
            case TokenFile::Missing:
                if (createTokenFile(path, token, error)) {
                    bCreated = true;
                    return true;
                }
                if (!error.empty()) return false;
                break;  // another start created it: read that one
            case TokenFile::Empty:
                if (std::chrono::steady_clock::now() >= deadline) {
                    error = path + ": holds no token: delete it for a new one";
                    return false;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                break;
        }
    }
}

bool beyondLoopback(const std::string& host) {
    const std::string name = withoutBrackets(host);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* pList = nullptr;
    // A name that does not resolve could still come to: count it as beyond.
    if (getaddrinfo(name.c_str(), nullptr, &hints, &pList) != 0) return true;
    bool bBeyond = false;
    for (const addrinfo* p = pList; p; p = p->ai_next) bBeyond = bBeyond || !isLoopback(p->ai_addr);
    freeaddrinfo(pList);
    return bBeyond;
}

std::vector<std::string> listeningAddresses(const std::string& host, int port) {
    const std::string name = withoutBrackets(host);
    in6_addr address6{};
    const bool bAnyIPv6 =
        inet_pton(AF_INET6, name.c_str(), &address6) == 1 && IN6_IS_ADDR_UNSPECIFIED(&address6);
    std::vector<std::string> urls;
    if (name == "0.0.0.0" || bAnyIPv6)
        for (const std::string& address : interfaceAddresses(bAnyIPv6)) urls.push_back(urlFor(address, port));
    if (urls.empty()) urls.push_back(urlFor(name, port));
    return urls;
}
