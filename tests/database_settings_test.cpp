// Backup directories, line settings, call tasks with their task list tables,
// and the raw statement door, on a real SQLite file checked against what
// SQLite itself finds in it.
#include <climits>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "database/Database.h"
#include "support/database_fixture.h"

namespace {

using olva_test::DbRows;

const char* kSelectTableNames = "SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name";

class BackDirTest : public olva_test::OpenDatabaseTest {};

TEST_F(BackDirTest, AddsReadsEditsAndDeletesBackups)
{
    struct Backup {
        std::int64_t begin;
        std::int64_t end;
        const char* dir;
        const char* db;
    };
    const Backup backups[] = {
        {1700000000, 1700086400, "/备份/2023-11-14", "/备份/2023-11-14/olva.db"},
        {-5, 9000000000, "/mnt/it's here", "C:\\old \"db\""},
        {0, 0, "", ""},
    };
    for (std::size_t i = 0; i < std::size(backups); ++i) {
        BACKDIR_INFO dir{};
        dir.id = 77;
        dir.begintime = backups[i].begin;
        dir.endtime = backups[i].end;
        set_record_text(dir.dirpath, backups[i].dir);
        set_record_text(dir.dbpath, backups[i].db);
        ASSERT_EQ(db_.AddBackDir(dir), 0);
        EXPECT_EQ(dir.id, static_cast<int>(i + 1));
    }
    EXPECT_EQ(rows("SELECT * FROM backdir WHERE id = 2"),
              (DbRows{{"2", "-5", "9000000000", "/mnt/it's here", "C:\\old \"db\""}}));

    for (std::size_t i = 0; i < std::size(backups); ++i) {
        SCOPED_TRACE(backups[i].dir);
        BACKDIR_INFO dir{};
        ASSERT_EQ(db_.GetBackDir(static_cast<int>(i + 1), dir), 0);
        EXPECT_EQ(dir.begintime, backups[i].begin);
        EXPECT_EQ(dir.endtime, backups[i].end);
        EXPECT_EQ(record_text(dir.dirpath), backups[i].dir);
        EXPECT_EQ(record_text(dir.dbpath), backups[i].db);
    }

    BACKDIR_INFO edited{};
    edited.id = 1;
    edited.begintime = 4294967296;
    edited.endtime = 4294967297;
    set_record_text(edited.dirpath, "/new");
    set_record_text(edited.dbpath, "/new/olva.db");
    ASSERT_EQ(db_.EdtBackDir(edited), 0);
    EXPECT_EQ(rows("SELECT * FROM backdir WHERE id = 1"),
              (DbRows{{"1", "4294967296", "4294967297", "/new", "/new/olva.db"}}));

    ASSERT_EQ(db_.DelBackDir(2), 0);
    std::vector<BACKDIR_INFO> dirs;
    ASSERT_EQ(db_.GetBackDir(dirs), 0);
    ASSERT_EQ(dirs.size(), 2u);
    EXPECT_EQ(dirs[0].id, 1);
    EXPECT_EQ(record_text(dirs[0].dirpath), "/new");
    EXPECT_EQ(dirs[1].id, 3);
    BACKDIR_INFO gone{};
    gone.id = 9;
    EXPECT_EQ(db_.GetBackDir(2, gone), -2);
    EXPECT_EQ(gone.id, 9);

    ASSERT_EQ(db_.DelBackDir(1), 0);
    ASSERT_EQ(db_.DelBackDir(3), 0);
    dirs.clear();
    EXPECT_EQ(db_.GetBackDir(dirs), -2);
    EXPECT_TRUE(dirs.empty());
}

class LineConfigTest : public olva_test::OpenDatabaseTest {
protected:
    int add(int channel, int ext, int hide, const char* memo)
    {
        LINECONFIG_INFO line{};
        line.channelno = channel;
        line.channelext = ext;
        line.hide = hide;
        set_record_text(line.memo, memo);
        return db_.AddLineConfig(line);
    }
};

TEST_F(LineConfigTest, AddingAChannelAgainReplacesItsRow)
{
    ASSERT_EQ(add(2, 802, 0, "前台"), 0);
    ASSERT_EQ(add(1, 801, 1, "it's line 1"), 0);
    EXPECT_EQ(rows("SELECT * FROM lineconfig ORDER BY channelno"),
              (DbRows{{"1", "801", "1", "it's line 1"}, {"2", "802", "0", "前台"}}));

    ASSERT_EQ(add(2, 8020, 1, "仓库"), 0);
    EXPECT_EQ(rows("SELECT * FROM lineconfig ORDER BY channelno"),
              (DbRows{{"1", "801", "1", "it's line 1"}, {"2", "8020", "1", "仓库"}}));

    std::vector<LINECONFIG_INFO> lines;
    ASSERT_EQ(db_.GetLineConfig(lines), 0);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].channelno, 1);
    EXPECT_EQ(lines[0].channelext, 801);
    EXPECT_EQ(lines[0].hide, 1);
    EXPECT_EQ(record_text(lines[0].memo), "it's line 1");
    EXPECT_EQ(lines[1].channelno, 2);
    EXPECT_EQ(lines[1].channelext, 8020);
    EXPECT_EQ(record_text(lines[1].memo), "仓库");
}

