// 64-bit file metadata also on the 32-bit board (large inode numbers).
#ifndef _FILE_OFFSET_BITS
#define _FILE_OFFSET_BITS 64
#endif

#include "JSONFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

#include "AtomicFileWriter.h"
#include "ReadOnlyFile.h"

namespace {

// One byte; false at the end of the file or on a read error.
bool readByte(int fd, char& c) {
    ssize_t nRead;
    do {
        nRead = read(fd, &c, 1);
    } while (nRead < 0 && errno == EINTR);
    return nRead == 1;
}

constexpr char LINE_END_FF = static_cast<char>(0xFF);

// Work buffer of one inserted element, separator included.
constexpr size_t ELEMENT_BUFFER_SIZE = 256;
// An array no longer than this from '[' to ']' is taken as empty.
constexpr long EMPTY_ARRAY_EXTENT = 20;

struct FreeDeleter {
    void operator()(char* p) const { free(p); }
};

}  // namespace

int JSONFile::initialize(void*) {
    return 0;
}

void JSONFile::load(const char* pszFName) {
    ReadOnlyFile file(pszFName);
    if (!file.isOpen()) {
        printf("Couldn't open file: %s\r\n", displayName(pszFName));
        return;
    }
    printf("JSONFile::load: %s\r\n", pszFName);
    char szLine[LINE_BUFFER_SIZE];
    while (readJSON(file.fd(), szLine, sizeof(szLine)) != -1) printf("%s\r\n", szLine);
}

void JSONFile::update(const char* pszFName) {
    JSONFile::load(pszFName);
}

int16_t JSONFile::readJSON(int fdIn, char* pszDest, uint32_t uLen) {
    if (!pszDest || uLen == 0) return -1;
    *pszDest = '\0';
    char c;
    if (fdIn < 0 || !readByte(fdIn, c)) return -1;
    // A line feed first is the second half of the CR LF that ended the last line.
    if (c == '\n' && !readByte(fdIn, c)) return -1;

    uint32_t uStored = 0;
    bool bByte = true;
    while (c != LINE_END_FF && c != '\r' && c != '\n') {
        if (uStored < uLen - 1) {
            pszDest[uStored++] = c;
            pszDest[uStored] = '\0';
        }
        bByte = readByte(fdIn, c);
        if (!bByte) break;
    }
    if (!bByte) return -1;
    return static_cast<int16_t>(uStored < INT16_MAX ? uStored : INT16_MAX);
}

void JSONFile::addFieldIfMissing(const char* pszFile, const char* pszSection, const char* pszField,
                                 const char* pszValue) {
    FILE* pIn = pszFile ? fopen(pszFile, "r") : nullptr;
    struct stat fileStat {};
    if (pIn && (fstat(fileno(pIn), &fileStat) != 0 || !S_ISREG(fileStat.st_mode))) {
        fclose(pIn);
        pIn = nullptr;
    }
    if (!pIn) {
        printf("Couldn't open file: %s\r\n", displayName(pszFile));
        return;
    }
    if (!pszSection || !pszField || !pszValue) {
        fclose(pIn);
        return;
    }

    long lSize = -1;
    if (fseek(pIn, 0, SEEK_END) == 0) lSize = ftell(pIn);
    if (lSize <= 0 || fseek(pIn, 0, SEEK_SET) != 0) {
        fclose(pIn);
        return;
    }
    std::unique_ptr<char, FreeDeleter> buffer(static_cast<char*>(malloc(static_cast<size_t>(lSize) + 1)));
    if (!buffer) {
        fclose(pIn);
        return;
    }
    char* pszText = buffer.get();
    const size_t nLength = fread(pszText, 1, static_cast<size_t>(lSize), pIn);
    pszText[nLength] = '\0';
    fclose(pIn);

    char* pszSectionStart = strstr(pszText, pszSection);
    if (!pszSectionStart) return;
    char* pOpen = nullptr;
    char* pClose = nullptr;
    if (!getElementBounds(pszSectionStart, pszText + nLength, &pOpen, &pClose, '[', ']')) return;
    const std::string_view array(pOpen, static_cast<size_t>(pClose - pOpen) + 1);
    if (array.find(pszField) != std::string_view::npos) return;

    const char* pszSeparator = (pClose - pOpen) > EMPTY_ARRAY_EXTENT ? ",\n      " : "\n      ";
    char szElement[ELEMENT_BUFFER_SIZE];
    const int nElement =
        isNumber(pszValue)
            ? snprintf(szElement, sizeof(szElement), "%s{ \"name\": \"%s\", \"value\": %s }", pszSeparator,
                       pszField, pszValue)
            : snprintf(szElement, sizeof(szElement), "%s{ \"name\": \"%s\", \"value\": \"%s\" }",
                       pszSeparator, pszField, pszValue);
    if (nElement < 0 || static_cast<size_t>(nElement) >= sizeof(szElement)) {
        printf("Field too long to add: %s\r\n", pszField);
        return;
    }

    // The element goes directly before the array's ']'.
    const size_t nHead = static_cast<size_t>(pClose - pszText);
    AtomicFileWriter writer(pszFile);
    writer.write(pszText, nHead);
    writer.write(szElement, static_cast<size_t>(nElement));
    writer.write(pClose, nLength - nHead);
    if (!writer.commit()) printf("Couldn't write file: %s\r\n", pszFile);
}
