// The file that the record database leaves, read by the sqlite3 shell: a
// reader we did not write sees every table as the database wrote it.
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "database/Database.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

namespace {

using olva_test::TempDir;

// What `sqlite3 file sql` prints, or nothing when it fails.
std::optional<std::string> shell_output(const TempDir& dir, const std::string& file, const std::string& sql)
{
    olva_test::ChildOptions options;
    options.argv = {"sqlite3", "-batch", "-bail", "-list", "-noheader", file, sql};
    options.output_file = dir.file("shell.out");
    std::string error;
    const std::unique_ptr<olva_test::ChildProcess> shell = olva_test::ChildProcess::start(options, &error);
    if (!shell) {
        ADD_FAILURE() << "sqlite3: " << error;
        return std::nullopt;
    }
    const std::optional<int> status = shell->wait_exit(std::chrono::seconds(30));
    const std::string output = olva_test::readFile(options.output_file);
    std::remove(options.output_file.c_str());
    if (status != 0) {
        ADD_FAILURE() << "sqlite3 ended with " << (status ? std::to_string(*status) : "no exit") << ": " << output;
        return std::nullopt;
    }
    return output;
}

TEST(DatabaseShellTest, TheShellReadsEveryTableAsWritten)
{
    if (!olva_test::have_program("sqlite3"))
        GTEST_SKIP() << "no sqlite3 shell (package sqlite3)";
    TempDir dir;
    {
        Database db;
        ASSERT_EQ(db.OpenDbase((dir.path() + "/").c_str()), 0);

        GROUP_INFO group{};
        set_record_text(group.groupname, "客户 'A'");
        ASSERT_EQ(db.AddGroup(group), 0);

        PERSON_INFO person{};
        set_record_text(person.name, "张三");
        person.groupid = group.groupid;
        set_record_text(person.company, "O'Neil \"& Sons\"");
        set_record_text(person.phone, "01088886666");
        set_record_text(person.mobile, "13900001111");
        set_record_text(person.memo, "备注");
        ASSERT_EQ(db.AddPerson(person), 0);

        RECORD_INFO record{};
        record.inchlno = 1;
        record.type = 2;
        set_record_text(record.phone, "13900001111");
        record.begintime = 5000000000;
        record.endtime = 5000000042;
        set_record_text(record.path, "/录音/it's.wav");
        set_record_text(record.memo, "first");
        ASSERT_EQ(db.AddRecord(record), 0);
        ASSERT_EQ(db.EdtRecord(record.recordid, "回拨 'later'"), 0);

        USER_INFO user{};
        set_record_text(user.acco, "li");
        set_record_text(user.pswd, "p'w");
        set_record_text(user.name, "李四");
        ASSERT_EQ(db.AddUser(user), 0);
        ASSERT_EQ(db.UpdatePswd("admin", "新密码"), 0);

        USERLOG_INFO entry{};
        set_record_text(entry.acco, "li");
        entry.logtime = 4294967296;
        set_record_text(entry.logdata, "登录");
        ASSERT_EQ(db.AddUserLog(entry), 0);

        BACKDIR_INFO backup{};
        backup.begintime = 1;
        backup.endtime = 9000000000;
        set_record_text(backup.dirpath, "/备份");
        set_record_text(backup.dbpath, "/备份/olva.db");
        ASSERT_EQ(db.AddBackDir(backup), 0);

        LINECONFIG_INFO line{1, 801, 0, "前台"};
        ASSERT_EQ(db.AddLineConfig(line), 0);
        line.channelext = 802;
        ASSERT_EQ(db.AddLineConfig(line), 0);

        TASK_INFO task{};
        set_record_text(task.tasktablename, "list_1");
        task.maxnumberphone = 2;
        set_record_text(task.name, "回访");
        ASSERT_EQ(db.AddTask(task), 0);
        ASSERT_EQ(db.createTaskListTable("list_1"), 0);
        ASSERT_EQ(db.AddCallTasklistPhoneNumber("list_1", "110"), 0);
        ASSERT_EQ(db.AddCallTasklistPhoneNumber("list_1", "12'0"), 0);
    }

    const std::optional<std::string> output = shell_output(
        dir, dir.file("olva.db"),
        "PRAGMA integrity_check;"
        "SELECT * FROM groupinfo;"
        "SELECT manid, name, groupid, company, phone, mobile, memo FROM personinfo;"
        "SELECT * FROM recordinfo;"
        "SELECT acco, pswd, name FROM userinfo ORDER BY acco;"
        "SELECT * FROM userlog;"
        "SELECT * FROM backdir;"
        "SELECT * FROM lineconfig;"
        "SELECT * FROM calltask;"
        "SELECT * FROM list_1;");
    ASSERT_TRUE(output);
    EXPECT_EQ(*output,
              "ok\n"
              "1|客户 'A'\n"
              "1|张三|1|O'Neil \"& Sons\"|01088886666|13900001111|备注\n"
              "1|1|0|2|13900001111|||5000000000|5000000042|/录音/it's.wav|0|回拨 'later'\n"
              "admin|新密码|admin\n"
              "li|p'w|李四\n"
              "li|4294967296|登录\n"
              "1|1|9000000000|/备份|/备份/olva.db\n"
              "1|802|0|前台\n"
              "1|list_1|0|2|0|0|0|回访\n"
              "1|110\n"
              "2|12'0\n");
}

}  // namespace
