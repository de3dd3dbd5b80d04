// The meter's topics: qm9000/<meter id>/state, interval, event, energy,
// status and availability, and Home Assistant's discovery topics.
#pragma once

#include <string>

struct MqttTopics {
    std::string meterId;

    std::string topic(const char* pszLeaf) const { return "qm9000/" + meterId + "/" + pszLeaf; }
    std::string state() const { return topic("state"); }
    std::string interval() const { return topic("interval"); }
    std::string event() const { return topic("event"); }
    std::string energy() const { return topic("energy"); }
    std::string status() const { return topic("status"); }
    std::string availability() const { return topic("availability"); }
    std::string discovery(const std::string& object) const {
        return "homeassistant/sensor/" + meterId + "/" + object + "/config";
    }
};

// A message as the publisher sends it: QoS 1, retained or not.
struct MqttMessage {
    std::string topic, payload;
    bool bRetain = false;
};
