#include "Cal9000.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

#include "AtomicFileWriter.h"
#include "BoardIO.h"
#include "QM9000.h"
#include "ReadOnlyFile.h"
#include "RegisterMath.h"

const char* const g_pszCalJSONHeader = "{\r\n  \"startup\": {\r\n    \"registers\": [\r\n";
const char* const g_pszCalJSONFooter = "    ]\r\n  }\r\n}\r\n";

namespace {

constexpr const char* CAL_LINE_FORMAT =
    "      {\"address\": \"0x%04X\", \"value\": %d, \"fvalue\": %.6f, \"bits\": 32, \"name\": \"%s\"},\r\n";

constexpr uint16_t PSEUDO_ENTRY = 0x8000;
// The chip's register addresses are 12 bits wide; a wider one would reach a
// different register through the command word.
constexpr uint16_t MAX_CHIP_ADDRESS = 0x0FFF;
// The chip needs this long after a write before the register reads back.
constexpr unsigned WRITE_SETTLE_MS = 5;

constexpr int MAX_CAL_NAME = 15;

// Constants the module's own arithmetic uses, by channel or phase index.
constexpr std::array<const char*, 6> WFB_GAIN_NAMES = {"AIGAIN", "AVGAIN", "BIGAIN",
                                                       "BVGAIN", "CIGAIN", "CVGAIN"};
constexpr std::array<const char*, 6> WFB_OFFSET_NAMES = {"AIRMSOS", "AVRMSOS", "BIRMSOS",
                                                         "BVRMSOS", "CIRMSOS", "CVRMSOS"};
constexpr std::array<const char*, 3> ANGLE_CAL_NAMES = {"APHCAL0", "BPHCAL0", "CPHCAL0"};
constexpr const char* WFBOS_NAME = "WFBOS";

bool isPseudoEntry(uint16_t unAddress) {
    return (unAddress & PSEUDO_ENTRY) != 0;
}

// Pseudo-entries and addresses wider than the chip's never go to the chip.
bool isChipRegister(uint16_t unAddress) {
    return unAddress <= MAX_CHIP_ADDRESS;
}

// An object or array where the name should be would be saved as text that
// reads back as another name.
bool isRegisterName(const char* pszName) {
    return strpbrk(pszName, "\"{}[]") == nullptr;
}

// The file holds numbers only: what is not one is taken, and written, as 0.
float finiteOrZero(float fValue) {
    return std::isfinite(fValue) ? fValue : 0.0f;
}

template <size_t N>
int indexOf(const std::array<const char*, N>& names, const char* pszName) {
    for (size_t i = 0; i < N; i++)
        if (strcmp(names[i], pszName) == 0) return static_cast<int>(i);
    return -1;
}

}  // namespace

Cal9000::~Cal9000() {
    killCalList();
}

int Cal9000::initialize(void* pPMU) {
    m_pPMU = static_cast<QM9000*>(pPMU);
    return 0;
}

void Cal9000::load(const char* pszFName) {
    if (!m_pPMU) return;
    ReadOnlyFile file(pszFName);
    if (!file.isOpen()) {
        printf("Couldn't open cal file: %s\r\n", displayName(pszFName));
        return;
    }
    printf("Processing cal file: %s\r\n", pszFName);
    killCalList();

    CAL_LIST* pTail = nullptr;
    char szLine[LINE_BUFFER_SIZE];
    char szName[MAX_CAL_NAME + 1];
    while (readJSON(file.fd(), szLine, sizeof(szLine)) != -1) {
        if (!findStr(szLine, szName, "name", MAX_CAL_NAME)) continue;
        if (!isRegisterName(szName)) {
            printf("Cal9000::load: not a register name, line skipped: %s\r\n", szLine);
            continue;
        }
        CAL_CONSTANT constant{};
        // "value" must stand before "fvalue": the first occurrence is read.
        constant.s_ulCalConstant = constant.s_ulCalPending = static_cast<uint32_t>(findPair(szLine, "value"));
        const float fValue = findFloat(szLine, "fvalue");
        if (!std::isfinite(fValue)) printf("Cal9000::load: fvalue not a number, 0 taken: %s\r\n", szLine);
        constant.s_fCalConstant = constant.s_fCalPending = finiteOrZero(fValue);
        constant.s_ulCalRegister = static_cast<uint16_t>(findHexPair(szLine, "address"));
        memcpy(constant.s_pszCalName, szName, strlen(szName) + 1);
        constant.s_bChanged = false;

        auto* pNode = new (std::nothrow) CAL_LIST{};
        if (!pNode) break;
        pNode->s_Cal = constant;
        pNode->s_pNextCal = nullptr;
        if (pTail)
            pTail->s_pNextCal = pNode;
        else
            m_pCalList = pNode;
        pTail = pNode;
        applyToModule(constant);
    }
    m_bLoaded = true;
    m_bChanged = false;
}

