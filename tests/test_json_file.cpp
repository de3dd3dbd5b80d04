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

#include "AtomicFileWriter.h"
#include "JSONFile.h"
#include "ScratchFiles.h"

namespace {

// Every readJSON result for the file, with the text of each line read.
std::vector<std::pair<int, std::string>> readAllLines(const std::string& path, uint32_t uLen = 128) {
    std::vector<std::pair<int, std::string>> lines;
    const int fd = open(path.c_str(), O_RDONLY);
    EXPECT_GE(fd, 0);
    JSONFile file;
    std::vector<char> buffer(uLen);
    for (;;) {
        const int nRead = file.readJSON(fd, buffer.data(), uLen);
        lines.emplace_back(nRead, buffer.data());
        if (nRead == -1) break;
    }
    close(fd);
    return lines;
}

using Lines = std::vector<std::pair<int, std::string>>;

class JSONFileTest : public ::testing::Test {
protected:
    ScratchDirectory m_dir;
    JSONFile m_file;
};

TEST_F(JSONFileTest, CrLfAndLfGiveTheSameLines) {
    const Lines expected = {{1, "a"}, {2, "bc"}, {-1, ""}};
    EXPECT_EQ(readAllLines(m_dir.write("lf", "a\nbc\n")), expected);
    EXPECT_EQ(readAllLines(m_dir.write("crlf", "a\r\nbc\r\n")), expected);
    // A 0xFF byte ends a line too.
    EXPECT_EQ(readAllLines(m_dir.write("ff",
                                       "a\xFF"
                                       "bc\n")),
              expected);
}

TEST_F(JSONFileTest, EmptyCrLfLineGivesZero) {
    const Lines expected = {{1, "a"}, {0, ""}, {1, "b"}, {-1, ""}};
    EXPECT_EQ(readAllLines(m_dir.write("f", "a\r\n\r\nb\r\n")), expected);
}

TEST_F(JSONFileTest, LastLineWithoutLineEndIsDeliveredButReportsTheEnd) {
    const Lines expected = {{1, "a"}, {-1, "tail"}};
    EXPECT_EQ(readAllLines(m_dir.write("f", "a\ntail")), expected);
    EXPECT_EQ(readAllLines(m_dir.write("empty", "")), (Lines{{-1, ""}}));
}

TEST_F(JSONFileTest, LongLineKeepsItsFirst127CharactersAndSkipsTheRest) {
    const std::string longLine = std::string(127, 'x') + "REST-OF-LINE";
    const Lines expected = {{127, std::string(127, 'x')}, {4, "next"}, {-1, ""}};
    EXPECT_EQ(readAllLines(m_dir.write("f", longLine + "\r\nnext\r\n")), expected);
    // A smaller buffer holds its size less one.
    const Lines small = {{3, "abc"}, {-1, ""}};
    EXPECT_EQ(readAllLines(m_dir.write("g", "abcdef\n"), 4), small);
}

TEST_F(JSONFileTest, ReadJSONReportsTheEndOnABadDescriptorOrADirectory) {
    char szLine[128] = "junk";
    EXPECT_EQ(m_file.readJSON(-1, szLine, sizeof(szLine)), -1);
    EXPECT_STREQ(szLine, "");
    const int fd = open(m_dir.path().c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(m_file.readJSON(fd, szLine, sizeof(szLine)), -1);
    close(fd);
}

TEST_F(JSONFileTest, LoadListsTheFileOrSaysItCannotOpenIt) {
    const std::string path = m_dir.write("list.json", "{\r\n  \"a\": 1\r\n}\r\n");
    EXPECT_EQ(captureStdout([&] { m_file.load(path.c_str()); }),
              "JSONFile::load: " + path + "\r\n{\r\n  \"a\": 1\r\n}\r\n");
    EXPECT_EQ(captureStdout([&] { m_file.update(path.c_str()); }),
              "JSONFile::load: " + path + "\r\n{\r\n  \"a\": 1\r\n}\r\n");
    const std::string missing = m_dir.path("missing.json");
    EXPECT_EQ(captureStdout([&] { m_file.load(missing.c_str()); }),
              "Couldn't open file: " + missing + "\r\n");
    // A directory where a file is expected cannot be opened as one.
    EXPECT_EQ(captureStdout([&] { m_file.load(m_dir.path().c_str()); }),
              "Couldn't open file: " + m_dir.path() + "\r\n");
}

TEST_F(JSONFileTest, AddFieldInsertsBeforeTheClosingBracket) {
    struct Case {
        const char* pszBefore;
        const char* pszValue;
        const char* pszAfter;
    };
    const Case cases[] = {
        // An empty array gets no comma.
        {"{ \"config\": [\n] }\n", "5",
         "{ \"config\": [\n\n      { \"name\": \"Field\", \"value\": 5 }] }\n"},
        // A listed array gets one, after whatever white space stood there.
        {"{ \"config\": [\n  { \"name\": \"A\", \"value\": 1 }\n] }\n", "5.0",
         "{ \"config\": [\n  { \"name\": \"A\", \"value\": 1 }\n,\n      { \"name\": \"Field\", \"value\": "
         "5.0 }] "
         "}\n"},
        // Only numbers without sign stand unquoted.
        {"\"config\": []", "-5", "\"config\": [\n      { \"name\": \"Field\", \"value\": \"-5\" }]"},
        {"\"config\": []", "true", "\"config\": [\n      { \"name\": \"Field\", \"value\": \"true\" }]"},
        {"\"config\": []", "word", "\"config\": [\n      { \"name\": \"Field\", \"value\": \"word\" }]"},
        // The field named only after the array (in a later section) is still missing.
        {"\"config\": [], \"other\": [\"Field\"]", "1",
         "\"config\": [\n      { \"name\": \"Field\", \"value\": 1 }], \"other\": [\"Field\"]"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszBefore);
        const std::string path = m_dir.write("cfg.json", c.pszBefore);
        m_file.addFieldIfMissing(path.c_str(), "\"config\"", "Field", c.pszValue);
        EXPECT_EQ(readFile(path), c.pszAfter);
    }
}

TEST_F(JSONFileTest, AddFieldLeavesTheFileAloneWhenThereIsNothingToDo) {
    struct Case {
        const char* pszContent;
        const char* pszSection;
    };
    const Case cases[] = {
        {"\"config\": [ { \"name\": \"Field\", \"value\": 1 } ]", "\"config\""},  // present
        {"\"config\": [ 1, 2", "\"config\""},                                     // unbalanced
        {"\"config\": 5", "\"config\""},                                          // no array
        {"\"other\": []", "\"config\""},                                          // no section
        {"", "\"config\""},                                                       // empty
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszContent);
        const std::string path = m_dir.write("cfg.json", c.pszContent);
        m_file.addFieldIfMissing(path.c_str(), c.pszSection, "Field", "2");
        EXPECT_EQ(readFile(path), c.pszContent);
    }
    const std::string missing = m_dir.path("absent.json");
    EXPECT_EQ(captureStdout([&] { m_file.addFieldIfMissing(missing.c_str(), "\"config\"", "Field", "2"); }),
              "Couldn't open file: " + missing + "\r\n");
    EXPECT_EQ(access(missing.c_str(), F_OK), -1);
}

TEST_F(JSONFileTest, AddFieldWritesNothingWhenTheElementDoesNotFit) {
    const std::string content = "\"config\": []";
    const std::string path = m_dir.write("cfg.json", content);
    const std::string field(240, 'F');
    EXPECT_EQ(
        captureStdout([&] { m_file.addFieldIfMissing(path.c_str(), "\"config\"", field.c_str(), "1"); }),
        "Field too long to add: " + field + "\r\n");
    EXPECT_EQ(readFile(path), content);
}

TEST_F(JSONFileTest, AddFieldKeepsThePreviousFileWhenTheWriteFails) {
    const std::string content = "{ \"config\": [\n" + std::string(300, ' ') + "\n] }\n";
    const std::string path = m_dir.write("cfg.json", content);
    std::string output;
    withFileSizeLimit(100, [&] {
        output = captureStdout([&] { m_file.addFieldIfMissing(path.c_str(), "\"config\"", "Field", "1"); });
    });
    EXPECT_EQ(output, "Couldn't write file: " + path + "\r\n");
    EXPECT_EQ(readFile(path), content);
    EXPECT_EQ(m_dir.entries(), std::vector<std::string>{"cfg.json"});  // no temporary file left
}

TEST_F(JSONFileTest, AddFieldKeepsPermissionsAndSymbolicLinks) {
    const std::string target = m_dir.write("real.json", "\"config\": []");
    ASSERT_EQ(chmod(target.c_str(), 0640), 0);
    const std::string link = m_dir.path("link.json");
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);

