// Opening and closing the record database on real SQLite files.
#include "database/Database.h"

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/sqlite_file.h"
#include "support/temp_dir.h"

namespace {

// RECORD_INFO is packed: a test copies a field (T{field}) before comparing
// it, as a reference to the field itself may be misaligned.

using olva_test::SqliteFile;
using olva_test::StatementLog;
using olva_test::TempDir;
using Rows = std::vector<std::vector<std::string>>;

std::string dir_of(const TempDir& dir)
{
    return dir.path() + "/";
}

// The tables as the file has always held them: after the opening parenthesis
// and after each comma come nine tabs, except where a row says otherwise.
struct Table {
    const char* name;
    const char* blanks_before_name;  // beyond the one after "EXISTS"
    const char* first_separator;
    std::vector<std::string> columns;
};

const std::string kTabs(9, '\t');

const Table kTables[] = {
    {"personinfo", "", "\t\t\t\t\t\t\t\t\t",
     {"manid INTEGER PRIMARY KEY", "name VARCHAR(32)", "groupid INTEGER NOT NULL", "sex  INTEGER NOT NULL",
      "company VARCHAR(64)", "depart VARCHAR(32)", "job VARCHAR(32)", "address VARCHAR(128)",
      "code VARCHAR(32)", "phone VARCHAR(32)", "phone1 VARCHAR(32)", "phone2 VARCHAR(32)",
      "exten VARCHAR(32)", "mobile VARCHAR(32)", "mobile1 VARCHAR(32)", "url VARCHAR(128)",
      "email VARCHAR(64)", "qq VARCHAR(64)", "msn VARCHAR(64)", "memo VARCHAR(128)"}},
    {"recordinfo", "", "\t\t\t\t\t\t\t\t\t",
     {"recordid INTEGER PRIMARY KEY AUTOINCREMENT", "inchlno INTEGER NOT NULL", "outchlno INTEGER NOT NULL",
      "type INTEGER NOT NULL", "phone VARCHAR(32)", "dtmf VARCHAR(32)", "area VARCHAR(64)",
      "begintime INTEGER NOT NULL", "endtime INTEGER NOT NULL", "path VARCHAR(256)",
      "filesize INTEGER NOT NULL", "memo VARCHAR(128)"}},
    {"groupinfo", "", "\t\t\t\t\t\t\t\t\t", {"groupid INTEGER PRIMARY KEY", "groupname VARCHAR(32)"}},
    {"backdir", "", "\t\t\t\t\t\t\t\t\t",
     {"id INTEGER PRIMARY KEY AUTOINCREMENT", "begintime INTEGER NOT NULL", "endtime INTEGER NOT NULL",
      "dirpath VARCHAR(260)", "dbpath VARCHAR(260)"}},
    {"userinfo", "", "\t\t\t\t\t\t\t\t\t",
     {"acco VARCHAR(64) PRIMARY KEY", "pswd VARCHAR(64)", "name VARCHAR(64)", "memo VARCHAR(64)",
      "modal VARCHAR(64)", "flag VARCHAR(64)"}},
    {"userlog", "", "\t\t\t\t\t\t\t\t\t",
     {"acco VARCHAR(64) ", "logtime INTEGER NOT NULL", "logdata VARCHAR(256)"}},
    {"lineconfig", "", "\t\t\t\t\t\t\t\t\t",
     {"channelno INTEGER NOT NULL", "channelext INTEGER NOT NULL", "hide INTEGER NOT NULL",
      "memo VARCHAR(64)", "PRIMARY KEY (channelno)"}},
    {"calltask", " ", "\t\t\t\t\t\t\t\t    ",
     {"id INTEGER PRIMARY KEY AUTOINCREMENT", "tasktablename VARCHAR(64)", "state INTEGER NOT NULL",
      "maxnumberphone INTEGER NOT NULL", "callednumber INTEGER NOT NULL", "succesnumber INTEGER NOT NULL",
      "failednumber INTEGER NOT NULL", "name VARCHAR(128)"}},
};

// From the table's name to the end.
std::string definition(const Table& table)
{
    std::string text = std::string(table.name) + "(" + table.first_separator;
    for (std::size_t i = 0; i < table.columns.size(); ++i)
        text += (i ? "," + kTabs : "") + table.columns[i];
    return text + ")";
}

std::string create_statement(const Table& table)
{
    return std::string("CREATE TABLE IF NOT EXISTS ") + table.blanks_before_name + definition(table);
}

std::vector<std::string> create_statements_run(const StatementLog& log)
{
    std::vector<std::string> creates;
    for (const std::string& sql : log.statements())
        if (sql.starts_with("CREATE TABLE"))
            creates.push_back(sql);
    return creates;
}

// The index beside the tables that pages of records are read by.
const Rows kRecordIndex = {
    {"recordinfo_begintime", "recordinfo", "CREATE INDEX recordinfo_begintime ON recordinfo(begintime DESC)"}};
const char* kSelectIndexes =
    "SELECT name, tbl_name, sql FROM sqlite_master WHERE type = 'index' AND name NOT LIKE 'sqlite_autoindex_%'";

const Rows kDefaultUser = {
    {"admin", "Tq7Lw2pZcV9xNa4RkHs0bE==", "admin", "", std::string(32, '1'), "11111", "text"},
};
const char* kSelectUsers = "SELECT acco, pswd, name, memo, modal, flag, typeof(memo) FROM userinfo";

TEST(OpenDbaseTest, CreatesTheEightTablesAsWritten)
{
    TempDir dir;
    Database db;
    StatementLog log;
    ASSERT_EQ(db.OpenDbase(dir_of(dir).c_str()), 0);

    std::vector<std::string> expected_run;
    Rows expected_stored;
    for (const Table& table : kTables) {
        expected_run.push_back(create_statement(table));
        // SQLite keeps a table's text without "IF NOT EXISTS" and the blanks
        // before the name.
        expected_stored.push_back({table.name, "CREATE TABLE " + definition(table)});
    }
    EXPECT_EQ(create_statements_run(log), expected_run);

    SqliteFile file(dir.file("olva.db"));
    EXPECT_EQ(file.rows("SELECT name, sql FROM sqlite_master WHERE type = 'table' AND name NOT LIKE "
                        "'sqlite%' ORDER BY rowid"),
              expected_stored);
    // Nothing beyond the tables, what SQLite makes for their keys and the
    // index of start times.
    EXPECT_EQ(file.rows(kSelectIndexes), kRecordIndex);
    EXPECT_EQ(file.rows("SELECT name FROM sqlite_master WHERE type NOT IN ('table', 'index')"), Rows{});
}

// A file of an older build: the eight tables and records, no index. It gets
// the index at open, keeps its tables as they were, and pages are read by it.
TEST(OpenDbaseTest, OldFileGetsTheRecordIndexAtOpen)
{
    TempDir dir;
    {
        SqliteFile file(dir.file("olva.db"));
        for (const Table& table : kTables)
            file.exec(create_statement(table));
        file.exec("INSERT INTO recordinfo VALUES (null, 1, 1, 1, '', '', '', 300, 310, '', 0, ''),"
                  "(null, 2, 2, 2, '', '', '', 100, 110, '', 0, ''), (null, 1, 1, 3, '', '', '', 200, 210, '', 0, '')");
        EXPECT_EQ(file.rows(kSelectIndexes), Rows{});
    }
    const std::string tables = "SELECT name, sql FROM sqlite_master WHERE type = 'table' ORDER BY rowid";
    const Rows old_tables = SqliteFile(dir.file("olva.db")).rows(tables);

    Database db;
    ASSERT_EQ(db.OpenDbase(dir_of(dir).c_str()), 0);
    SqliteFile file(dir.file("olva.db"));
    EXPECT_EQ(file.rows(kSelectIndexes), kRecordIndex);
    EXPECT_EQ(file.rows(tables), old_tables);
    const Rows plan = file.rows("EXPLAIN QUERY PLAN SELECT * FROM recordinfo ORDER BY begintime DESC LIMIT 20");
    ASSERT_EQ(plan.size(), 1u);
    EXPECT_NE(plan[0].back().find("recordinfo_begintime"), std::string::npos) << plan[0].back();

    std::vector<RECORD_INFO> records;
    ASSERT_EQ(db.GetOlvaRecord({{}, record_page_of(1, 20)}, records), 0);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ((std::vector<long long>{records[0].recordid, records[1].recordid, records[2].recordid}),
              (std::vector<long long>{1, 3, 2}));
    EXPECT_EQ(db.GetRecordCount({}), 3);
}

TEST(OpenDbaseTest, NewFileGetsTheDefaultUserOnce)
{
    TempDir dir;
    {
        Database db;
        ASSERT_EQ(db.OpenDbase(dir_of(dir).c_str()), 0);
    }
    StatementLog log;
    Database db;
    ASSERT_EQ(db.OpenDbase(dir_of(dir).c_str()), 0);
    // The second opening runs the same tables and index again, and nothing
    // more.
    EXPECT_EQ(create_statements_run(log).size(), std::size(kTables));
    EXPECT_EQ(log.statements().size(), std::size(kTables) + 1);
    EXPECT_EQ(db.CloseDbase(), 0);

    SqliteFile file(dir.file("olva.db"));
    EXPECT_EQ(file.rows(kSelectUsers), kDefaultUser);
}

TEST(OpenDbaseTest, ExistingFileKeepsItsDataAndGetsNoDefaultUser)
{
    TempDir dir;
    {
        SqliteFile file(dir.file("olva.db"));
        file.exec("CREATE TABLE other(x); INSERT INTO other VALUES ('kept')");
    }
    Database db;
    ASSERT_EQ(db.OpenDbase(dir_of(dir).c_str()), 0);

    SqliteFile file(dir.file("olva.db"));
    EXPECT_EQ(file.rows(kSelectUsers), Rows{});
    EXPECT_EQ(file.rows("SELECT x FROM other"), Rows{{"kept"}});
    EXPECT_EQ(file.integers("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name NOT LIKE "
                            "'sqlite%'"),
              std::vector<long long>{9});
}

TEST(OpenDbaseTest, ReopeningMovesToTheNewFile)
{
    TempDir first;
    TempDir second;
    Database db;
    ASSERT_EQ(db.OpenDbase(dir_of(first).c_str()), 0);
    ASSERT_EQ(db.OpenDbase(dir_of(second).c_str()), 0);
    RECORD_INFO record{};
    ASSERT_EQ(db.AddRecord(record), 0);
    EXPECT_EQ(db.GetRecordCount({}), 1);

    EXPECT_EQ(SqliteFile(first.file("olva.db")).integers("SELECT count(*) FROM recordinfo"),
              std::vector<long long>{0});
    EXPECT_EQ(SqliteFile(second.file("olva.db")).integers("SELECT count(*) FROM recordinfo"),
              std::vector<long long>{1});
}

// The operations on the tables besides the records fail with -1 and leave
// what they were given as it was.
void expect_tables_closed(Database& db)
{
    PERSON_INFO person{};
    person.manid = 55;
    EXPECT_EQ(db.AddPerson(person), -1);
    EXPECT_EQ(person.manid, 55);
    EXPECT_EQ(db.EdtPerson(person), -1);
    EXPECT_EQ(db.EdtPerson(1, 2), -1);
    EXPECT_EQ(db.DelPerson(1), -1);
    EXPECT_EQ(db.GetPerson(1, person), -1);
    EXPECT_EQ(db.GetPerson("1", person), -1);
    EXPECT_EQ(person.manid, 55);
    std::vector<PERSON_INFO> persons(1);
    EXPECT_EQ(db.GetPerson(1, persons), -1);
    EXPECT_EQ(db.GetPerson(persons), -1);
    EXPECT_EQ(persons.size(), 1u);
    EXPECT_EQ(db.IsPersonByName("a"), -1);
    EXPECT_EQ(db.IsPersonByPhone("1"), -1);
    EXPECT_EQ(db.IsExten("1"), -1);

    GROUP_INFO group{};
    group.groupid = 55;
    EXPECT_EQ(db.AddGroup(group), -1);
    EXPECT_EQ(group.groupid, 55);
    EXPECT_EQ(db.EdtGroup(group), -1);
    EXPECT_EQ(db.DelGroup(1), -1);
    EXPECT_EQ(db.GetGroup(1, group), -1);
    std::vector<GROUP_INFO> groups;
    EXPECT_EQ(db.GetGroup(groups), -1);
    EXPECT_TRUE(groups.empty());
    EXPECT_EQ(db.IsGroupByName("a"), -1);

    USER_INFO user{};
    set_record_text(user.acco, "admin");
    EXPECT_EQ(db.AddUser(user), -1);
    EXPECT_EQ(db.EdtUser(user), -1);
    EXPECT_EQ(db.DelUser("admin"), -1);
    EXPECT_EQ(db.GetUser("admin", user), -1);
    std::vector<USER_INFO> users;
    EXPECT_EQ(db.GetUser(users), -1);
    EXPECT_TRUE(users.empty());
    EXPECT_EQ(db.IsUserByAcco("admin"), -1);
    EXPECT_EQ(db.UpdatePswd("admin", "x"), -1);
    EXPECT_EQ(db.UserLogin("admin", "Tq7Lw2pZcV9xNa4RkHs0bE==", user), -1);
    EXPECT_EQ(record_text(user.acco), "admin");
    EXPECT_EQ(record_text(user.pswd), "");

    USERLOG_INFO entry{};
    EXPECT_EQ(db.AddUserLog(entry), -1);
    EXPECT_EQ(db.DelUserLog(0, 10), -1);
    EXPECT_EQ(db.DelUserLog("admin", 0, 10), -1);
    std::vector<USERLOG_INFO> entries;
    EXPECT_EQ(db.GetUserLog("admin", 0, 10, entries), -1);
    EXPECT_TRUE(entries.empty());

    BACKDIR_INFO dir{};
    dir.id = 55;
    EXPECT_EQ(db.AddBackDir(dir), -1);
    EXPECT_EQ(dir.id, 55);
    EXPECT_EQ(db.EdtBackDir(dir), -1);
    EXPECT_EQ(db.DelBackDir(1), -1);
    EXPECT_EQ(db.GetBackDir(1, dir), -1);
    std::vector<BACKDIR_INFO> dirs;
    EXPECT_EQ(db.GetBackDir(dirs), -1);
    EXPECT_TRUE(dirs.empty());

    LINECONFIG_INFO line{};
    EXPECT_EQ(db.AddLineConfig(line), -1);
    std::vector<LINECONFIG_INFO> lines;
    EXPECT_EQ(db.GetLineConfig(lines), -1);
    EXPECT_TRUE(lines.empty());

    TASK_INFO task{};
    task.id = 55;
    EXPECT_EQ(db.AddTask(task), -1);
    EXPECT_EQ(task.id, 55);
    std::vector<TASK_INFO> tasks;
    EXPECT_EQ(db.GetTask(tasks), -1);
    EXPECT_TRUE(tasks.empty());
    EXPECT_EQ(db.createTaskListTable("list"), -1);
    EXPECT_EQ(db.AddCallTasklistPhoneNumber("list", "1"), -1);
    std::vector<CALLLIST_INFO> numbers;
    EXPECT_EQ(db.GetCalllist("list", numbers), -1);
    EXPECT_EQ(db.GetCalllistEx("list", RECORD_PAGE{0, 5}, numbers), -1);
    EXPECT_TRUE(numbers.empty());
    EXPECT_EQ(db.SqlExe("SELECT 1"), -1);
    // Area codes are not kept, open or closed.
    char area[8] = "kept";
    EXPECT_EQ(db.GetCode("010", area, sizeof area), 0);
    EXPECT_STREQ(area, "kept");
}

// The record operations beyond adding, listing, counting and deleting by id.
void expect_more_records_closed(Database& db)
{
    RECORD_INFO record{};
    record.recordid = 55;
    EXPECT_EQ(db.EdtRecord(record), -1);
    EXPECT_EQ(db.EdtRecord(1, "memo"), -1);
    EXPECT_EQ(db.DelRecord(RECORD_BEFORE{100}), -1);
    EXPECT_EQ(db.DelRecord("1", RECORD_BEFORE{100}), -1);
    EXPECT_EQ(db.GetRecord(1, record), -1);
    EXPECT_EQ(db.GetRecord("1", 100, record), -1);
    EXPECT_EQ(std::int32_t{record.recordid}, 55);
    std::vector<RECORD_INFO> records;
    EXPECT_EQ(db.GetAllRecord(records), -1);
    EXPECT_EQ(db.GetRecordType(1, records), -1);
    EXPECT_TRUE(records.empty());
    std::vector<RECORD_QUERY> named;
    EXPECT_EQ(db.GetRecord(PERSON_PHONE::phone, {}, named), -1);
    EXPECT_EQ(db.GetRecord(PERSON_PHONE::mobile1, {record_filter_of(1, 0, 0), record_page_of(1, 20)}, named), -1);
    EXPECT_EQ(db.GetRecordEx({}, named), -1);
    EXPECT_TRUE(named.empty());
    EXPECT_EQ(db.IsHaveRecord("1"), -1);
    EXPECT_EQ(db.GetMaxRecordId(), -1);
}

// Every call but OpenDbase fails with -1, and changes nothing it was given.
void expect_closed(Database& db)
{
    expect_more_records_closed(db);
    expect_tables_closed(db);
    RECORD_INFO record{};
    record.recordid = 55;
    EXPECT_EQ(db.AddRecord(record), -1);
    EXPECT_EQ(std::int32_t{record.recordid}, 55);
    EXPECT_EQ(db.DelRecord(1), -1);
    EXPECT_EQ(db.GetRecordCount({}), -1);
    EXPECT_EQ(db.GetRecordCount(record_filter_of(1, 10, 20)), -1);
    std::vector<RECORD_INFO> records(1, record);
    EXPECT_EQ(db.GetOlvaRecord({}, records), -1);
    EXPECT_EQ(db.GetOlvaRecord({record_filter_of(1, 0, 0), record_page_of(1, 20)}, records), -1);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(std::int32_t{records[0].recordid}, 55);
    EXPECT_EQ(db.CloseDbase(), 0);
    EXPECT_EQ(db.CloseDbase(), 0);
}

TEST(ClosedDatabaseTest, EveryCallFails)
{
    struct Case {
        const char* name;
        std::function<void(Database&, const TempDir&)> bring_about;
    };
    const Case cases[] = {
        {"never opened", [](Database&, const TempDir&) {}},
        {"closed",
         [](Database& db, const TempDir& dir) {
             ASSERT_EQ(db.OpenDbase(dir_of(dir).c_str()), 0);
             RECORD_INFO record{};
             ASSERT_EQ(db.AddRecord(record), 0);
             ASSERT_EQ(db.CloseDbase(), 0);
         }},
        {"failed to open",
         [](Database& db, const TempDir& dir) {
             olva_test::writeFile(dir.file("olva.db"), "not a database, only text\n");
             ASSERT_NE(db.OpenDbase(dir_of(dir).c_str()), 0);
         }},
        {"failed to reopen",
         [](Database& db, const TempDir& dir) {
             ASSERT_EQ(db.OpenDbase(dir_of(dir).c_str()), 0);
             ASSERT_EQ(db.OpenDbase(dir.file("missing/").c_str()), SQLITE_CANTOPEN);
         }},
        {"null directory",
         [](Database& db, const TempDir& dir) {
             ASSERT_EQ(db.OpenDbase(dir_of(dir).c_str()), 0);
             ASSERT_EQ(db.OpenDbase(nullptr), -1);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        Database db;
        c.bring_about(db, dir);
        expect_closed(db);
    }
}

TEST(OpenDbaseTest, FileThatIsNotADatabaseFailsAndStaysAsItWas)
{
    const std::string kinds[] = {
        "plain text\n",
        std::string(4096, '\xff'),
        std::string("SQLite format 2") + std::string(4081, '\0'),
    };
    for (const std::string& content : kinds) {
        SCOPED_TRACE(content.substr(0, 15));
        TempDir dir;
        olva_test::writeFile(dir.file("olva.db"), content);
        Database db;
        EXPECT_EQ(db.OpenDbase(dir_of(dir).c_str()), SQLITE_NOTADB);
        expect_closed(db);
        EXPECT_EQ(olva_test::readFile(dir.file("olva.db")), content);
        EXPECT_NE(access(dir.file("olva.db-journal").c_str(), F_OK), 0);
    }
}

TEST(OpenDbaseTest, PlaceWhereNoFileCanBeMadeFails)
{
    struct Case {
        const char* name;
        std::function<std::string(const TempDir&)> directory;
    };
    const Case cases[] = {
        {"missing directory", [](const TempDir& dir) { return dir.file("missing/"); }},
        {"regular file as directory",
         [](const TempDir& dir) {
             olva_test::writeFile(dir.file("file"), "x");
             return dir.file("file/");
         }},
        {"directory in the file's place",
         [](const TempDir& dir) {
             mkdir(dir.file("olva.db").c_str(), 0700);
             return dir_of(dir);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        Database db;
        EXPECT_EQ(db.OpenDbase(c.directory(dir).c_str()), SQLITE_CANTOPEN);
        expect_closed(db);
    }
}

TEST(OpenDbaseTest, DirectoryThatCannotBeWrittenFails)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "running as root, which writes into any directory; run as a plain user to check "
                        "a directory without write permission";
    TempDir dir;
    const std::string locked = dir.file("locked");
    ASSERT_EQ(mkdir(locked.c_str(), 0500), 0);
    Database db;
    EXPECT_EQ(db.OpenDbase((locked + "/").c_str()), SQLITE_CANTOPEN);
    expect_closed(db);
    EXPECT_NE(access((locked + "/olva.db").c_str(), F_OK), 0);
}

}  // namespace