void Cal9000::applyToModule(const CAL_CONSTANT& constant) {
    QM9000& pmu = *m_pPMU;
    const float fValue = constant.s_fCalConstant;
    const char* pszName = constant.s_pszCalName;
    if (const int i = indexOf(WFB_GAIN_NAMES, pszName); i >= 0)
        pmu.m_fWFBCalRatio[i] = fValue == 0.0f ? 1.0f : fValue;
    else if (const int j = indexOf(WFB_OFFSET_NAMES, pszName); j >= 0)
        pmu.m_ulWFBCalOffset[j] = toRegisterU32(fValue);
    else if (const int k = indexOf(ANGLE_CAL_NAMES, pszName); k >= 0)
        pmu.m_fCurrentAngleCal[k] = fValue;
}

uint32_t Cal9000::writeAndReadBack(uint16_t unAddress, uint32_t ulValue) {
    ADE_9000& chip = m_pPMU->m_ADE9000;
    chip.writeReg(unAddress, ulValue);
    delay(WRITE_SETTLE_MS);
    uint32_t ulRead = 0;
    chip.readReg(unAddress, ulRead);
    return ulRead;
}

void Cal9000::pushCal() {
    if (!m_pPMU) return;
    for (CAL_LIST* pNode = m_pCalList; pNode; pNode = pNode->s_pNextCal) {
        const CAL_CONSTANT& constant = pNode->s_Cal;
        const uint16_t unAddress = constant.s_ulCalRegister;
        const uint32_t ulConstant = constant.s_ulCalConstant;
        printf("Value: 0x%08X ==> Register: 0x%04X (%s)\r\n", ulConstant, static_cast<unsigned>(unAddress),
               constant.s_pszCalName);
        if (isChipRegister(unAddress)) {
            if (writeAndReadBack(unAddress, ulConstant) != ulConstant)
                printf("pushCal: Verification failed (%s)\r\n", constant.s_pszCalName);
        } else if (!isPseudoEntry(unAddress)) {
            printf("Cal9000::pushCal: not a chip register, entry skipped: %s\r\n", constant.s_pszCalName);
        } else if (strcmp(constant.s_pszCalName, WFBOS_NAME) == 0) {
            m_pPMU->m_nWFBOSCounts = static_cast<int16_t>(toRegisterS32(constant.s_fCalConstant));
            printf("WFB Offset (Counts): %d\n", m_pPMU->m_nWFBOSCounts);
        }
    }
}

void Cal9000::pushPendingCal() {
    if (!m_pPMU) return;
    for (CAL_LIST* pNode = m_pCalList; pNode; pNode = pNode->s_pNextCal) {
        const CAL_CONSTANT& constant = pNode->s_Cal;
        const uint16_t unAddress = constant.s_ulCalRegister;
        if (!constant.s_bChanged || !isChipRegister(unAddress)) continue;
        const uint32_t ulPending = constant.s_ulCalPending;
        printf("Pending Value: 0x%08X ==> Register: 0x%04X (%s)\r\n", ulPending,
               static_cast<unsigned>(unAddress), constant.s_pszCalName);
        const uint32_t ulRead = writeAndReadBack(unAddress, ulPending);
        if (ulRead != ulPending)
            printf("pushPendingCal: Verification failed (%s, 0x%08X)\r\n", constant.s_pszCalName, ulRead);
    }
}

void Cal9000::pushZeroCal() {
    if (!m_pPMU) return;
    for (CAL_LIST* pNode = m_pCalList; pNode; pNode = pNode->s_pNextCal) {
        const CAL_CONSTANT& constant = pNode->s_Cal;
        if (!isChipRegister(constant.s_ulCalRegister)) continue;
        if (writeAndReadBack(constant.s_ulCalRegister, 0) != 0)
            printf("pushCal: Verification failed (%s)\r\n", constant.s_pszCalName);
    }
}

