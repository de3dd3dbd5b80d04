// The module description table: up to seven JSON pages and a serial number in
// the module's I2C EEPROM. The host owns the table, loads it and hands it to
// the module, which only reads the register list of page 0.
//
// EEPROM layout (16-bit memory addresses):
//   p x 0x2000          header of page p (p = 0..6), 32 bytes
//   p x 0x2000 + 0x20   text of page p, up to 8160 bytes with its NUL
//   0xFC00              serial number, 32 bytes of NUL-padded text
#pragma once

#include <cstdint>

#include "I2CDevice.h"
#include "MDTPage.h"

#pragma pack(push, 1)

// The bytes of one bus write: the memory address, most significant byte
// first, then up to one chunk of data. pad is never sent.
struct MDT_WRITE {
    uint16_t add;
    char buf[8192];
    uint8_t pad[4];
};

#pragma pack(pop)

static_assert(sizeof(MDT_WRITE) == 8198, "MDT_WRITE is the bus frame");

constexpr uint16_t MDT_MAX_PAGES = 7;
constexpr uint32_t MDT_PAGE_STRIDE = 0x2000;
constexpr uint32_t MDT_TEXT_OFFSET = 0x20;
constexpr uint32_t MDT_SN_ADDRESS = 0xFC00;
constexpr uint32_t MDT_SN_SIZE = 32;
// The EEPROM's page: a write never crosses one, and takes its write cycle.
constexpr uint32_t MDT_CHUNK_BYTES = 32;
constexpr unsigned MDT_WRITE_CYCLE_MICROS = 5000;

// The default page-0 text a host can install on a blank EEPROM (2548
// characters): handler, configuration file, a default configuration, a
// register list and the calibration registers.
extern const char g_pszJSON[];

class MDT {
public:
    // The EEPROM is reached through the Linux I2C device calls on the
    // descriptor I2Cbegin returns; a simulated board hands in its own.
    explicit MDT(const I2CDeviceOps& i2cOps = systemI2CDeviceOps());
    ~MDT();
    MDT(const MDT&) = delete;
    MDT& operator=(const MDT&) = delete;

    void initialize(uint16_t unChipAddress);
    // False for a blank or foreign EEPROM, or when page 0's text cannot be read.
    bool loadFromChip();
    void populateChip();
    void eraseChip();

    // Serial numbers of up to 31 characters; a longer one is ignored.
    void setSN(const char* pszSN, uint32_t ulLen);
    // Copies min(ulMaxLen, 31) characters, NUL-padded, plus a NUL after them
    // (pszSN holds that many + 1) and returns that count.
    uint32_t getSN(char* pszSN, uint32_t ulMaxLen);

    void dump();
    bool test(char*) { return true; }
    uint16_t getNumberOfPages() { return m_unNumberOfPages; }

    // Page p's own operations; ignored, 0, null or false for p > 6.
    void setPageHeader(uint16_t p, const MDT_HEADER* pHeader);
    void setPage(uint16_t p, const char* pszBuffer, uint32_t ulLen);
    void clearPage(uint16_t p);
    uint32_t getPageHeader(uint16_t p, MDT_HEADER** pHeader);
    uint32_t getPage(uint16_t p, char** pszBuffer, uint32_t ulMaxLen);
    char* getHandlerName(uint16_t p);
    char* getConfigName(uint16_t p);
    char* getCalName(uint16_t p);
    char* getDescription(uint16_t p);
    bool getArray(const char* pszName, char** pszStart, uint32_t& ulLen, uint16_t p);
    bool createRegisterList(uint16_t p);
    MDT_REGLIST* getPageRegisterList(uint16_t p);
    // What the module reads: page 0's register list.
    MDT_REGLIST* getRegisterList() { return getPageRegisterList(0); }

    uint16_t writeHeader(uint16_t unAddress, const MDT_HEADER* pHeader);
    uint16_t readHeader(uint16_t unAddress, MDT_HEADER* pHeader);
    // EEPROM transfers in chunks of 32 bytes; each returns the address it
    // reached (0 when the device could not be reached at all).
    uint16_t writebuf(uint32_t ulAddress, uint16_t uLen, const char* pszSrc);
    uint16_t readbuf(uint32_t ulAddress, uint16_t uMaxLen, char* pszDest);

    uint16_t m_unChipAddress;
    char* m_pszSN;
    bool m_bSNInitialized;
    uint32_t m_ulSNLength;
    uint16_t m_unNumberOfPages;
    MDT_Page m_mdtpPages[MDT_MAX_PAGES];
    MDT_WRITE m_bufOut;
    char m_bufIn[180];

private:
    MDT_Page* page(uint16_t p) { return p < MDT_MAX_PAGES ? &m_mdtpPages[p] : nullptr; }
    // Selects the device on a bus just opened; false (bus released) when
    // either step fails.
    bool openDevice(int& fd);
    void setBusAddress(uint32_t ulAddress);
    void limitTextLength(uint16_t p, MDT_HEADER& header);
    bool readPageText(uint16_t p, const MDT_HEADER& header);
    void dumpPage(uint16_t p);

    const I2CDeviceOps* m_pI2COps;
};
