#include "Init9000.h"

int Init9000::initialize(void* pPMU) {
    m_pPMU = static_cast<QM9000*>(pPMU);
    return 0;
}

// TEMPORARY: applying the file's register writes lands with the JSON
// configuration files.
void Init9000::load(const char*) {}
