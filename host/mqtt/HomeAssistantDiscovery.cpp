#include "HomeAssistantDiscovery.h"

#include <cctype>

#include "JsonText.h"
#include "PublishedQuantities.h"

namespace {

std::string member(const char* pszName, const std::string& value) {
    return std::string(",\"") + pszName + "\":" + jsonString(value);
}

std::string deviceBlock(const DeviceIdentity& device) {
    std::string json = "{\"identifiers\":[" + jsonString("qm9000_" + device.meterId) + "]" +
                       member("name", device.model + " " + device.meterId) + member("model", device.model) +
                       member("sw_version", device.softwareVersion);
    if (!device.serialNumber.empty()) json += member("serial_number", device.serialNumber);
    return json + "}";
}

std::string config(const PublishedQuantity& quantity, const DeviceIdentity& device,
                   const MqttTopics& topics) {
    const std::string uniqueId = "qm9000_" + device.meterId + "_" + discoveryObject(quantity.key);
    std::string json = "{\"name\":" + jsonString(quantity.name) + member("unique_id", uniqueId) +
                       member("object_id", uniqueId) +
                       member("state_topic", quantity.source == QuantitySource::Lifetime ? topics.energy()
                                                                                         : topics.state()) +
                       member("value_template", "{{ value_json." + quantity.key + " }}") +
                       member("availability_topic", topics.availability()) +
                       member("state_class", quantity.stateClass);
    if (!quantity.unit.empty()) json += member("unit_of_measurement", quantity.unit);
    if (!quantity.deviceClass.empty()) json += member("device_class", quantity.deviceClass);
    return json + ",\"device\":" + deviceBlock(device) + "}";
}

}  // namespace

std::string discoveryObject(const std::string& key) {
    std::string object;
    for (const char c : key)
        object += isalnum(static_cast<unsigned char>(c))
                      ? static_cast<char>(tolower(static_cast<unsigned char>(c)))
                      : '_';
    return object;
}

std::vector<MqttMessage> discoveryMessages(const DeviceIdentity& device, bool bRemove) {
    const MqttTopics topics{device.meterId};
    std::vector<MqttMessage> messages;
    for (const PublishedQuantity& quantity : publishedQuantities())
        messages.push_back({topics.discovery(discoveryObject(quantity.key)),
                            bRemove ? "" : config(quantity, device, topics), true});
    return messages;
}
