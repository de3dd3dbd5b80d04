// 64-bit file metadata also on the 32-bit board, so that a file on a file
// system with large inode numbers can still be examined.
#ifndef _FILE_OFFSET_BITS
#define _FILE_OFFSET_BITS 64
#endif

#include "ReadOnlyFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

ReadOnlyFile::ReadOnlyFile(const char* pszPath) {
    if (!pszPath) return;
    // Non-blocking, so that opening a pipe cannot wait for a writer.
    m_fd = open(pszPath, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat fileStat {};
    if (m_fd >= 0 && (fstat(m_fd, &fileStat) != 0 || !S_ISREG(fileStat.st_mode))) {
        close(m_fd);
        m_fd = -1;
    }
}

ReadOnlyFile::~ReadOnlyFile() {
    if (m_fd >= 0) close(m_fd);
}
