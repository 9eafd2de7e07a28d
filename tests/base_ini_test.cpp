#include "base/base_ini.h"

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/temp_dir.h"

namespace {

using olva_test::readFile;
using olva_test::TempDir;
using olva_test::writeFile;

class IniTest : public ::testing::Test {
protected:
    TempDir dir_;
    std::string path_ = dir_.file("config.ini");

    std::string read(const char* section, const char* key)
    {
        char value[INI_VALUE_SIZE] = "untouched";
        if (readStringValue(section, key, value, path_.c_str()) != 0)
            return "<missing>";
        return value;
    }
};

TEST_F(IniTest, ReadsValuesAsTheFileHoldsThem)
{
    struct Case {
        const char* name;
        const char* file;
        const char* section;
        const char* key;
        const char* expected;
    };
    const Case cases[] = {
        {"crlf", "[CONFIG]\r\nHttpPort=8054\r\n", "CONFIG", "HttpPort", "8054"},
        {"lf only, no final newline", "[CONFIG]\nHttpPort=8054", "CONFIG", "HttpPort", "8054"},
        {"blanks in the value stay", "[device]\r\nname= a b \r\n", "device", "name", " a b "},
        {"blanks around the key", "[device]\r\n  tone_time =80\r\n", "device", "tone_time", "80"},
        {"last match wins", "[device]\r\nk=1\r\nk=2\r\n", "device", "k", "2"},
        {"longer key stays apart", "[device]\r\ntone_time=80\r\ntone_time_max=5\r\n", "device",
         "tone_time", "80"},
        {"key is not a prefix", "[CONFIG]\r\nssl_cert_filename=cert.pem\r\n", "CONFIG", "ssl",
         "<missing>"},
        {"section ends at next header", "[a]\r\nx=1\r\n[b]\r\ny=2\r\n", "a", "y", "<missing>"},
        {"value in the second section", "[a]\r\nx=1\r\n[b]\r\nx=2\r\n", "b", "x", "2"},
        {"header must match whole", "[CONFIGX]\r\nk=1\r\n[CONFIG]\r\nk=2\r\n", "CONFIG", "k", "2"},
        {"comment lines passed over", "; top\r\n[a]\r\n;k=0\r\nk=1\r\n", "a", "k", "1"},
        {"bare key stops the search", "[a]\r\nk=1\r\nk\r\nk=2\r\n", "a", "k", "1"},
        {"bare key before any entry", "[a]\r\nk\r\nk=2\r\n", "a", "k", "<missing>"},
        {"empty value", "[a]\r\nk=\r\n", "a", "k", ""},
        {"no such section", "[a]\r\nk=1\r\n", "b", "k", "<missing>"},
        {"value holds '='", "[a]\r\nurl=http://x/?a=b\r\n", "a", "url", "http://x/?a=b"},
    };
    for (const Case& c : cases) {
        writeFile(path_, c.file);
        EXPECT_EQ(read(c.section, c.key), c.expected) << c.name;
    }
}

TEST_F(IniTest, MissingFileAndNullArgumentsReadAsMissing)
{
    char value[INI_VALUE_SIZE];
    EXPECT_EQ(readStringValue("CONFIG", "HttpPort", value, path_.c_str()), -1);
    EXPECT_EQ(readIntValue("CONFIG", "HttpPort", path_.c_str()), -1);
    writeFile(path_, "[CONFIG]\r\nHttpPort=8054\r\n");
    EXPECT_EQ(readStringValue(nullptr, "HttpPort", value, path_.c_str()), -1);
    EXPECT_EQ(readStringValue("CONFIG", nullptr, value, path_.c_str()), -1);
    EXPECT_EQ(readStringValue("CONFIG", "HttpPort", nullptr, path_.c_str()), -1);
    EXPECT_EQ(readStringValue("CONFIG", "HttpPort", value, nullptr), -1);
}

TEST_F(IniTest, ReadsIntegersLikeTheyWereWritten)
{
    struct Case {
        const char* stored;
        int expected;
    };
    const Case cases[] = {
        {"8054", 8054}, {"0   ", 0},        {"  42", 42},         {"-1", -1},
        {"12ab", 12},   {"abc", 0},         {"", 0},              {"-35  ", -35},
        {"99999999999", 2147483647},
    };
    for (const Case& c : cases) {
        writeFile(path_, std::string("[device]\r\nk=") + c.stored + "\r\n");
        EXPECT_EQ(readIntValue("device", "k", path_.c_str()), c.expected) << c.stored;
    }
}

TEST_F(IniTest, LongValueIsCutToTheBuffer)
{
    writeFile(path_, "[a]\r\nk=" + std::string(300, 'v') + "\r\n");
    char value[INI_VALUE_SIZE];
    ASSERT_EQ(readStringValue("a", "k", value, path_.c_str()), 0);
    EXPECT_EQ(std::string(value), std::string(255, 'v'));
    char small[4];
    ASSERT_EQ(readStringValue("a", "k", small, path_.c_str(), sizeof small), 0);
    EXPECT_EQ(std::string(small), "vvv");
}

TEST_F(IniTest, WritesPlaceTheEntryAndKeepEverythingElse)
{
    struct Case {
        const char* name;
        const char* before;  // nullptr: no file
        const char* section;
        const char* key;
        const char* value;
        const char* after;
    };
    const Case cases[] = {
        {"creates the file", nullptr, "CONFIG", "HttpPort", "8054",
         "[CONFIG]\r\nHttpPort=8054\r\n"},
        {"appends a missing section", "[a]\r\nx=1\r\n", "b", "y", "2",
         "[a]\r\nx=1\r\n[b]\r\ny=2\r\n"},
        {"replaces in place", "[a]\r\nx=1\r\ny=2\r\n", "a", "x", "9", "[a]\r\nx=9\r\ny=2\r\n"},
        {"replaces every line of the key", "[a]\r\nx=1\r\nx=2\r\n", "a", "x", "3",
         "[a]\r\nx=3\r\nx=3\r\n"},
        {"ssl stays apart from ssl_cert_filename",
         "[CONFIG]\r\nssl_cert_filename=cert.pem\r\nssl=0\r\n", "CONFIG", "ssl", "1",
         "[CONFIG]\r\nssl_cert_filename=cert.pem\r\nssl=1\r\n"},
        {"new key goes to the section's end", "[a]\r\nx=1\r\n\r\n[b]\r\nx=2\r\n", "a", "y", "5",
         "[a]\r\nx=1\r\ny=5\r\n\r\n[b]\r\nx=2\r\n"},
        {"new key in the last section", "[a]\r\nx=1\r\n", "a", "y", "5", "[a]\r\nx=1\r\ny=5\r\n"},
        {"other sections untouched", "[a]\r\nx=1\r\n[b]\r\nx=2\r\n", "b", "x", "7",
         "[a]\r\nx=1\r\n[b]\r\nx=7\r\n"},
        {"header match is exact", "[CONFIGX]\r\nk=1\r\n", "CONFIG", "k", "2",
         "[CONFIGX]\r\nk=1\r\n[CONFIG]\r\nk=2\r\n"},
        {"lf-only lines stay as they are", "[a]\nx=1\n;c\n", "a", "x", "2",
         "[a]\nx=2\r\n;c\n"},
        {"no final newline", "[a]\r\nx=1", "a", "y", "2", "[a]\r\nx=1\r\ny=2\r\n"},
        {"empty file", "", "a", "y", "2", "[a]\r\ny=2\r\n"},
    };
    for (const Case& c : cases) {
        std::remove(path_.c_str());
        if (c.before)
            writeFile(path_, c.before);
        EXPECT_EQ(writeStringVlaue(c.section, c.key, c.value, path_.c_str()), 0) << c.name;
        EXPECT_EQ(readFile(path_), c.after) << c.name;
        EXPECT_EQ(read(c.section, c.key), c.value) << c.name;
    }
}

// The replaced line's old text lived on the heap and the new entry does not
// fit its buffer: the writer must not look at the old text afterwards (the
// sanitizer build stops here if it does).
TEST_F(IniTest, ReplacingALineWithALongerEntryReadsNoFreedText)
{
    writeFile(path_, "[CONFIG]\r\nenable_ring_buzzer=1   \r\nring_vol_alt_thresh=1   \r\n");
    ASSERT_EQ(writeIntValue("CONFIG", "enable_ring_buzzer", -2147483647 - 1, path_.c_str()), 0);
    ASSERT_EQ(writeIntValue("CONFIG", "ring_vol_alt_thresh", -2147483647 - 1, path_.c_str()), 0);
    EXPECT_EQ(readFile(path_), "[CONFIG]\r\nenable_ring_buzzer=-2147483648\r\n"
                               "ring_vol_alt_thresh=-2147483648\r\n");
    EXPECT_EQ(readIntValue("CONFIG", "enable_ring_buzzer", path_.c_str()), -2147483647 - 1);
}

TEST_F(IniTest, WriteIntPadsToFourCharactersAndReadsBack)
{
    ASSERT_EQ(writeIntValue("device", "ring_on", 0, path_.c_str()), 0);
    ASSERT_EQ(writeIntValue("device", "HttpPort", 8054, path_.c_str()), 0);
    ASSERT_EQ(writeIntValue("device", "neg", -1, path_.c_str()), 0);
    EXPECT_EQ(readFile(path_), "[device]\r\nring_on=0   \r\nHttpPort=8054\r\nneg=-1  \r\n");
    EXPECT_EQ(readIntValue("device", "ring_on", path_.c_str()), 0);
    EXPECT_EQ(readIntValue("device", "HttpPort", path_.c_str()), 8054);
    EXPECT_EQ(readIntValue("device", "neg", path_.c_str()), -1);
}

TEST_F(IniTest, RefusesWhatCannotBeWrittenSafely)
{
    writeFile(path_, "[a]\r\nx=1\r\n");
    EXPECT_EQ(writeStringVlaue(nullptr, "k", "v", path_.c_str()), -1);
    EXPECT_EQ(writeStringVlaue("a", nullptr, "v", path_.c_str()), -1);
    EXPECT_EQ(writeStringVlaue("a", "k", nullptr, path_.c_str()), -1);
    EXPECT_EQ(writeStringVlaue("a", "k", "v", nullptr), -1);
    EXPECT_EQ(writeStringVlaue("a", "k", "two\r\nlines", path_.c_str()), -1);
    EXPECT_EQ(writeStringVlaue("a", "k=x", "v", path_.c_str()), -1);
    EXPECT_EQ(writeStringVlaue("a", "k", std::string(600, 'v').c_str(), path_.c_str()), -1);
    EXPECT_EQ(readFile(path_), "[a]\r\nx=1\r\n");
}

TEST_F(IniTest, FailedWriteReportsFailureAndLeavesTheFileWhole)
{
    const std::string locked = dir_.file("locked");
    ASSERT_EQ(mkdir(locked.c_str(), 0755), 0);
    const std::string path = locked + "/olva.ini";
    writeFile(path, "[device]\r\nk=1\r\n");
    ASSERT_EQ(chmod(locked.c_str(), 0555), 0);
    if (access(locked.c_str(), W_OK) == 0) {
        chmod(locked.c_str(), 0755);
        GTEST_SKIP() << "running as a user who can write into read-only directories";
    }
    EXPECT_EQ(writeIntValue("device", "k", 2, path.c_str()), -1);
    chmod(locked.c_str(), 0755);
    EXPECT_EQ(readFile(path), "[device]\r\nk=1\r\n");
}

TEST_F(IniTest, MissingDirectoryIsAFailure)
{
    EXPECT_EQ(writeIntValue("device", "k", 2, dir_.file("no/such/olva.ini").c_str()), -1);
}

TEST_F(IniTest, KeepsTheFilesPermissions)
{
    writeFile(path_, "[a]\r\nx=1\r\n");
    ASSERT_EQ(chmod(path_.c_str(), 0600), 0);
    ASSERT_EQ(writeIntValue("a", "x", 2, path_.c_str()), 0);
    struct stat st {};
    ASSERT_EQ(stat(path_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(IniTest, ConcurrentWritersLoseNothing)
{
    constexpr int kThreads = 8;
    constexpr int kWrites = 20;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([this, t] {
            const std::string key = "key" + std::to_string(t);
            for (int i = 0; i < kWrites; ++i)
                writeIntValue("device", key.c_str(), i, path_.c_str());
        });
    for (auto& thread : threads)
        thread.join();
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(readIntValue("device", ("key" + std::to_string(t)).c_str(), path_.c_str()),
                  kWrites - 1);
}

}  // namespace
