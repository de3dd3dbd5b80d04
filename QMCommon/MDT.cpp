#include "MDT.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "BoardIO.h"

// Laid out one record per line, so the configuration file created from its
// "config" object reads line by line like every other.
const char g_pszJSON[] =
    "{\n"
    "  \"initialization\": {\n"
    "    \"handler\": \"QM9000.so\",\n"
    "    \"config_file\": \"CfgActive.json\"\n"
    "  },\n"
    "  \"information\": {\n"
    "    \"name\": \"Marivel\",\n"
    "    \"endianness\": \"big\"\n"
    "  },\n"
    "  \"config\": {\n"
    "    \"qm9000\": [\n"
    "      { \"name\": \"opMode\", \"value\": 0 },\n"
    "      { \"name\": \"Wiring\", \"value\": 0 },\n"
    "      { \"name\": \"FNominal\", \"value\": 60.0 },\n"
    "      { \"name\": \"VNominal\", \"value\": 120.0 },\n"
    "      { \"name\": \"INominal\", \"value\": 5.0 },\n"
    "      { \"name\": \"JournalEnabled\", \"value\": 0 },\n"
    "      { \"name\": \"JournalInterval\", \"value\": 600 }\n"
    "    ]\n"
    "  },\n"
    "  \"registers\": [\n"
    "    { \"address\":\"0x0000\", \"read\":1, \"len\":4, \"abbrev\":\"abbrev\", \"desc\":\"description\" "
    "},\n"
    "    { \"address\":\"0x0002\", \"read\":1, \"len\":4, \"abbrev\":\"abbrev\", \"desc\":\"description\" "
    "},\n"
    "    { \"address\":\"0x0004\", \"read\":0, \"len\":4, \"abbrev\":\"abbrev\", \"desc\":\"description\" "
    "},\n"
    "    { \"address\":\"0x0006\", \"read\":1, \"len\":524288, \"abbrev\":\"abbrev\", "
    "\"desc\":\"description\" }\n"
    "  ],\n"
    "  \"calibration\": [\n"
    "    {\"address\":\"0x0000\",\"value\":\"0x00000000\",\"bits\":\"0x20\",\"name\":\"AIGAIN\"},\n"
    "    {\"address\":\"0x000B\",\"value\":\"0x00000000\",\"bits\":\"0x20\",\"name\":\"AVGAIN\"},\n"
    "    {\"address\":\"0x0020\",\"value\":\"0x00000000\",\"bits\":\"0x20\",\"name\":\"BIGAIN\"},\n"
    "    {\"address\":\"0x002B\",\"value\":\"0x00000000\",\"bits\":\"0x20\",\"name\":\"BVGAIN\"},\n"
    "    {\"address\":\"0x0040\",\"value\":\"0x00000000\",\"bits\":\"0x20\",\"name\":\"CIGAIN\"},\n"
    "    {\"address\":\"0x004B\",\"value\":\"0x00000000\",\"bits\":\"0x20\",\"name\":\"CVGAIN\"},\n"
    "    {\"address\":\"0x006D\",\"value\":\"0x00000000\",\"bits\":\"0x20\",\"name\":\"NIGAIN\"},\n"
    "    {\"address\":\"0x0072\",\"value\":\"0x00000000\",\"bits\":\"0x20\",\"name\":\"DICOEFF\"},\n"
    "    {\"address\":\"0x000E\",\"value\":\"0x00000000\",\"bits\":\"0x20\",\"name\":\"APGAIN\"},\n"
    "    {\"address\":\"0x000F\",\"value\":\"0x00000000\",\"bits\":\"0x20\",\"name\":\"AWATTOS\"},\n"
    "    {\"address\":\"0x002E\",\"value\":\"0x00000000\",\"bits\":\"0x20\",\"name\":\"BPGAIN\"},\n"
    "    {\"address\":\"0x002F\",\"value\":\"0x00000000\",\"bits\":\"0x20\",\"name\":\"BWATTOS\"},\n"
    "    {\"address\":\"0x004E\",\"value\":\"0x00000000\",\"bits\":\"0x20\",\"name\":\"CPGAIN\"},\n"
    "    {\"address\":\"0x004F\",\"value\":\"0x00000000\",\"bits\":\"0x20\",\"name\":\"CWATTOS\"},\n"
    "    {\"address\":\"0x000C\",\"value\":\"0x00000000\",\"bits\":\"0x20\",\"name\":\"AIRMSOS\"},\n"
    "    {\"address\":\"0x000D\",\"value\":\"0x00000000\",\"bits\":\"0x20\",\"name\":\"AVRMSOS\"},\n"
    "    {\"address\":\"0x002C\",\"value\":\"0x00000000\",\"bits\":\"0x20\",\"name\":\"BIRMSOS\"},\n"
    "    {\"address\":\"0x002D\",\"value\":\"0x00000000\",\"bits\":\"0x20\",\"name\":\"BVRMSOS\"},\n"
    "    {\"address\":\"0x004C\",\"value\":\"0x00000000\",\"bits\":\"0x20\",\"name\":\"CIRMSOS\"},\n"
    "    {\"address\":\"0x004D\",\"value\":\"0x00000000\",\"bits\":\"0x20\",\"name\":\"CVRMSOS\"},\n"
    "    {\"address\":\"0x006B\",\"value\":\"0x00000000\",\"bits\":\"0x20\",\"name\":\"NIRMSOS\"}\n"
    "  ],\n"
    "}";

