#include "PluginLoader.h"

#include <dlfcn.h>

PluginLoader::~PluginLoader() {
    close();
}

bool PluginLoader::open(const std::string& path) {
    close();
    // RTLD_NOW: an unresolved board function is reported here, not at first use.
    m_pHandle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!m_pHandle) {
        const char* pszError = dlerror();
        m_error = pszError ? pszError : "dlopen failed";
        return false;
    }
    m_pCreate = reinterpret_cast<create_object_t>(dlsym(m_pHandle, "create_object"));
    m_pDestroy = reinterpret_cast<destroy_object_t>(dlsym(m_pHandle, "destroy_object"));
    if (!m_pCreate || !m_pDestroy) {
        m_error = "create_object or destroy_object missing in " + path;
        close();
        return false;
    }
    return true;
}

MeasSOM* PluginLoader::create() {
    return m_pCreate ? m_pCreate() : nullptr;
}

void PluginLoader::destroy(MeasSOM* pModule) {
    if (m_pDestroy) m_pDestroy(pModule);
}

void PluginLoader::close() {
    if (m_pHandle) dlclose(m_pHandle);
    m_pHandle = nullptr;
    m_pCreate = nullptr;
    m_pDestroy = nullptr;
}
