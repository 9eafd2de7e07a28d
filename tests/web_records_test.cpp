// The call-record routes over real HTTP requests to the running service,
// on a real SQLite file in the work directory: records added, paged,
// counted and deleted, checked against what SQLite itself finds in the file,
// and the reply frame byte by byte on a raw socket.
#include <gtest/gtest.h>

#include <cJSON.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "support/sqlite_file.h"
#include "support/web_fixture.h"

namespace olva_test {
namespace {

using Rows = std::vector<std::vector<std::string>>;
using JsonPtr = std::unique_ptr<cJSON, decltype(&cJSON_Delete)>;

JsonPtr parse(const std::string& text)
{
    return JsonPtr(cJSON_Parse(text.c_str()), &cJSON_Delete);
}


std::string chunk_size(const std::string& text)
{
    char size[16];
    std::snprintf(size, sizeof size, "%zx", text.size());
    return size;
}

class HttpRecords : public WebServiceTest {
protected:
    std::string db_file() const { return uWebMgr.work_path() + "olva.db"; }

    Rows rows(const std::string& sql) const
    {
        SqliteFile file(db_file());
        return file.rows(sql);
    }

    std::vector<long long> ids_found_by(const std::string& sql) const
    {
        SqliteFile file(db_file());
        return file.integers(sql);
    }

    // Adds a record through the API and returns its id from the reply.
    int add(const std::string& body)
    {
        const HttpResult res = request("/addRecord", body);
        EXPECT_EQ(res.status, 200) << res.error;
        int id = -1;
        if (std::sscanf(res.body.c_str(), "{ \"code\": 200, \"id\":%d}", &id) != 1)
            ADD_FAILURE() << "reply: " << res.body;
        return id;
    }

    // The ids of a /getRecord reply, in order, checked against its "size".
    std::vector<long long> ids_listed(const std::string& body)
    {
        const HttpResult res = request("/getRecord", body);
        EXPECT_EQ(res.status, 200) << res.error;
        const JsonPtr json = parse(res.body);
        const cJSON* data = cJSON_GetObjectItemCaseSensitive(json.get(), "data");
        const cJSON* items = cJSON_GetObjectItemCaseSensitive(data, "items");
        std::vector<long long> ids;
        const cJSON* item = nullptr;
        cJSON_ArrayForEach(item, items)
            ids.push_back(static_cast<long long>(cJSON_GetObjectItemCaseSensitive(item, "ID")->valuedouble));
        const cJSON* size = cJSON_GetObjectItemCaseSensitive(data, "size");
        EXPECT_TRUE(cJSON_IsNumber(size)) << res.body;
        EXPECT_EQ(cJSON_IsNumber(size) ? size->valueint : -1, static_cast<int>(ids.size()));
        return ids;
    }

    long long total_of(const std::string& body)
    {
        const HttpResult res = request("/getRecordCount", body);
        EXPECT_EQ(res.status, 200) << res.error;
        const JsonPtr json = parse(res.body);
        const cJSON* total =
            cJSON_GetObjectItemCaseSensitive(cJSON_GetObjectItemCaseSensitive(json.get(), "data"), "total");
        EXPECT_TRUE(cJSON_IsNumber(total)) << res.body;
        return cJSON_IsNumber(total) ? static_cast<long long>(total->valuedouble) : -1;
    }

