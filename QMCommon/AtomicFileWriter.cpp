// 64-bit file metadata also on the 32-bit board (large inode numbers).
#ifndef _FILE_OFFSET_BITS
#define _FILE_OFFSET_BITS 64
#endif

#include "AtomicFileWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

// A target reached through a symbolic link is replaced where the link points,
// so the link itself survives the rename.
std::string resolveTarget(const char* pszTarget) {
    char szResolved[PATH_MAX];
    if (realpath(pszTarget, szResolved)) return szResolved;
    return pszTarget;
}

std::string directoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// Makes the rename itself durable.
void syncDirectory(const std::string& directory) {
    const int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}

}  // namespace

AtomicFileWriter::AtomicFileWriter(const char* pszTarget) {
    if (!pszTarget || *pszTarget == '\0') return;
    m_target = resolveTarget(pszTarget);

    struct stat targetStat {};
    const bool bTargetExists = stat(m_target.c_str(), &targetStat) == 0;
    if (bTargetExists && !S_ISREG(targetStat.st_mode)) return;  // never replace a directory or device

    static std::atomic<unsigned> s_unSequence{0};
    for (int nAttempt = 0; nAttempt < 100 && !m_pFile; nAttempt++) {
        m_temporary = m_target + ".tmp" + std::to_string(getpid()) + "." + std::to_string(s_unSequence++);
        // New files get the permissions an ordinary create would give them.
        const int fd = open(m_temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            break;
        }
        if (bTargetExists) fchmod(fd, targetStat.st_mode & 07777);
        m_pFile = fdopen(fd, "w");
        if (!m_pFile) {
            close(fd);
            unlink(m_temporary.c_str());
            break;
        }
    }
    if (!m_pFile) m_temporary.clear();
}

AtomicFileWriter::~AtomicFileWriter() {
    discard();
}

bool AtomicFileWriter::write(const void* pData, size_t size) {
    if (!m_pFile) return false;
    if (size != 0 && fwrite(pData, 1, size, m_pFile) != size) m_bFailed = true;
    return !m_bFailed;
}

bool AtomicFileWriter::print(const char* pszText) {
    return write(pszText, strlen(pszText));
}

bool AtomicFileWriter::commit() {
    if (!m_pFile) return false;
    bool bWritten = !m_bFailed && fflush(m_pFile) == 0 && !ferror(m_pFile);
    if (bWritten) bWritten = fsync(fileno(m_pFile)) == 0;
    const bool bClosed = fclose(m_pFile) == 0;
    m_pFile = nullptr;
    if (!bWritten || !bClosed || rename(m_temporary.c_str(), m_target.c_str()) != 0) {
        unlink(m_temporary.c_str());
        m_temporary.clear();
        return false;
    }
    m_temporary.clear();
    syncDirectory(directoryOf(m_target));
    return true;
}

void AtomicFileWriter::discard() {
    if (m_pFile) {
        fclose(m_pFile);
        m_pFile = nullptr;
    }
    if (!m_temporary.empty()) {
        unlink(m_temporary.c_str());
        m_temporary.clear();
    }
}
