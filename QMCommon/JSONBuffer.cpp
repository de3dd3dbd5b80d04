#include "JSONBuffer.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool isHexDigit(char c) {
    return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// The text right after the first ':' that follows the first occurrence of
// pszName, or null.
const char* valueAfterColon(const char* pszSrc, const char* pszName) {
    if (!pszSrc || !pszName) return nullptr;
    const char* pszKey = strstr(pszSrc, pszName);
    if (!pszKey) return nullptr;
    const char* pszColon = strchr(pszKey, ':');
    return pszColon ? pszColon + 1 : nullptr;
}

}  // namespace

int32_t JSONBuffer::findPair(char* pszSrc, const char* pszName) const {
    const char* p = valueAfterColon(pszSrc, pszName);
    if (!p) return 0;
    while (*p == '"' || *p == ' ') p++;
    const bool bNegative = *p == '-';
    if (bNegative) p++;
    // Accumulated unsigned so that an oversized number wraps to its low 32 bits
    // instead of overflowing.
    uint32_t ulMagnitude = 0;
    for (; isDigit(*p) || *p == ' '; p++)
        if (*p != ' ') ulMagnitude = ulMagnitude * 10u + static_cast<uint32_t>(*p - '0');
    return static_cast<int32_t>(bNegative ? 0u - ulMagnitude : ulMagnitude);
}

uint32_t JSONBuffer::findHexPair(char* pszSrc, const char* pszName) const {
    if (!pszSrc || !pszName) return 0;
    const char* pszKey = strstr(pszSrc, pszName);
    if (!pszKey) return 0;
    const char* p = strstr(pszKey, "0x");
    if (!p) return 0;
    uint32_t ulValue = 0;
    for (p += 2; isHexDigit(*p) || *p == ' '; p++)
        if (*p != ' ') ulValue = (ulValue << 4) + static_cast<uint32_t>(htoi(*p));
    return ulValue;
}

float JSONBuffer::findFloat(char* pszSrc, const char* pszName) const {
    const char* p = valueAfterColon(pszSrc, pszName);
    if (!p) return 0.0f;
    float fValue = 0.0f;
    if (sscanf(p, "%f", &fValue) == 1) return fValue;

    // A quoted number: digits are gathered past spaces and quotes, the point
    // only marks where the fraction starts.
    uint32_t ulDigits = 0;
    bool bFraction = false;
    unsigned nDecimals = 0;
    for (;; p++) {
        if (isDigit(*p)) {
            ulDigits = ulDigits * 10u + static_cast<uint32_t>(*p - '0');
            if (bFraction) nDecimals++;
        } else if (*p == '.') {
            bFraction = true;
        } else if (*p != ' ' && *p != '"') {
            break;
        }
    }
    return static_cast<float>(static_cast<double>(ulDigits) / std::pow(10.0, nDecimals));
}

bool JSONBuffer::findStr(char* pszSrc, char* pszDest, const char* pszName, int nMax) const {
    if (!pszDest) return false;
    *pszDest = '\0';
    if (!pszSrc || !pszName) return false;

    const size_t nNameLength = strlen(pszName);
    if (nNameLength > static_cast<size_t>(MAX_KEY_LENGTH)) return false;
    char szQuotedKey[MAX_KEY_LENGTH + 3];
    szQuotedKey[0] = '"';
    memcpy(szQuotedKey + 1, pszName, nNameLength);
    szQuotedKey[nNameLength + 1] = '"';
    szQuotedKey[nNameLength + 2] = '\0';

    const char* p = strstr(pszSrc, szQuotedKey);
    if (!p) return false;
    // Whatever stands before the first opener (a number value included) is skipped.
    p = strpbrk(p + nNameLength + 2, "\"{[");
    if (!p) return false;
    const char cOpener = *p++;
    const char cCloser = cOpener == '"' ? '"' : (cOpener == '{' ? '}' : ']');

    int nNesting = 1;
    int nCount = 0;
    char* pDest = pszDest;
    while (*p != '\0' && nCount < nMax) {
        nCount++;
        if (cOpener != '"' && *p == cOpener) {
            nNesting++;
        } else if (*p == cCloser && --nNesting == 0) {
            if (cCloser != '"') *pDest++ = cCloser;
            break;
        }
        *pDest++ = *p++;
    }
    *pDest = '\0';
    return true;
}

bool JSONBuffer::getElementBounds(char* pszStart, char* pszEnd, char** pszBoundStart, char** pszBoundEnd,
                                  char cDelimStart, char cDelimEnd) const {
    if (!pszStart || !pszEnd) return false;
    if (pszBoundStart) *pszBoundStart = nullptr;
    if (pszBoundEnd) *pszBoundEnd = nullptr;
    if (pszEnd < pszStart || cDelimStart == '\0') return false;

    // The search must not pass pszEnd.
    const char cSaved = *pszEnd;
    *pszEnd = '\0';

    char* pOpen = strchr(pszStart, cDelimStart);
    char* pClose = nullptr;
    if (pOpen) {
        int nDepth = 0;
        for (char* p = pOpen; *p != '\0'; p++) {
            if (*p == cDelimStart) {
                if (++nDepth > MAX_ELEMENT_DEPTH) break;  // deeper than supported: unbalanced
            } else if (*p == cDelimEnd && --nDepth == 0) {
                pClose = p;
                break;
            }
        }
    }
    if (!pClose) {
        *pszEnd = cSaved;
        return false;
    }
    if (pszBoundStart) *pszBoundStart = pOpen;
    if (pszBoundEnd) *pszBoundEnd = pClose;
    return true;
}

bool JSONBuffer::isNumber(const char* pszSrc) const {
    if (!pszSrc) return false;
    for (const char* p = pszSrc; *p != '\0'; p++)
        if (!isDigit(*p) && *p != 'x' && *p != '.') return false;
    return true;
}

int JSONBuffer::htoi(char c) const {
    const unsigned char uc = static_cast<unsigned char>(c);
    if (uc < ':') return uc - '0';
    if (uc < 'G') return uc - 55;
    if (uc > 'f') return 0;
    return uc - 87;
}
