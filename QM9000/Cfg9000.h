// Measurement configuration: settings from the host's configuration file,
// written straight into the module object.
#pragma once

class QM9000;

class Cfg9000 {
public:
    int initialize(void* pPMU);
    void load(const char* pszFName);

    QM9000* m_pPMU = nullptr;

private:
    void setDefaults();
};
