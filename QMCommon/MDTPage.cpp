// Class MDT_Page: the module's file layout fixes the file name MDTPage.
#include "MDTPage.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "AppDirectory.h"
#include "AtomicFileWriter.h"

namespace {

// A name from the EEPROM becomes a path in the application directory only if
// it names a file there: nothing outside the directory is ever created.
bool isPlainFileName(const char* pszName) {
    return strchr(pszName, '/') == nullptr && strcmp(pszName, ".") != 0 && strcmp(pszName, "..") != 0;
}

}  // namespace

MDT_Page::MDT_Page()
    : m_pRegList(nullptr),
      m_pszBuffer(nullptr),
      m_mhHeader{},
      m_bHeaderInitialized(false),
      m_bBufferInitialized(false),
      m_ulBufferLength(0),
      m_pszHandlerName{},
      m_pszConfigName{},
      m_pszCalName{},
      m_pszDescription{} {}

MDT_Page::~MDT_Page() {
    destroyRegisterList();
    free(m_pszBuffer);
}

void MDT_Page::initialize() {
    clear();
}

void MDT_Page::clear() {
    if (!m_pszBuffer) return;
    free(m_pszBuffer);
    m_pszBuffer = nullptr;
    m_ulBufferLength = 0;
    m_bBufferInitialized = false;
}

void MDT_Page::setHeader(const MDT_HEADER* pHead) {
    if (!pHead) return;
    memcpy(&m_mhHeader, pHead, sizeof(m_mhHeader));
    m_bHeaderInitialized = true;
}

uint32_t MDT_Page::getHeader(MDT_HEADER** pHead) {
    if (pHead) *pHead = &m_mhHeader;
    return sizeof(MDT_HEADER);
}

void MDT_Page::setBuffer(const char* pszBuffer, uint32_t ulLen) {
    clear();
    // A text without even its NUL is no text.
    if (!pszBuffer || ulLen == 0) return;
    m_pszBuffer = static_cast<char*>(malloc(ulLen));
    if (!m_pszBuffer) return;
    memcpy(m_pszBuffer, pszBuffer, ulLen);
    // Every search of the page stops at its last byte, whatever the source held.
    m_pszBuffer[ulLen - 1] = '\0';
    m_ulBufferLength = ulLen;
    m_bBufferInitialized = true;
    parseContent();
}

uint32_t MDT_Page::getBuffer(char** pszBuffer, uint32_t ulMaxLen) {
    if (pszBuffer) *pszBuffer = m_pszBuffer;
    return ulMaxLen < m_ulBufferLength ? ulMaxLen : m_ulBufferLength;
}

bool MDT_Page::parseContent() {
    if (!m_pszBuffer || m_ulBufferLength == 0) return true;
    findStr(m_pszBuffer, m_pszHandlerName, "handler", sizeof(m_pszHandlerName) - 1);
    findStr(m_pszBuffer, m_pszCalName, "cal_file", sizeof(m_pszCalName) - 1);
    if (!findStr(m_pszBuffer, m_pszDescription, "module_desc", sizeof(m_pszDescription) - 1))
        strcpy(m_pszDescription, "Unknown");
    findStr(m_pszBuffer, m_pszConfigName, "config_file", sizeof(m_pszConfigName) - 1);
    return createConfigFile();
}

// The page's "config" object becomes the module's configuration file, unless
// a file of that name exists already: an existing one is never replaced.
bool MDT_Page::createConfigFile() {
    if (m_pszConfigName[0] == '\0') return true;
    if (!isPlainFileName(m_pszConfigName)) {
        printf("MDT: configuration file name \"%s\" is not a file name; nothing created\n", m_pszConfigName);
        return true;
    }
    const std::string path = std::string(getAppDirectory()) + "/" + m_pszConfigName;
    struct stat existing {};
    if (lstat(path.c_str(), &existing) == 0 || errno != ENOENT) return true;

    char* pszKey = strstr(m_pszBuffer, "\"config\"");
    char* pszOpen = nullptr;
    char* pszClose = nullptr;
    if (!pszKey || !getElementBounds(pszKey, lastByte(), &pszOpen, &pszClose, '{', '}')) {
        printf("MDT: the page has no \"config\" object; %s not created\n", path.c_str());
        return false;
    }
    // Written whole or not at all.
    AtomicFileWriter file(path.c_str());
    if (!file.isOpen()) return true;
    file.print("{\n");
    file.write(pszKey, static_cast<size_t>(pszClose - pszKey + 1));
    file.print("\n}\n");
    if (!file.commit()) printf("MDT: couldn't write %s\n", path.c_str());
    return true;
}

bool MDT_Page::createRegisterList() {
    if (!m_pszBuffer || m_ulBufferLength == 0) return false;
    char* pszKey = strstr(m_pszBuffer, "\"registers\"");
    char* pszArrayOpen = nullptr;
    char* pszArrayClose = nullptr;
    if (!pszKey || !getElementBounds(pszKey, lastByte(), &pszArrayOpen, &pszArrayClose, '[', ']'))
        return false;

    destroyRegisterList();
    MDT_REGLIST* pTail = nullptr;
    char* pszFrom = pszArrayOpen + 1;
    char* pszElementOpen = nullptr;
    char* pszElementClose = nullptr;
    // Each element search ends at the array's ']', which it cuts to a NUL.
    while (getElementBounds(pszFrom, pszArrayClose, &pszElementOpen, &pszElementClose, '{', '}')) {
        auto* pNode = new (std::nothrow) MDT_REGLIST{};
        if (!pNode) break;
        pNode->pmdtRegNext = nullptr;
        *pszElementClose = '\0';
        parseRegisterArrayElement(pszElementOpen, pNode);
        *pszElementClose = '}';
        if (pTail)
            pTail->pmdtRegNext = pNode;
        else
            m_pRegList = pNode;
        pTail = pNode;
        pszFrom = pszElementClose + 1;
    }
    // The page text stays whole: what follows the array is still there for
    // getArray and for writing the page back.
    *pszArrayClose = ']';
    return true;
}

void MDT_Page::destroyRegisterList() {
    while (m_pRegList) {
        MDT_REGLIST* pNext = m_pRegList->pmdtRegNext;
        delete m_pRegList;
        m_pRegList = pNext;
    }
}

bool MDT_Page::parseRegisterArrayElement(char* pszStart, MDT_REGLIST* pList) {
    MDT_REGISTER& reg = pList->mdtReg;
    reg.s_ulAddress = findHexPair(pszStart, "address");
    reg.s_bReadOnly = findPair(pszStart, "read") != 0;
    reg.s_ulLength = static_cast<uint32_t>(findPair(pszStart, "len"));
    reg.s_ulReg = static_cast<uint32_t>(findPair(pszStart, "reg"));
    findStr(pszStart, reg.s_pszAbbrev, "abbrev", sizeof(reg.s_pszAbbrev) - 1);
    findStr(pszStart, reg.s_pszDescription, "desc", sizeof(reg.s_pszDescription) - 1);
    return true;
}

bool MDT_Page::getArray(const char* pszName, char** pszStart, uint32_t& ulLen) {
    if (!m_pszBuffer || m_ulBufferLength == 0 || !pszName || !pszStart) return false;
    char* pszFound = strstr(m_pszBuffer, pszName);
    char* pszOpen = nullptr;
    char* pszClose = nullptr;
    if (!pszFound || !getElementBounds(pszFound, lastByte(), &pszOpen, &pszClose, '[', ']')) return false;
    *pszStart = pszOpen;
    ulLen = static_cast<uint32_t>(pszClose - pszOpen + 1);
    return true;
}
