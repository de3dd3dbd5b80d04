#include "AppDirectory.h"

#include <cstdlib>

const char* getAppDirectory() {
    const char* pszOverride = getenv("QM_APP_DIR");
    return pszOverride && *pszOverride ? pszOverride : DEFAULT_APP_DIRECTORY;
}
