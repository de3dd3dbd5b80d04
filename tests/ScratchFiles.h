// Files for the configuration tests: a private directory removed with its
// contents at the end of the test, and the module's standard output captured.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

class ScratchDirectory {
public:
    ScratchDirectory();
    ~ScratchDirectory();
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;

    const std::string& path() const { return m_path; }
    std::string path(const std::string& name) const { return m_path + "/" + name; }
    // Writes the file (bytes as given) and returns its path.
    std::string write(const std::string& name, const std::string& content) const;
    std::string read(const std::string& name) const;
    // Names of the entries, sorted.
    std::vector<std::string> entries() const;

private:
    std::string m_path;
};

// A scratch directory that is the application directory (QM_APP_DIR) while it lives.
class ScratchAppDirectory : public ScratchDirectory {
public:
    ScratchAppDirectory() { setenv("QM_APP_DIR", path().c_str(), 1); }
    ~ScratchAppDirectory() { unsetenv("QM_APP_DIR"); }
};

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& content);

// What the code run by `action` printed on standard output.
template <typename Action>
std::string captureStdout(Action&& action) {
    fflush(stdout);
    testing::internal::CaptureStdout();
    action();
    fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

// Runs `action` with the file-size limit at `bytes`, so that every write past
// it fails (as on a full disk) without the process being signalled.
void withFileSizeLimit(size_t bytes, const std::function<void()>& action);