static_assert(sizeof(g_pszJSON) == 2548 + 1, "the default page is 2548 characters");

MDT::MDT(const I2CDeviceOps& i2cOps)
    : m_unChipAddress(0),
      m_pszSN(nullptr),
      m_bSNInitialized(false),
      m_ulSNLength(0),
      m_unNumberOfPages(1),
      m_bufOut{},
      m_bufIn{},
      m_pI2COps(&i2cOps) {}

MDT::~MDT() {
    free(m_pszSN);
}

void MDT::initialize(uint16_t unChipAddress) {
    m_unChipAddress = unChipAddress;
    for (MDT_Page& mdtPage : m_mdtpPages) mdtPage.initialize();
}

// ---- EEPROM transfers ----

bool MDT::openDevice(int& fd) {
    fd = I2Cbegin();
    if (fd < 0) {
        printf("Couldn't open device! %d\n", fd);
        return false;
    }
    if (m_pI2COps->ioctl(fd, I2C_DEVICE_SELECT, m_unChipAddress) < 0) {
        puts("Couldn't find device on address!");
        I2Cend();
        return false;
    }
    return true;
}

void MDT::setBusAddress(uint32_t ulAddress) {
    auto* pAddress = reinterpret_cast<uint8_t*>(&m_bufOut);
    pAddress[0] = static_cast<uint8_t>(ulAddress >> 8);
    pAddress[1] = static_cast<uint8_t>(ulAddress);
}

uint16_t MDT::writebuf(uint32_t ulAddress, uint16_t uLen, const char* pszSrc) {
    int fd = -1;
    if (!openDevice(fd)) return 0;
    const uint32_t ulStart = ulAddress & 0xFFFF;
    const uint32_t ulEnd = ulStart + uLen;
    const char* pszFrom = pszSrc;
    for (uint32_t ulCurrent = ulStart; ulCurrent < ulEnd; ulCurrent += MDT_CHUNK_BYTES) {
        const uint32_t ulCount = ulEnd - ulCurrent < MDT_CHUNK_BYTES ? ulEnd - ulCurrent : MDT_CHUNK_BYTES;
        memcpy(m_bufOut.buf, pszFrom, ulCount);
        setBusAddress(ulCurrent);
        const size_t frameBytes = sizeof(m_bufOut.add) + ulCount;
        if (m_pI2COps->write(fd, &m_bufOut, frameBytes) != static_cast<ssize_t>(frameBytes)) {
            perror("Write error !");
            I2Cend();
            return static_cast<uint16_t>(ulCurrent);
        }
        pszFrom += MDT_CHUNK_BYTES;
        delayMicroseconds(MDT_WRITE_CYCLE_MICROS);
    }
    I2Cend();
    return static_cast<uint16_t>(ulEnd);
}

