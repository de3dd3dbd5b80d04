// The line reader and the base file load on arbitrary content (first byte: the
// line buffer size).
#include <fcntl.h>
#include <unistd.h>

#include <cstring>

#include "FuzzInput.h"
#include "JSONFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const uint32_t uLen = size > 0 ? data[0] : JSONFile::LINE_BUFFER_SIZE;
    const std::string content = size > 0 ? fuzz::text(data + 1, size - 1) : std::string();
    const std::string path = fuzz::scratchFile("lines.json", content);

    JSONFile file;
    const int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) abort();
    std::vector<char> line(uLen > 0 ? uLen : 1);
    size_t nCalls = 0;
    for (int16_t nRead; (nRead = file.readJSON(fd, line.data(), uLen)) != -1;) {
        fuzz::check(nRead >= 0 && static_cast<uint32_t>(nRead) < uLen, "a line fits its buffer");
        fuzz::check(strlen(line.data()) <= static_cast<size_t>(nRead), "the line is terminated");
        fuzz::check(++nCalls <= content.size(), "every line consumes input");
    }
    close(fd);
    file.load(path.c_str());
    file.update(path.c_str());
    return 0;
}
