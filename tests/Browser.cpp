#include "Browser.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <map>
#include <thread>

namespace {

constexpr int CALL_TIMEOUT_MILLIS = 30000;

std::string decodeBase64(const std::string& text) {
    std::string bytes;
    unsigned value = 0;
    int bits = 0;
    for (const char c : text) {
        const char* pszDigits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        const char* pszAt = c ? strchr(pszDigits, c) : nullptr;
        if (!pszAt) continue;  // padding
        value = (value << 6) | static_cast<unsigned>(pszAt - pszDigits);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            bytes += static_cast<char>((value >> bits) & 0xFF);
        }
    }
    return bytes;
}

}  // namespace

Browser::~Browser() {
    if (m_pid <= 0) return;
    close(m_nToBrowser);
    close(m_nFromBrowser);
    kill(m_pid, SIGTERM);
    waitpid(m_pid, nullptr, 0);
}

bool Browser::start(const std::string& profileDir, int width, int height, std::string& error) {
    int toBrowser[2], fromBrowser[2];
    if (pipe2(toBrowser, O_CLOEXEC) != 0 || pipe2(fromBrowser, O_CLOEXEC) != 0)
        return error = "no pipe", false;
    m_pid = fork();
    if (m_pid == 0) {
        // Copies above 4 first: a pipe's own descriptor may be 3 or 4 already.
        const int nIn = fcntl(toBrowser[0], F_DUPFD, 5), nOut = fcntl(fromBrowser[1], F_DUPFD, 5);
        dup2(nIn, 3);  // dup2 leaves close-on-exec off on the copies
        dup2(nOut, 4);
        const int nNull = ::open("/dev/null", O_WRONLY);
        dup2(nNull, STDOUT_FILENO);
        dup2(nNull, STDERR_FILENO);
        const std::string profile = "--user-data-dir=" + profileDir;
        const std::string size = "--window-size=" + std::to_string(width) + "," + std::to_string(height);
        execlp("chromium", "chromium", "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
               "--remote-debugging-pipe", profile.c_str(), size.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(toBrowser[0]);
    close(fromBrowser[1]);
    m_nToBrowser = toBrowser[1];
    m_nFromBrowser = fromBrowser[0];
    if (m_pid < 0) return error = "cannot start chromium", false;
    const nlohmann::json target = call("Target.createTarget", {{"url", "about:blank"}}, error);
    if (target.is_null()) return false;
    const nlohmann::json attached =
        call("Target.attachToTarget", {{"targetId", target["targetId"]}, {"flatten", true}}, error);
    if (attached.is_null()) return false;
    m_sessionId = attached["sessionId"];
    return !call("Emulation.setDeviceMetricsOverride",
                 {{"width", width}, {"height", height}, {"deviceScaleFactor", 1}, {"mobile", false}}, error)
                .is_null();
}

nlohmann::json Browser::call(const std::string& method, const nlohmann::json& params, std::string& error) {
    nlohmann::json message = {{"id", m_nNextId++}, {"method", method}, {"params", params}};
    if (!m_sessionId.empty()) message["sessionId"] = m_sessionId;
    const std::string text = message.dump() + '\0';
    if (write(m_nToBrowser, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
        return error = method + ": the browser is gone", nullptr;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(CALL_TIMEOUT_MILLIS);
    for (;;) {
        // Answers to other calls and the browser's own events are passed over.
        for (size_t end; (end = m_pending.find('\0')) != std::string::npos;) {
            const nlohmann::json answer = nlohmann::json::parse(m_pending.substr(0, end), nullptr, false);
            m_pending.erase(0, end + 1);
            if (!answer.is_object() || answer.value("id", 0) != message["id"]) continue;
            if (answer.contains("error")) return error = method + ": " + answer["error"].dump(), nullptr;
            return answer["result"];
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd input{m_nFromBrowser, POLLIN, 0};
        char buffer[65536];
        const ssize_t nRead = left.count() > 0 && poll(&input, 1, static_cast<int>(left.count())) > 0
                                  ? read(m_nFromBrowser, buffer, sizeof buffer)
                                  : -1;
        if (nRead <= 0) return error = method + ": no answer from the browser", nullptr;
        m_pending.append(buffer, static_cast<size_t>(nRead));
    }
}

bool Browser::open(const std::string& url, std::string& error) {
    if (call("Page.enable", nlohmann::json::object(), error).is_null()) return false;
    const nlohmann::json navigated = call("Page.navigate", {{"url", url}}, error);
    if (navigated.is_null() || navigated.contains("errorText")) return error = "cannot open " + url, false;
    return waitFor("document.readyState === 'complete'", 10) >= 0;
}

nlohmann::json Browser::evaluate(const std::string& expression, std::string& error) {
    const nlohmann::json result =
        call("Runtime.evaluate",
             {{"expression", expression}, {"returnByValue", true}, {"awaitPromise", true}}, error);
    if (result.is_null()) return nullptr;
    if (result.contains("exceptionDetails")) return error = result["exceptionDetails"].dump(), nullptr;
    return result["result"].value("value", nlohmann::json());
}

double Browser::waitFor(const std::string& expression, double seconds) {
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        std::string error;
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (evaluate("Boolean(" + expression + ")", error) == true) return elapsed;
        if (elapsed > seconds) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

bool Browser::press(const std::string& key, std::string& error) {
    static const std::map<std::string, std::pair<int, std::string>> codesAndTexts = {
        {"Tab", {9, ""}}, {"Enter", {13, "\r"}}, {"ArrowDown", {40, ""}}};
    const auto found = codesAndTexts.find(key);
    if (found == codesAndTexts.end()) return error = "no key \"" + key + "\"", false;
    const auto& [nCode, text] = found->second;
    nlohmann::json event = {{"type", text.empty() ? "rawKeyDown" : "keyDown"},
                            {"key", key},
                            {"code", key},
                            {"windowsVirtualKeyCode", nCode},
                            {"text", text}};
    if (call("Input.dispatchKeyEvent", event, error).is_null()) return false;
    event["type"] = "keyUp";
    return !call("Input.dispatchKeyEvent", event, error).is_null();
}

bool Browser::blockUrls(const std::vector<std::string>& patterns, std::string& error) {
    return !call("Network.enable", nlohmann::json::object(), error).is_null() &&
           !call("Network.setBlockedURLs", {{"urls", patterns}}, error).is_null();
}

bool Browser::screenshot(const std::string& path, std::string& error) {
    const nlohmann::json shot =
        call("Page.captureScreenshot", {{"format", "png"}, {"captureBeyondViewport", true}}, error);
    if (shot.is_null()) return false;
    std::ofstream file(path, std::ios::binary);
    file << decodeBase64(shot["data"]);
    return static_cast<bool>(file) || (error = "cannot write " + path, false);
}
