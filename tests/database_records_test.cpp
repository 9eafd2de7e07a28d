// Call records on a real SQLite file: adding, listing by page, counting and
// deleting, checked against what SQLite itself finds in the file.
#include "database/Database.h"

#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "support/sqlite_file.h"
#include "support/temp_dir.h"

namespace {

// RECORD_INFO is packed: a test copies a field (T{field}) before comparing
// it, as a reference to the field itself may be misaligned.

using olva_test::SqliteFile;
using olva_test::StatementLog;
using olva_test::TempDir;
using Rows = std::vector<std::vector<std::string>>;

class RecordsTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(db_.OpenDbase((dir_.path() + "/").c_str()), 0); }

    std::string file() const { return dir_.file("olva.db"); }

    int add(std::int32_t type, std::int64_t begin, std::int64_t end)
    {
        RECORD_INFO record{};
        record.type = type;
        record.begintime = begin;
        record.endtime = end;
        EXPECT_EQ(db_.AddRecord(record), 0);
        return record.recordid;
    }

    // The ids of a query's records, in order; empty when there are none.
    std::vector<long long> ids_of(const RECORD_SELECT& query)
    {
        std::vector<RECORD_INFO> records;
        const int res = db_.GetOlvaRecord(query, records);
        EXPECT_TRUE(res == 0 || res == -2) << res;
        EXPECT_EQ(res == -2, records.empty());
        std::vector<long long> ids;
        for (const RECORD_INFO& record : records)
            ids.push_back(record.recordid);
        return ids;
    }

    TempDir dir_;
    Database db_;
};

TEST_F(RecordsTest, NumbersRecordsFromOneAndNeverReusesAnId)
{
    EXPECT_EQ(add(1, 100, 200), 1);
    EXPECT_EQ(add(1, 300, 400), 2);
    EXPECT_EQ(ids_of({}), (std::vector<long long>{1, 2}));
    ASSERT_EQ(db_.DelRecord(2), 0);
    EXPECT_EQ(add(1, 500, 600), 3);
}

TEST_F(RecordsTest, RoundTripsEveryFieldWithQuotesAndNonAsciiText)
{
    const char* texts[] = {
        "0'1\"2''",
        "'); DROP TABLE recordinfo; --",
        "北京市海淀区",
        "Ünïcødé ☎ 📞",
        "%s%d\\n%n",
        "",
    };
    std::int32_t type = 10;
    for (const char* text : texts) {
        SCOPED_TRACE(text);
        RECORD_INFO record{};
        record.reserved = 77;
        record.recordid = 999;
        record.inchlno = INT32_MIN;
        record.outchlno = INT32_MAX;
        record.type = ++type;
        set_record_text(record.phone, text);
        set_record_text(record.dtmf, text);
        set_record_text(record.area, text);
        record.begintime = 5000000000;  // beyond 32 bits
        record.endtime = -1;
        set_record_text(record.path, std::string("/录音/") + text + ".wav");
        record.filesize = 123456;
        set_record_text(record.memo, text);
        ASSERT_EQ(db_.AddRecord(record), 0);

        RECORD_INFO expected = record;
        expected.reserved = 0;
        std::vector<RECORD_INFO> records;
        ASSERT_EQ(db_.GetOlvaRecord({record_filter_of(type, 0, 0), std::nullopt}, records), 0);
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(std::memcmp(&records[0], &expected, sizeof expected), 0);
        EXPECT_EQ(record_text(records[0].phone), text);
        EXPECT_EQ(std::int64_t{records[0].begintime}, 5000000000);

        // The file holds the text itself, neither quoted nor escaped.
        SqliteFile raw(file());
        EXPECT_EQ(raw.rows("SELECT phone, dtmf, area, path, memo, begintime, inchlno FROM recordinfo WHERE "
                           "recordid = " + std::to_string(record.recordid)),
                  (Rows{{text, text, text, std::string("/录音/") + text + ".wav", text, "5000000000",
                         std::to_string(INT32_MIN)}}));
    }
    SqliteFile raw(file());
    EXPECT_EQ(raw.integers("SELECT count(*) FROM recordinfo"), std::vector<long long>{std::size(texts)});
}

