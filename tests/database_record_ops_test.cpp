// Call records edited, deleted by time, read one by one and with the names
// of their contacts, on a real SQLite file checked against what SQLite
// itself finds in it.
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "database/Database.h"
#include "support/database_fixture.h"

namespace {

// RECORD_INFO is packed: a test copies a field (T{field}) before comparing
// it, as a reference to the field itself may be misaligned.

using olva_test::DbRows;

struct CallRow {
    std::int32_t type;
    const char* phone;
    std::int64_t begin;
};

class RecordOpsTest : public olva_test::OpenDatabaseTest {
protected:
    int add(const CallRow& call)
    {
        RECORD_INFO record{};
        record.inchlno = 1;
        record.type = call.type;
        set_record_text(record.phone, call.phone);
        record.begintime = call.begin;
        record.endtime = call.begin + 60;
        set_record_text(record.memo, std::string("memo of ") + call.phone);
        EXPECT_EQ(db_.AddRecord(record), 0);
        return record.recordid;
    }

    void add_all(const std::vector<CallRow>& calls)
    {
        for (const CallRow& call : calls)
            add(call);
    }

    // Starts again on a new file.
    void renew()
    {
        ASSERT_EQ(db_.CloseDbase(), 0);
        ASSERT_EQ(std::remove(file().c_str()), 0);
        ASSERT_EQ(db_.OpenDbase((dir_.path() + "/").c_str()), 0);
    }

    std::vector<long long> file_ids()
    {
        return olva_test::SqliteFile(file()).integers("SELECT recordid FROM recordinfo ORDER BY recordid");
    }

    static std::vector<long long> ids_of(const std::vector<RECORD_INFO>& records)
    {
        std::vector<long long> ids;
        for (const RECORD_INFO& r : records)
            ids.push_back(r.recordid);
        return ids;
    }
};

// Start times beyond 32 bits, which a 32-bit number would wrap.
constexpr std::int64_t kT = 5000000000;

const std::vector<CallRow> kCalls = {
    {1, "010'123", kT + 100}, {2, "139", kT + 200}, {1, "010'123", kT + 300}, {3, "139", kT + 400}, {1, "", kT + 500},
};

TEST_F(RecordOpsTest, DeletesRecordsThatStartedBeforeATime)
{
    struct Case {
        const char* phone;  // null: any number
        std::int64_t before;
        std::vector<long long> left;
    };
    const Case cases[] = {
        {nullptr, kT + 300, {3, 4, 5}},
        {nullptr, kT + 301, {4, 5}},
        {nullptr, kT + 100, {1, 2, 3, 4, 5}},
        {nullptr, kT + 1000, {}},
        {"010'123", kT + 301, {2, 4, 5}},
        {"010'123", kT + 1000, {2, 4, 5}},
        {"139", kT + 400, {1, 3, 4, 5}},
        {"", kT + 1000, {1, 2, 3, 4}},
        {"010", kT + 1000, {1, 2, 3, 4, 5}},
        {"' OR ''='", kT + 1000, {1, 2, 3, 4, 5}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.phone ? c.phone : "any") + " before " + std::to_string(c.before - kT));
        renew();
        add_all(kCalls);
        const int res =
            c.phone ? db_.DelRecord(c.phone, RECORD_BEFORE{c.before}) : db_.DelRecord(RECORD_BEFORE{c.before});
        EXPECT_EQ(res, 0);
        EXPECT_EQ(file_ids(), c.left);
    }
}

