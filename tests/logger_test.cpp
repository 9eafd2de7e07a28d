#include "base/logger.h"

#include <cstdlib>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/fake_clock.h"
#include "support/temp_dir.h"

namespace {

using olva_test::FakeClock;
using olva_test::localTimeMs;
using olva_test::readFile;
using olva_test::pathExists;
using olva_test::TempDir;

std::vector<std::string> lines_of(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

class LoggerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("TZ", "UTC", 1);
        tzset();
        clock_.setWallMs(localTimeMs(2026, 12, 10, 7, 5, 9, 42));
        logger_set_base_level(4);
        logger_enable(1);
        ASSERT_EQ(logger_init(dir_.path().c_str(), "olva"), 0);
    }

    void TearDown() override
    {
        logger_close();
        logger_set_max_file_size(logger_default_max_file_size());
    }

    std::string logFile(const char* date = "20261210") const
    {
        return logger_get_path() + "/olva-" + date + ".log";
    }

    // The records of today's file (logger_init writes one empty line first).
    std::vector<std::string> records(const char* date = "20261210") const
    {
        std::vector<std::string> result;
        for (const std::string& line : lines_of(readFile(logFile(date))))
            if (!line.empty())
                result.push_back(line);
        return result;
    }

    TempDir dir_;
    FakeClock clock_;
};

TEST_F(LoggerTest, WritesTheRecordLineWithTimeThreadLevelModuleAndTag)
{
    logger(4, "userver", "tag", "hello %d", 5);
    logger(1, "olva ", "line.1-3", "failed");

    EXPECT_EQ(logger_get_path(), dir_.path() + "/olva-log");
    const auto lines = records();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(std::regex_match(
        lines[0], std::regex(R"(2026-12-10 07:05:09:042 0x[0-9a-f]+       userver  tag      hello 5)")))
        << lines[0];
    EXPECT_TRUE(std::regex_match(
        lines[1], std::regex(R"(2026-12-10 07:05:09:042 0x[0-9a-f]+  err  olva     line.1-3 failed)")))
        << lines[1];
}

TEST_F(LoggerTest, LevelFilterFollowsTheBaseLevel)
{
    struct Case {
        int base;
        int level;
        bool written;
    };
    const Case cases[] = {
        {4, 4, true}, {4, 5, false}, {4, -1, true}, {4, 1, true},  {2, 3, false},
        {2, 2, true}, {0, 1, false}, {0, -1, true}, {-1, 0, false}, {-1, -1, true},
    };
    for (const Case& c : cases) {
        logger_set_base_level(c.base);
        logger(c.level, "m", "t", "base %d level %d", c.base, c.level);
    }
    logger_set_base_level(4);

    std::string expected;
    for (const Case& c : cases)
        if (c.written)
            expected += "base " + std::to_string(c.base) + " level " + std::to_string(c.level) + "\n";
    std::string got;
    for (const std::string& line : records())
        got += line.substr(line.find("base ")) + "\n";
    EXPECT_EQ(got, expected);
}

TEST_F(LoggerTest, ModuleAndTagColumnsAreLeftOutWhenNull)
{
    struct Case {
        const char* module;
        const char* tag;
        const char* after_level;  // what follows the level tag's blank
    };
    const Case cases[] = {
        {"userver", "", "userver  " "         " "text"},
        {nullptr, "tag", "tag      text"},
        {"mod", nullptr, "mod      text"},
        {nullptr, nullptr, "text"},
        {"verylongmodule", "t", "verylongmodule t        text"},
    };
    for (const Case& c : cases)
        logger(4, c.module, c.tag, "text");

    const auto lines = records();
    ASSERT_EQ(lines.size(), std::size(cases));
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string prefix_end = "      ";  // two blanks and the four-blank level tag
        const auto start = lines[i].find(prefix_end);
        ASSERT_NE(start, std::string::npos);
        EXPECT_EQ(lines[i].substr(start + prefix_end.size() + 1), cases[i].after_level) << i;
    }
}

