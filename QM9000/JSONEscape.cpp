#include "JSONEscape.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

namespace {

// The bytes written as they are without looking further: printable ASCII
// other than quote and backslash. Nearly every name is made of these alone.
constexpr auto PLAIN = [] {
    std::array<bool, 256> plain{};
    for (int c = 0x20; c < 0x80; c++) plain[c] = c != '"' && c != '\\';
    return plain;
}();

// The letter after the backslash for characters with a two-character
// escape, else 0.
char shortEscape(unsigned char c) {
    constexpr char ESCAPED[] = "\"\\\b\f\n\r\t", LETTERS[] = "\"\\bfnrt";
    for (size_t i = 0; i + 1 < sizeof(ESCAPED); i++)
        if (static_cast<unsigned char>(ESCAPED[i]) == c) return LETTERS[i];
    return 0;
}

// Length of the well-formed UTF-8 character at p (no more than nLeft bytes),
// 0 when the bytes do not form one (stray continuation, overlong form,
// surrogate, beyond U+10FFFF, cut short).
size_t utf8Length(const unsigned char* p, size_t nLeft) {
    const unsigned char c = p[0];
    size_t nLength = 0;
    unsigned char lo = 0x80, hi = 0xBF;  // range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
        nLength = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        nLength = 3;
        if (c == 0xE0) lo = 0xA0;
        if (c == 0xED) hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        nLength = 4;
        if (c == 0xF0) lo = 0x90;
        if (c == 0xF4) hi = 0x8F;
    }
    if (nLength == 0 || nLength > nLeft || p[1] < lo || p[1] > hi) return 0;
    for (size_t i = 2; i < nLength; i++)
        if (p[i] < 0x80 || p[i] > 0xBF) return 0;
    return nLength;
}

// Hands the escaped text to put(pPiece, nPiece) and returns the bytes handed
// over. A run of plain bytes goes in one piece; only the byte after it is
// looked at one character at a time.
template <typename Put>
size_t escape(const char* pszText, size_t nMaxIn, size_t nMaxOut, Put put) {
    if (!pszText) return 0;
    const auto* p = reinterpret_cast<const unsigned char*>(pszText);
    size_t nIn = 0, nOut = 0;
    for (;;) {
        // A plain byte is one output byte, so the run stops at the output cap too.
        const size_t nRunEnd = nIn + std::min(nMaxIn - nIn, nMaxOut - nOut);
        size_t nPlain = nIn;
        while (nPlain < nRunEnd && PLAIN[p[nPlain]]) nPlain++;
        if (nPlain > nIn) {
            put(pszText + nIn, nPlain - nIn);
            nOut += nPlain - nIn;
            nIn = nPlain;
        }
        if (nIn == nMaxIn || p[nIn] == 0) break;

        const unsigned char c = p[nIn];
        size_t nTake = 1;  // input bytes of this character
        char szEscape[8] = {'\\'};
        const char* pPiece = szEscape;
        size_t nPiece = 2;
        if (const char cLetter = shortEscape(c)) {
            szEscape[1] = cLetter;
        } else {
            nTake = c < 0x80 ? 1 : utf8Length(p + nIn, nMaxIn - nIn);
            if (c >= 0x20 && nTake != 0) {
                pPiece = pszText + nIn;
                nPiece = nTake;
            } else {
                nTake = 1;
                nPiece = static_cast<size_t>(snprintf(szEscape, sizeof(szEscape), "\\u%04X", c));
            }
        }
        if (nOut + nPiece > nMaxOut) break;
        put(pPiece, nPiece);
        nOut += nPiece;
        nIn += nTake;
    }
    return nOut;
}

}  // namespace

void appendJSONEscaped(std::string& out, const char* pszText, size_t nMaxIn, size_t nMaxOut) {
    escape(pszText, nMaxIn, nMaxOut,
           [&out](const char* pPiece, size_t nPiece) { out.append(pPiece, nPiece); });
}

size_t writeJSONEscaped(char* pOut, size_t nRoom, const char* pszText, size_t nMaxIn) {
    size_t nWritten = 0;
    return escape(pszText, nMaxIn, nRoom, [&](const char* pPiece, size_t nPiece) {
        memcpy(pOut + nWritten, pPiece, nPiece);
        nWritten += nPiece;
    });
}
