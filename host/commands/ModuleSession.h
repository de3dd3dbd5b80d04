// The module as every tool runs it, from create_object to destroy_object:
// loaded and brought up the way the meter's host does, each step's result
// checked, and taken down in the order the board needs.
#pragma once

#include <string>

#include "MDT.h"
#include "MeasSOM.h"
#include "PluginLoader.h"
#include "RPi.h"

class ModuleSession {
public:
    ModuleSession() = default;
    ~ModuleSession() { end(); }
    ModuleSession(const ModuleSession&) = delete;
    ModuleSession& operator=(const ModuleSession&) = delete;

    // Loads the plug-in and creates the module. False with `failure` set to
    // "<what>: <why>".
    bool create(const std::string& pluginPath, std::string& failure);
    // initialize with the block and the table (may be null), then
    // updateConfig; monitorStart too when `bMonitor`. False with `failure`
    // naming the call that did not return 0.
    bool start(const std::string& configFile, MDT* pMdt, STATUS_AND_CONTROL& block, bool bMonitor,
               std::string& failure);
    MeasSOM& module() { return *m_pModule; }

    // monitorStop when monitoring, no more interrupts, then destroy_object.
    // Harmless when there is no module, and when called again.
    void end();

private:
    PluginLoader m_loader;
    MeasSOM* m_pModule = nullptr;
    bool m_bMonitoring = false;
};
