// Debian's Chromium, headless, driven over its DevTools protocol on a pipe
// (fd 3 in, fd 4 out, messages ending in NUL): one page to open, scripts to
// evaluate in it and screenshots to take.
#pragma once

#include <sys/types.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

class Browser {
public:
    Browser() = default;
    ~Browser();
    Browser(const Browser&) = delete;
    Browser& operator=(const Browser&) = delete;

    // Starts the browser with a page of `width` x `height`; false with `error`.
    bool start(const std::string& profileDir, int width, int height, std::string& error);
    bool open(const std::string& url, std::string& error);
    // The value of a script expression (promises awaited); null on a failure,
    // with `error` set.
    nlohmann::json evaluate(const std::string& expression, std::string& error);
    // Waits (polling every 100 ms) until `expression` is true, at most `seconds`.
    // The seconds it took, or a negative number when it timed out.
    double waitFor(const std::string& expression, double seconds);
    // A key pressed and released as a user would: "Tab", "Enter" or "ArrowDown".
    bool press(const std::string& key, std::string& error);
    // Requests to URLs matching a pattern ('*' any text) fail as if nothing
    // answered; an empty list lets all through again.
    bool blockUrls(const std::vector<std::string>& patterns, std::string& error);
    // The whole page as a PNG file.
    bool screenshot(const std::string& path, std::string& error);

private:
    nlohmann::json call(const std::string& method, const nlohmann::json& params, std::string& error);

    pid_t m_pid = -1;
    int m_nToBrowser = -1, m_nFromBrowser = -1;
    int m_nNextId = 1;
    std::string m_sessionId;
    std::string m_pending;  // bytes read past the last whole message
};