TEST_F(RecordOpsTest, EditsEveryFieldOrTheMemo)
{
    add_all(kCalls);
    RECORD_INFO edited{};
    edited.recordid = 2;
    edited.reserved = 99;
    edited.inchlno = 2;
    edited.outchlno = 7;
    edited.type = 9;
    set_record_text(edited.phone, "+86'10");
    set_record_text(edited.dtmf, "#123*");
    set_record_text(edited.area, "北京");
    edited.begintime = kT * 2;
    edited.endtime = kT * 2 + 5;
    set_record_text(edited.path, "/录音/it's.mp3");
    edited.filesize = 4096;
    set_record_text(edited.memo, "改过");
    ASSERT_EQ(db_.EdtRecord(edited), 0);
    EXPECT_EQ(rows("SELECT * FROM recordinfo WHERE recordid = 2"),
              (DbRows{{"2", "2", "7", "9", "+86'10", "#123*", "北京", std::to_string(kT * 2),
                       std::to_string(kT * 2 + 5), "/录音/it's.mp3", "4096", "改过"}}));
    RECORD_INFO read{};
    ASSERT_EQ(db_.GetRecord(2, read), 0);
    edited.reserved = 0;
    EXPECT_EQ(std::memcmp(&read, &edited, sizeof read), 0);

    ASSERT_EQ(db_.EdtRecord(3, "回拨 'later'"), 0);
    EXPECT_EQ(rows("SELECT memo, phone FROM recordinfo WHERE recordid = 3"), (DbRows{{"回拨 'later'", "010'123"}}));
    EXPECT_EQ(rows("SELECT memo FROM recordinfo WHERE recordid = 1"), (DbRows{{"memo of 010'123"}}));

    // Nothing there: nothing changes.
    edited.recordid = 40;
    EXPECT_EQ(db_.EdtRecord(edited), 0);
    EXPECT_EQ(db_.EdtRecord(41, "x"), 0);
    EXPECT_EQ(rows("SELECT count(*) FROM recordinfo"), (DbRows{{"5"}}));
}

TEST_F(RecordOpsTest, ReadsOneRecordByIdOrByNumberAndStart)
{
    add_all(kCalls);
    struct Case {
        std::optional<int> id;
        const char* phone;
        std::int64_t begin;
        int found;  // 0: none
    };
    const Case cases[] = {
        {3, nullptr, 0, 3},
        {5, nullptr, 0, 5},
        {6, nullptr, 0, 0},
        {-1, nullptr, 0, 0},
        {std::nullopt, "010'123", kT + 300, 3},
        {std::nullopt, "139", kT + 200, 2},
        {std::nullopt, "", kT + 500, 5},
        {std::nullopt, "139", kT + 300, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id ? std::to_string(*c.id) : std::string(c.phone) + "@" + std::to_string(c.begin));
        RECORD_INFO record{};
        record.recordid = 77;
        const int res = c.id ? db_.GetRecord(*c.id, record) : db_.GetRecord(c.phone, c.begin, record);
        EXPECT_EQ(res, c.found ? 0 : -2);
        EXPECT_EQ(std::int32_t{record.recordid}, c.found ? c.found : 77);
        if (c.found) {
            const CallRow& call = kCalls[c.found - 1];
            EXPECT_EQ(record_text(record.phone), call.phone);
            EXPECT_EQ(std::int64_t{record.begintime}, call.begin);
            EXPECT_EQ(record_text(record.memo), std::string("memo of ") + call.phone);
        }
    }
}

