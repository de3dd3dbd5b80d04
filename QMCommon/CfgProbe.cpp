#include "CfgProbe.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "AppDirectory.h"
#include "ReadOnlyFile.h"

namespace {

struct BuiltInProbe {
    uint16_t unIndex;
    const char* pszName;
    float fScale_50Hz;
    float fScale_60Hz;
    bool bIsRogowski;
};

// Used when no probe file can be opened.
constexpr BuiltInProbe BUILT_IN_PROBES[] = {
    {0, "Custom", 5.0f, 5.0f, false},
    {1, "Clamp-5A", 5.0f, 5.0f, false},
    {2, "Clamp-20A", 20.0f, 20.0f, false},
    {3, "Clamp-50A", 50.0f, 50.0f, false},
    {4, "Clamp-100A", 100.0f, 100.0f, false},
    {5, "Clamp-600A", 600.0f, 600.0f, false},
    {6, "Coil-500A-xx", 668.0f, 668.0f, true},
    {7, "Coil-1500A-xx", 1685.0f, 1685.0f, true},
    {8, "Coil-3000A-xx", 3370.0f, 3370.0f, true},
};

// The 50 Hz rating applies from 45 Hz up to, not including, 55 Hz.
constexpr float BAND_50HZ_LOW = 45.0f;
constexpr float BAND_50HZ_HIGH = 55.0f;

constexpr uint32_t MIN_JSON_BUFFER = 1024;
constexpr uint32_t JSON_ELEMENT_RESERVE = 128;

void copyName(char (&pszDest)[64], const char* pszSrc) {
    snprintf(pszDest, sizeof(pszDest), "%s", pszSrc ? pszSrc : "");
}

}  // namespace

CfgProbe::CfgProbe() : m_probeList(nullptr) {
    initialize(nullptr);
}

CfgProbe::~CfgProbe() {
    kill();
}

int CfgProbe::initialize(void*) {
    return 0;
}

void CfgProbe::load(const char* pszFName) {
    initialize(nullptr);
    kill();  // a reload replaces the catalogue
    PROBE_LIST_ELEMENT work{};

    const char* pszDirectory = getAppDirectory();
    char szPath[LINE_BUFFER_SIZE];
    const int nPath = snprintf(szPath, sizeof(szPath), "%s/%s", pszDirectory, displayName(pszFName));
    const bool bPathFits = nPath >= 0 && static_cast<size_t>(nPath) < sizeof(szPath);
    ReadOnlyFile file(bPathFits && pszFName ? szPath : nullptr);
    if (!file.isOpen()) {
        printf("Couldn't open file: %s/%s\r\n", pszDirectory, displayName(pszFName));
        for (const BuiltInProbe& probe : BUILT_IN_PROBES)
            addProbe(probe.unIndex, probe.pszName, probe.fScale_50Hz, probe.fScale_60Hz, probe.bIsRogowski);
        return;
    }
    printf("CfgProbe::load: %s\r\n", szPath);

    char szLine[LINE_BUFFER_SIZE];
    char szText[sizeof(work.pszName)];
    PROBE_LIST_ELEMENT* pLast = nullptr;
    while (readJSON(file.fd(), szLine, sizeof(szLine)) != -1) {
        if (!findStr(szLine, szText, "id", sizeof(szText) - 1)) continue;
        work.unIndex = static_cast<uint16_t>(findPair(szLine, "id"));
        // A line without a name keeps the previous line's name.
        if (findStr(szLine, szText, "name", sizeof(szText) - 1)) copyName(work.pszName, szText);
        work.fScale_50Hz = findFloat(szLine, "FS50Hz");
        work.fScale_60Hz = findFloat(szLine, "FS60Hz");
        work.bIsRogowski = static_cast<uint16_t>(findPair(szLine, "rogowski")) != 0;

        auto* pElement = new (std::nothrow) PROBE_LIST_ELEMENT;
        if (!pElement) continue;
        *pElement = work;
        pElement->pNext = nullptr;
        if (pLast)
            pLast->pNext = pElement;
        else
            m_probeList = pElement;
        pLast = pElement;
    }
}

void CfgProbe::addProbe(uint32_t uId, const char* pszName, float f50Hz, float f60Hz, bool bRogowski) {
    auto* pElement = new (std::nothrow) PROBE_LIST_ELEMENT{};
    if (!pElement) return;
    pElement->unIndex = static_cast<uint16_t>(uId);
    copyName(pElement->pszName, pszName);
    pElement->fScale_50Hz = f50Hz;
    pElement->fScale_60Hz = f60Hz;
    pElement->bIsRogowski = bRogowski;
    pElement->pNext = nullptr;

    if (!m_probeList) {
        m_probeList = pElement;
        return;
    }
    PROBE_LIST_ELEMENT* pTail = m_probeList;
    while (pTail->pNext) pTail = pTail->pNext;
    pTail->pNext = pElement;
}

PROBE_LIST_ELEMENT* CfgProbe::findProbe(uint32_t ulIndex) {
    for (PROBE_LIST_ELEMENT* p = m_probeList; p; p = p->pNext)
        if (p->unIndex == ulIndex) return p;
    return nullptr;
}

float CfgProbe::getFullScale(uint32_t ulProbeType, float fFullScale, float fFreq) {
    if (ulProbeType == CUSTOM_PROBE) return fFullScale;
    const PROBE_LIST_ELEMENT* pProbe = findProbe(ulProbeType);
    if (!pProbe) return fFullScale;
    return (fFreq >= BAND_50HZ_LOW && fFreq < BAND_50HZ_HIGH) ? pProbe->fScale_50Hz : pProbe->fScale_60Hz;
}

bool CfgProbe::isRogowski(uint32_t ulProbeType) {
    if (ulProbeType == CUSTOM_PROBE) return false;
    const PROBE_LIST_ELEMENT* pProbe = findProbe(ulProbeType);
    return pProbe && pProbe->bIsRogowski;
}

uint32_t CfgProbe::getProbeJSON(char* pszJSON, uint32_t ulMax) {
    if (!pszJSON || ulMax < MIN_JSON_BUFFER) return 0;
    uint32_t ulTotal = static_cast<uint32_t>(snprintf(pszJSON, ulMax, "   \"probes\": [\n"));
    for (const PROBE_LIST_ELEMENT* p = m_probeList; p && ulTotal + JSON_ELEMENT_RESERVE < ulMax;
         p = p->pNext) {
        // Room for the element and for the closing line feed and NUL; an
        // element that does not fit ends the list here.
        const uint32_t ulRoom = ulMax - ulTotal - 1;
        const int nElement = snprintf(pszJSON + ulTotal, ulRoom,
                                      "{ \"id\": %d, \"name\": \"%s\", \"FS50Hz\": %f, \"FS60Hz\": %f }%c\n",
                                      p->unIndex, p->pszName, static_cast<double>(p->fScale_50Hz),
                                      static_cast<double>(p->fScale_60Hz), p->pNext ? ',' : ']');
        if (nElement < 0 || static_cast<uint32_t>(nElement) >= ulRoom) {
            pszJSON[ulTotal] = '\0';
            break;
        }
        ulTotal += static_cast<uint32_t>(nElement);
    }
    pszJSON[ulTotal++] = '\n';
    pszJSON[ulTotal] = '\0';
    return ulTotal + 1;
}

void CfgProbe::kill() {
    while (m_probeList) {
        PROBE_LIST_ELEMENT* pNext = m_probeList->pNext;
        delete m_probeList;
        m_probeList = pNext;
    }
}