    // Records of types 0 to 3, with start times 1000 to 1290 added out of
    // order, so that the file order differs from the start-time order.
    void add_thirty()
    {
        for (int n = 0; n < 30; ++n) {
            const int i = n * 7 % 30;
            char body[160];
            std::snprintf(body, sizeof body,
                          R"({"lineId":%d,"callType":%d,"phoneNumber":"%d","startTime":%d,"endTime":%d})",
                          257 + i % 2, i % 4, 1000 + i, 1000 + 10 * i, 1000 + 10 * i + 5 + i % 7);
            ASSERT_EQ(add(body), n + 1);
        }
    }
};

TEST_F(HttpRecords, AddedRecordComesBackWithQuotesAndNonAsciiText)
{
    start();
    olva_fake::set_result("olva_judge_file_size", 4096);
    const HttpResult res = request(
        "/addRecord",
        R"({"lineId":257,"callType":2,"phoneNumber":"13\"8'0\\中文","startTime":1700000000,)"
        R"("endTime":1700000065,"fileName":"D:\\rec\\通话'1\".wav"})");
    EXPECT_EQ(res.status, 200);
    EXPECT_EQ(res.body, "{ \"code\": 200, \"id\":1}");
    EXPECT_TRUE(res.chunked);
    EXPECT_EQ(res.headers.at("content-type"), "application/json");
    EXPECT_TRUE(olva_fake::was_called("olva_judge_file_size(D:/rec/通话'1\".wav)"));
    EXPECT_TRUE(wait_for_log("   add record ok, id:1"));

    EXPECT_EQ(rows("SELECT inchlno, outchlno, type, phone, dtmf, area, begintime, endtime, path, "
                   "filesize, memo FROM recordinfo"),
              (Rows{{"257", "257", "2", "13\"8'0\\中文", "", "", "1700000000", "1700000065",
                     "D:/rec/通话'1\".wav", "4096", ""}}));

    // Member names are found without regard to case; absent members stay 0
    // or empty. A size below 1 is listed as 0; a record naming no
    // recording stores 0 without asking.
    olva_fake::set_result("olva_judge_file_size", -1);
    EXPECT_EQ(add(R"({"LINEID":2,"calltype":1,"fileName":"/rec/gone.wav"})"), 2);
    EXPECT_EQ(add("{}"), 3);
    EXPECT_EQ(rows("SELECT recordid, inchlno, outchlno, type, phone, begintime, endtime, path, filesize "
                   "FROM recordinfo WHERE recordid > 1"),
              (Rows{{"2", "2", "2", "1", "", "0", "0", "/rec/gone.wav", "-1"},
                    {"3", "0", "0", "0", "", "0", "0", "", "0"}}));

    const HttpResult listed = request("/getRecord", R"({"limit":1})");
    EXPECT_EQ(listed.status, 200);
    EXPECT_TRUE(listed.chunked);
    EXPECT_EQ(listed.headers.at("content-type"), "application/json");
    EXPECT_EQ(listed.body,
              formatted_json(R"({"code":200,"data":{"items":[{"ID":1,"lineId":257,"callType":2,)"
                        R"("phoneNumber":"13\"8'0\\中文","startTime":1700000000,"endTime":1700000065,)"
                        R"("fileSize":4096,"fileName":"D:/rec/通话'1\".wav"}],"size":1}})"));
    EXPECT_EQ(request("/getRecord", R"({"phoneType":1})").body,
              formatted_json(R"({"code":200,"data":{"items":[{"ID":2,"lineId":2,"callType":1,"phoneNumber":"",)"
                        R"("startTime":0,"endTime":0,"fileSize":0,"fileName":"/rec/gone.wav"}],"size":1}})"));
    EXPECT_TRUE(wait_for_log("   recourd count:1"));
}

TEST_F(HttpRecords, BodiesThatAreNotJsonObjectsAddNothing)
{
    start();
    const std::string bodies[] = {
        "", "not json", "[1,2]", "7", R"({"lineId":1)", R"({"lineId":1}x)", std::string("{\"lineId\":1}\0", 13),
        R"({"lineId":1,"phoneNumber\u0000x":"1"})", R"({"lineId":1,"fileName":"a.wav\u0000.txt"})",
    };
    for (const std::string& body : bodies) {
        SCOPED_TRACE(body);
        const HttpResult res = request("/addRecord", body);
        EXPECT_EQ(res.status, 200);
        EXPECT_EQ(res.body, "{ \"code\": 200, \"id\":0}");
        EXPECT_TRUE(wait_for_log("   recvf data is not json format, len:" + std::to_string(body.size())));
    }
    EXPECT_EQ(ids_found_by("SELECT recordid FROM recordinfo"), std::vector<long long>{});
    for (const olva_fake::Call& call : olva_fake::calls())
        EXPECT_FALSE(call.text.starts_with("olva_judge_file_size")) << call.text;
}

TEST_F(HttpRecords, OverlongPhoneAndPathAreCutToTheirFields)
{
    start();
    const std::string phone(40, '7');
    std::string path = "/rec/";
    for (int i = 0; i < 100; ++i)
        path += "录";  // three bytes each
    path += ".wav";
    ASSERT_EQ(add(R"({"phoneNumber":")" + phone + R"(","fileName":")" + path + "\"}"), 1);

    // 31 bytes of the phone; of the path the whole characters that fit in 254.
    const std::string stored_phone(31, '7');
    const std::string stored_path = path.substr(0, 5 + 83 * 3);
    EXPECT_EQ(rows("SELECT phone, path FROM recordinfo"), (Rows{{stored_phone, stored_path}}));
    // What is stored names no ".wav" file any more: its size is not asked.
    EXPECT_FALSE(olva_fake::was_called("olva_judge_file_size(" + stored_path + ")"));
    const JsonPtr json = parse(request("/getRecord", "{}").body);
    const cJSON* item = cJSON_GetArrayItem(
        cJSON_GetObjectItemCaseSensitive(cJSON_GetObjectItemCaseSensitive(json.get(), "data"), "items"), 0);
    ASSERT_TRUE(item);
    EXPECT_STREQ(cJSON_GetObjectItemCaseSensitive(item, "phoneNumber")->valuestring, stored_phone.c_str());
    EXPECT_STREQ(cJSON_GetObjectItemCaseSensitive(item, "fileName")->valuestring, stored_path.c_str());
}

TEST_F(HttpRecords, PagesSelectWhatTheirSqlTailsSelect)
{
    start();
    add_thirty();
    struct Case {
        const char* body;
        int phone_type;
        int start_time;
        int end_time;
        int offset;
        int count;
    };
    const Case cases[] = {
        {R"({"phoneType":2,"startTime":0,"page":3,"limit":10})", 2, 0, 0, 20, 10},
        {R"({"phoneType":2})", 2, 0, 0, 0, 20},
        {R"({"PHONETYPE":2,"Page":2,"LIMIT":3})", 2, 0, 0, 3, 3},
        {"{}", 0, 0, 0, 0, 20},
        {R"({"page":2,"limit":7})", 0, 0, 0, 7, 7},
        {R"({"page":4,"limit":10})", 0, 0, 0, 30, 10},
        {R"({"phoneType":1,"startTime":1010,"endTime":1200})", 1, 1010, 1200, 0, 20},
        {R"({"phoneType":1,"startTime":1010,"endTime":1200,"page":2,"limit":2})", 1, 1010, 1200, 2, 2},
        {R"({"startTime":1010,"endTime":1200,"limit":100})", 0, 1010, 1200, 0, 100},
        {R"({"startTime":1010,"endTime":1200,"page":2,"limit":5})", 0, 1010, 1200, 5, 5},
        {R"({"phoneType":3,"startTime":1100})", 3, 1100, 0, 0, 20},
        {R"({"phoneType":3,"endTime":1100})", 3, 0, 1100, 0, 20},
        {R"({"phoneType":2,"startTime":-5,"endTime":1200})", 2, -5, 1200, 0, 20},
        {R"({"startTime":1100,"limit":50})", 0, 1100, 0, 0, 50},
        {R"({"page":0,"limit":10})", 0, 0, 0, 0, 10},
        {R"({"phoneType":1,"limit":0})", 1, 0, 0, 0, 0},
        {R"({"phoneType":7})", 7, 0, 0, 0, 20},
        {R"({"page":"2","limit":"5"})", 0, 0, 0, 0, 20},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body);
        // The tails the record list has always been asked for with.
        char tail[200];
        const bool period = c.start_time >= 1 && c.end_time >= 1;
        if (c.phone_type != 0 && period)
            std::snprintf(tail, sizeof tail,
                          " where type=%d and begintime>%d  AND endtime<%d ORDER BY begintime DESC limit %d,%d ",
                          c.phone_type, c.start_time, c.end_time, c.offset, c.count);
        else if (c.phone_type != 0)
            std::snprintf(tail, sizeof tail, " where type=%d  ORDER BY begintime DESC limit %d,%d ",
                          c.phone_type, c.offset, c.count);
        else if (period)
            std::snprintf(tail, sizeof tail, "where begintime>%d  AND endtime<%d  ORDER BY begintime DESC limit %d,%d ",
                          c.start_time, c.end_time, c.offset, c.count);
        else
            std::snprintf(tail, sizeof tail, " ORDER BY begintime DESC limit %d,%d  ", c.offset, c.count);
        EXPECT_EQ(ids_listed(c.body), ids_found_by(std::string("SELECT * FROM recordinfo ") + tail));
    }
    // A body that cannot be read lists the newest records, as many as a page
    // may hold: here all of them.
    const std::vector<long long> all = ids_found_by("SELECT * FROM recordinfo ORDER BY begintime DESC");
    ASSERT_EQ(all.size(), 30u);
    EXPECT_EQ(ids_listed(""), all);
    EXPECT_EQ(ids_listed("[{}]"), all);
    // Far pages list nothing, however large the offset.
    EXPECT_EQ(ids_listed(R"({"page":2147483647,"limit":2147483647})"), std::vector<long long>{});
    EXPECT_TRUE(wait_for_log("   get record failed, res:-2"));
}

// However a page sizes its query, a reply holds at most 1000 records and
// pages start at 1.
TEST_F(HttpRecords, PageAndLimitAreClampedToTheirBounds)
{
    start();
    constexpr int kRecords = 1005;
    {
        SqliteFile file(db_file());
        file.exec("BEGIN");
        for (int i = 1; i <= kRecords; ++i)
            file.exec("INSERT INTO recordinfo VALUES (null, 257, 257, 1, '" + std::to_string(i) + "', '', '', " +
                      std::to_string(1000 + i) + ", " + std::to_string(1001 + i) + ", '', 0, '')");
        file.exec("COMMIT");
    }
    const auto newest = [&](int offset, int count) {
        return ids_found_by("SELECT recordid FROM recordinfo ORDER BY begintime DESC LIMIT " +
                            std::to_string(count) + " OFFSET " + std::to_string(offset));
    };
    struct Case {
        const char* body;
        int offset;
        int count;
    };
    const Case cases[] = {
        {R"({"limit":-1})", 0, 0},
        {R"({"limit":-2147483648})", 0, 0},
        {R"({"limit":1000})", 0, 1000},
        {R"({"limit":1001})", 0, 1000},
        {R"({"limit":2147483647})", 0, 1000},
        {R"({"page":2,"limit":5000})", 1000, 1000},
        {R"({"page":-3,"limit":2})", 0, 2},
        {R"({"page":-2147483648,"limit":1000})", 0, 1000},
        {R"({"phoneType":1,"page":0})", 0, 20},
        {"", 0, 1000},
        {"[]", 0, 1000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body);
        const std::vector<long long> expected = newest(c.offset, c.count);
        ASSERT_EQ(expected.size(), static_cast<std::size_t>(std::min(c.count, kRecords - c.offset)));
        EXPECT_EQ(ids_listed(c.body), expected);
    }
}

TEST_F(HttpRecords, CountsWhatTheirConditionsCount)
{
    start();
    add_thirty();
    struct Case {
        const char* body;
        const char* condition;  // how the count has always been asked for; empty: all records
    };
    const Case cases[] = {
        {R"({"phoneType":2,"startTime":1010,"endTime":1200})", "type=2 and begintime>1010  AND endtime<1200"},
        {R"({"phoneType":2,"endTime":1200})", " type=2 "},
        {R"({"phoneType":2,"startTime":1010})", " type=2 "},
        {R"({"phonetype":3})", " type=3 "},
        {R"({"startTime":1010,"endTime":1200})", "begintime>1010  AND endtime<1200"},
        {R"({"startTime":1010})", ""},
        {R"({"endTime":1200})", ""},
        {"{}", ""},
        {R"({"phoneType":9})", " type=9 "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body);
        const std::string sql = *c.condition ? std::string("SELECT count(*) from recordinfo where  ") + c.condition
                                             : std::string("SELECT count(*) from recordinfo");
        const std::vector<long long> expected = ids_found_by(sql);
        ASSERT_EQ(expected.size(), 1u);
        EXPECT_EQ(total_of(c.body), expected[0]);
    }
    EXPECT_EQ(request("/getRecordCount", "{}").body, formatted_json(R"({"code":200,"data":{"total":30}})"));
    EXPECT_TRUE(wait_for_log("   query recourd count:30"));
    // A body that cannot be read counts nothing.
    EXPECT_EQ(total_of("not json"), 0);
    EXPECT_EQ(total_of(""), 0);
}

TEST_F(HttpRecords, DeletesTheRecordsNamedAndOnlyRecordingsWithThem)
{
    start();
    for (int i = 0; i < 8; ++i)
        ASSERT_EQ(add("{}"), i + 1);
    const std::string rec = temp_.file("rec");
    std::filesystem::create_directories(rec);
    for (const char* name : {"a.wav", "b.MP3", "notes.txt"})
        writeFile(rec + "/" + name, "data");

    const std::string success = formatted_json(R"({"code":200,"status":"success"})");
    auto failed = [](int count) {
        return formatted_json(R"({"code":200,"status":"failed","count":)" + std::to_string(count) + "}");
    };
    struct Case {
        std::string body;
        std::string reply;
        std::vector<long long> left;  // ids in the file afterwards
        std::string deleted_file;     // the recording handed to the library, if any
    };
    const Case cases[] = {
        {R"([{"ID":1},{"id":2}])", success, {3, 4, 5, 6, 7, 8}, ""},
        {R"([{"ID":3},{"fileName":")" + rec + R"(/a.wav"}])", failed(1), {4, 5, 6, 7, 8}, rec + "/a.wav"},
        {R"([{"ID":4,"fileName":")" + rec + R"(/b.MP3"}])", success, {5, 6, 7, 8}, rec + "/b.MP3"},
        {R"([{"ID":5,"fileName":")" + rec + R"(/notes.txt"}])", success, {6, 7, 8}, ""},
        {R"([{"ID":6,"fileName":"/etc/passwd"},{"ID":7,"fileName":")" + rec + R"("}])", success, {8}, ""},
        {R"([{"ID":"8"},7,"x"])", failed(3), {8}, ""},
        {R"({"ID":8})", failed(0), {8}, ""},
        {"not json", failed(0), {8}, ""},
        {"", failed(0), {8}, ""},
        {"[]", success, {8}, ""},
        {R"([{"ID":999}])", success, {8}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body);
        const std::size_t calls_before = olva_fake::calls().size();
        const HttpResult res = request("/deleteRecord", c.body);
        EXPECT_EQ(res.status, 200);
        EXPECT_EQ(res.body, c.reply);
        EXPECT_EQ(ids_found_by("SELECT recordid FROM recordinfo"), c.left);
        const auto calls = olva_fake::calls();
        std::vector<std::string> deletes;
        for (std::size_t i = calls_before; i < calls.size(); ++i)
            deletes.push_back(calls[i].text);
        EXPECT_EQ(deletes, c.deleted_file.empty() ? std::vector<std::string>{}
                                                  : std::vector<std::string>{"olva_delete_file(" + c.deleted_file + ")"});
    }
    const std::string log = log_text();
    EXPECT_NE(log.find("   delete record size:2"), std::string::npos);
    EXPECT_NE(log.find("   delete record id(3) ok"), std::string::npos);
    EXPECT_NE(log.find("   delete record filename(" + rec + "/a.wav)"), std::string::npos);
    EXPECT_NE(log.find("   delete record filename(/etc/passwd) refused"), std::string::npos);
    EXPECT_NE(log.find("   need delete size(2), success delete count(1)"), std::string::npos);
}

TEST_F(HttpRecords, DatabaseFailuresShowAsNothingDone)
{
    start();
    ASSERT_EQ(add("{}"), 1);
    SqliteFile(db_file()).exec("DROP TABLE recordinfo");

    EXPECT_EQ(request("/addRecord", "{}").body, "{ \"code\": 200, \"id\":0}");
    EXPECT_EQ(request("/getRecord", "{}").body, formatted_json(R"({"code":200,"data":{"items":[],"size":0}})"));
    EXPECT_EQ(request("/getRecordCount", "{}").body, formatted_json(R"({"code":200,"data":{"total":0}})"));
    EXPECT_EQ(request("/deleteRecord", R"([{"ID":1}])").body,
              formatted_json(R"({"code":200,"status":"failed","count":1})"));
    EXPECT_TRUE(wait_for_log("   add record failed, res:1"));
    EXPECT_TRUE(wait_for_log("   get record failed, res:1"));
    EXPECT_TRUE(wait_for_log("   query recourd count failed"));
    EXPECT_TRUE(wait_for_log("   delete record id(1) failed"));
}

// Text that is not UTF-8 is refused whole: a stray byte, an overlong form,
// a surrogate encoded as UTF-8 (CESU-8), a sequence cut short, a value
// above U+10FFFF. Characters outside the first plane, raw or as an escaped
// pair, are text like any other.
TEST_F(HttpRecords, TextThatIsNotUtf8IsRefusedAndNothingStored)
{
    start();
    const std::string bad[] = {
        "\xff\xfe", "12\x80", "\xc0\xaf", "\xe0\x80\xaf", "\xed\xa0\x80\xed\xb0\x80", "\xe4\xb8",
        "\xf4\x90\x80\x80", "\xf8\x88\x80\x80\x80",
    };
    for (const std::string& text : bad) {
        for (const char* member : {"phoneNumber", "fileName"}) {
            const std::string body = std::string(R"({"lineId":1,")") + member + R"(":")" + text + R"(.wav"})";
            SCOPED_TRACE(body);
            const HttpResult res = request("/addRecord", body);
            EXPECT_EQ(res.status, 200);
            EXPECT_EQ(res.body, "{ \"code\": 200, \"id\":0}");
            EXPECT_TRUE(wait_for_log(std::string("   add record refused: ") + member + " is not valid UTF-8"));
        }
    }
    EXPECT_EQ(ids_found_by("SELECT recordid FROM recordinfo"), std::vector<long long>{});

    ASSERT_EQ(add("{\"phoneNumber\":\"\\ud83d\\ude00\",\"fileName\":\"/rec/\xf0\x9f\x98\x80.wav\"}"), 1);
    EXPECT_EQ(rows("SELECT phone, path FROM recordinfo"), (Rows{{"\xf0\x9f\x98\x80", "/rec/\xf0\x9f\x98\x80.wav"}}));
}

// A file written by another program may hold any bytes in its texts: the
// list still reads as strict JSON in UTF-8 to a parser we did not write,
// each bad byte shown as U+FFFD.
TEST_F(HttpRecords, BytesStoredByAnotherProgramAreListedAsValidUtf8)
{
    start();
    SqliteFile(db_file())
        .exec("INSERT INTO recordinfo VALUES (null, 1, 1, 1, CAST(X'31FFFE32' AS TEXT), '', '', 5, 6, "
              "CAST(X'2F7265632FEDA080EDB0802EC0AF77617622' AS TEXT), 0, CAST(X'FF' AS TEXT))");
    const HttpResult res = request("/getRecord", "{}");
    EXPECT_EQ(res.status, 200);
    const std::optional<bool> python = python_reads_json(res.body, temp_);
    if (!python)
        GTEST_SKIP() << "python3, the independent JSON reader, is not installed";
    EXPECT_TRUE(*python) << res.body;
    const JsonPtr json = parse(res.body);
    const cJSON* item = cJSON_GetArrayItem(
        cJSON_GetObjectItemCaseSensitive(cJSON_GetObjectItemCaseSensitive(json.get(), "data"), "items"), 0);
    ASSERT_TRUE(item) << res.body;
    const std::string fffd = "\xef\xbf\xbd";
    EXPECT_EQ(cJSON_GetObjectItemCaseSensitive(item, "phoneNumber")->valuestring, "1" + fffd + fffd + "2");
    EXPECT_EQ(cJSON_GetObjectItemCaseSensitive(item, "fileName")->valuestring,
              "/rec/" + fffd + fffd + fffd + fffd + fffd + fffd + "." + fffd + fffd + "wav\"");
}

// A record's size tells only what "JudgeFileSize" would: the size of a
// regular ".wav" or ".mp3" file, or of a name under which nothing is yet.
// Any other file, a link to one, a FIFO or a folder stores 0 unasked.
TEST_F(HttpRecords, OnlyARecordingsSizeIsTaken)
{
    start();
    olva_fake::set_result("olva_judge_file_size", 4096);
    const std::string dir = temp_.file("rec");
    std::filesystem::create_directories(dir + "/folder.wav");
    writeFile(dir + "/a.wav", "RIFF");
    writeFile(dir + "/b.MP3", "ID3");
    writeFile(dir + "/notes.txt", "notes");
    std::filesystem::create_symlink("/etc/shadow", dir + "/shadow.wav");
    std::filesystem::create_symlink(dir + "/a.wav", dir + "/link.wav");
    ASSERT_EQ(mkfifo((dir + "/fifo.wav").c_str(), 0600), 0);
    struct Case {
        std::string path;
        bool asked;
    };
    const Case cases[] = {
        {"/etc/shadow", false},
        {dir + "/notes.txt", false},
        {dir + "/shadow.wav", false},
        {dir + "/link.wav", false},
        {dir + "/fifo.wav", false},
        {dir + "/folder.wav", false},
        {dir + "/a.wav", true},
        {dir + "/b.MP3", true},
        {dir + "/not-yet.wav", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const int id = add(R"({"fileName":")" + c.path + "\"}");
        EXPECT_EQ(olva_fake::was_called("olva_judge_file_size(" + c.path + ")"), c.asked);
        EXPECT_EQ(rows("SELECT filesize FROM recordinfo WHERE recordid = " + std::to_string(id)),
                  (Rows{{c.asked ? "4096" : "0"}}));
    }
}

TEST_F(HttpRecords, ReplyFramesOnTheWire)
{
    start();
    ClientOptions options = client_options();
    const std::string end = "\r\n0\r\n\r\n";
    // The frame's own headers, then those of every reply: who may frame it.
    const std::string head =
        "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nTransfer-Encoding: chunked\r\n"
        "Content-Security-Policy: frame-ancestors 'self'\r\nX-Frame-Options: SAMEORIGIN\r\n\r\n";

    const std::string added = "{ \"code\": 200, \"id\":1}";
    EXPECT_EQ(raw_exchange(options,
                           "POST /addRecord HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 13\r\n\r\n"
                           "{\"lineId\":1}\n",
                           kWait, end),
              head + chunk_size(added) + "\r\n" + added + end);

    const std::string counted = formatted_json(R"({"code":200,"data":{"total":1}})");
    EXPECT_EQ(raw_exchange(options, "GET /getRecordCount HTTP/1.1\r\nHost: localhost\r\nContent-Length: 2\r\n\r\n{}",
                           kWait, end),
              head + chunk_size(counted) + "\r\n" + counted + end);
}

TEST_F(HttpRecords, RoutesByExactPathsAndByContainedDownloadNames)
{
    start();
    ASSERT_EQ(add("{}"), 1);
    const std::string one = formatted_json(R"({"code":200,"data":{"total":1}})");
    // The query is not part of the path; any method is taken.
    EXPECT_EQ(request("/getRecordCount?x=1", "{}").body, one);
    EXPECT_EQ(request("/getRecordCount", "{}", "PUT").body, one);

    // Near misses go to the web root, which has none of them.
    for (const char* target : {"/getRecordCount/", "/GETRECORDCOUNT", "/x/getRecordCount", "/getRecordCounts"}) {
        SCOPED_TRACE(target);
        const HttpResult res = request(target, "{}", "GET");
        EXPECT_EQ(res.status, 404);
        EXPECT_EQ(res.body, "not found\n");
    }
    writeFile(app_dir_ + "/webroot/getLog.txt", "static");
    EXPECT_EQ(request("/getLog.txt", "", "GET").body, "static");

    // The download routes take any path that holds their names.
    const std::string wav = temp_.file("a.wav");
    writeFile(wav, "RIFF");
    for (const std::string prefix : {"/downloadwav", "/x/downloadwav", "/x/downloadwav/y", "/downloadwavs"}) {
        SCOPED_TRACE(prefix);
        const HttpResult res = request(prefix + "?filename=" + wav, "", "GET");
        EXPECT_EQ(res.status, 200);
        EXPECT_EQ(res.body, "RIFF");
    }
    writeFile(uWebMgr.work_path() + "olva-log/old.log", "old");
    EXPECT_EQ(request("/a/downloadlogfile/b?filename=old.log", "", "GET").body, "old");
}

// The links of this process's open files that name path.
int open_descriptors_of(const std::string& path)
{
    int count = 0;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", ec)) {
        std::error_code link_ec;
        if (std::filesystem::read_symlink(entry.path(), link_ec) == path)
            ++count;
    }
    return count;
}

TEST_F(HttpRecords, ServiceOpensTheDatabaseInTheWorkDirectoryAndClosesIt)
{
    // An installed program keeps its data in the home directory.
    const std::string exe_dir = temp_.file("opt/apps/olva/bin");
    const std::string home = temp_.file("home/user");
    std::filesystem::create_directories(exe_dir + "/webroot");
    std::filesystem::create_directories(home);
    options_.exe_dir = exe_dir;
    options_.home_dir = home;
    app_dir_ = exe_dir;
    start();
    const std::string file = home + "/uWebWorkDir/olva.db";
    EXPECT_EQ(db_file(), file);
    EXPECT_FALSE(std::filesystem::exists(exe_dir + "/olva.db"));
    EXPECT_EQ(rows("SELECT name FROM sqlite_master WHERE type='table' AND name NOT LIKE 'sqlite_%' ORDER BY rowid"),
              (Rows{{"personinfo"}, {"recordinfo"}, {"groupinfo"}, {"backdir"}, {"userinfo"}, {"userlog"},
                    {"lineconfig"}, {"calltask"}}));
    EXPECT_EQ(rows("SELECT acco, name, flag FROM userinfo"), (Rows{{"admin", "admin", "11111"}}));
    EXPECT_EQ(add("{}"), 1);
    EXPECT_GE(open_descriptors_of(file), 1);

    uWebMgr.close_uWeb();
    EXPECT_EQ(open_descriptors_of(file), 0);
    EXPECT_EQ(ids_found_by("SELECT recordid FROM recordinfo"), std::vector<long long>{1});
}

}  // namespace
}  // namespace olva_test
