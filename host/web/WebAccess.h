// Who may read the meter's web API and who may change it. Decided from the
// request's headers alone, whatever serves them:
// - The Host header must name this server: an IP literal (IPv4 or [IPv6]),
//   "localhost", this machine's host name or "<host name>.local", with the
//   server's port (without a port only when that is 80). Anything else is 403,
//   reads too: a page whose name was rebound to this meter's address names
//   its own host.
// - A request that may change something (any method but GET, HEAD, OPTIONS)
//   is 403 when it carries an Origin other than "http://" + its Host ("null"
//   included): another page's script. Without an Origin it comes from a
//   client that is no browser, and the Host check stands alone.
// - Listening beyond the loopback, every client needs "Authorization: Bearer
//   <token>" to change anything, and to read unless reads are open
//   (--web-open); else 401. Clients on the board itself too: a proxy or a
//   tunnel there would otherwise carry anyone past the token.
#pragma once

#include <string>
#include <vector>

struct AccessPolicy {
    bool bBeyondLoopback = false;  // listening on an address other than 127.0.0.0/8 or ::1
    bool bOpenReads = false;       // --web-open: GETs need no token even beyond the loopback
    std::string token;             // required beyond the loopback
    int port = 0;                  // the port the server listens on (set once bound)
};

struct AccessRequest {
    std::string method, origin, host, authorization;  // the headers as sent ("" when absent)
};

enum class AccessVerdict { Allow, Forbidden, Unauthorized };  // 403, 401

// The verdict on `request`; `reason` a short sentence for the error's body
// when it is not Allow.
AccessVerdict judgeAccess(const AccessPolicy& policy, const AccessRequest& request, std::string& reason);

// The token in `path` (its first line, trimmed), or a new one (32 random
// bytes as hex) written there, readable by its owner only, when there is no
// such file; `bCreated` then says so, for the caller to show it once. Two
// starts at once share one token. False with `error` for a file it cannot
// read, one others may read or write (it is not used), one without a token
// of at least 16 printable characters.
bool loadOrCreateWebToken(const std::string& path, std::string& token, bool& bCreated, std::string& error);

// Whether listening on `host` (the address of "[ADDRESS:]PORT", an IPv6 one
// with or without brackets) reaches beyond the loopback: anything but
// 127.0.0.0/8, ::1 and names that resolve to those only.
bool beyondLoopback(const std::string& host);

// The page's URLs when listening on `host` and `port`, for the warning line:
// for 0.0.0.0 (or ::), each interface's address beyond the loopback.
std::vector<std::string> listeningAddresses(const std::string& host, int port);