uint16_t MDT::readbuf(uint32_t ulAddress, uint16_t uMaxLen, char* pszDest) {
    int fd = -1;
    if (!openDevice(fd)) return 0;
    const uint32_t ulStart = ulAddress & 0xFFFF;
    const uint32_t ulEnd = ulStart + uMaxLen;
    char* pszTo = pszDest;
    for (uint32_t ulCurrent = ulStart; ulCurrent < ulEnd; ulCurrent += MDT_CHUNK_BYTES) {
        const uint32_t ulCount = ulEnd - ulCurrent < MDT_CHUNK_BYTES ? ulEnd - ulCurrent : MDT_CHUNK_BYTES;
        setBusAddress(ulCurrent);
        if (m_pI2COps->write(fd, &m_bufOut, sizeof(m_bufOut.add)) !=
            static_cast<ssize_t>(sizeof(m_bufOut.add))) {
            perror("No MDT device at reading address");
            I2Cend();
            return 0;
        }
        if (m_pI2COps->read(fd, m_bufIn, ulCount) != static_cast<ssize_t>(ulCount)) {
            perror("reading error\n");
            I2Cend();
            return 0;
        }
        memcpy(pszTo, m_bufIn, ulCount);
        pszTo += ulCount;
    }
    I2Cend();
    return static_cast<uint16_t>(ulEnd);
}

// Headers travel as stored: the board and the EEPROM's writers are all
// little-endian.
uint16_t MDT::writeHeader(uint16_t unAddress, const MDT_HEADER* pHeader) {
    return writebuf(unAddress, sizeof(MDT_HEADER), reinterpret_cast<const char*>(pHeader));
}

uint16_t MDT::readHeader(uint16_t unAddress, MDT_HEADER* pHeader) {
    return readbuf(unAddress, sizeof(MDT_HEADER), reinterpret_cast<char*>(pHeader));
}

// ---- The table ----

// A corrupt or foreign header must not size a read past the page's slot (nor
// past the 16 bits a transfer length has).
void MDT::limitTextLength(uint16_t p, MDT_HEADER& header) {
    if (header.s_ulLength <= MDT_PAGE_TEXT_CAPACITY) return;
    printf("MDT page %u: text length %u is beyond the page's %u bytes; %u read\n", static_cast<unsigned>(p),
           static_cast<unsigned>(header.s_ulLength), static_cast<unsigned>(MDT_PAGE_TEXT_CAPACITY),
           static_cast<unsigned>(MDT_PAGE_TEXT_CAPACITY));
    header.s_ulLength = MDT_PAGE_TEXT_CAPACITY;
}

bool MDT::readPageText(uint16_t p, const MDT_HEADER& header) {
    const uint32_t ulLength = header.s_ulLength;
    char* pszText = static_cast<char*>(calloc(ulLength + 200, 1));
    if (!pszText) return false;
    printf("Reading MDT buffer (%d bytes)\n", static_cast<int>(ulLength));
    const uint32_t ulStart = p * MDT_PAGE_STRIDE + MDT_TEXT_OFFSET;
    const uint16_t unEnd = readbuf(ulStart, static_cast<uint16_t>(ulLength), pszText);
    printf("Read %d bytes\n", unEnd != 0 ? static_cast<int>(unEnd - ulStart) : 0);
    if (unEnd == 0) {
        free(pszText);
        return false;
    }
    if (ulLength == 0) {
        printf("MDT page %u: the header gives no text\n", static_cast<unsigned>(p));
    } else {
        if (pszText[ulLength - 1] != '\0')
            printf("MDT page %u: text not terminated within its %u bytes; its last byte ends it\n",
                   static_cast<unsigned>(p), static_cast<unsigned>(ulLength));
        m_mdtpPages[p].setBuffer(pszText, ulLength);
    }
    free(pszText);
    return true;
}

