// `qmhost run --scenario swell` with its web page, as a process of its own,
// for the suites that test the page and its server from outside.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "ScratchFiles.h"

// `qmhost run --scenario swell`: a 3 s swell on phase A to 264.5 V, 5 s after
// the start and every 20 s after; its page on a free port of `webAddress`;
// Modbus on `pszModbus` when given.
struct Host {
    ScratchDirectory dir;
    pid_t pid = -1;
    int port = 0;
    std::string error;

    explicit Host(const std::string& webAddress = "127.0.0.1:0", const std::string& scenario = "swell",
                  const char* pszModbus = nullptr) {
        for (const char* pszName : {"QM9000.json", "Cal9000.json", "Init9000.json", "CfgProbe.json"})
            dir.write(pszName, readFile(std::string(QM_CONFIG_DIR "/") + pszName));
        pid = fork();
        if (pid == 0) {
            setenv("QM_APP_DIR", dir.path().c_str(), 1);
            const int nLog = open(dir.path("host.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(open("/dev/null", O_RDONLY), STDIN_FILENO);
            dup2(nLog, STDOUT_FILENO);
            dup2(nLog, STDERR_FILENO);
            execl(QM_HOST_PATH, "qmhost", "run", "--log", "--scenario", scenario.c_str(), "--web",
                  webAddress.c_str(), "--db", database().c_str(), "--seconds", "900",
                  pszModbus ? "--modbus" : nullptr, pszModbus, static_cast<char*>(nullptr));
            _exit(127);
        }
        const std::string said = "qmhost: web page: http://127.0.0.1:";
        for (int i = 0; i < 600 && port == 0; i++) {
            const std::string log = readFile(dir.path("host.log"));
            const size_t at = log.find(said);
            if (at != std::string::npos) port = std::atoi(log.c_str() + at + said.size());
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        if (port == 0) error = "qmhost gave no web page:\n" + readFile(dir.path("host.log"));
    }
    ~Host() {
        kill(pid, SIGTERM);
        int status = 0;
        waitpid(pid, &status, 0);
        const std::string log = readFile(dir.path("host.log"));
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << log;
        EXPECT_NE(log.find("0 dropped"), std::string::npos) << log;
    }
    std::string database() const { return dir.path("qm9000.db"); }
    // The page's token, made at the first start when listening beyond the loopback.
    std::string token() const {
        const std::string text = readFile(dir.path("web-token"));
        return text.substr(0, text.find('\n'));
    }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port) + "/"; }
};

// A connection to `port` on the loopback from 127.0.0.<nSource> (all of
// 127/8 is the loopback), not waiting for it to be accepted; -1 on failure.
inline int connectFrom(int nSource, int port, int nFlags = SOCK_NONBLOCK) {
    const int fd = socket(AF_INET, SOCK_STREAM | nFlags, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(0x7f000000u | static_cast<uint32_t>(nSource));
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return close(fd), -1;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 && errno != EINPROGRESS)
        return close(fd), -1;
    return fd;
}

// The bytes a raw HTTP request gets back.
inline std::string rawRequest(int port, const std::string& request) {
    const int fd = connectFrom(1, port, 0);
    std::string answer;
    if (fd >= 0 && write(fd, request.data(), request.size()) == static_cast<ssize_t>(request.size())) {
        char buffer[4096];
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n > 0) answer.assign(buffer, static_cast<size_t>(n));
    }
    if (fd >= 0) close(fd);
    return answer;
}
