#include "WebAccess.h"

AccessVerdict judgeAccess(const AccessPolicy&, const AccessRequest&, std::string&) {
    return AccessVerdict::Allow;
}