TEST(RecordTextTest, CutsToTheFieldNeverInsideACharacter)
{
    struct Case {
        std::string text;
        std::string kept;
    };
    const Case cases[] = {
        {"", ""},
        {"1234567", "1234567"},
        {"12345678", "1234567"},
        {"123456\xc3\xa9", "123456"},           // é would be split
        {"12345\xc3\xa9", "12345\xc3\xa9"},     // é fits
        {"1234\xf0\x9f\x93\x9e", "1234"},       // a four-byte character
        {"123\xf0\x9f\x93\x9e", "123\xf0\x9f\x93\x9e"},
        {"\xe5\x8c\x97\xe4\xba\xac\xe5\xb8\x82", "\xe5\x8c\x97\xe4\xba\xac"},
        {std::string(9, '\x80'), std::string(7, '\x80')},  // not UTF-8
        {std::string("ab\0cd", 5), "ab"},
    };
    for (const Case& c : cases) {
        char field[8];
        std::memset(field, 'x', sizeof field);
        set_record_text(field, c.text);
        EXPECT_EQ(std::string(field, sizeof field), c.kept + std::string(sizeof field - c.kept.size(), '\0'))
            << c.text;
        EXPECT_EQ(record_text(field), c.kept);
    }

    // A field without its NUL gives what a terminated one would hold.
    char full[8];
    std::memcpy(full, "1234567\xc3", 8);
    EXPECT_EQ(record_text(full), "1234567");
    std::memcpy(full, "123456\xc3\xa9", 8);
    EXPECT_EQ(record_text(full), "123456");
}