TEST_F(LineConfigTest, NoLinesGiveNoRows)
{
    std::vector<LINECONFIG_INFO> lines(1);
    EXPECT_EQ(db_.GetLineConfig(lines), -2);
    EXPECT_EQ(lines.size(), 1u);
}

class CallTaskTest : public olva_test::OpenDatabaseTest {};

TEST_F(CallTaskTest, AddsAndListsTasks)
{
    std::vector<TASK_INFO> tasks;
    EXPECT_EQ(db_.GetTask(tasks), -2);
    const char* names[] = {"回访 '客户'", "survey"};
    for (int i = 0; i < 2; ++i) {
        TASK_INFO task{};
        set_record_text(task.tasktablename, std::string("list_") + std::to_string(i));
        task.state = i;
        task.maxnumberphone = 100 + i;
        task.callednumber = 10 + i;
        task.succesnumber = 7 + i;
        task.failednumber = 3 + i;
        set_record_text(task.name, names[i]);
        ASSERT_EQ(db_.AddTask(task), 0);
        EXPECT_EQ(task.id, i + 1);
    }
    EXPECT_EQ(rows("SELECT * FROM calltask ORDER BY id"),
              (DbRows{{"1", "list_0", "0", "100", "10", "7", "3", names[0]},
                      {"2", "list_1", "1", "101", "11", "8", "4", names[1]}}));
    ASSERT_EQ(db_.GetTask(tasks), 0);
    ASSERT_EQ(tasks.size(), 2u);
    EXPECT_EQ(tasks[1].id, 2);
    EXPECT_EQ(record_text(tasks[1].tasktablename), "list_1");
    EXPECT_EQ(tasks[1].maxnumberphone, 101);
    EXPECT_EQ(tasks[1].failednumber, 4);
    EXPECT_EQ(record_text(tasks[0].name), names[0]);
}

TEST_F(CallTaskTest, MakesAndFillsATaskListTable)
{
    ASSERT_EQ(db_.createTaskListTable("task_2024_01"), 0);
    // Made once: a second time keeps the numbers.
    ASSERT_EQ(db_.AddCallTasklistPhoneNumber("task_2024_01", "13800138000"), 0);
    ASSERT_EQ(db_.createTaskListTable("task_2024_01"), 0);
    const char* numbers[] = {"010-6666'8888", "+86 10 12345", "分机 8021"};
    for (const char* number : numbers)
        ASSERT_EQ(db_.AddCallTasklistPhoneNumber("task_2024_01", number), 0);
    EXPECT_EQ(rows("SELECT id, phone FROM task_2024_01 ORDER BY id"),
              (DbRows{{"1", "13800138000"}, {"2", numbers[0]}, {"3", numbers[1]}, {"4", numbers[2]}}));

    std::vector<CALLLIST_INFO> all;
    ASSERT_EQ(db_.GetCalllist("task_2024_01", all), 0);
    ASSERT_EQ(all.size(), 4u);
    EXPECT_EQ(all[0].id, 1);
    EXPECT_EQ(record_text(all[0].phone), "13800138000");
    EXPECT_EQ(record_text(all[3].phone), numbers[2]);

    struct Page {
        std::int64_t offset;
        std::int64_t count;
        std::vector<int> ids;
    };
    const Page pages[] = {
        {0, 2, {1, 2}}, {2, 2, {3, 4}}, {3, 10, {4}}, {4, 2, {}}, {1, -1, {2, 3, 4}}, {0, 0, {}},
    };
    for (const Page& p : pages) {
        SCOPED_TRACE(std::to_string(p.offset) + "+" + std::to_string(p.count));
        std::vector<CALLLIST_INFO> page;
        EXPECT_EQ(db_.GetCalllistEx("task_2024_01", RECORD_PAGE{p.offset, p.count}, page), p.ids.empty() ? -2 : 0);
        std::vector<int> ids;
        for (const CALLLIST_INFO& n : page)
            ids.push_back(n.id);
        EXPECT_EQ(ids, p.ids);
    }

    // Two task lists are apart.
    ASSERT_EQ(db_.createTaskListTable("2nd"), 0);
    std::vector<CALLLIST_INFO> empty;
    EXPECT_EQ(db_.GetCalllist("2nd", empty), -2);
    ASSERT_EQ(db_.AddCallTasklistPhoneNumber("2nd", "110"), 0);
    EXPECT_EQ(rows("SELECT id, phone FROM \"2nd\""), (DbRows{{"1", "110"}}));
    EXPECT_EQ(rows("SELECT count(*) FROM task_2024_01"), (DbRows{{"4"}}));
}

