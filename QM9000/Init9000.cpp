#include "Init9000.h"

#include <cstdio>
#include <cstring>

#include "QM9000.h"
#include "ReadOnlyFile.h"

namespace {

constexpr uint32_t BITS_16 = 0x10;
constexpr uint32_t BITS_32 = 0x20;

// The chip's register addresses are 12 bits wide; a wider one would reach a
// different register through the command word.
constexpr uint32_t MAX_CHIP_ADDRESS = 0x0FFF;

}  // namespace

int Init9000::initialize(void* pPMU) {
    m_pPMU = static_cast<QM9000*>(pPMU);
    return 0;
}

void Init9000::load(const char* pszFName) {
    if (!m_pPMU) return;
    ReadOnlyFile file(pszFName);
    if (!file.isOpen()) {
        printf("Couldn't open file: %s\r\n", displayName(pszFName));
        return;
    }
    printf("Init9000::load: %s\r\n", pszFName);

    ADE_9000& chip = m_pPMU->m_ADE9000;
    char szLine[LINE_BUFFER_SIZE];
    while (readJSON(file.fd(), szLine, sizeof(szLine)) != -1) {
        const uint16_t unAddress = static_cast<uint16_t>(findHexPair(szLine, "address"));
        const uint32_t ulValue = findHexPair(szLine, "value");
        const uint32_t ulBits = findHexPair(szLine, "bits");
        if (ulBits == 0) continue;
        // A missing address or value would otherwise write 0, or write to register 0.
        if (!strstr(szLine, "\"address\"") || !strstr(szLine, "\"value\"")) {
            printf("Init9000::load: no address or value, line skipped: %s\r\n", szLine);
            continue;
        }
        if (unAddress > MAX_CHIP_ADDRESS) {
            printf("Init9000::load: not a chip register, line skipped: %s\r\n", szLine);
            continue;
        }

        printf("0x%04X = 0x%08X (%d) == > ", unAddress, ulValue, static_cast<int>(ulBits));
        if (ulBits == BITS_16) {
            chip.writeReg16(unAddress, static_cast<uint16_t>(ulValue));
            dumpAddress(unAddress, 16);
        } else if (ulBits == BITS_32) {
            chip.writeReg(unAddress, ulValue);
            dumpAddress(unAddress, 32);
        }
        putchar('\n');
    }
}

void Init9000::dumpAddress(uint16_t unAddress, uint16_t unSizeInBits) {
    if (m_pPMU) dumpChipRegister(m_pPMU->m_ADE9000, unAddress, unSizeInBits);
}

void dumpChipRegister(ADE_9000& chip, uint16_t unAddress, uint16_t unSizeInBits) {
    printf("0x%04X = 0x", unAddress);
    if (unSizeInBits == 16) {
        uint16_t unValue = 0;
        chip.readReg16(unAddress, unValue);
        chip.readReg16(unAddress, unValue);
        printf("%04X", unValue);
    } else if (unSizeInBits == 32) {
        uint32_t ulValue = 0;
        chip.readReg(unAddress, ulValue);
        chip.readReg(unAddress, ulValue);
        printf("%08X", ulValue);
    }
}
