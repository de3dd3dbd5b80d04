// Home Assistant's MQTT discovery: a retained config message a catalogued
// quantity, homeassistant/sensor/<meter id>/<object>/config, naming the
// topic and template its value is read with (state for the measurements,
// energy for the lifetime counters) and the device they belong to.
#pragma once

#include <string>
#include <vector>

#include "MqttTopics.h"

struct DeviceIdentity {
    std::string meterId;       // topic-safe (MeterId.h)
    std::string serialNumber;  // the module table's; empty when it has none
    std::string model = "QM9000";
    std::string softwareVersion;
};

// The object id of a quantity's sensor: its key in lower case, "vrms_a".
std::string discoveryObject(const std::string& key);

// One retained message a catalogued quantity; with `bRemove` the same
// topics with empty payloads, which make Home Assistant forget them.
std::vector<MqttMessage> discoveryMessages(const DeviceIdentity& device, bool bRemove);