bool MDT::loadFromChip() {
    for (MDT_Page& mdtPage : m_mdtpPages) mdtPage.clear();
    MDT_HEADER header{};
    readHeader(0, &header);
    if (header.s_ulType != MDT_PAGE_VALID) return false;

    m_unNumberOfPages = static_cast<uint16_t>(header.s_ulNumberOfPages);
    if (m_unNumberOfPages == 0) m_unNumberOfPages = 1;
    limitTextLength(0, header);
    m_mdtpPages[0].setHeader(&header);
    if (!readPageText(0, header)) return false;

    if (!(header.s_ulFlags & MDT_FLAG_MORE_PAGES) || header.s_ulNumberOfPages < 2) return true;
    for (uint16_t p = 1; p < header.s_ulNumberOfPages && p < MDT_MAX_PAGES; p++) {
        MDT_HEADER pageHeader{};
        readHeader(static_cast<uint16_t>(p * MDT_PAGE_STRIDE), &pageHeader);
        if (pageHeader.s_ulType != MDT_PAGE_VALID) continue;
        limitTextLength(p, pageHeader);
        m_mdtpPages[p].setHeader(&pageHeader);
        readPageText(p, pageHeader);
    }
    return true;
}

// Headers go as the pages hold them; a length is not recomputed from the text.
void MDT::populateChip() {
    for (uint16_t p = 0; p < MDT_MAX_PAGES; p++) {
        char* pszText = nullptr;
        const uint32_t ulLength = m_mdtpPages[p].getBuffer(&pszText, MDT_PAGE_TEXT_CAPACITY);
        MDT_HEADER* pHeader = nullptr;
        m_mdtpPages[p].getHeader(&pHeader);
        writeHeader(static_cast<uint16_t>(p * MDT_PAGE_STRIDE), pHeader);
        writebuf(p * MDT_PAGE_STRIDE + MDT_TEXT_OFFSET, static_cast<uint16_t>(ulLength), pszText);
    }
}

// The page area only: the serial number stays.
void MDT::eraseChip() {
    char* pszZeros = static_cast<char*>(calloc(MDT_PAGE_STRIDE, 1));
    if (!pszZeros) return;
    for (uint32_t p = 0; p < MDT_MAX_PAGES; p++)
        writebuf(p * MDT_PAGE_STRIDE, static_cast<uint16_t>(MDT_PAGE_STRIDE), pszZeros);
    free(pszZeros);
}

// ---- Serial number ----

void MDT::setSN(const char* pszSN, uint32_t ulLen) {
    if (ulLen >= MDT_SN_SIZE || (!pszSN && ulLen != 0)) return;
    free(m_pszSN);
    m_pszSN = static_cast<char*>(calloc(MDT_SN_SIZE, 1));
    if (!m_pszSN) return;
    if (ulLen != 0) memcpy(m_pszSN, pszSN, ulLen);
    m_pszSN[ulLen] = '\0';
    m_ulSNLength = ulLen;
    m_bSNInitialized = true;
    writebuf(MDT_SN_ADDRESS, MDT_SN_SIZE, m_pszSN);
}

uint32_t MDT::getSN(char* pszSN, uint32_t ulMaxLen) {
    free(m_pszSN);
    m_pszSN = static_cast<char*>(calloc(MDT_SN_SIZE, 1));
    if (!m_pszSN) return 0;
    readbuf(MDT_SN_ADDRESS, MDT_SN_SIZE, m_pszSN);
    // 32 bytes without a NUL on a corrupt EEPROM still make a text.
    m_pszSN[MDT_SN_SIZE - 1] = '\0';
    const uint32_t n = ulMaxLen < MDT_SN_SIZE - 1 ? ulMaxLen : MDT_SN_SIZE - 1;
    if (!pszSN) return n;
    strncpy(pszSN, m_pszSN, n);
    pszSN[n] = '\0';
    return n;
}

