// The file routes over real HTTP requests: the list of log files, a log
// file by its name, and recordings; everything else is refused with 404 and
// an empty body.
#include <gtest/gtest.h>

#include <cJSON.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>

#include "support/web_fixture.h"

namespace olva_test {
namespace {

namespace fs = std::filesystem;

// Sets a file's access and modification times (seconds since the epoch).
void set_times(const std::string& path, std::int64_t access, std::int64_t modification)
{
    const timespec times[2] = {{static_cast<time_t>(access), 0}, {static_cast<time_t>(modification), 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

class HttpFiles : public WebServiceTest {
protected:
    std::string log_dir() const { return uWebMgr.work_path() + "olva-log"; }

    HttpResult get(const std::string& target) const { return request(target, "", "GET"); }

    // A route that does not serve: 404, nothing in the body.
    void expect_refused(const std::string& target) const
    {
        SCOPED_TRACE(target);
        const HttpResult res = get(target);
        EXPECT_EQ(res.status, 404) << res.error;
        EXPECT_EQ(res.body, "");
        EXPECT_EQ(res.headers.count("content-length") ? res.headers.at("content-length") : "(none)", "0");
    }

    void expect_served(const std::string& target, const std::string& content) const
    {
        SCOPED_TRACE(target);
        const HttpResult res = get(target);
        EXPECT_EQ(res.status, 200) << res.error;
        EXPECT_EQ(res.body, content);
        EXPECT_EQ(res.headers.count("content-type") ? res.headers.at("content-type") : "(none)", "text/plain");
    }
};

// Log times read in Coordinated Universal Time from before the service
// starts until after it has stopped.
class HttpLogList : public HttpFiles {
protected:
    void SetUp() override
    {
        if (const char* tz = std::getenv("TZ"))
            old_zone_ = tz;
        setenv("TZ", "UTC", 1);
        tzset();
        HttpFiles::SetUp();
    }
    void TearDown() override
    {
        HttpFiles::TearDown();
        if (old_zone_)
            setenv("TZ", old_zone_->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    std::optional<std::string> old_zone_;
};

TEST_F(HttpLogList, ListsTheRegularFilesOfTheLogDirectory)
{
    start();
    // The day's log file, which the service has been writing since it started.
    std::time_t now = std::time(nullptr);
    std::tm today{};
    localtime_r(&now, &today);
    char day_log[32];
    std::strftime(day_log, sizeof day_log, "olva-%Y%m%d.log", &today);
    ASSERT_TRUE(fs::is_regular_file(log_dir() + "/" + day_log));

    writeFile(log_dir() + "/old.log", "twelve bytes");
    set_times(log_dir() + "/old.log", 1700000000, 1700003661);  // 2023-11-14 22:13:20, 23:14:21
    writeFile(log_dir() + "/中文.log", "");
    set_times(log_dir() + "/中文.log", 946684800, 946771199);  // 2000-01-01 00:00:00, 2000-01-01 23:59:59
    fs::create_directory(log_dir() + "/sub");
    fs::create_symlink(log_dir() + "/old.log", log_dir() + "/link.log");

    const HttpResult res = get("/getLog");
    ASSERT_EQ(res.status, 200);
    EXPECT_TRUE(res.chunked);
    std::unique_ptr<cJSON, decltype(&cJSON_Delete)> json(cJSON_Parse(res.body.c_str()), &cJSON_Delete);
    ASSERT_TRUE(json) << res.body;
    const cJSON* data = cJSON_GetObjectItemCaseSensitive(json.get(), "data");
    const cJSON* items = cJSON_GetObjectItemCaseSensitive(data, "items");
    EXPECT_EQ(cJSON_GetObjectItemCaseSensitive(data, "size")->valueint, 3);
    ASSERT_EQ(cJSON_GetArraySize(items), 3);

    std::map<std::string, std::string> listed;  // name: the item without its ID
    int id = 0;
    const cJSON* item = nullptr;
    cJSON_ArrayForEach(item, items)
    {
        EXPECT_EQ(cJSON_GetObjectItemCaseSensitive(item, "ID")->valueint, ++id);
        const std::string name = cJSON_GetObjectItemCaseSensitive(item, "fileName")->valuestring;
        cJSON* copy = cJSON_Duplicate(item, 1);
        cJSON_DeleteItemFromObjectCaseSensitive(copy, "ID");
        char* text = cJSON_PrintUnformatted(copy);
        listed[name] = text;
        cJSON_free(text);
        cJSON_Delete(copy);
    }
    EXPECT_EQ(listed["old.log"],
              R"({"fileSize":12,"fileName":"old.log","createTime":"2023-11-14 22:13:20 ","lastWriteTime":"2023-11-14 23:14:21 "})");
    EXPECT_EQ(listed["中文.log"],
              R"({"fileSize":0,"fileName":"中文.log","createTime":"2000-1-1 0:0:0 ","lastWriteTime":"2000-1-1 23:59:59 "})");
    ASSERT_TRUE(listed.count(day_log)) << res.body;
    const std::string day_item = listed[day_log];
    EXPECT_NE(day_item.find(std::string("\"fileName\":\"") + day_log + "\""), std::string::npos);
    EXPECT_EQ(day_item.find("\"fileSize\":0,"), std::string::npos) << "the day's log holds the start-up lines";

    // Without the directory there is nothing to list.
    fs::remove_all(log_dir());
    EXPECT_EQ(get("/getLog").body, formatted_json(R"({"code":200,"data":{"items":[],"size":0}})"));
}

TEST_F(HttpFiles, LogFilesAreServedByTheirBareNamesOnly)
{
    start();
    writeFile(log_dir() + "/old.log", "old lines\n");
    writeFile(log_dir() + "/a b+c.log", "spaced");
    fs::create_directory(log_dir() + "/sub");
    writeFile(log_dir() + "/sub/inner.log", "inner");
    fs::create_symlink(app_dir_ + "/config.ini", log_dir() + "/config.log");

    expect_served("/downloadlogfile?filename=old.log", "old lines\n");
    expect_served("/downloadlogfile?x=1&FileName=a%20b%2Bc.log", "spaced");
    expect_served("/downloadlogfile?filename=a+b%2Bc.log", "spaced");
    for (const char* target : {
             "/downloadlogfile",
             "/downloadlogfile?",
             "/downloadlogfile?name=old.log",
             "/downloadlogfile?filename=",
             "/downloadlogfile?filename=%zz",
             "/downloadlogfile?filename=missing.log",
             "/downloadlogfile?filename=../config.ini",
             "/downloadlogfile?filename=..%2Fconfig.ini",
             "/downloadlogfile?filename=%2E%2E%2Fconfig.ini",
             "/downloadlogfile?filename=sub/inner.log",
             "/downloadlogfile?filename=sub",
             "/downloadlogfile?filename=.",
             "/downloadlogfile?filename=..",
             "/downloadlogfile?filename=config.log",
         })
        expect_refused(target);
    // Names longer than the query value allows are refused before any look-up.
    expect_refused("/downloadlogfile?filename=" + std::string(1024, 'a'));
    EXPECT_TRUE(wait_for_log("   get filename failed, res:-2"));
    EXPECT_TRUE(wait_for_log("   get filename failed, res:0"));
    EXPECT_TRUE(wait_for_log("   open file name (" + log_dir() + "/missing.log) failed"));
    EXPECT_TRUE(wait_for_log("   refused file name (../config.ini)"));
}

TEST_F(HttpFiles, AudioRoutesServeRegularWavAndMp3FilesOnly)
{
    start();
    const std::string rec = temp_.file("rec");
    fs::create_directories(rec + "/dir.wav");
    writeFile(rec + "/a.wav", std::string("RIFF\0\0\0\0WAVE", 12));
    writeFile(rec + "/b.MP3", "ID3");
    writeFile(rec + "/c.txt", "text");
    writeFile(rec + "/passwd", "secret");
    writeFile(app_dir_ + "/tip.wav", "tip");
    fs::create_symlink(rec + "/passwd", rec + "/secret.wav");
    fs::create_symlink(rec + "/a.wav", rec + "/link.txt");

    for (const std::string route : {"/playaudiofile", "/downloadwav"}) {
        SCOPED_TRACE(route);
        expect_served(route + "?filename=" + rec + "/a.wav", std::string("RIFF\0\0\0\0WAVE", 12));
        expect_served(route + "?filename=" + rec + "/b.MP3", "ID3");
        // A relative name starts at the application directory.
        expect_served(route + "?filename=tip.wav", "tip");
        expect_served(route + "?filename=" + rec + "/../rec/a.wav", std::string("RIFF\0\0\0\0WAVE", 12));
        // A link is judged by the file it leads to.
        expect_served(route + "?filename=" + rec + "/link.txt", std::string("RIFF\0\0\0\0WAVE", 12));
        for (const std::string& query : std::initializer_list<std::string>{
                 "", "?", "?filename=", "?file=a.wav",
                 "?filename=" + rec + "/c.txt",
                 "?filename=" + rec + "/passwd",
                 "?filename=" + rec + "/secret.wav",
                 "?filename=" + rec + "/dir.wav",
                 "?filename=" + rec + "/missing.wav",
                 "?filename=" + rec + "/a.wav/",
                 "?filename=config.ini",
                 "?filename=/etc/passwd",
             })
            expect_refused(route + query);
    }
    EXPECT_TRUE(wait_for_log("   recv query string:filename=" + rec + "/a.wav"));
    EXPECT_TRUE(wait_for_log("  play filename(" + rec + "/a.wav)"));
    EXPECT_TRUE(wait_for_log("   recv query string:null"));
    EXPECT_TRUE(wait_for_log("   open file name (" + rec + "/missing.wav) failed"));
    EXPECT_TRUE(wait_for_log("   refused file name (" + rec + "/secret.wav)"));
}

// A file name may hold any bytes: the log list still reads as strict JSON
// in UTF-8, and the web root's folder listing as UTF-8, to a parser we did
// not write; each bad byte shows as U+FFFD.
TEST_F(HttpFiles, FileNamesThatAreNotUtf8AreShownAsValidUtf8)
{
    start();
    const std::string bad = "bad-\xff\xfe-\xed\xa0\x80";
    const std::string shown = "bad-\xef\xbf\xbd\xef\xbf\xbd-\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd";
    writeFile(log_dir() + "/" + bad + ".log", "lines");
    fs::create_directories(app_dir_ + "/webroot/files");
    writeFile(app_dir_ + "/webroot/files/" + bad + ".txt", "text");

    const HttpResult list = get("/getLog");
    EXPECT_EQ(list.status, 200);
    const std::optional<bool> python = python_reads_json(list.body, temp_);
    if (!python)
        GTEST_SKIP() << "python3, the independent JSON reader, is not installed";
    EXPECT_TRUE(*python) << list.body;
    EXPECT_NE(list.body.find("\"fileName\":\t\"" + shown + ".log\""), std::string::npos) << list.body;

    const HttpResult listing = get("/files/");
    EXPECT_EQ(listing.status, 200);
    EXPECT_NE(listing.body.find(shown + ".txt"), std::string::npos) << listing.body;
    EXPECT_EQ(python_reads_utf8(listing.body, temp_), true) << listing.body;
}

TEST_F(HttpFiles, HeadOfAFileGivesItsLengthWithoutTheBody)
{
    start();
    writeFile(log_dir() + "/old.log", "0123456789");
    const HttpResult res = request("/downloadlogfile?filename=old.log", "", "HEAD");
    EXPECT_EQ(res.status, 200) << res.error;
    EXPECT_EQ(res.headers.count("content-length") ? res.headers.at("content-length") : "(none)", "10");
    EXPECT_EQ(res.body, "");
}

}  // namespace
}  // namespace olva_test
