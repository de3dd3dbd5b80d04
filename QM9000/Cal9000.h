// Calibration constants store: the constants of the active calibration file,
// in file order, each with a pending value that a calibration sequence sets.
// Pushes constants or pending values to the chip with read-back verification,
// and saves the pending values back to the file.
#pragma once

#include <cstdint>

#include "JSONFile.h"

class QM9000;

#pragma pack(push, 1)
struct CAL_CONSTANT {
    uint32_t s_ulCalConstant;  // register value as loaded
    float s_fCalConstant;      // real value as loaded ("fvalue")
    uint32_t s_ulCalPending;
    float s_fCalPending;
    uint16_t s_ulCalRegister;  // bit 15 set: a pseudo-entry, not a chip register
    char s_pszCalName[16];
    bool s_bChanged;  // pending value set and not yet committed
};

struct CAL_LIST {
    CAL_CONSTANT s_Cal;
    CAL_LIST* s_pNextCal;
};
#pragma pack(pop)
static_assert(sizeof(CAL_CONSTANT) == 35, "CAL_CONSTANT layout");
static_assert(sizeof(CAL_LIST) == 35 + sizeof(void*), "CAL_LIST layout");

// The saved file: this header, one line per constant, this footer.
extern const char* const g_pszCalJSONHeader;
extern const char* const g_pszCalJSONFooter;

class Cal9000 : public JSONFile {
public:
    Cal9000() = default;
    ~Cal9000();
    Cal9000(const Cal9000&) = delete;
    Cal9000& operator=(const Cal9000&) = delete;

    int initialize(void* pPMU) override;
    // Replaces the list with the file's constants; an unreadable file leaves
    // the list as it was.
    void load(const char* pszFName) override;
    void pushCal();
    void pushPendingCal();
    void pushZeroCal();
    bool setPending(char* pszName, uint32_t ulValue, float fValue);
    // Writes the pending values to the active calibration file; false when
    // the file could not be replaced (it then keeps its previous content).
    bool saveCal();
    bool saveZeroCal();
    void readAndDumpCal();
    void dumpPending();
    bool HasChanged() { return m_bChanged; }
    void killCalList();

    QM9000* m_pPMU = nullptr;
    bool m_bLoaded = false;
    bool m_bChanged = false;
    CAL_LIST* m_pCalList = nullptr;

private:
    void applyToModule(const CAL_CONSTANT& constant);
    // Writes, waits for the chip and reads back; returns the value read.
    uint32_t writeAndReadBack(uint16_t unAddress, uint32_t ulValue);
};