// A name the list does not hold changes nothing and still succeeds, as
// callers expect; it is said, so a constant the file lacks is not dropped
// unseen.
bool Cal9000::setPending(char* pszName, uint32_t ulValue, float fValue) {
    if (!pszName) return true;
    for (CAL_LIST* pNode = m_pCalList; pNode; pNode = pNode->s_pNextCal) {
        CAL_CONSTANT& constant = pNode->s_Cal;
        if (strcmp(constant.s_pszCalName, pszName) != 0) continue;
        printf("\r\nRegister %s found", pszName);
        constant.s_ulCalPending = ulValue;
        constant.s_fCalPending = fValue;
        constant.s_bChanged = true;
        m_bChanged = true;
        return true;
    }
    printf("\r\nRegister %s is not in the calibration file; not calibrated\r\n", pszName);
    return true;
}

bool Cal9000::saveCal() {
    if (!m_pPMU || !m_pPMU->m_pStat) return false;
    // The host's field need not be terminated.
    const char* pszField = m_pPMU->m_pStat->s_pszActiveCal;
    std::array<char, sizeof(m_pPMU->m_pStat->s_pszActiveCal) + 1> path{};
    memcpy(path.data(), pszField, strnlen(pszField, path.size() - 1));

    AtomicFileWriter writer(path.data());
    if (!writer.isOpen()) {
        printf("Couldn't open cal file: %s\r\n", path.data());
        return false;
    }
    writer.print(g_pszCalJSONHeader);
    for (const CAL_LIST* pNode = m_pCalList; pNode; pNode = pNode->s_pNextCal) {
        const CAL_CONSTANT& constant = pNode->s_Cal;
        std::array<char, 256> line{};
        int nLine = snprintf(
            line.data(), line.size(), CAL_LINE_FORMAT, static_cast<unsigned>(constant.s_ulCalRegister),
            static_cast<int32_t>(constant.s_ulCalPending),
            static_cast<double>(finiteOrZero(constant.s_fCalPending)), constant.s_pszCalName);
        if (nLine < 4 || static_cast<size_t>(nLine) >= line.size())
            continue;  // cannot happen: names are short
        if (!pNode->s_pNextCal) {
            // The last element has no comma: "},\r\n" becomes "}\r\n".
            line[nLine - 3] = '\r';
            line[nLine - 2] = '\n';
            line[--nLine] = '\0';
        }
        writer.write(line.data(), static_cast<size_t>(nLine));
    }
    writer.print(g_pszCalJSONFooter);
    if (writer.commit()) return true;
    printf("Couldn't write cal file: %s\r\n", path.data());
    return false;
}

bool Cal9000::saveZeroCal() {
    for (CAL_LIST* pNode = m_pCalList; pNode; pNode = pNode->s_pNextCal) {
        CAL_CONSTANT& constant = pNode->s_Cal;
        constant.s_ulCalConstant = constant.s_ulCalPending = 0;
        constant.s_fCalConstant = constant.s_fCalPending = 0.0f;
        constant.s_bChanged = false;
    }
    return saveCal();
}

void Cal9000::readAndDumpCal() {
    if (!m_pPMU) return;
    puts("\r");
    for (const CAL_LIST* pNode = m_pCalList; pNode; pNode = pNode->s_pNextCal) {
        const CAL_CONSTANT& constant = pNode->s_Cal;
        const uint16_t unAddress = constant.s_ulCalRegister;
        if (!isChipRegister(unAddress)) continue;
        uint32_t ulValue = 0;
        m_pPMU->m_ADE9000.readReg(unAddress, ulValue);
        printf("Register %s (0x%04X) ==> 0x%08X\r\n", constant.s_pszCalName, static_cast<unsigned>(unAddress),
               ulValue);
    }
}

void Cal9000::dumpPending() {
    printf("\r\n\r\nCal Pending List");
    printf("\r\n================");
    for (const CAL_LIST* pNode = m_pCalList; pNode; pNode = pNode->s_pNextCal) {
        const CAL_CONSTANT& constant = pNode->s_Cal;
        printf("\r\n%s ==> %d ==> %d", constant.s_pszCalName, static_cast<int32_t>(constant.s_ulCalConstant),
               static_cast<int32_t>(constant.s_ulCalPending));
    }
    puts("\r\n\r");
}

void Cal9000::killCalList() {
    while (m_pCalList) {
        CAL_LIST* pNext = m_pCalList->s_pNextCal;
        delete m_pCalList;
        m_pCalList = pNext;
    }
}