// A text that does not fit one record is written cut, with a mark, so that
// no action goes unlogged for a long path; an empty text is not written.
TEST_F(LoggerTest, TextOf1022CharactersIsWrittenWholeLongerIsCutEmptyIsNot)
{
    const std::string fits(1022, 'a');
    const std::string too_long = "head " + std::string(5000, 'b') + " tail";
    logger(4, nullptr, nullptr, "%s", fits.c_str());
    logger(4, nullptr, nullptr, "%s", too_long.c_str());
    logger(4, nullptr, nullptr, "%s", "");

    const auto lines = records();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].substr(lines[0].size() - fits.size()), fits);
    const std::string cut = lines[1].substr(lines[1].find("head "));
    EXPECT_EQ(cut.size(), 1022u) << cut;
    const std::string mark = " [cut, 5010 characters in all]";
    ASSERT_TRUE(cut.ends_with(mark)) << cut.substr(900);
    EXPECT_EQ(cut.substr(0, cut.size() - mark.size()), too_long.substr(0, cut.size() - mark.size()));
}

// The cut never splits a character: the record stays UTF-8 for the browser
// that reads the log.
TEST_F(LoggerTest, CutTextEndsAtACharacterBoundary)
{
    const std::string mark = " [cut, 2000 characters in all]";
    for (std::size_t ascii = 0; ascii < 3; ++ascii) {
        SCOPED_TRACE(ascii);
        // "录" is three bytes: with 0, 1 or 2 ASCII bytes ahead of the
        // characters, the limit falls at each place inside one of them.
        std::string text(ascii, 'a');
        while (text.size() + 3 <= 2000)
            text += "录";
        text.append(2000 - text.size(), 'z');
        logger(4, nullptr, nullptr, "%s", text.c_str());
        const auto lines = records();
        ASSERT_EQ(lines.size(), ascii + 1) << "the record was not written";
        const std::string line = lines.back();
        ASSERT_TRUE(line.ends_with(mark)) << line.substr(line.size() - 60);
        const std::size_t body = line.find(std::string(ascii, 'a') + "录");
        ASSERT_NE(body, std::string::npos);
        const std::string cut = line.substr(body, line.size() - mark.size() - body);
        EXPECT_LE(cut.size() + mark.size(), 1022u);
        EXPECT_GT(cut.size() + mark.size(), 1019u);
        EXPECT_EQ(cut, text.substr(0, cut.size()));
        EXPECT_EQ((cut.size() - ascii) % 3, 0u) << "a character was split";
    }
}

TEST_F(LoggerTest, FirstRecordAfterMidnightGoesToTheNewDaysFile)
{
    clock_.setWallMs(localTimeMs(2026, 12, 31, 23, 59, 59, 500));
    logger(4, "m", "t", "old year");
    clock_.advanceMs(1000);
    logger(4, "m", "t", "new year");

    const auto old_day = records("20261231");
    const auto new_day = records("20270101");
    ASSERT_EQ(old_day.size(), 1u);
    ASSERT_EQ(new_day.size(), 1u);
    EXPECT_NE(old_day[0].find("old year"), std::string::npos);
    EXPECT_NE(new_day[0].find("2027-01-01 00:00:00:500"), std::string::npos);
    EXPECT_NE(new_day[0].find("new year"), std::string::npos);
}

TEST_F(LoggerTest, DaysFileStopsAtItsCapWithOneLineSayingSo)
{
    EXPECT_EQ(logger_default_max_file_size(), 100LL * 1024 * 1024);
    constexpr long long kCap = 4096;
    logger_set_max_file_size(kCap);
    const std::string filler(60, 'x');
    for (int i = 0; i < 100; ++i)
        logger(4, "m", "t", "record %03d %s", i, filler.c_str());
    logger_dump(4, "m", "t", filler.data(), filler.size());
    // A restart on the same day finds the file full and adds nothing.
    logger_close();
    ASSERT_EQ(logger_init(dir_.path().c_str(), "olva"), 0);
    logger(-1, "m", "t", "after restart");

    const std::string day = readFile(logFile());
    const auto lines = records();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_LE(static_cast<long long>(day.size()), kCap + 200);
    EXPECT_EQ(lines.back(), "log file reached its cap of 4096 bytes: the rest of today's records are dropped");
    for (std::size_t i = 0; i + 1 < lines.size(); ++i)
        EXPECT_NE(lines[i].find("record " + std::string(i < 10 ? "00" : "0") + std::to_string(i)), std::string::npos) << i;
    EXPECT_GT(lines.size(), 30u) << "records up to the cap are kept";
    EXPECT_LT(lines.size(), 101u);

    clock_.setWallMs(localTimeMs(2026, 12, 11, 0, 0, 1));
    logger(4, "m", "t", "next day");
    ASSERT_EQ(records("20261211").size(), 1u);
    EXPECT_NE(records("20261211")[0].find("next day"), std::string::npos);
}

