// Debian's mosquitto on a free loopback port, its store saved each second in
// a scratch directory (so a subscriber's session outlives a restart, as a
// fleet's broker keeps it), and a subscriber on libmosquitto that collects every
// message. A broker that cannot start fails the test.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <mosquitto.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ScratchFiles.h"

// With `port` 0 a free loopback port, else whether it accepts connections.
inline int probeLoopback(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{AF_INET, htons(static_cast<uint16_t>(port)), {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t length = sizeof address;
    auto* pAddress = reinterpret_cast<sockaddr*>(&address);
    const int nFound = port ? connect(fd, pAddress, length) == 0
                       : bind(fd, pAddress, length) == 0 && getsockname(fd, pAddress, &length) == 0
                           ? ntohs(address.sin_port)
                           : 0;
    close(fd);
    return nFound;
}

class MqttBroker {
public:
    MqttBroker() : m_port(probeLoopback(0)) {
        m_dir.write("broker.conf", "listener " + std::to_string(m_port) +
                                       " 127.0.0.1\nallow_anonymous true\npersistence "
                                       "true\nautosave_interval 1\npersistence_location " +
                                       m_dir.path() + "/\n");
        start();
    }
    ~MqttBroker() { stop(); }
    int port() const { return m_port; }
    std::string url() const { return "mqtt://127.0.0.1:" + std::to_string(m_port); }
    void start() {
        m_pid = fork();
        if (m_pid == 0) {
            const int fd = open(m_dir.path("broker.log").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            dup2(fd, STDOUT_FILENO), dup2(fd, STDERR_FILENO);
            execlp("mosquitto", "mosquitto", "-c", m_dir.path("broker.conf").c_str(),
                   static_cast<char*>(nullptr));
            _exit(127);
        }
        for (int i = 0; i < 200 && !probeLoopback(m_port); i++)
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        ASSERT_TRUE(probeLoopback(m_port)) << "mosquitto did not start:\n"
                                           << readFile(m_dir.path("broker.log"));
    }
    // SIGSTOP leaves it connected and answering nothing; SIGKILL loses what it was sent since.
    void stop(int nSignal = SIGTERM) {
        if (m_pid <= 0 || kill(m_pid, nSignal) != 0 || nSignal == SIGSTOP) return;
        kill(m_pid, SIGCONT);  // a frozen one ends only once it runs
        waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }

private:
    ScratchDirectory m_dir;
    int m_port;
    pid_t m_pid = -1;
};

struct ReceivedMessage {
    std::string topic, payload;
};
using Received = std::vector<ReceivedMessage>;

// Each subscription acknowledged shows as a message on this topic.
const std::string SUBSCRIBED = "(subscribed)";

// Subscribed to everything at QoS 1 in a persistent session named `id`.
class MqttSubscriber {
public:
    explicit MqttSubscriber(int port, const char* pszId = "test-subscriber") {
        mosquitto_lib_init();
        m_pMosq = mosquitto_new(pszId, false, this);
        mosquitto_reconnect_delay_set(m_pMosq, 1, 1, false);
        mosquitto_connect_callback_set(
            m_pMosq, [](mosquitto* p, void*, int) { mosquitto_subscribe(p, nullptr, "#", 1); });
        mosquitto_subscribe_callback_set(m_pMosq, [](mosquitto*, void* pvSelf, int, int, const int*) {
            static_cast<MqttSubscriber*>(pvSelf)->add({SUBSCRIBED, ""});
        });
        mosquitto_message_callback_set(m_pMosq, [](mosquitto*, void* pvSelf, const mosquitto_message* m) {
            static_cast<MqttSubscriber*>(pvSelf)->add(
                {m->topic,
                 std::string(static_cast<const char*>(m->payload), static_cast<size_t>(m->payloadlen))});
        });
        mosquitto_connect_async(m_pMosq, "127.0.0.1", port, 30);
        mosquitto_loop_start(m_pMosq);
    }
    ~MqttSubscriber() {
        mosquitto_disconnect(m_pMosq);
        mosquitto_loop_stop(m_pMosq, false);
        mosquitto_destroy(m_pMosq);
    }
    // True once `done` holds for what arrived, false after `seconds`.
    bool waitFor(const std::function<bool(const Received&)>& done, int seconds) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_arrived.wait_for(lock, std::chrono::seconds(seconds), [&] { return done(m_received); });
    }
    Received received() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_received;
    }

private:
    void add(const ReceivedMessage& message) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_received.push_back(message);
        m_arrived.notify_all();
    }

    mosquitto* m_pMosq;
    std::mutex m_mutex;
    std::condition_variable m_arrived;
    Received m_received;
};

// The messages on `topic`, in the order they arrived.
inline Received on(const Received& received, const std::string& topic) {
    Received found;
    for (const ReceivedMessage& message : received)
        if (message.topic == topic) found.push_back(message);
    return found;
}
