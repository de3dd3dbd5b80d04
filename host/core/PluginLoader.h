// Loads a measurement-module plug-in the way the host application does:
// dlopen, then the exported create_object / destroy_object pair.
#pragma once

#include <string>

#include "MeasSOM.h"

class PluginLoader {
public:
    PluginLoader() = default;
    ~PluginLoader();
    PluginLoader(const PluginLoader&) = delete;
    PluginLoader& operator=(const PluginLoader&) = delete;

    // Opens the library and resolves the factory pair; false with error() set
    // when either fails.
    bool open(const std::string& path);
    MeasSOM* create();
    void destroy(MeasSOM* pModule);
    void close();
    const std::string& error() const { return m_error; }

private:
    void* m_pHandle = nullptr;
    create_object_t m_pCreate = nullptr;
    destroy_object_t m_pDestroy = nullptr;
    std::string m_error;
};
