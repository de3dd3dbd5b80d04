// Base of every JSON-backed file of the module: the virtual interface its
// owner uses, the line reader every loader is built on, and the insertion of a
// missing { "name", "value" } element into an array section of a file.
#pragma once

#include <cstdint>

#include "JSONBuffer.h"

class JSONFile : public JSONBuffer {
public:
    // Loaders read lines into buffers of this size: a record stands whole on a
    // line of at most 127 characters.
    static constexpr uint32_t LINE_BUFFER_SIZE = 128;
    // A setting's name longer than this is cut and matches nothing.
    static constexpr int MAX_SETTING_NAME = 31;

    virtual int initialize(void* p);
    // Prints the file line by line.
    virtual void load(const char* pszFName);
    virtual void update(const char* pszFName);
    // Appends { "name": pszField, "value": pszValue } to the array that follows
    // the first occurrence of pszSection, unless pszField already appears in it.
    // The file is replaced as a whole; the rest of it stays byte for byte.
    virtual void addFieldIfMissing(const char* pszFile, const char* pszSection, const char* pszField,
                                   const char* pszValue);

    // One line without its line end (CR, LF or a 0xFF byte), at most uLen - 1
    // characters; the rest of a longer line is skipped. Returns the number of
    // characters stored, or -1 at the end of the file: a last line without a
    // line end is never reported.
    int16_t readJSON(int fdIn, char* pszDest, uint32_t uLen);
};
