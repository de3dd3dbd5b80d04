#include "LineSettings.h"

#include <cstring>

#include "JSONFile.h"
#include "ReadOnlyFile.h"

float LineSettings::correctedFullScaleVolts() const {
    float fFactor = 1.0f;
    switch (unWiring) {
        case WIRING_SPLIT:
        case WIRING_WYE:
            fFactor = fFSVM_Wye;
            break;
        case WIRING_DELTA2:
        case WIRING_DELTA3:
            fFactor = fFSVM_Delta;
            break;
        default:
            break;
    }
    return static_cast<float>(static_cast<double>(fFactor) * static_cast<double>(fFullScaleVolts));
}

unsigned LineSettings::measuredPhases() const {
    switch (unWiring) {
        case WIRING_SINGLE:
            return 0b001;
        case WIRING_SPLIT:
        case WIRING_DELTA2:
        case WIRING_DELTA3:
            return 0b101;
        default:
            return 0b111;
    }
}

float LineSettings::vHighVolts() const {
    return percentOf(fNominalVolts, fVHighPercent);
}

float LineSettings::vLowVolts() const {
    return percentOf(fNominalVolts, fVLowPercent);
}

bool LineSettings::apply(const JSONBuffer& json, const char* pszName, char* pszLine) {
    if (strcmp(pszName, "Wiring") == 0) {
        unWiring = static_cast<uint16_t>(json.findPair(pszLine, "value"));
        return true;
    }
    const struct {
        const char* pszName;
        float LineSettings::*pfValue;
    } reals[] = {
        {"VNominal", &LineSettings::fNominalVolts},         {"FNominal", &LineSettings::fNominalHz},
        {"VHighPercent", &LineSettings::fVHighPercent},     {"VLowPercent", &LineSettings::fVLowPercent},
        {"FullScaleVolts", &LineSettings::fFullScaleVolts}, {"FSVM_WYE", &LineSettings::fFSVM_Wye},
        {"FSVM_DELTA", &LineSettings::fFSVM_Delta},         {"FullScaleAmps", &LineSettings::fFullScaleAmps},
    };
    for (const auto& real : reals)
        if (strcmp(pszName, real.pszName) == 0) {
            this->*real.pfValue = json.findFloat(pszLine, "value");
            return true;
        }
    return false;
}

float percentOf(float fNominal, float fPercent) {
    return static_cast<float>(static_cast<double>(fNominal) * (static_cast<double>(fPercent) / 100.0));
}

bool readLineSettings(const char* pszFile, LineSettings& settings) {
    ReadOnlyFile file(pszFile);
    if (!file.isOpen()) return false;
    JSONFile reader;
    char szLine[JSONFile::LINE_BUFFER_SIZE];
    char szName[JSONFile::MAX_SETTING_NAME + 1];
    while (reader.readJSON(file.fd(), szLine, sizeof(szLine)) != -1)
        if (reader.findStr(szLine, szName, "name", JSONFile::MAX_SETTING_NAME))
            settings.apply(reader, szName, szLine);
    return true;
}
