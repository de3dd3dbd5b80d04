// The line reader every loader is built on, the base file listing, and the
// insertion of a missing element, which must never leave a damaged file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "JSONFile.h"
#include "ScratchFiles.h"

namespace {

using Lines = std::vector<std::pair<int, std::string>>;

class JSONFileTest : public ::testing::Test {
protected:
    // Every readJSON result for the file, with the text of each line read.
    Lines readAllLines(const std::string& path, uint32_t uLen) {
        Lines lines;
        const int fd = open(path.c_str(), O_RDONLY);
        std::vector<char> buffer(uLen);
        do lines.emplace_back(m_file.readJSON(fd, buffer.data(), uLen), buffer.data());
        while (lines.back().first != -1);
        close(fd);
        return lines;
    }

    ScratchDirectory m_dir;
    JSONFile m_file;
};

TEST_F(JSONFileTest, ReadJSONGivesEachLineWithItsLengthAndTheEndAsMinusOne) {
    const std::string x127(127, 'x');
    const struct {
        std::string content;
        uint32_t uLen;
        Lines lines;
    } cases[] = {
        // LF, CR LF and a 0xFF byte end a line; an empty line gives 0.
        {"a\nbc\r\n\r\nd\377e\n", 128, {{1, "a"}, {2, "bc"}, {0, ""}, {1, "d"}, {1, "e"}, {-1, ""}}},
        {"a\ntail", 128, {{1, "a"}, {-1, "tail"}}},  // the last line is delivered with the end
        {"", 128, {{-1, ""}}},
        {x127 + "REST-OF-LINE\r\nnext\r\n", 128, {{127, x127}, {4, "next"}, {-1, ""}}},
        {"abcdef\n", 4, {{3, "abc"}, {-1, ""}}},  // the buffer's size less one
    };
    for (const auto& c : cases)
        EXPECT_EQ(readAllLines(m_dir.write("f", c.content), c.uLen), c.lines) << c.content;
    for (const int fd : {-1, open(m_dir.path().c_str(), O_RDONLY)}) {  // no file, a directory
        char szLine[128] = "junk";
        EXPECT_EQ(m_file.readJSON(fd, szLine, sizeof(szLine)), -1);
        EXPECT_STREQ(szLine, "");
        if (fd >= 0) close(fd);
    }
}

TEST_F(JSONFileTest, LoadListsTheFileOrSaysItCannotOpenIt) {
    const std::string path = m_dir.write("list.json", "{\r\n  \"a\": 1\r\n}\r\n");
    const std::string listing = "JSONFile::load: " + path + "\r\n{\r\n  \"a\": 1\r\n}\r\n";
    EXPECT_EQ(captureStdout([&] { m_file.load(path.c_str()); }), listing);
    EXPECT_EQ(captureStdout([&] { m_file.update(path.c_str()); }), listing);
    for (const std::string& bad : {m_dir.path("missing.json"), m_dir.path()})
        EXPECT_EQ(captureStdout([&] { m_file.load(bad.c_str()); }), "Couldn't open file: " + bad + "\r\n");
}

TEST_F(JSONFileTest, AddFieldInsertsBeforeTheClosingBracketOrLeavesTheFileAlone) {
    const std::string F = "\n      { \"name\": \"Field\", \"value\": ";
    const struct {
        std::string before, field, value, after;  // after "": unchanged
    } cases[] = {
        {"{ \"config\": [\n] }\n", "Field", "5", "{ \"config\": [\n" + F + "5 }] }\n"},  // no comma
        // A listed array gets one, after whatever white space stood there.
        {"{ \"config\": [\n  { \"name\": \"A\", \"value\": 1 }\n] }\n", "Field", "5.0",
         "{ \"config\": [\n  { \"name\": \"A\", \"value\": 1 }\n," + F + "5.0 }] }\n"},
        // Only numbers without sign stand unquoted.
        {"\"config\": []", "Field", "-5", "\"config\": [" + F + "\"-5\" }]"},
        {"\"config\": []", "Field", "true", "\"config\": [" + F + "\"true\" }]"},
        // The field named only after the array (in a later section) is still missing.
        {"\"config\": [], \"other\": [\"Field\"]", "Field", "1",
         "\"config\": [" + F + "1 }], \"other\": [\"Field\"]"},
        {"\"config\": [ { \"name\": \"Field\", \"value\": 1 } ]", "Field", "2", ""},  // present
        {"\"config\": [ 1, 2", "Field", "2", ""},                                     // unbalanced
        {"\"config\": 5", "Field", "2", ""},                                          // no array
        {"\"other\": []", "Field", "2", ""},                                          // no section
        {"", "Field", "2", ""},
        {"\"config\": []", std::string(240, 'F'), "1", ""},  // does not fit
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.before);
        const std::string path = m_dir.write("cfg.json", c.before);
        const std::string output = captureStdout(
            [&] { m_file.addFieldIfMissing(path.c_str(), "\"config\"", c.field.c_str(), c.value.c_str()); });
        EXPECT_EQ(readFile(path), c.after.empty() ? c.before : c.after);
        EXPECT_EQ(output, c.field.size() > 5 ? "Field too long to add: " + c.field + "\r\n" : "");
    }
    const std::string missing = m_dir.path("absent.json");
    EXPECT_EQ(captureStdout([&] { m_file.addFieldIfMissing(missing.c_str(), "\"config\"", "Field", "2"); }),
              "Couldn't open file: " + missing + "\r\n");
    EXPECT_EQ(access(missing.c_str(), F_OK), -1);
}

