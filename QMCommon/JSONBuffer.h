// Key/value scanning over NUL-terminated JSON text, one line or one page at a
// time. Not a parser: keys are found by plain substring search and values are
// read with simple character rules, which every file of the module relies on
// (the first occurrence of a name wins, wherever it stands).
#pragma once

#include <cstdint>

class JSONBuffer {
public:
    // Longest key findStr accepts; it is searched with its quotes.
    static constexpr int MAX_KEY_LENGTH = 29;
    // Deepest nesting getElementBounds follows.
    static constexpr int MAX_ELEMENT_DEPTH = 255;

    // Signed decimal after the first ':' that follows the first occurrence of
    // pszName; quotes and spaces before it are skipped. 0 when absent.
    int32_t findPair(char* pszSrc, const char* pszName) const;
    // Hexadecimal digits after the first "0x" that follows pszName. 0 when absent.
    uint32_t findHexPair(char* pszSrc, const char* pszName) const;
    // Number after the first ':' that follows pszName; a quoted number is read
    // digit by digit (no sign). 0.0 when absent.
    float findFloat(char* pszSrc, const char* pszName) const;
    // Copies the string, object or array following the quoted key pszName into
    // pszDest (nMax characters at most, plus the NUL). An object or array comes
    // back without its opening bracket but with its closing one.
    bool findStr(char* pszSrc, char* pszDest, const char* pszName, int nMax) const;
    // First balanced pair of delimiters between pszStart and pszEnd. Writes a
    // NUL at pszEnd, which stays there on success.
    bool getElementBounds(char* pszStart, char* pszEnd, char** pszBoundStart, char** pszBoundEnd,
                          char cDelimStart, char cDelimEnd) const;
    // Every character a decimal digit, 'x' or '.'; the empty text counts.
    bool isNumber(const char* pszSrc) const;
    // Value of one hexadecimal digit.
    int htoi(char c) const;
};
