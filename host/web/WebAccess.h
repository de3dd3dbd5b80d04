// Placeholder until the access rules are merged: who may do what, decided
// before a request is routed. This stub allows everything.
#pragma once

#include <string>

struct AccessPolicy {
    bool bBeyondLoopback = false;
    bool bOpenReads = false;
    std::string token;
    int port = 0;
};

struct AccessRequest {
    std::string method, origin, host, authorization;
    bool bLoopbackPeer;
};

enum class AccessVerdict { Allow, Forbidden, Unauthorized };

AccessVerdict judgeAccess(const AccessPolicy& policy, const AccessRequest& request, std::string& reason);
