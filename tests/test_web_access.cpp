// Who may read and change the meter through its web API, its token file, and
// the one waveform capture all viewers share; no server runs.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <tuple>

#include "Requests.h"
#include "ScratchFiles.h"
#include "SnapshotCache.h"
#include "WebAccess.h"

namespace {

using std::chrono::milliseconds;
const std::string TOKEN = "0123456789abcdef0123456789abcdef";

TEST(WebAccess, JudgesHostOriginAndToken) {
    char szName[256] = {};
    gethostname(szName, sizeof(szName) - 1);
    const AccessPolicy loopback{false, false, "", 8080}, port80{false, false, "", 80};
    const AccessPolicy beyond{true, false, TOKEN, 8080}, open{true, true, TOKEN, 8080},
        noToken{true, false, "", 8080};
    const std::string bearer = "Bearer " + TOKEN, ok = "127.0.0.1:8080", self = "http://127.0.0.1:8080";
    using V = AccessVerdict;
    struct Case {
        const AccessPolicy& policy;
        std::string method, origin, host, authorization;
        AccessVerdict verdict;
    } cases[] = {
        {loopback, "GET", "", ok, "", V::Allow},
        {loopback, "GET", "http://evil.example", "localhost:8080", "", V::Allow},
        {loopback, "GET", "", "[::1]:8080", "", V::Allow},
        {loopback, "GET", "", std::string(szName) + ".local:8080", "", V::Allow},
        {loopback, "GET", "", "evil.example:8080", "", V::Forbidden},  // a rebound name
        {loopback, "GET", "", "127.0.0.1:8081", "", V::Forbidden},
        {loopback, "GET", "", "127.0.0.1", "", V::Forbidden},
        {loopback, "GET", "", "[::1", "", V::Forbidden},
        {loopback, "GET", "", "", "", V::Forbidden},
        {port80, "GET", "", "127.0.0.1", "", V::Allow},
        {loopback, "POST", "", ok, "", V::Allow},
        {loopback, "POST", self, ok, "", V::Allow},
        {loopback, "POST", "http://evil.example", ok, "", V::Forbidden},
        {loopback, "PUT", "null", ok, "", V::Forbidden},
        {loopback, "POST", self, "evil.example:8080", "", V::Forbidden},
        {beyond, "GET", "", "192.168.1.5:8080", "", V::Unauthorized},
        {beyond, "GET", "", "192.168.1.5:8080", bearer, V::Allow},
        {beyond, "GET", "", ok, "bearer  " + TOKEN, V::Allow},
        {beyond, "GET", "", ok, "Bearer 1" + TOKEN.substr(1), V::Unauthorized},
        {beyond, "GET", "", ok, bearer.substr(0, bearer.size() - 1), V::Unauthorized},
        {beyond, "GET", "", ok, bearer + "0", V::Unauthorized},
        {beyond, "GET", "", ok, "Basic " + TOKEN, V::Unauthorized},
        {beyond, "GET", "", ok, "", V::Unauthorized},  // from the board itself too
        {beyond, "POST", self, ok, bearer, V::Allow},
        {beyond, "POST", "http://evil.example", ok, bearer, V::Forbidden},
        {beyond, "DELETE", "", ok, "", V::Unauthorized},
        {open, "GET", "", ok, "", V::Allow},
        {open, "HEAD", "", ok, "", V::Allow},
        {open, "POST", "", ok, "", V::Unauthorized},
        {noToken, "GET", "", ok, "Bearer ", V::Unauthorized},
    };
    for (const Case& c : cases) {
        std::string reason;
        const AccessVerdict verdict =
            judgeAccess(c.policy, {c.method, c.origin, c.host, c.authorization}, reason);
        EXPECT_EQ(verdict, c.verdict) << c.method << " Host " << c.host << " Origin " << c.origin << " auth "
                                      << c.authorization << ": " << reason;
        EXPECT_EQ(reason.empty(), verdict == V::Allow) << reason;
    }
}

TEST(WebAccess, TokenFileIsCreatedPrivateReusedAndRefusedWhenOthersMayReadIt) {
    ScratchDirectory dir;
    std::string token, again, error;
    bool bCreated = false;
    ASSERT_TRUE(loadOrCreateWebToken(dir.path("web-token"), token, bCreated, error)) << error;
    struct stat status {};
    ASSERT_EQ(stat(dir.path("web-token").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
    EXPECT_TRUE(bCreated && token.size() == 64 &&
                token.find_first_not_of("0123456789abcdef") == std::string::npos)
        << token;
    ASSERT_TRUE(loadOrCreateWebToken(dir.path("web-token"), again, bCreated, error)) << error;
    EXPECT_TRUE(!bCreated && again == token) << again;

    // Two starts at once: one writes it, both use it.
    bool abCreated[2] = {};
    std::string aTokens[2], aErrors[2];
    std::thread other([&] { loadOrCreateWebToken(dir.path("raced"), aTokens[1], abCreated[1], aErrors[1]); });
    loadOrCreateWebToken(dir.path("raced"), aTokens[0], abCreated[0], aErrors[0]);
    other.join();
    EXPECT_EQ(aTokens[0], aTokens[1]) << aErrors[0] << aErrors[1];
    EXPECT_NE(abCreated[0], abCreated[1]);

    using Refusal = std::tuple<std::string, mode_t, std::string>;  // the file, its mode, what is said
    for (const auto& [content, mode, said] : {Refusal{TOKEN, 0640, "others may read"},
                                              {TOKEN, 0604, "others may read"},
                                              {"\n", 0600, "holds no token"},
                                              {"short", 0600, "at least 16"}}) {
        const std::string path = dir.write("refused", content);
        chmod(path.c_str(), mode);
        EXPECT_FALSE(loadOrCreateWebToken(path, token, bCreated, error)) << said;
        EXPECT_NE(error.find(said), std::string::npos) << error;
        EXPECT_EQ(readFile(path), content);
    }
}

TEST(WebAccess, KnowsTheLoopbackFromBeyond) {
    for (const char* pszHost : {"127.0.0.1", "127.1.2.3", "::1", "[::1]", "localhost"})
        EXPECT_FALSE(beyondLoopback(pszHost)) << pszHost;
    for (const char* pszHost : {"0.0.0.0", "192.168.1.5", "::", "[::]", "no-such-host.invalid"})
        EXPECT_TRUE(beyondLoopback(pszHost)) << pszHost;
    EXPECT_EQ(listeningAddresses("192.168.1.5", 8080), std::vector<std::string>{"http://192.168.1.5:8080/"});
    for (const std::string& url : listeningAddresses("0.0.0.0", 8080))
        EXPECT_TRUE(url.find("127.") == std::string::npos && url.rfind(":8080/") == url.size() - 6) << url;
}

// A module whose waveform capture takes `scopeTime` for each look, and comes
// (or never does).
struct FakeModule : MeasSOM {
    milliseconds scopeTime;
    bool bDelivers;
    std::atomic<unsigned> unArms{0};
    FakeModule(milliseconds time, bool bDelivers) : scopeTime(time), bDelivers(bDelivers) {}
    int realtimeGet(int nType, void* pvResult, uint32_t ulMaxResult) override {
        if (nType == REQ_SCOPE_ARM) {
            unArms++;
            return REQ_OK;
        }
        if (nType == REQ_SCOPE) std::this_thread::sleep_for(scopeTime);
        if (nType == REQ_SCOPE && !bDelivers) return REQ_TOO_SMALL;
        memset(pvResult, 0, ulMaxResult);
        return REQ_OK;
    }
};

// Eight viewers asking for the snapshot for `duration`: the calls answered,
// refused, and those that took longer than `slow`.
std::array<unsigned, 3> view(SnapshotCache& cache, milliseconds duration, milliseconds slow) {
    std::atomic<unsigned> counts[3] = {};
    const auto end = std::chrono::steady_clock::now() + duration;
    std::vector<std::thread> viewers;
    for (int i = 0; i < 8; i++)
        viewers.emplace_back([&] {
            StoredSnapshot snapshot;
            std::string why;
            for (auto start = std::chrono::steady_clock::now(); start < end;
                 start = std::chrono::steady_clock::now()) {
                counts[cache.latest(snapshot, why) ? 0 : 1]++;
                if (std::chrono::steady_clock::now() - start > slow) counts[2]++;
            }
        });
    for (std::thread& viewer : viewers) viewer.join();
    return {counts[0], counts[1], counts[2]};
}

TEST(SnapshotCache, ArmsOneCapturePerPeriodForAllViewers) {
    FakeModule module(milliseconds(10), true);
    SnapshotCache cache(module, milliseconds(50));
    EXPECT_EQ(view(cache, milliseconds(500), milliseconds(1000))[1], 0u);
    EXPECT_LE(module.unArms, 11u);  // ten periods, and a call begun at their end
    EXPECT_GE(module.unArms, 4u);
}

TEST(SnapshotCache, AModuleThatDoesNotAnswerIsNotStormedNorWaitedFor) {
    // The first look at the capture takes 600 ms, beyond its 100 ms wait.
    FakeModule module(milliseconds(600), false);
    SnapshotCache cache(module, milliseconds(50), milliseconds(100));
    const auto counts = view(cache, milliseconds(900), milliseconds(500));
    EXPECT_EQ(module.unArms, 1u);
    EXPECT_EQ(counts[0], 0u);
    EXPECT_EQ(counts[2], 1u);  // the capture's own call
}

}  // namespace