// Standard output goes to a file of the test's own while the object lives.
class StdoutToFile {
public:
    explicit StdoutToFile(const std::string& path)
    {
        std::fflush(stdout);
        saved_ = dup(STDOUT_FILENO);
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ok_ = saved_ >= 0 && fd >= 0 && dup2(fd, STDOUT_FILENO) >= 0;
        if (fd >= 0)
            close(fd);
    }
    ~StdoutToFile()
    {
        std::fflush(stdout);
        if (saved_ >= 0) {
            dup2(saved_, STDOUT_FILENO);
            close(saved_);
        }
    }
    StdoutToFile(const StdoutToFile&) = delete;
    StdoutToFile& operator=(const StdoutToFile&) = delete;
    bool ok() const { return ok_; }

private:
    int saved_ = -1;
    bool ok_ = false;
};

// Standard output takes the day's cap as the file does, with the file on
// or off, and starts again the next day.
TEST_F(LoggerTest, StandardOutputStopsAtTheSameDailyCap)
{
    constexpr long long kCap = 4096;
    logger_set_max_file_size(kCap);
    const std::string out_file = dir_.path() + "/stdout.txt";
    const std::string filler(60, 'x');
    for (const int enabled : {1, 0}) {
        SCOPED_TRACE(enabled);
        {
            StdoutToFile redirect(out_file);
            ASSERT_TRUE(redirect.ok());
            logger_enable(enabled);
            for (int i = 0; i < 100; ++i)
                logger(4, "m", "t", "record %03d %s", i, filler.c_str());
            clock_.advanceMs(24LL * 3600 * 1000);
            logger(4, "m", "t", "next day");
            logger_enable(1);
        }
        const std::string out = readFile(out_file);
        const auto lines = lines_of(out);
        EXPECT_LE(static_cast<long long>(out.size()), kCap + 300);
        ASSERT_GE(lines.size(), 3u);
        EXPECT_GT(lines.size(), 30u) << "records up to the cap are kept";
        EXPECT_EQ(lines[lines.size() - 2],
                  "log output reached its cap of 4096 bytes: the rest of today's records are dropped");
        EXPECT_NE(lines.back().find("next day"), std::string::npos) << lines.back();
        for (std::size_t i = 0; i + 2 < lines.size(); ++i)
            EXPECT_NE(lines[i].find("record " + std::string(i < 10 ? "00" : "0") + std::to_string(i)),
                      std::string::npos)
                << lines[i];
    }
}

TEST_F(LoggerTest, SameDayOfAnotherMonthStillOpensANewFile)
{
    logger(4, "m", "t", "december");
    clock_.setWallMs(localTimeMs(2027, 1, 10, 7, 0, 0));
    logger(4, "m", "t", "january");

    EXPECT_EQ(records("20261210").size(), 1u);
    EXPECT_EQ(records("20270110").size(), 1u);
}

TEST_F(LoggerTest, ClearRemovesFilesOlderThanTenDaysAndKeepsTheRest)
{
    const std::string log_dir = logger_get_path();
    const std::int64_t now = clock_.wallSeconds();
    const std::string outside = dir_.file("precious.txt");
    olva_test::writeFile(outside, "keep me");
    olva_test::setModificationTime(outside, now - 30 * 86400);

    struct Case {
        std::string name;
        std::int64_t age_days;
        bool kept;
    };
    const Case cases[] = {
        {"olva-20261129.log", 11, false},
        {"olva-20261201.log", 9, true},
        {"future.log", -5, true},
        {"old/deep/olva-20261101.log", 40, false},
    };
    mkdir((log_dir + "/old").c_str(), 0755);
    mkdir((log_dir + "/old/deep").c_str(), 0755);
    for (const Case& c : cases) {
        olva_test::writeFile(log_dir + "/" + c.name, "x");
        olva_test::setModificationTime(log_dir + "/" + c.name, now - c.age_days * 86400);
    }
    // An old link to a file outside the log directory: the link may go, the
    // file it points at must not.
    ASSERT_EQ(symlink(outside.c_str(), (log_dir + "/link.log").c_str()), 0);
    olva_test::setModificationTime(log_dir + "/link.log", now - 20 * 86400);
    ASSERT_EQ(symlink(dir_.path().c_str(), (log_dir + "/dirlink").c_str()), 0);

    loger_clear();

    for (const Case& c : cases)
        EXPECT_EQ(pathExists(log_dir + "/" + c.name), c.kept) << c.name;
    EXPECT_FALSE(pathExists(log_dir + "/old")) << "emptied directories go";
    EXPECT_EQ(readFile(outside), "keep me");
    EXPECT_TRUE(pathExists(logFile())) << "today's file stays";
}

