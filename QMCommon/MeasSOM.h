// The plug-in interface: the host reaches a measurement module only through
// these eight virtual slots, in this order. There is deliberately no virtual
// destructor: the module is destroyed through the plug-in's destroy_object.
#pragma once

#include <cstdint>

class MDT;
struct STATUS_AND_CONTROL;

class MeasSOM {
public:
    MeasSOM();

    virtual int initialize(const char* pszCfgFName, MDT* pMDT, STATUS_AND_CONTROL* pStat);
    virtual int updateConfig(const char* pszCfgFName);
    virtual int process();
    virtual int monitorStart();
    virtual int monitorStop();
    virtual int realtimeGet(int nType, void* pvResult, uint32_t ulMaxResult);
    virtual int registerRead(uint32_t ulAddress, void* pvResult);
    virtual int registerWrite(uint32_t ulAddress, void* pvSrc);

    int32_t nSOM_ID;
    MDT* m_pMDT;
    STATUS_AND_CONTROL* m_pStat;
};

// The plug-in's exported factory pair (C linkage).
using create_object_t = MeasSOM* (*)();
using destroy_object_t = void (*)(MeasSOM*);
