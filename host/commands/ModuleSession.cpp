#include "ModuleSession.h"

#include "BoardLink.h"

namespace {

bool succeeded(const char* pszCall, int nResult, std::string& failure) {
    if (nResult == 0) return true;
    failure = std::string(pszCall) + ": the module returned " + std::to_string(nResult);
    return false;
}

}  // namespace

bool ModuleSession::create(const std::string& pluginPath, std::string& failure) {
    if (!m_loader.open(pluginPath)) {
        failure = "cannot load " + pluginPath + ": " + m_loader.error();
        return false;
    }
    m_pModule = m_loader.create();
    if (!m_pModule) failure = "create_object: " + pluginPath + " made no module";
    return m_pModule != nullptr;
}

bool ModuleSession::start(const std::string& configFile, MDT* pMdt, STATUS_AND_CONTROL& block, bool bMonitor,
                          std::string& failure) {
    if (!succeeded("initialize", m_pModule->initialize(configFile.c_str(), pMdt, &block), failure) ||
        !succeeded("updateConfig", m_pModule->updateConfig(configFile.c_str()), failure))
        return false;
    if (!bMonitor) return true;
    m_bMonitoring = succeeded("monitorStart", m_pModule->monitorStart(), failure);
    return m_bMonitoring;
}

void ModuleSession::end() {
    if (m_pModule && m_bMonitoring) m_pModule->monitorStop();
    m_bMonitoring = false;
    // Before the module and its interrupt routine go away; also when there
    // was no module, so the board's interrupt thread ends before the process.
    if (boardFunctions().stopInterrupts) boardFunctions().stopInterrupts();
    if (m_pModule) m_loader.destroy(m_pModule);
    m_pModule = nullptr;
}