TEST_F(LoggerTest, RecordsAfterCloseReopenTheDaysFile)
{
    logger(4, "m", "t", "before");
    logger_close();
    logger(4, "m", "t", "after");
    EXPECT_EQ(records().size(), 2u);
}

TEST_F(LoggerTest, DisabledLoggerWritesNoFile)
{
    logger_enable(0);
    EXPECT_EQ(logger_is_enable(), 0);
    logger(4, "m", "t", "not in the file");
    logger_enable(1);
    logger(4, "m", "t", "in the file");
    const auto lines = records();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("in the file"), std::string::npos);
}

TEST_F(LoggerTest, DumpWritesOffsetHexAndCharacterColumns)
{
    const char data[] = "0123456789ABCDEF\x01xyz";
    logger_dump(4, "m", "t", data, 20);

    const auto lines = lines_of(readFile(logFile()));
    // lines[0] is the empty line of logger_init.
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_NE(lines[1].find("dump 20 at 0x"), std::string::npos);
    EXPECT_EQ(lines[2],
              "0000   30 31 32 33 34 35 36 37 38 39 41 42 43 44 45 46   0123456789ABCDEF");
    EXPECT_EQ(lines[3], "0010   01 78 79 7a" + std::string(3 * 12 + 3, ' ') + ".xyz");
}

TEST_F(LoggerTest, LongDumpIsSplitIntoRecordsThatFit)
{
    std::string data(1000, '\0');
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i);
    logger_dump(4, "m", "t", data.data(), data.size());

    const auto lines = lines_of(readFile(logFile()));
    std::size_t rows = 0;
    std::size_t record_starts = 0;
    for (const std::string& line : lines) {
        if (std::regex_match(line, std::regex(R"([0-9a-f]{4}   .*)")))
            ++rows;
        if (line.rfind("2026-12-10", 0) == 0)
            ++record_starts;
    }
    // The first row of every record after the first carries the record prefix.
    EXPECT_GT(record_starts, 1u);
    EXPECT_EQ(rows + record_starts - 1, (1000u + 15) / 16);
    for (const std::string& line : lines)
        EXPECT_LE(line.size(), 1100u);
    EXPECT_NE(readFile(logFile()).find("03e0   e0 e1 e2 e3 e4 e5 e6 e7"), std::string::npos);
}

TEST_F(LoggerTest, ScopeTracerLogsEntryAndExit)
{
    {
        log_inoutto trace("OnInit", 3, "", "", "start");
        logger(4, nullptr, nullptr, "inside");
    }
    const auto lines = records();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_NE(lines[0].find("pmt                    OnInit++  start"), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find("inside"), std::string::npos);
    EXPECT_NE(lines[2].find("OnInit--"), std::string::npos);
}

TEST_F(LoggerTest, RecordsFromManyThreadsStayWhole)
{
    constexpr int kThreads = 8;
    constexpr int kRecords = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < kRecords; ++i)
                logger(4, "m", "t", "thread %d record %d end", t, i);
        });
    for (auto& thread : threads)
        thread.join();

    const auto lines = records();
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(kThreads * kRecords));
    const std::regex whole(R"(2026-12-10 07:05:09:042 0x[0-9a-f]+       m        t        thread \d record \d+ end)");
    for (const std::string& line : lines)
        ASSERT_TRUE(std::regex_match(line, whole)) << line;
}

TEST_F(LoggerTest, KeepDaysSettingSetsTheKeepTime)
{
    EXPECT_EQ(logger_get_keep_days(), 7);
    logger_set_keep_days(1);
    EXPECT_EQ(logger_get_keep_days(), 1);
    const std::string day_old = logger_get_path() + "/olva-20261208.log";
    olva_test::writeFile(day_old, "x");
    olva_test::setModificationTime(day_old, clock_.wallSeconds() - 2 * 86400);
    loger_clear();
    EXPECT_FALSE(pathExists(day_old));
    logger_set_keep_days(10);
}

TEST(LoggerInitTest, RefusesAnOverlongDirectory)
{
    const std::string dir(300, 'd');
    EXPECT_EQ(logger_init(dir.c_str(), "olva"), -1);
}

}  // namespace
