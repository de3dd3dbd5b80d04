// Calibration constants store: the calibration file's constants, pushed to the
// chip and read back.
#pragma once

class QM9000;

class Cal9000 {
public:
    int initialize(void* pPMU);
    void load(const char* pszFName);
    bool pushCal();
    void readAndDumpCal();

    QM9000* m_pPMU = nullptr;
};
