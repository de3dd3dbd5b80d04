// The broker's connection on Debian's libmosquitto, run by the library's
// own network thread: QoS 1, a persistent session under a stable client id,
// reconnecting with a growing delay, the meter's availability "offline" as
// its retained last will. What happens on the network (connected, lost, a
// message acknowledged) is collected for the publisher's thread, which
// `wake` tells; nothing here waits on the network but stop().
#pragma once

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "MqttUrl.h"

struct mosquitto;

struct MqttConnectionSettings {
    MqttUrl url;
    std::string caFile;  // mqtts: the CA certificates' file; empty: the system's (/etc/ssl/certs)
    std::string clientId;
    std::string willTopic;  // retained "offline" when the connection is lost
    int nKeepAliveSeconds = 30;
    int nMinReconnectSeconds = 1, nMaxReconnectSeconds = 60;
};

// What the network thread saw since the last take().
struct ConnectionNews {
    bool bConnected = false;        // now
    unsigned unConnects = 0;        // connections made (each wants availability and discovery again)
    std::vector<int> acknowledged;  // message ids the broker acknowledged, in order
    std::string error;              // the latest failure, "" when none came
};

class MqttConnection {
public:
    explicit MqttConnection(std::function<void()> wake);
    ~MqttConnection();
    MqttConnection(const MqttConnection&) = delete;
    MqttConnection& operator=(const MqttConnection&) = delete;

    // Starts connecting in the background; false with `error` set for
    // settings the library refuses (a CA file it cannot read). A broker
    // that cannot be reached yet is no failure: it is tried again.
    bool start(const MqttConnectionSettings& settings, std::string& error);
    // Until a first connection is under way the library does not try again
    // by itself: this does, with the growing delay. Call it often.
    void keepTrying();
    // QoS 1; `nMid` the id its acknowledgement will carry. False with
    // `error` set when the library refuses it.
    bool publish(const std::string& topic, const std::string& payload, bool bRetain, int& nMid,
                 std::string& error);
    ConnectionNews take();
    // Publishes `payload` retained on `topic` when connected, waits up to
    // `wait` for its acknowledgement, disconnects and stops the thread.
    void stop(const std::string& topic, const std::string& payload, std::chrono::milliseconds wait);

private:
    static void onConnect(mosquitto*, void* pvSelf, int nResult);
    static void onDisconnect(mosquitto*, void* pvSelf, int nResult);
    static void onPublish(mosquitto*, void* pvSelf, int nMid);

    // A connection begun: the network thread runs from then on.
    bool connect();

    std::function<void()> m_wake;
    mosquitto* m_pMosq = nullptr;
    MqttConnectionSettings m_settings;
    bool m_bLoopRunning = false;
    int m_nRetryDelay = 0;  // seconds
    std::chrono::steady_clock::time_point m_nextTry;
    std::mutex m_mutex;
    ConnectionNews m_news;
};