TEST_F(RecordOpsTest, ListsByTypeAllAndFindsNumbers)
{
    std::vector<RECORD_INFO> records;
    EXPECT_EQ(db_.GetAllRecord(records), -2);
    add_all(kCalls);
    add({0, "0", kT});
    ASSERT_EQ(db_.GetAllRecord(records), 0);
    EXPECT_EQ(ids_of(records), (std::vector<long long>{1, 2, 3, 4, 5, 6}));

    struct Case {
        int type;
        std::vector<long long> ids;
    };
    // Type 0 is a type like any other here, not "any type".
    const Case cases[] = {{1, {1, 3, 5}}, {2, {2}}, {3, {4}}, {0, {6}}, {4, {}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        records.clear();
        EXPECT_EQ(db_.GetRecordType(c.type, records), c.ids.empty() ? -2 : 0);
        EXPECT_EQ(ids_of(records), c.ids);
    }

    struct Number {
        const char* phone;
        int result;
    };
    const Number numbers[] = {{"010'123", 0}, {"139", 0}, {"", 0}, {"13", -2}, {"' OR ''='", -2}};
    for (const Number& n : numbers) {
        SCOPED_TRACE(n.phone);
        EXPECT_EQ(db_.IsHaveRecord(n.phone), n.result);
    }
}

TEST_F(RecordOpsTest, MaxRecordIdOfEmptyAndFullTables)
{
    EXPECT_EQ(db_.GetMaxRecordId(), 0);
    // A full table, written in one go.
    std::string insert = "BEGIN;";
    for (int i = 0; i < 1000; ++i)
        insert += "INSERT INTO recordinfo VALUES (null, 1, 1, 1, '', '', '', " + std::to_string(kT + i) +
                  ", 0, '', 0, '');";
    olva_test::SqliteFile(file()).exec(insert + "COMMIT");
    EXPECT_EQ(db_.GetMaxRecordId(), 1000);
    EXPECT_EQ(add({1, "x", kT}), 1001);
    EXPECT_EQ(db_.GetMaxRecordId(), 1001);
    // The highest id there is, not the highest ever given.
    ASSERT_EQ(db_.DelRecord(1001), 0);
    ASSERT_EQ(db_.DelRecord(1000), 0);
    EXPECT_EQ(db_.GetMaxRecordId(), 999);
    ASSERT_EQ(db_.DelRecord(RECORD_BEFORE{kT + 1000}), 0);
    EXPECT_EQ(db_.GetMaxRecordId(), 0);
}

// A period would let SQLite read the records by the index of start times,
// newest first; a list without a page comes in the order they were added.
TEST_F(RecordOpsTest, ListsWithoutAPageKeepTheOrderRecordsWereAdded)
{
    add_all({{1, "a", kT + 300}, {2, "b", kT + 100}, {1, "c", kT + 200}, {1, "d", kT + 400}});
    struct Case {
        RECORD_FILTER filter;
        std::vector<long long> ids;
    };
    const Case cases[] = {
        {record_filter_of(0, kT + 50, kT + 1000), {1, 2, 3, 4}},
        {record_filter_of(1, kT + 150, kT + 1000), {1, 3, 4}},
        {record_filter_of(0, kT + 150, kT + 350), {3}},
        {{}, {1, 2, 3, 4}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ids.size());
        std::vector<RECORD_INFO> records;
        ASSERT_EQ(db_.GetOlvaRecord({c.filter, std::nullopt}, records), 0);
        EXPECT_EQ(ids_of(records), c.ids);
        std::vector<RECORD_QUERY> named;
        ASSERT_EQ(db_.GetRecordEx({c.filter, std::nullopt}, named), 0);
        std::vector<long long> named_ids;
        for (const RECORD_QUERY& r : named)
            named_ids.push_back(r.recordid);
        EXPECT_EQ(named_ids, c.ids);
    }
}

// Contacts with a number in one phone column each; records of those numbers,
// of a number nobody has, and of no number.
class NamedRecordsTest : public RecordOpsTest {
protected:
    void SetUp() override
    {
        RecordOpsTest::SetUp();
        for (const auto& [column, field] : kColumns) {
            PERSON_INFO p{};
            set_record_text(p.name, std::string("名-") + column);
            set_record_text(p.*field, std::string("N-") + column);
            ASSERT_EQ(db_.AddPerson(p), 0);
        }
        // Someone without numbers, and a second contact of N-phone, by mobile.
        PERSON_INFO nobody{};
        set_record_text(nobody.name, "nobody");
        ASSERT_EQ(db_.AddPerson(nobody), 0);
        PERSON_INFO twin{};
        set_record_text(twin.name, "twin");
        set_record_text(twin.mobile, "N-phone");
        ASSERT_EQ(db_.AddPerson(twin), 0);

        // Records 1 to 6, one per column's number, starting later each.
        for (std::size_t i = 0; i < std::size(kColumns); ++i)
            add({1, (std::string("N-") + kColumns[i].first).c_str(), kT + 10 * static_cast<int>(i)});
        add({1, "unknown", kT + 100});  // 7
        add({1, "", kT + 110});         // 8
        add({2, "N-phone", kT + 120});  // 9
    }

    static constexpr std::pair<const char*, char(PERSON_INFO::*)[32]> kColumns[] = {
        {"phone", &PERSON_INFO::phone},   {"phone1", &PERSON_INFO::phone1}, {"phone2", &PERSON_INFO::phone2},
        {"exten", &PERSON_INFO::exten},   {"mobile", &PERSON_INFO::mobile}, {"mobile1", &PERSON_INFO::mobile1},
    };

    using Named = std::vector<std::pair<long long, std::string>>;

    static Named named(const std::vector<RECORD_QUERY>& records)
    {
        Named rows;
        for (const RECORD_QUERY& r : records)
            rows.emplace_back(std::int32_t{r.recordid}, std::string(r.name, strnlen(r.name, sizeof r.name)));
        return rows;
    }
};

TEST_F(NamedRecordsTest, FindsTheContactByEachPhoneColumn)
{
    struct Case {
        PERSON_PHONE by;
        Named expected;
    };
    const Case cases[] = {
        {PERSON_PHONE::phone, {{1, "名-phone"}, {9, "名-phone"}}},
        {PERSON_PHONE::phone1, {{2, "名-phone1"}}},
        {PERSON_PHONE::phone2, {{3, "名-phone2"}}},
        {PERSON_PHONE::exten, {{4, "名-exten"}}},
        // The twin has N-phone as mobile.
        {PERSON_PHONE::mobile, {{1, "twin"}, {5, "名-mobile"}, {9, "twin"}}},
        {PERSON_PHONE::mobile1, {{6, "名-mobile1"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.by));
        std::vector<RECORD_QUERY> records;
        ASSERT_EQ(db_.GetRecord(c.by, RECORD_SELECT{}, records), 0);
        EXPECT_EQ(named(records), c.expected);
        for (const RECORD_QUERY& r : records) {
            // The record's own fields come with the name.
            EXPECT_EQ(std::string(r.memo), std::string("memo of ") + r.phone);
            EXPECT_EQ(std::int64_t{r.endtime} - std::int64_t{r.begintime}, 60);
        }
    }
}

TEST_F(NamedRecordsTest, JoinedFormsTakeTheFilterAndPage)
{
    struct Case {
        PERSON_PHONE by;
        RECORD_SELECT query;
        Named expected;
    };
    const Case cases[] = {
        {PERSON_PHONE::phone, {record_filter_of(2, 0, 0), std::nullopt}, {{9, "名-phone"}}},
        {PERSON_PHONE::phone, {record_filter_of(1, 0, 0), std::nullopt}, {{1, "名-phone"}}},
        // Newest first in a page.
        {PERSON_PHONE::mobile, {{}, record_page_of(1, 2)}, {{9, "twin"}, {5, "名-mobile"}}},
        {PERSON_PHONE::mobile, {{}, record_page_of(2, 2)}, {{1, "twin"}}},
        {PERSON_PHONE::mobile, {record_filter_of(0, kT + 30, kT + 105), std::nullopt}, {{5, "名-mobile"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.by));
        std::vector<RECORD_QUERY> records;
        ASSERT_EQ(db_.GetRecord(c.by, c.query, records), 0);
        EXPECT_EQ(named(records), c.expected);
    }
    std::vector<RECORD_QUERY> records(1);
    EXPECT_EQ(db_.GetRecord(PERSON_PHONE::exten, {record_filter_of(2, 0, 0), std::nullopt}, records), -2);
    EXPECT_EQ(db_.GetRecord(static_cast<PERSON_PHONE>(6), {}, records), -1);
    EXPECT_EQ(records.size(), 1u);
}

TEST_F(NamedRecordsTest, RecordsWithoutANumberBelongToNobody)
{
    // Every contact but one has empty phone columns, and so does record 8.
    for (const auto& entry : kColumns) {
        SCOPED_TRACE(entry.first);
        std::vector<RECORD_QUERY> records;
        const PERSON_PHONE by = static_cast<PERSON_PHONE>(&entry - kColumns);
        ASSERT_EQ(db_.GetRecord(by, {}, records), 0);
        for (const RECORD_QUERY& r : records)
            EXPECT_NE(std::int32_t{r.recordid}, 8);
    }
}

TEST_F(NamedRecordsTest, ExtendedListNamesEveryRecordOnce)
{
    std::vector<RECORD_QUERY> records;
    ASSERT_EQ(db_.GetRecordEx({}, records), 0);
    // N-phone's first contact is the one added first.
    EXPECT_EQ(named(records), (Named{{1, "名-phone"},
                                     {2, "名-phone1"},
                                     {3, "名-phone2"},
                                     {4, "名-exten"},
                                     {5, "名-mobile"},
                                     {6, "名-mobile1"},
                                     {7, ""},
                                     {8, ""},
                                     {9, "名-phone"}}));
    records.clear();
    ASSERT_EQ(db_.GetRecordEx({record_filter_of(1, 0, 0), record_page_of(1, 3)}, records), 0);
    EXPECT_EQ(named(records), (Named{{8, ""}, {7, ""}, {6, "名-mobile1"}}));
    records.resize(1);
    EXPECT_EQ(db_.GetRecordEx({record_filter_of(3, 0, 0), std::nullopt}, records), -2);
    EXPECT_EQ(records.size(), 1u);
}

}  // namespace
