#include "BoardScale.h"

#include <cstdio>
#include <cstring>

#include "JSONBuffer.h"

bool readBoardScale(const std::string& configFile, BoardScale& scale) {
    FILE* pFile = fopen(configFile.c_str(), "r");
    if (!pFile) return false;
    const JSONBuffer json;
    double dFullScaleVolts = 1077.11, dWyeFactor = 0.90045f, dDeltaFactor = 0.9012f;
    int nWiring = 0;
    char szLine[128];
    while (fgets(szLine, sizeof(szLine), pFile)) {
        char szName[32] = {};
        if (!json.findStr(szLine, szName, "name", sizeof(szName) - 1)) continue;
        if (strcmp(szName, "Wiring") == 0) nWiring = json.findPair(szLine, "value");
        if (strcmp(szName, "FullScaleVolts") == 0) dFullScaleVolts = json.findFloat(szLine, "value");
        if (strcmp(szName, "FullScaleAmps") == 0) scale.dAmps = json.findFloat(szLine, "value");
        if (strcmp(szName, "FSVM_WYE") == 0) dWyeFactor = json.findFloat(szLine, "value");
        if (strcmp(szName, "VNominal") == 0) scale.dNominalVolts = json.findFloat(szLine, "value");
        if (strcmp(szName, "FSVM_DELTA") == 0) dDeltaFactor = json.findFloat(szLine, "value");
    }
    fclose(pFile);
    const double dFactor = (nWiring == 2 || nWiring == 3)   ? dWyeFactor
                           : (nWiring == 4 || nWiring == 5) ? dDeltaFactor
                                                            : 1.0;
    scale.dVolts = static_cast<float>(dFactor * static_cast<float>(dFullScaleVolts));
    return true;
}