    m_file.addFieldIfMissing(link.c_str(), "\"config\"", "Field", "1");

    struct stat linkStat {};
    ASSERT_EQ(lstat(link.c_str(), &linkStat), 0);
    EXPECT_TRUE(S_ISLNK(linkStat.st_mode));
    struct stat targetStat {};
    ASSERT_EQ(stat(target.c_str(), &targetStat), 0);
    EXPECT_EQ(targetStat.st_mode & 0777, 0640u);
    EXPECT_EQ(readFile(target), "\"config\": [\n      { \"name\": \"Field\", \"value\": 1 }]");
}

// A save killed half-way leaves its temporary file behind; the next write of
// the target removes those of processes that no longer run, and nothing else.
TEST_F(JSONFileTest, WriterRemovesTheTemporariesOfEndedProcessesOnly) {
    const pid_t ended = fork();
    if (ended == 0) _exit(0);
    ASSERT_GT(ended, 0);
    ASSERT_EQ(waitpid(ended, nullptr, 0), ended);
    const std::string target = m_dir.write("cal.json", "old"), tmp = "cal.json.tmp",
                      e = std::to_string(ended);
    std::vector<std::string> kept = {"cal.json",
                                     tmp + std::to_string(getpid()) + ".7",
                                     tmp + "1.0",
                                     tmp + e + ".1.bak",
                                     tmp + e,
                                     tmp + "x.1",
                                     "other.json.tmp" + e + ".1"};
    for (const std::string& name : kept) m_dir.write(name, "x");
    m_dir.write(tmp + e + ".0", "x");
    m_dir.write(tmp + e + ".41", "x");
    AtomicFileWriter writer(target.c_str());
    ASSERT_TRUE(writer.print("new") && writer.commit());
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(m_dir.entries(), kept);
}

}  // namespace