// The file is replaced whole where a link points, with its permissions, or
// not at all. A save killed half-way leaves its temporary file behind; the
// next write of the target removes those of processes that no longer run, and
// nothing else.
TEST_F(JSONFileTest, AddFieldReplacesTheFileWholeOrNotAtAll) {
    const std::string head = "\"config\": [1" + std::string(300, ' '), content = head + "]";
    const std::string target = m_dir.write("real.json", content), link = m_dir.path("link.json");
    ASSERT_EQ(chmod(target.c_str(), 0640), 0);
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
    const pid_t ended = fork();
    if (ended == 0) _exit(0);
    ASSERT_TRUE(ended > 0 && waitpid(ended, nullptr, 0) == ended);
    const std::string tmp = "real.json.tmp", e = std::to_string(ended);
    std::vector<std::string> kept = {"link.json", "real.json",        tmp + std::to_string(getpid()) + ".7",
                                     tmp + "1.0", tmp + e + ".1.bak", tmp + e,
                                     tmp + "x.1", tmp + e + ".01",    "other.json.tmp" + e + ".1"};
    for (const std::string& name : kept)
        if (name != "real.json" && name != "link.json") m_dir.write(name, "x");
    m_dir.write(tmp + e + ".0", "x");
    m_dir.write(tmp + e + ".41", "x");
    std::string output;
    withFileSizeLimit(100, [&] {
        output = captureStdout([&] { m_file.addFieldIfMissing(link.c_str(), "\"config\"", "Field", "1"); });
    });
    EXPECT_EQ(output, "Couldn't write file: " + link + "\r\n");
    EXPECT_EQ(readFile(target), content);
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(m_dir.entries(), kept);

    m_file.addFieldIfMissing(link.c_str(), "\"config\"", "Field", "1");
    struct stat linkStat {};
    struct stat targetStat {};
    EXPECT_TRUE(lstat(link.c_str(), &linkStat) == 0 && S_ISLNK(linkStat.st_mode));
    EXPECT_TRUE(stat(target.c_str(), &targetStat) == 0 && (targetStat.st_mode & 0777) == 0640u);
    EXPECT_EQ(readFile(target), head + ",\n      { \"name\": \"Field\", \"value\": 1 }]");
    EXPECT_EQ(m_dir.entries(), kept);
}

}  // namespace
