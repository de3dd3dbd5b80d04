// 64-bit file metadata also on the 32-bit board (large inode numbers).
#ifndef _FILE_OFFSET_BITS
#define _FILE_OFFSET_BITS 64
#endif

#include "AtomicFileWriter.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
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

std::string baseNameOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Reads a decimal number as written by std::to_string (no sign, no leading
// zero) up to the next '.' or the end; false for anything else.
bool readCount(const char*& p, unsigned long long& ullValue) {
    const char* const pStart = p;
    ullValue = 0;
    while (isdigit(static_cast<unsigned char>(*p))) {
        if (ullValue > 1000000000000ULL) return false;
        ullValue = ullValue * 10 + static_cast<unsigned>(*p++ - '0');
    }
    return p != pStart && (p - pStart == 1 || *pStart != '0');
}

// The process that made `<target>.tmp<pid>.<n>`, when the name has exactly
// that form; 0 otherwise.
pid_t temporaryOwner(const char* pszName, const std::string& prefix) {
    if (strncmp(pszName, prefix.c_str(), prefix.size()) != 0) return 0;
    const char* p = pszName + prefix.size();
    unsigned long long ullPid = 0, ullSequence = 0;
    if (!readCount(p, ullPid) || *p++ != '.' || !readCount(p, ullSequence) || *p != '\0') return 0;
    const auto pid = static_cast<pid_t>(ullPid);
    return pid > 0 && static_cast<unsigned long long>(pid) == ullPid ? pid : 0;
}

// A save that was killed leaves its temporary file behind for good. Those of
// processes that no longer run are removed; a live process's (this one's
// included) may still be written, and nothing else matches the name.
void removeAbandonedTemporaries(const std::string& target) {
    const std::string directory = directoryOf(target);
    const std::string prefix = baseNameOf(target) + ".tmp";
    DIR* pDir = opendir(directory.c_str());
    if (!pDir) return;
    while (const dirent* pEntry = readdir(pDir)) {
        const pid_t pid = temporaryOwner(pEntry->d_name, prefix);
        if (pid == 0 || kill(pid, 0) == 0 || errno != ESRCH) continue;
        struct stat entryStat {};
        if (fstatat(dirfd(pDir), pEntry->d_name, &entryStat, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(entryStat.st_mode))
            unlinkat(dirfd(pDir), pEntry->d_name, 0);
    }
    closedir(pDir);
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
    removeAbandonedTemporaries(m_target);

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
