#include "MeasSOM.h"

#include <cstdio>

MeasSOM::MeasSOM() : nSOM_ID(9999), m_pMDT(nullptr), m_pStat(nullptr) {}

int MeasSOM::initialize(const char*, MDT*, STATUS_AND_CONTROL*) {
    printf("%d\n", nSOM_ID);
    return -1;
}

int MeasSOM::updateConfig(const char*) {
    puts("updateConfig");
    return -1;
}

int MeasSOM::process() {
    puts("process");
    return -1;
}

int MeasSOM::monitorStart() {
    puts("monitorStart");
    return -1;
}

int MeasSOM::monitorStop() {
    puts("monitorStop");
    return -1;
}

int MeasSOM::realtimeGet(int, void*, uint32_t) {
    puts("realtimeGet");
    return -1;
}

int MeasSOM::registerRead(uint32_t, void*) {
    puts("registerRead");
    return -1;
}

int MeasSOM::registerWrite(uint32_t, void*) {
    puts("registerWrite");
    return -1;
}
