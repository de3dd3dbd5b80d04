// Register initialization file ("Init9000.json"): register writes applied to
// the chip at configuration time.
#pragma once

class QM9000;

class Init9000 {
public:
    int initialize(void* pPMU);
    void load(const char* pszFName);

    QM9000* m_pPMU = nullptr;
};
