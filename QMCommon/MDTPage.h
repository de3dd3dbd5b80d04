// Class MDT_Page: the module's file layout fixes the file name MDTPage.
// One page of the module description table: its EEPROM header, its JSON text,
// the names read from the text and, on request, the list of registers that
// the text's "registers" array describes.
#pragma once

#include <cstdint>

#include "JSONBuffer.h"

#pragma pack(push, 1)

// A page header as the EEPROM stores it, in the processor's (little-endian)
// byte order.
struct MDT_HEADER {
    uint32_t s_ulType;           // MDT_PAGE_VALID, anything else: no page
    uint32_t s_ulLength;         // text length, its NUL included
    uint32_t s_ulFlags;          // MDT_FLAG_MORE_PAGES on page 0
    uint32_t s_ulPageNum;        // informational
    uint32_t s_ulNumberOfPages;  // page 0: pages in the table
    uint32_t s_ulPageSize;       // informational
    uint32_t s_ulReserved[2];
};

// One element of a page's "registers" array.
struct MDT_REGISTER {
    uint32_t s_ulAddress;        // "address", hexadecimal with "0x"
    bool s_bReadOnly;            // "read" not 0
    uint32_t s_ulLength;         // "len"
    uint32_t s_ulReg;            // "reg": the module's value index the register carries
    char s_pszAbbrev[32];        // "abbrev"
    char s_pszDescription[128];  // "desc"
};

struct MDT_REGLIST {
    MDT_REGISTER mdtReg;
    MDT_REGLIST* pmdtRegNext;
};

#pragma pack(pop)

static_assert(sizeof(MDT_HEADER) == 32, "MDT_HEADER is stored on the EEPROM by layout");
static_assert(sizeof(MDT_REGISTER) == 173, "MDT_REGISTER is shared with the host by layout");
static_assert(sizeof(MDT_REGLIST) == sizeof(MDT_REGISTER) + sizeof(void*), "MDT_REGLIST layout");

constexpr uint32_t MDT_PAGE_VALID = 1;
constexpr uint32_t MDT_FLAG_MORE_PAGES = 0x2;
// Text capacity of a page: its 8 KiB slot less the header.
constexpr uint32_t MDT_PAGE_TEXT_CAPACITY = 8160;

class MDT_Page : public JSONBuffer {
public:
    MDT_Page();
    ~MDT_Page();
    MDT_Page(const MDT_Page&) = delete;
    MDT_Page& operator=(const MDT_Page&) = delete;

    // Both drop the text; names, header and register list stay.
    void initialize();
    void clear();

    void setHeader(const MDT_HEADER* pHead);
    uint32_t getHeader(MDT_HEADER** pHead);
    // Takes a copy of ulLen bytes (the text and its NUL) and parses it.
    void setBuffer(const char* pszBuffer, uint32_t ulLen);
    uint32_t getBuffer(char** pszBuffer, uint32_t ulMaxLen);

    char* getHandlerName() { return m_pszHandlerName; }
    char* getConfigName() { return m_pszConfigName; }
    char* getCalName() { return m_pszCalName; }
    char* getDescription() { return m_pszDescription; }

    // Reads the names and creates the configuration file the page names in
    // the application directory when there is none. False only when it found
    // no "config" object to create the file from.
    bool parseContent();

    bool createRegisterList();
    void destroyRegisterList();
    MDT_REGLIST* getRegisterList() { return m_pRegList; }
    bool parseRegisterArrayElement(char* pszStart, MDT_REGLIST* pList);

    // The first balanced '[' ... ']' after the first occurrence of pszName, in
    // place: its start and its length, both brackets included.
    bool getArray(const char* pszName, char** pszStart, uint32_t& ulLen);

    MDT_REGLIST* m_pRegList;
    char* m_pszBuffer;
    MDT_HEADER m_mhHeader;
    bool m_bHeaderInitialized;
    bool m_bBufferInitialized;
    uint32_t m_ulBufferLength;
    char m_pszHandlerName[32];
    char m_pszConfigName[32];
    char m_pszCalName[32];
    char m_pszDescription[64];

private:
    // The text's terminating NUL: where every search of the page stops.
    char* lastByte() { return m_pszBuffer + m_ulBufferLength - 1; }
    bool createConfigFile();
};
