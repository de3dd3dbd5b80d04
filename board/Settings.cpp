#include "Settings.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>

#include "AppDirectory.h"

namespace board {

namespace {

// The quoted text after `"key"` and its colon, or the bare number there.
bool valueAfter(const std::string& line, const char* key, std::string& value, bool& bQuoted) {
    const size_t keyAt = line.find(std::string("\"") + key + "\"");
    if (keyAt == std::string::npos) return false;
    size_t at = line.find(':', keyAt);
    if (at == std::string::npos) return false;
    at = line.find_first_not_of(" \t", at + 1);
    if (at == std::string::npos) return false;
    bQuoted = line[at] == '"';
    if (bQuoted) {
        const size_t end = line.find('"', at + 1);
        if (end == std::string::npos) return false;
        value = line.substr(at + 1, end - at - 1);
    } else {
        const size_t end = line.find_first_of(" \t,}", at);
        value = line.substr(at, end == std::string::npos ? std::string::npos : end - at);
    }
    return true;
}

bool parseCount(const std::string& text, long lMax, long& lValue) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 9)
        return false;
    lValue = strtol(text.c_str(), nullptr, 10);
    return lValue <= lMax;
}

// Applies one setting; the reason when it cannot.
std::string apply(Settings& settings, const std::string& name, const std::string& value, bool bQuoted) {
    long lNumber = 0;
    if (name == "SpiDevice0" || name == "SpiDevice1" || name == "I2CBus") {
        if (!bQuoted || value.empty() || value[0] != '/') return "wants a device path";
        if (name == "I2CBus")
            settings.i2cBus = value;
        else
            settings.spiDevice[name.back() - '0'] = value;
    } else if (name == "GpioChip") {
        if (!bQuoted || value.empty()) return "wants a device path or a chip label";
        settings.gpioChip = value;
    } else if (name == "Bias") {
        static const std::map<std::string, LineBias> biases{
            {"pull-up", LineBias::PullUp}, {"pull-down", LineBias::PullDown}, {"as-is", LineBias::AsIs}};
        const auto it = biases.find(value);
        if (!bQuoted || it == biases.end()) return "wants \"pull-up\", \"pull-down\" or \"as-is\"";
        settings.irqBias = it->second;
    } else if (name == "SpiMode") {
        if (bQuoted || !parseCount(value, 3, lNumber)) return "wants 0, 1, 2 or 3";
        settings.spiMode = static_cast<int>(lNumber);
    } else if (name.compare(0, 3, "Pin") == 0) {
        long lPin = 0;
        if (!parseCount(name.substr(3), 1023, lPin)) return "is not a pin number";
        if (bQuoted || !parseCount(value, 1023, lNumber)) return "wants a line offset 0..1023";
        settings.pinLines[static_cast<int>(lPin)] = static_cast<unsigned>(lNumber);
    } else {
        return "is not a board setting";
    }
    return "";
}

std::mutex g_mutex;
std::unique_ptr<Settings> g_pSettings;

}  // namespace

Settings readSettings(const std::string& path) {
    Settings settings;
    settings.file = path;
    std::ifstream file(path);
    if (!file) {
        if (errno != ENOENT)
            printf("board: cannot read %s: %s; using the defaults\n", path.c_str(), strerror(errno));
        return settings;
    }
    std::string line;
    for (int nLine = 1; std::getline(file, line); nLine++) {
        std::string name, value;
        bool bQuoted = false;
        if (!valueAfter(line, "name", name, bQuoted)) continue;  // brackets and other lines
        std::string why = "has no value";
        if (valueAfter(line, "value", value, bQuoted)) why = apply(settings, name, value, bQuoted);
        if (!why.empty())
            printf("board: %s line %d: \"%s\" %s; ignored\n", path.c_str(), nLine, name.c_str(), why.c_str());
    }
    return settings;
}

const Settings& settings() {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_pSettings)
        g_pSettings =
            std::make_unique<Settings>(readSettings(std::string(getAppDirectory()) + "/board.json"));
    return *g_pSettings;
}

void forgetSettings() {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_pSettings.reset();
}

}  // namespace board
