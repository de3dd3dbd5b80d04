#include "MqttConnection.h"

#include <mosquitto.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <thread>

namespace {

std::string libraryError(int nResult) {
    return nResult == MOSQ_ERR_ERRNO ? std::string(strerror(errno)) : mosquitto_strerror(nResult);
}

}  // namespace

MqttConnection::MqttConnection(std::function<void()> wake) : m_wake(std::move(wake)) {
    static std::once_flag s_initialized;
    std::call_once(s_initialized, [] { mosquitto_lib_init(); });
}

MqttConnection::~MqttConnection() {
    if (m_bLoopRunning) {
        mosquitto_disconnect(m_pMosq);
        mosquitto_loop_stop(m_pMosq, false);
    }
    if (m_pMosq) mosquitto_destroy(m_pMosq);
}

bool MqttConnection::start(const MqttConnectionSettings& settings, std::string& error) {
    // clean_session false: the broker keeps the session (and what it owes
    // this client) across reconnections.
    m_pMosq = mosquitto_new(settings.clientId.c_str(), false, this);
    if (!m_pMosq) {
        error = std::string("cannot make an MQTT client: ") + strerror(errno);
        return false;
    }
    mosquitto_int_option(m_pMosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_connect_callback_set(m_pMosq, onConnect);
    mosquitto_disconnect_callback_set(m_pMosq, onDisconnect);
    mosquitto_publish_callback_set(m_pMosq, onPublish);
    mosquitto_reconnect_delay_set(m_pMosq, static_cast<unsigned>(settings.nMinReconnectSeconds),
                                  static_cast<unsigned>(settings.nMaxReconnectSeconds), true);
    int nResult = mosquitto_will_set(m_pMosq, settings.willTopic.c_str(), 7, "offline", 1, true);
    if (nResult == MOSQ_ERR_SUCCESS && !settings.url.user.empty())
        nResult = mosquitto_username_pw_set(
            m_pMosq, settings.url.user.c_str(),
            settings.url.password.empty() ? nullptr : settings.url.password.c_str());
    if (nResult == MOSQ_ERR_SUCCESS && settings.url.bTls)
        nResult = mosquitto_tls_set(m_pMosq, settings.caFile.empty() ? nullptr : settings.caFile.c_str(),
                                    settings.caFile.empty() ? "/etc/ssl/certs" : nullptr, nullptr, nullptr,
                                    nullptr);
    if (nResult != MOSQ_ERR_SUCCESS) {
        error = (settings.url.bTls && !settings.caFile.empty() ? settings.caFile + ": " : "") +
                libraryError(nResult);
        return false;
    }
    m_settings = settings;
    m_nRetryDelay = settings.nMinReconnectSeconds;
    // Not reachable yet is no failure: keepTrying() tries again.
    if (!connect()) m_nextTry = std::chrono::steady_clock::now() + std::chrono::seconds(m_nRetryDelay);
    return true;
}

bool MqttConnection::connect() {
    int nResult = mosquitto_connect_async(m_pMosq, m_settings.url.host.c_str(), m_settings.url.port,
                                          m_settings.nKeepAliveSeconds);
    if (nResult == MOSQ_ERR_SUCCESS) nResult = mosquitto_loop_start(m_pMosq);
    if (nResult == MOSQ_ERR_SUCCESS) return m_bLoopRunning = true;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_news.error = "cannot connect to " + m_settings.url.host + ":" + std::to_string(m_settings.url.port) +
                   ": " + libraryError(nResult);
    return false;
}

void MqttConnection::keepTrying() {
    if (!m_pMosq || m_bLoopRunning || std::chrono::steady_clock::now() < m_nextTry || connect()) return;
    m_nRetryDelay = std::min(2 * m_nRetryDelay, m_settings.nMaxReconnectSeconds);
    m_nextTry = std::chrono::steady_clock::now() + std::chrono::seconds(m_nRetryDelay);
}

bool MqttConnection::publish(const std::string& topic, const std::string& payload, bool bRetain, int& nMid,
                             std::string& error) {
    const int nResult = mosquitto_publish(m_pMosq, &nMid, topic.c_str(), static_cast<int>(payload.size()),
                                          payload.data(), 1, bRetain);
    if (nResult == MOSQ_ERR_SUCCESS) return true;
    error = "cannot publish on " + topic + ": " + libraryError(nResult);
    return false;
}

ConnectionNews MqttConnection::take() {
    std::lock_guard<std::mutex> lock(m_mutex);
    ConnectionNews news = m_news;
    m_news.unConnects = 0;
    m_news.acknowledged.clear();
    m_news.error.clear();
    return news;
}

void MqttConnection::stop(const std::string& topic, const std::string& payload,
                          std::chrono::milliseconds wait) {
    if (!m_bLoopRunning) return;
    int nMid = 0;
    std::string ignored;
    bool bConnected;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        bConnected = m_news.bConnected;
        m_news.acknowledged.clear();
    }
    if (bConnected && publish(topic, payload, true, nMid, ignored)) {
        const auto deadline = std::chrono::steady_clock::now() + wait;
        for (;;) {
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                bool bAcknowledged = false;
                for (const int n : m_news.acknowledged) bAcknowledged = bAcknowledged || n == nMid;
                if (bAcknowledged || !m_news.bConnected) break;
            }
            if (std::chrono::steady_clock::now() >= deadline) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    mosquitto_disconnect(m_pMosq);
    mosquitto_loop_stop(m_pMosq, false);
    m_bLoopRunning = false;
}

void MqttConnection::onConnect(mosquitto*, void* pvSelf, int nResult) {
    auto* pSelf = static_cast<MqttConnection*>(pvSelf);
    {
        std::lock_guard<std::mutex> lock(pSelf->m_mutex);
        if (nResult == 0) {
            pSelf->m_news.bConnected = true;
            pSelf->m_news.unConnects++;
        } else {
            pSelf->m_news.error =
                std::string("the broker refused the connection: ") + mosquitto_connack_string(nResult);
        }
    }
    pSelf->m_wake();
}

void MqttConnection::onDisconnect(mosquitto*, void* pvSelf, int nResult) {
    auto* pSelf = static_cast<MqttConnection*>(pvSelf);
    {
        std::lock_guard<std::mutex> lock(pSelf->m_mutex);
        pSelf->m_news.bConnected = false;
        if (nResult != 0) pSelf->m_news.error = "the connection to the broker was lost";
    }
    pSelf->m_wake();
}

void MqttConnection::onPublish(mosquitto*, void* pvSelf, int nMid) {
    auto* pSelf = static_cast<MqttConnection*>(pvSelf);
    {
        std::lock_guard<std::mutex> lock(pSelf->m_mutex);
        pSelf->m_news.acknowledged.push_back(nMid);
    }
    pSelf->m_wake();
}
