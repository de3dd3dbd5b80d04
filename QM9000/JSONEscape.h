// Text from the module's EEPROM or the register catalogue, put inside the
// JSON strings of the realtime reports.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Appends the text, up to its NUL or nMaxIn bytes, as the inside of a JSON
// string: quote, backslash and control characters escaped, a byte that is
// not part of a UTF-8 character written as that Latin-1 character, anything
// else byte for byte. Stops before a character that would take the appended
// part past nMaxOut bytes, so an escape or a character is never cut.
void appendJSONEscaped(std::string& out, const char* pszText, size_t nMaxIn, size_t nMaxOut = SIZE_MAX);

// The same text written to pOut, no more than nRoom bytes and no NUL. Returns
// the number of bytes written.
size_t writeJSONEscaped(char* pOut, size_t nRoom, const char* pszText, size_t nMaxIn);