TEST_F(RecordsTest, OverlongTextIsCutToTheField)
{
    using Setter = void (*)(RECORD_INFO&, std::string_view);
    const Setter phone = [](RECORD_INFO& r, std::string_view text) { set_record_text(r.phone, text); };
    const Setter path = [](RECORD_INFO& r, std::string_view text) { set_record_text(r.path, text); };
    const Setter memo = [](RECORD_INFO& r, std::string_view text) { set_record_text(r.memo, text); };
    struct Case {
        const char* name;
        Setter set;
        const char* column;
        std::string text;
        std::string stored;
    };
    const Case cases[] = {
        {"phone of 40 digits", phone, "phone", std::string(40, '5'), std::string(31, '5')},
        {"phone with a character across the end", phone, "phone", std::string(30, '5') + "北",
         std::string(30, '5')},
        {"phone that fits", phone, "phone", std::string(31, '5'), std::string(31, '5')},
        {"path of 300 bytes", path, "path", std::string(300, 'p'), std::string(254, 'p')},
        {"path with a character across the end", path, "path", std::string(253, 'p') + "é",
         std::string(253, 'p')},
        {"memo that fits", memo, "memo", std::string(127, 'm'), std::string(127, 'm')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RECORD_INFO record{};
        c.set(record, c.text);
        ASSERT_EQ(db_.AddRecord(record), 0);
        SqliteFile raw(file());
        EXPECT_EQ(raw.rows(std::string("SELECT ") + c.column + " FROM recordinfo WHERE recordid = " +
                           std::to_string(record.recordid)),
                  Rows{{c.stored}});
    }
}

TEST_F(RecordsTest, FieldWithoutItsNulIsStoredCut)
{
    // On the heap, so that the address sanitizer sees a read past the last
    // field.
    const auto record = std::make_unique<RECORD_INFO>();
    std::memset(record->phone, '9', sizeof record->phone);
    set_record_text(record->dtmf, "*#");
    std::memset(record->memo, 'm', sizeof record->memo);
    ASSERT_EQ(db_.AddRecord(*record), 0);
    SqliteFile raw(file());
    EXPECT_EQ(raw.rows("SELECT phone, dtmf, memo FROM recordinfo"),
              (Rows{{std::string(31, '9'), "*#", std::string(127, 'm')}}));
}

TEST_F(RecordsTest, StoredTextLongerThanTheFieldIsReadCut)
{
    add(1, 10, 20);
    {
        SqliteFile raw(file());
        raw.exec("UPDATE recordinfo SET phone = '" + std::string(40, '7') + "', path = '" + std::string(400, 'q') +
                 "', area = NULL, memo = 42");
    }
    std::vector<RECORD_INFO> records;
    ASSERT_EQ(db_.GetOlvaRecord({}, records), 0);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(std::string(records[0].phone, sizeof records[0].phone), std::string(31, '7') + '\0');
    EXPECT_EQ(record_text(records[0].path), std::string(254, 'q'));
    EXPECT_EQ(record_text(records[0].area), "");
    EXPECT_EQ(record_text(records[0].memo), "42");
}

// 120 records of types 0 to 3, begin times 1000, 1010, ... added out of
// order, so that the order of the file and that of the times differ.
class QueryTest : public RecordsTest {
protected:
    static constexpr int kRecords = 120;

    void SetUp() override
    {
        RecordsTest::SetUp();
        for (int n = 0; n < kRecords; ++n) {
            const int i = n * 7 % kRecords;
            add(i % 4, 1000 + 10 * i, 1000 + 10 * i + 5 + i % 7);
        }
    }

    // What SQLite finds for a statement the test writes out itself.
    std::vector<long long> ids_found_by(const std::string& sql)
    {
        SqliteFile raw(file());
        return raw.integers(sql);
    }
};

// A page of records as a browser asks for it, and the tail of the SQL that
// selects the same page.
struct PageCase {
    int phone_type;
    int start_time;
    int end_time;
    int page;
    int limit;
    const char* tail;  // how the record list has always been asked for
};

TEST_F(QueryTest, PagesSelectWhatTheirSqlTailsSelect)
{
    const PageCase cases[] = {
        {2, 0, 0, 3, 10, " where type=2  ORDER BY begintime DESC limit 20,10 "},
        {2, 0, 0, 1, 20, " where type=2  ORDER BY begintime DESC limit 0,20 "},
        {0, 0, 0, 1, 20, " ORDER BY begintime DESC limit 0,20  "},
        {0, 0, 0, 6, 20, " ORDER BY begintime DESC limit 100,20  "},
        {0, 0, 0, 2, 7, " ORDER BY begintime DESC limit 7,7  "},
        {1, 1210, 1620, 1, 20, " where type=1 and begintime>1210  AND endtime<1620 ORDER BY begintime DESC limit 0,20 "},
        {1, 1210, 1620, 2, 3, " where type=1 and begintime>1210  AND endtime<1620 ORDER BY begintime DESC limit 3,3 "},
        {0, 1210, 1620, 1, 100, "where begintime>1210  AND endtime<1620  ORDER BY begintime DESC limit 0,100 "},
        {0, 1210, 1620, 2, 5, "where begintime>1210  AND endtime<1620  ORDER BY begintime DESC limit 5,5 "},
        {3, 1500, 0, 1, 20, " where type=3  ORDER BY begintime DESC limit 0,20 "},
        {3, 0, 1500, 1, 20, " where type=3  ORDER BY begintime DESC limit 0,20 "},
        {2, -5, 1500, 1, 20, " where type=2  ORDER BY begintime DESC limit 0,20 "},
        {0, 1500, 0, 1, 200, " ORDER BY begintime DESC limit 0,200  "},
        {0, 0, 1500, 1, 50, " ORDER BY begintime DESC limit 0,50  "},
        {0, 0, 0, 0, 10, " ORDER BY begintime DESC limit -10,10  "},
        {1, 0, 0, 1, 0, " where type=1  ORDER BY begintime DESC limit 0,0 "},
        {7, 0, 0, 1, 20, " where type=7  ORDER BY begintime DESC limit 0,20 "},
        {0, 0, 0, 7, 20, " ORDER BY begintime DESC limit 120,20  "},
    };
    for (const PageCase& c : cases) {
        SCOPED_TRACE(c.tail);
        const std::vector<long long> expected = ids_found_by(std::string("SELECT * FROM recordinfo ") + c.tail);
        const RECORD_SELECT query{record_filter_of(c.phone_type, c.start_time, c.end_time),
                                  record_page_of(c.page, c.limit)};
        EXPECT_EQ(ids_of(query), expected);
    }
    // A request without a page lists every record, in the order of the file.
    EXPECT_EQ(ids_of({}), ids_found_by("SELECT * FROM recordinfo "));
    EXPECT_EQ(ids_of({}).size(), std::size_t{kRecords});
}

TEST_F(QueryTest, CountsWhatTheirConditionsCount)
{
    struct Case {
        int phone_type;
        int start_time;
        int end_time;
        const char* condition;  // empty: all records
    };
    const Case cases[] = {
        {2, 1210, 1620, "type=2 and begintime>1210  AND endtime<1620"},
        {2, 0, 1620, " type=2 "},
        {2, 1210, 0, " type=2 "},
        {3, 0, 0, " type=3 "},
        {0, 1210, 1620, "begintime>1210  AND endtime<1620"},
        {0, 1210, 0, ""},
        {0, 0, 1620, ""},
        {0, 0, 0, ""},
        {9, 0, 0, " type=9 "},
        {0, 1, 1, "begintime>1  AND endtime<1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.condition);
        const std::string sql = *c.condition ? std::string("SELECT count(*) from recordinfo where  ") + c.condition
                                             : std::string("SELECT count(*) from recordinfo");
        const std::vector<long long> expected = ids_found_by(sql);
        ASSERT_EQ(expected.size(), 1u);
        EXPECT_EQ(db_.GetRecordCount(record_filter_of(c.phone_type, c.start_time, c.end_time)), expected[0]);
    }
    EXPECT_EQ(db_.GetRecordCount({}), kRecords);
}

// Calls that start in the same second: records of one start time come in the
// order they were added, as they did when every page sorted the table (the
// same query with the index set aside).
TEST_F(RecordsTest, RecordsOfTheSameStartTimeKeepTheirOrder)
{
    // Added in one transaction: one by one they take seconds to reach the disk.
    std::string insert = "BEGIN;";
    for (int n = 0; n < 300; ++n) {
        const int i = n * 7 % 300;
        const int begin = 1000 + 10 * (i % 9);
        insert += "INSERT INTO recordinfo VALUES (null, 1, 1, " + std::to_string(i % 3 + 1) + ", '', '', '', " +
                  std::to_string(begin) + ", " + std::to_string(begin + 5 + i % 4) + ", '', 0, '');";
    }
    SqliteFile(file()).exec(insert + "COMMIT");
    const PageCase cases[] = {
        {0, 0, 0, 1, 20, " ORDER BY begintime DESC limit 0,20"},
        {0, 0, 0, 4, 37, " ORDER BY begintime DESC limit 111,37"},
        {0, 0, 0, 15, 20, " ORDER BY begintime DESC limit 280,20"},
        {0, 0, 0, 1, 300, " ORDER BY begintime DESC limit 0,300"},
        {2, 0, 0, 2, 30, " where type=2 ORDER BY begintime DESC limit 30,30"},
        {0, 1010, 1071, 1, 200, " where begintime>1010 AND endtime<1071 ORDER BY begintime DESC limit 0,200"},
        {3, 1010, 1071, 2, 9, " where type=3 and begintime>1010 AND endtime<1071 ORDER BY begintime DESC limit 9,9"},
    };
    SqliteFile raw(file());
    for (const PageCase& c : cases) {
        SCOPED_TRACE(c.tail);
        const std::vector<long long> sorted = raw.integers(std::string("SELECT * FROM recordinfo NOT INDEXED") + c.tail);
        ASSERT_FALSE(sorted.empty());
        EXPECT_EQ(ids_of({record_filter_of(c.phone_type, c.start_time, c.end_time), record_page_of(c.page, c.limit)}),
                  sorted);
    }
}

TEST_F(QueryTest, PagesFarOutGiveNoRecords)
{
    // (page - 1) * limit is 2^32 here, which 32-bit arithmetic would wrap to
    // 0 and so list the first page again.
    struct Case {
        int page;
        int limit;
    };
    const Case cases[] = {{(1 << 30) + 1, 4}, {INT_MAX, INT_MAX}, {65537, 65536}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.page);
        std::vector<RECORD_INFO> records(1);
        EXPECT_EQ(db_.GetOlvaRecord({{}, record_page_of(c.page, c.limit)}, records), -2);
        EXPECT_EQ(records.size(), 1u);
    }
}

TEST_F(QueryTest, RecordsAreAppendedToWhatTheListHolds)
{
    std::vector<RECORD_INFO> records(2);
    records[1].recordid = 4321;
    ASSERT_EQ(db_.GetOlvaRecord({record_filter_of(1, 0, 0), record_page_of(1, 5)}, records), 0);
    ASSERT_EQ(records.size(), 7u);
    EXPECT_EQ(std::int32_t{records[1].recordid}, 4321);
    for (std::size_t i = 2; i < records.size(); ++i)
        EXPECT_EQ(std::int32_t{records[i].type}, 1);
    EXPECT_EQ(db_.GetOlvaRecord({record_filter_of(5, 0, 0), std::nullopt}, records), -2);
    EXPECT_EQ(records.size(), 7u);
}

TEST_F(RecordsTest, DeletesOnlyTheRecordNamed)
{
    add(1, 10, 20);
    add(2, 30, 40);
    add(3, 50, 60);
    EXPECT_EQ(db_.DelRecord(2), 0);
    EXPECT_EQ(db_.GetRecordCount({}), 2);
    EXPECT_EQ(ids_of({}), (std::vector<long long>{1, 3}));
    // What is gone stays gone, and the rest stay.
    EXPECT_EQ(db_.DelRecord(2), 0);
    EXPECT_EQ(db_.DelRecord(-7), 0);
    EXPECT_EQ(db_.GetRecordCount({}), 2);

    ASSERT_EQ(db_.CloseDbase(), 0);
    ASSERT_EQ(db_.OpenDbase((dir_.path() + "/").c_str()), 0);
    EXPECT_EQ(ids_of({}), (std::vector<long long>{1, 3}));
    EXPECT_EQ(SqliteFile(file()).integers("SELECT recordid FROM recordinfo ORDER BY recordid"),
              (std::vector<long long>{1, 3}));
}

TEST_F(RecordsTest, FailedStatementsReportTheirSqliteCode)
{
    struct Case {
        const char* name;
        const char* breaking_sql;  // run on a second connection, held open
        int code;
    };
    const Case cases[] = {
        {"table dropped", "DROP TABLE recordinfo", SQLITE_ERROR},
        {"file locked by another connection", "BEGIN EXCLUSIVE", SQLITE_BUSY},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(db_.CloseDbase(), 0);
        std::remove(file().c_str());
        ASSERT_EQ(db_.OpenDbase((dir_.path() + "/").c_str()), 0);
        add(1, 10, 20);
        SqliteFile other(file());
        other.exec(c.breaking_sql);

        // A count is never the code of a failure.
        EXPECT_EQ(db_.GetRecordCount({}), -1);
        EXPECT_EQ(db_.GetRecordCount(record_filter_of(1, 5, 25)), -1);
        std::vector<RECORD_INFO> records(1);
        EXPECT_EQ(db_.GetOlvaRecord({}, records), c.code);
        EXPECT_EQ(db_.GetOlvaRecord({record_filter_of(1, 0, 0), record_page_of(1, 20)}, records), c.code);
        EXPECT_EQ(records.size(), 1u);
        RECORD_INFO record{};
        record.recordid = 66;
        EXPECT_EQ(db_.AddRecord(record), c.code);
        EXPECT_EQ(std::int32_t{record.recordid}, 66);
        EXPECT_EQ(db_.DelRecord(1), c.code);
    }
}

TEST_F(RecordsTest, NoValueIsWrittenIntoTheSqlText)
{
    // The log sees the connections opened after it.
    StatementLog log;
    ASSERT_EQ(db_.OpenDbase((dir_.path() + "/").c_str()), 0);
    log.clear();
    RECORD_INFO record{};
    record.inchlno = 3131;
    record.outchlno = 3232;
    record.type = 4242;
    set_record_text(record.phone, "5550'1234");
    set_record_text(record.dtmf, "dtmf-marker");
    set_record_text(record.area, "area-marker");
    record.begintime = 1234567890123;
    record.endtime = 1234567899876;
    set_record_text(record.path, "/rec/it's.wav");
    record.filesize = 8765;
    set_record_text(record.memo, "memo-marker");
    ASSERT_EQ(db_.AddRecord(record), 0);
    EXPECT_EQ(db_.GetRecordCount(record_filter_of(4242, 1234567890000, 1234567899999)), 1);
    std::vector<RECORD_INFO> records;
    EXPECT_EQ(db_.GetOlvaRecord({record_filter_of(4242, 1234567890000, 1234567899999), RECORD_PAGE{0, 5555}},
                                records),
              0);
    EXPECT_EQ(db_.GetOlvaRecord({{}, record_page_of(7778, 1)}, records), -2);
    EXPECT_EQ(db_.DelRecord(record.recordid), 0);

    ASSERT_EQ(log.statements().size(), 5u);
    const std::string values[] = {"3131", "3232", "4242", "5550", "marker", "1234567", "it's", "8765",
                                  "5555", "7777", "7778"};
    for (const std::string& sql : log.statements()) {
        SCOPED_TRACE(sql);
        EXPECT_NE(sql.find('?'), std::string::npos);
        for (const std::string& value : values)
            EXPECT_EQ(sql.find(value), std::string::npos) << value;
    }
}

}  // namespace