// ---- Diagnostics ----

void MDT::dumpPage(uint16_t p) {
    const MDT_HEADER& header = m_mdtpPages[p].m_mhHeader;
    if (p == 0)
        puts("\nHeader 0:");
    else
        printf("\nHeader %d:\n", static_cast<int>(p));
    printf("  Type: %d\n", static_cast<int>(header.s_ulType));
    printf("  Size: %d\n", static_cast<int>(header.s_ulLength));
    printf("  Page: %d of %d\n", static_cast<int>(header.s_ulPageNum),
           static_cast<int>(header.s_ulNumberOfPages));
    printf("  Flags: 0x%08X\n", static_cast<unsigned>(header.s_ulFlags));
    for (int i = 0; i < 2; i++) printf("  Reserved[%d]: %d\n", i, static_cast<int>(header.s_ulReserved[i]));
    puts("\nBuffer:");
    puts(m_mdtpPages[p].m_pszBuffer ? m_mdtpPages[p].m_pszBuffer : "");
}

void MDT::dump() {
    dumpPage(0);
    const MDT_HEADER& header = m_mdtpPages[0].m_mhHeader;
    if (!(header.s_ulFlags & MDT_FLAG_MORE_PAGES) || header.s_ulNumberOfPages <= 1) return;
    for (uint16_t p = 1; p < header.s_ulNumberOfPages && p < MDT_MAX_PAGES; p++) dumpPage(p);
}

// ---- Page forwarding ----

void MDT::setPageHeader(uint16_t p, const MDT_HEADER* pHeader) {
    if (MDT_Page* pPage = page(p)) pPage->setHeader(pHeader);
}

void MDT::setPage(uint16_t p, const char* pszBuffer, uint32_t ulLen) {
    if (MDT_Page* pPage = page(p)) pPage->setBuffer(pszBuffer, ulLen);
}

void MDT::clearPage(uint16_t p) {
    if (MDT_Page* pPage = page(p)) pPage->clear();
}

uint32_t MDT::getPageHeader(uint16_t p, MDT_HEADER** pHeader) {
    MDT_Page* pPage = page(p);
    return pPage ? pPage->getHeader(pHeader) : 0;
}

uint32_t MDT::getPage(uint16_t p, char** pszBuffer, uint32_t ulMaxLen) {
    MDT_Page* pPage = page(p);
    return pPage ? pPage->getBuffer(pszBuffer, ulMaxLen) : 0;
}

char* MDT::getHandlerName(uint16_t p) {
    MDT_Page* pPage = page(p);
    return pPage ? pPage->getHandlerName() : nullptr;
}

char* MDT::getConfigName(uint16_t p) {
    MDT_Page* pPage = page(p);
    return pPage ? pPage->getConfigName() : nullptr;
}

char* MDT::getCalName(uint16_t p) {
    MDT_Page* pPage = page(p);
    return pPage ? pPage->getCalName() : nullptr;
}

char* MDT::getDescription(uint16_t p) {
    MDT_Page* pPage = page(p);
    return pPage ? pPage->getDescription() : nullptr;
}

bool MDT::getArray(const char* pszName, char** pszStart, uint32_t& ulLen, uint16_t p) {
    MDT_Page* pPage = page(p);
    return pPage ? pPage->getArray(pszName, pszStart, ulLen) : false;
}

bool MDT::createRegisterList(uint16_t p) {
    MDT_Page* pPage = page(p);
    return pPage ? pPage->createRegisterList() : false;
}

MDT_REGLIST* MDT::getPageRegisterList(uint16_t p) {
    MDT_Page* pPage = page(p);
    return pPage ? pPage->getRegisterList() : nullptr;
}
