// Replaces a file as a whole. The new content goes to a temporary file in the
// target's directory, which is flushed to the disk and then renamed over the
// target, so a failure or a power loss at any point leaves either the old file
// or the complete new one, never a truncated or half-written one.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

class AtomicFileWriter {
public:
    // Creates the temporary file; isOpen() tells whether that worked.
    explicit AtomicFileWriter(const char* pszTarget);
    // Discards the temporary file unless commit() succeeded.
    ~AtomicFileWriter();
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    bool isOpen() const { return m_pFile != nullptr; }
    // Appends bytes; a failure is remembered and makes commit() fail.
    bool write(const void* pData, size_t size);
    bool print(const char* pszText);
    // Flushes, syncs and renames over the target. False leaves the target as it was.
    bool commit();

private:
    void discard();

    std::string m_target;
    std::string m_temporary;
    FILE* m_pFile = nullptr;
    bool m_bFailed = false;
};