TEST_F(CallTaskTest, RefusesTableNamesThatAreNotLettersDigitsAndUnderscores)
{
    ASSERT_EQ(db_.createTaskListTable("list"), 0);
    ASSERT_EQ(db_.AddCallTasklistPhoneNumber("list", "1"), 0);
    const DbRows tables = rows(kSelectTableNames);
    const char* names[] = {
        "",
        nullptr,
        "list; DROP TABLE recordinfo",
        "list\"; DROP TABLE recordinfo; --",
        "a b",
        "a-b",
        "list'",
        "名单",
        "list\n",
        "[list]",
        "main.list",
    };
    for (const char* name : names) {
        SCOPED_TRACE(name ? name : "null");
        EXPECT_EQ(db_.createTaskListTable(name), -1);
        EXPECT_EQ(db_.AddCallTasklistPhoneNumber(name, "2"), -1);
        std::vector<CALLLIST_INFO> numbers;
        EXPECT_EQ(db_.GetCalllist(name, numbers), -1);
        EXPECT_EQ(db_.GetCalllistEx(name, RECORD_PAGE{0, 10}, numbers), -1);
        EXPECT_TRUE(numbers.empty());
    }
    EXPECT_EQ(rows(kSelectTableNames), tables);
    EXPECT_EQ(rows("SELECT phone FROM list"), (DbRows{{"1"}}));

    // A good name of a table that was never made is SQLite's error.
    std::vector<CALLLIST_INFO> numbers;
    EXPECT_EQ(db_.AddCallTasklistPhoneNumber("never_made", "3"), SQLITE_ERROR);
    EXPECT_EQ(db_.GetCalllist("never_made", numbers), SQLITE_ERROR);
    // Names of SQLite's own are its to refuse.
    EXPECT_EQ(db_.createTaskListTable("sqlite_list"), SQLITE_ERROR);
}

class RawStatementTest : public olva_test::OpenDatabaseTest {};

TEST_F(RawStatementTest, RunsOneStatementAsWritten)
{
    struct Case {
        const char* sql;
        int result;
        DbRows memo_after;  // of the one record
    };
    const Case cases[] = {
        {"UPDATE recordinfo SET memo = 'raw' WHERE recordid = 1", 0, {{"raw"}}},
        {"UPDATE recordinfo SET memo = 'comment' -- after it", 0, {{"comment"}}},
        {"UPDATE recordinfo SET memo = 'semicolon';  ", 0, {{"semicolon"}}},
        {"SELECT * FROM recordinfo", 0, {{"semicolon"}}},
        {"", 0, {{"semicolon"}}},
        {nullptr, 0, {{"semicolon"}}},
        // Nothing runs when a second statement follows, nor when text that
        // is no statement does.
        {"UPDATE recordinfo SET memo = 'one'; UPDATE recordinfo SET memo = 'two'", SQLITE_ERROR, {{"semicolon"}}},
        {"UPDATE recordinfo SET memo = 'one'; DROP TABLE recordinfo", SQLITE_ERROR, {{"semicolon"}}},
        {"UPDATE recordinfo SET memo = 'one'; nonsense", SQLITE_ERROR, {{"semicolon"}}},
        {"UPDATE recordinfo SET nocolumn = 1", SQLITE_ERROR, {{"semicolon"}}},
        {"INSERT INTO recordinfo (recordid) VALUES (5)", SQLITE_CONSTRAINT, {{"semicolon"}}},
    };
    RECORD_INFO record{};
    ASSERT_EQ(db_.AddRecord(record), 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sql ? c.sql : "null");
        EXPECT_EQ(db_.SqlExe(c.sql), c.result);
        EXPECT_EQ(rows("SELECT memo FROM recordinfo"), c.memo_after);
    }
    EXPECT_EQ(db_.SqlExe("CREATE TABLE made_raw(x)"), 0);
    EXPECT_EQ(rows("SELECT count(*) FROM sqlite_master WHERE name = 'made_raw'"), (DbRows{{"1"}}));
}

class AreaCodesTest : public olva_test::OpenDatabaseTest {};

