// The line reader every loader is built on, and the insertion of a missing
// element, which must never leave a damaged file.
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

class JSONFileTest : public ::testing::Test {
protected:
    std::string addField(const std::string& path, const std::string& field, const char* pszValue) {
        return captureStdout(
            [&] { m_file.addFieldIfMissing(path.c_str(), "\"config\"", field.c_str(), pszValue); });
    }

    ScratchDirectory m_dir;
    JSONFile m_file;
};

// Each line with its length, the end as -1.
TEST_F(JSONFileTest, ReadJSONGivesEachLineWithItsLengthAndTheEndAsMinusOne) {
    using Lines = std::vector<std::pair<int, std::string>>;
    const std::string x127(127, 'x');
    const std::pair<std::string, Lines> cases[] = {
        // LF, CR LF and a 0xFF byte end a line; an empty line gives 0.
        {"a\nbc\r\n\r\nd\377e\n", {{1, "a"}, {2, "bc"}, {0, ""}, {1, "d"}, {1, "e"}, {-1, ""}}},
        {"a\ntail", {{1, "a"}, {-1, "tail"}}},  // the last line is delivered with the end
        {x127 + "REST-OF-LINE\r\nnext\r\n", {{127, x127}, {4, "next"}, {-1, ""}}},  // the buffer less one
    };
    for (const auto& [content, expected] : cases) {
        const int fd = open(m_dir.write("f", content).c_str(), O_RDONLY);
        char szLine[128];
        Lines lines;
        do lines.emplace_back(m_file.readJSON(fd, szLine, sizeof(szLine)), szLine);
        while (lines.back().first != -1);
        close(fd);
        EXPECT_EQ(lines, expected) << content;
    }
}

TEST_F(JSONFileTest, AddFieldInsertsBeforeTheClosingBracketOrLeavesTheFileAlone) {
    const std::string F = "\n      { \"name\": \"Field\", \"value\": ";
    const struct {
        std::string before;
        const char* pszValue;
        std::string after;  // "": unchanged
    } cases[] = {
        {"{ \"config\": [\n] }\n", "5", "{ \"config\": [\n" + F + "5 }] }\n"},  // no comma
        // A listed array gets one, after whatever white space stood there.
        {"{ \"config\": [\n  { \"name\": \"A\", \"value\": 1 }\n] }\n", "5.0",
         "{ \"config\": [\n  { \"name\": \"A\", \"value\": 1 }\n," + F + "5.0 }] }\n"},
        {"\"config\": []", "-5", "\"config\": [" + F + "\"-5\" }]"},  // only numbers without sign unquoted
        // The field named only after the array (in a later section) is still missing.
        {"\"config\": [], \"other\": [\"Field\"]", "1", "\"config\": [" + F + "1 }], \"other\": [\"Field\"]"},
        {"\"config\": [ { \"name\": \"Field\", \"value\": 1 } ]", "2", ""},  // present
        {"\"config\": [ 1, 2", "2", ""},                                     // unbalanced
        {"\"other\": []", "2", ""},                                          // no section
    };
    for (const auto& c : cases) {
        const std::string path = m_dir.write("cfg.json", c.before);
        EXPECT_EQ(addField(path, "Field", c.pszValue), "") << c.before;
        EXPECT_EQ(readFile(path), c.after.empty() ? c.before : c.after) << c.before;
    }
    const std::string path = m_dir.write("cfg.json", "\"config\": []"), longName(240, 'F');
    EXPECT_EQ(addField(path, longName, "1"), "Field too long to add: " + longName + "\r\n");
    EXPECT_EQ(readFile(path), "\"config\": []");
    addField(m_dir.path("absent.json"), "Field", "2");
    EXPECT_EQ(access(m_dir.path("absent.json").c_str(), F_OK), -1);
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
    std::vector<std::string> kept = {tmp + std::to_string(getpid()) + ".7",
                                     tmp + "1.0",
                                     tmp + e + ".1.bak",
                                     tmp + e,
                                     tmp + "x.1",
                                     tmp + e + ".01",
                                     "other.json.tmp" + e + ".1"};
    for (const std::string& name : kept) m_dir.write(name, "x");
    m_dir.write(tmp + e + ".0", "x");
    m_dir.write(tmp + e + ".41", "x");
    kept.insert(kept.end(), {"link.json", "real.json"});
    std::sort(kept.begin(), kept.end());
    std::string output;
    withFileSizeLimit(100, [&] { output = addField(link, "Field", "1"); });
    EXPECT_EQ(output, "Couldn't write file: " + link + "\r\n");
    EXPECT_EQ(readFile(target), content);
    EXPECT_EQ(m_dir.entries(), kept);

    addField(link, "Field", "1");
    struct stat linkStat {};
    struct stat targetStat {};
    EXPECT_TRUE(lstat(link.c_str(), &linkStat) == 0 && S_ISLNK(linkStat.st_mode));
    EXPECT_TRUE(stat(target.c_str(), &targetStat) == 0 && (targetStat.st_mode & 0777) == 0640u);
    EXPECT_EQ(readFile(target), head + ",\n      { \"name\": \"Field\", \"value\": 1 }]");
    EXPECT_EQ(m_dir.entries(), kept);
}

}  // namespace
