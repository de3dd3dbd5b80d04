// A file opened read-only for one operation and closed when it goes out of
// scope. Only regular files are accepted: a directory, a device or a pipe
// where a file is expected counts as a file that cannot be opened, so a reader
// never blocks on it or reads without end.
#pragma once

class ReadOnlyFile {
public:
    explicit ReadOnlyFile(const char* pszPath);
    ~ReadOnlyFile();
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

    bool isOpen() const { return m_fd >= 0; }
    int fd() const { return m_fd; }

private:
    int m_fd = -1;
};

// How a file name is shown in messages, also when there is none.
inline const char* displayName(const char* pszPath) {
    return pszPath ? pszPath : "(null)";
}