TEST_F(AreaCodesTest, AreNotKeptAndChangeNothing)
{
    char area[16] = "unchanged";
    char code[8] = "same";
    EXPECT_EQ(db_.InputCode("/nonexistent/codes.txt"), 0);
    EXPECT_EQ(db_.UpdateCode("010", "北京"), 0);
    EXPECT_EQ(db_.GetCode("01088886666", area, sizeof area), 0);
    EXPECT_EQ(db_.GetCode("01088886666", area, sizeof area, code, sizeof code), 0);
    EXPECT_EQ(db_.GetCode(10, area, sizeof area), 0);
    EXPECT_EQ(db_.phonearea_convert("01088886666", area, sizeof area), 0);
    EXPECT_STREQ(area, "unchanged");
    EXPECT_STREQ(code, "same");
    // Nothing was written to the file either.
    DbRows counts;
    for (const auto& table : rows(kSelectTableNames))
        if (table[0] != "userinfo" && table[0].rfind("sqlite_", 0) != 0)
            counts.push_back(rows("SELECT '" + table[0] + "', count(*) FROM " + table[0])[0]);
    for (const auto& row : counts)
        EXPECT_EQ(row[1], "0") << row[0];
}

// Every value reaches SQLite bound: none shows in the text of a statement.
TEST(BoundValuesTest, NoValueOfAnyTableIsWrittenIntoTheSqlText)
{
    olva_test::TempDir dir;
    olva_test::StatementLog log;
    Database db;
    ASSERT_EQ(db.OpenDbase((dir.path() + "/").c_str()), 0);
    log.clear();

    const char* text = "mk'97531";
    const int number = 97531;
    const std::int64_t time = 975310000000;
    PERSON_INFO person{};
    for (char* field : {person.name, person.phone, person.exten, person.memo})
        set_record_text(field, 32, text);
    person.groupid = number;
    EXPECT_EQ(db.AddPerson(person), 0);
    EXPECT_EQ(db.EdtPerson(person), 0);
    EXPECT_EQ(db.EdtPerson(number, number), 0);
    EXPECT_EQ(db.GetPerson(text, person), 0);
    std::vector<PERSON_INFO> persons;
    EXPECT_EQ(db.GetPerson(number, persons), 0);
    EXPECT_EQ(db.IsPersonByName(text), 0);
    EXPECT_EQ(db.IsPersonByPhone(text), 0);
    EXPECT_EQ(db.IsExten(text), 0);
    GROUP_INFO group{number, {}};
    set_record_text(group.groupname, text);
    EXPECT_EQ(db.AddGroup(group), 0);
    EXPECT_EQ(db.IsGroupByName(text), 0);
    USER_INFO user{};
    set_record_text(user.acco, text);
    set_record_text(user.pswd, text);
    EXPECT_EQ(db.AddUser(user), 0);
    EXPECT_EQ(db.UpdatePswd(text, text), 0);
    EXPECT_EQ(db.UserLogin(text, text, user), 0);
    USERLOG_INFO entry{};
    set_record_text(entry.acco, text);
    entry.logtime = time;
    EXPECT_EQ(db.AddUserLog(entry), 0);
    std::vector<USERLOG_INFO> entries;
    EXPECT_EQ(db.GetUserLog(text, time, time, entries), 0);
    EXPECT_EQ(db.DelUserLog(text, time, time), 0);
    BACKDIR_INFO backup{};
    backup.begintime = time;
    set_record_text(backup.dirpath, text);
    EXPECT_EQ(db.AddBackDir(backup), 0);
    LINECONFIG_INFO line{number, number, number, {}};
    set_record_text(line.memo, text);
    EXPECT_EQ(db.AddLineConfig(line), 0);
    TASK_INFO task{};
    task.maxnumberphone = number;
    set_record_text(task.name, text);
    EXPECT_EQ(db.AddTask(task), 0);
    ASSERT_EQ(db.createTaskListTable("list"), 0);
    EXPECT_EQ(db.AddCallTasklistPhoneNumber("list", text), 0);
    std::vector<CALLLIST_INFO> numbers;
    EXPECT_EQ(db.GetCalllistEx("list", RECORD_PAGE{number, number}, numbers), -2);
    RECORD_INFO record{};
    set_record_text(record.phone, text);
    record.begintime = time;
    EXPECT_EQ(db.AddRecord(record), 0);
    EXPECT_EQ(db.EdtRecord(record.recordid, text), 0);
    EXPECT_EQ(db.GetRecord(text, time, record), 0);
    EXPECT_EQ(db.IsHaveRecord(text), 0);
    std::vector<RECORD_INFO> records;
    EXPECT_EQ(db.GetRecordType(number, records), -2);
    EXPECT_EQ(db.DelRecord(text, RECORD_BEFORE{time}), 0);
    EXPECT_EQ(db.DelRecord(RECORD_BEFORE{time}), 0);

    // One statement a call, the table made included.
    ASSERT_EQ(log.statements().size(), 29u);
    for (const std::string& sql : log.statements()) {
        SCOPED_TRACE(sql);
        EXPECT_EQ(sql.find("97531"), std::string::npos);
        EXPECT_EQ(sql.find("mk"), std::string::npos);
    }
}

}  // namespace
