// Users and their logs on a real SQLite file, checked against what SQLite
// itself finds in the file.
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "database/Database.h"
#include "support/database_fixture.h"

namespace {

using olva_test::DbRows;

std::vector<std::string> user_columns(const USER_INFO& u)
{
    return {u.acco, u.pswd, u.name, u.memo, u.modal, u.flag};
}

USER_INFO user_of(const std::vector<std::string>& columns)
{
    USER_INFO u{};
    set_record_text(u.acco, columns.at(0));
    set_record_text(u.pswd, columns.at(1));
    set_record_text(u.name, columns.at(2));
    set_record_text(u.memo, columns.at(3));
    set_record_text(u.modal, columns.at(4));
    set_record_text(u.flag, columns.at(5));
    return u;
}

const std::vector<std::string> kAdmin = {"admin", "Tq7Lw2pZcV9xNa4RkHs0bE==", "admin", "", std::string(32, '1'),
                                         "11111"};
const char* kSelectAccounts = "SELECT acco, pswd, name, memo, modal, flag FROM userinfo ORDER BY acco";

class UsersTest : public olva_test::OpenDatabaseTest {};

TEST_F(UsersTest, AddsReadsEditsAndDeletesAccounts)
{
    const std::vector<std::string> zhang = {"zhang'san", "cGFzcw==", "张三", "值班 \"夜\"", "1010", "01"};
    const std::vector<std::string> bob = {"bob", "x", "Bob", "", "", ""};
    ASSERT_EQ(db_.AddUser(user_of(zhang)), 0);
    ASSERT_EQ(db_.AddUser(user_of(bob)), 0);
    EXPECT_EQ(rows(kSelectAccounts), (DbRows{kAdmin, bob, zhang}));

    // An account is there once.
    EXPECT_EQ(db_.AddUser(user_of({"bob", "other", "Robert", "", "", ""})), SQLITE_CONSTRAINT);
    EXPECT_EQ(rows(kSelectAccounts), (DbRows{kAdmin, bob, zhang}));

    USER_INFO read{};
    ASSERT_EQ(db_.GetUser("zhang'san", read), 0);
    EXPECT_EQ(user_columns(read), zhang);
    std::vector<USER_INFO> users;
    ASSERT_EQ(db_.GetUser(users), 0);
    ASSERT_EQ(users.size(), 3u);
    EXPECT_EQ(user_columns(users[0]), kAdmin);
    EXPECT_EQ(user_columns(users[2]), zhang);

    // An edit leaves the account and its password alone.
    ASSERT_EQ(db_.EdtUser(user_of({"bob", "new password", "Robert", "memo", "111", "1"})), 0);
    const std::vector<std::string> edited_bob = {"bob", "x", "Robert", "memo", "111", "1"};
    EXPECT_EQ(rows(kSelectAccounts), (DbRows{kAdmin, edited_bob, zhang}));
    ASSERT_EQ(db_.UpdatePswd("bob", "s3cret'"), 0);
    EXPECT_EQ(rows("SELECT pswd FROM userinfo WHERE acco = 'bob'"), (DbRows{{"s3cret'"}}));

    // Accounts that are not there change nothing.
    EXPECT_EQ(db_.EdtUser(user_of({"carol", "", "Carol", "", "", ""})), 0);
    EXPECT_EQ(db_.UpdatePswd("carol", "p"), 0);
    EXPECT_EQ(db_.DelUser("carol"), 0);
    EXPECT_EQ(rows("SELECT count(*) FROM userinfo"), (DbRows{{"3"}}));

    ASSERT_EQ(db_.DelUser("zhang'san"), 0);
    EXPECT_EQ(db_.IsUserByAcco("zhang'san"), -2);
    EXPECT_EQ(db_.IsUserByAcco("bob"), 0);
    EXPECT_EQ(db_.IsUserByAcco("admin"), 0);
    read = user_of(bob);
    EXPECT_EQ(db_.GetUser("zhang'san", read), -2);
    EXPECT_EQ(user_columns(read), bob);
}

TEST_F(UsersTest, LoginNeedsTheAccountsOwnPassword)
{
    ASSERT_EQ(db_.AddUser(user_of({"li", "密码'1", "李", "", "0011", "1"})), 0);
    struct Case {
        const char* acco;
        const char* pswd;
        int result;
    };
    const Case cases[] = {
        {"li", "密码'1", 0},
        {"admin", "Tq7Lw2pZcV9xNa4RkHs0bE==", 0},
        {"li", "密码'", -2},
        {"li", "", -2},
        {"li", nullptr, -2},
        {"LI", "密码'1", -2},
        {"admin", "Tq7Lw2pZcV9xNa4RkHs0bE=", -2},
        {"nobody", "密码'1", -2},
        // Text that would open any account if it became SQL.
        {"li", "' OR '1'='1", -2},
        {"' OR '1'='1' --", "x", -2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.acco) + " / " + (c.pswd ? c.pswd : "null"));
        USER_INFO user = user_of({"before", "", "", "", "", ""});
        EXPECT_EQ(db_.UserLogin(c.acco, c.pswd, user), c.result);
        if (c.result == 0) {
            EXPECT_EQ(record_text(user.acco), c.acco);
            EXPECT_EQ(record_text(user.pswd), c.pswd);
        } else {
            EXPECT_EQ(record_text(user.acco), "before");
        }
    }
}

class UserLogTest : public olva_test::OpenDatabaseTest {
protected:
    void SetUp() override
    {
        OpenDatabaseTest::SetUp();
        // Two accounts, each with entries at these times (beyond 32 bits).
        for (const char* acco : {"admin", "li"})
            for (std::int64_t t : {kBase + 10, kBase + 20, kBase + 30, kBase + 40}) {
                USERLOG_INFO entry{};
                set_record_text(entry.acco, acco);
                entry.logtime = t;
                set_record_text(entry.logdata, std::string(acco) + " 登录 '" + std::to_string(t - kBase) + "'");
                ASSERT_EQ(db_.AddUserLog(entry), 0);
            }
    }

    // The times of what the file holds for an account.
    DbRows times_of(const char* acco)
    {
        return rows(std::string("SELECT logtime - ") + std::to_string(kBase) + " FROM userlog WHERE acco = '" + acco +
                    "' ORDER BY logtime");
    }

    static constexpr std::int64_t kBase = 6000000000;
};

TEST_F(UserLogTest, ReadsTheEntriesOfARange)
{
    struct Case {
        const char* acco;
        std::int64_t begin;
        std::int64_t end;
        std::vector<std::int64_t> times;
    };
    const Case cases[] = {
        {"li", 20, 30, {20, 30}},  // both ends are in the range
        {"li", 0, 100, {10, 20, 30, 40}},
        {"li", 21, 29, {}},
        {"li", 40, 40, {40}},
        {"li", 30, 20, {}},
        {"admin", 15, 35, {20, 30}},
        {"nobody", 0, 100, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.acco) + " " + std::to_string(c.begin) + ".." + std::to_string(c.end));
        std::vector<USERLOG_INFO> entries(1);
        const int res = db_.GetUserLog(c.acco, kBase + c.begin, kBase + c.end, entries);
        EXPECT_EQ(res, c.times.empty() ? -2 : 0);
        std::vector<std::int64_t> times;
        for (std::size_t i = 1; i < entries.size(); ++i) {
            EXPECT_EQ(record_text(entries[i].acco), c.acco);
            EXPECT_EQ(record_text(entries[i].logdata),
                      std::string(c.acco) + " 登录 '" + std::to_string(entries[i].logtime - kBase) + "'");
            times.push_back(entries[i].logtime - kBase);
        }
        EXPECT_EQ(times, c.times);
    }
}

TEST_F(UserLogTest, DeletesARangeOfOneAccountOrOfAll)
{
    ASSERT_EQ(db_.DelUserLog("li", kBase + 20, kBase + 30), 0);
    EXPECT_EQ(times_of("li"), (DbRows{{"10"}, {"40"}}));
    EXPECT_EQ(times_of("admin"), (DbRows{{"10"}, {"20"}, {"30"}, {"40"}}));

    ASSERT_EQ(db_.DelUserLog(kBase + 5, kBase + 10), 0);
    EXPECT_EQ(times_of("li"), (DbRows{{"40"}}));
    EXPECT_EQ(times_of("admin"), (DbRows{{"20"}, {"30"}, {"40"}}));

    // A range that holds nothing deletes nothing.
    ASSERT_EQ(db_.DelUserLog(kBase + 41, kBase + 100), 0);
    ASSERT_EQ(db_.DelUserLog("admin", kBase + 21, kBase + 29), 0);
    EXPECT_EQ(rows("SELECT count(*) FROM userlog"), (DbRows{{"4"}}));
    ASSERT_EQ(db_.DelUserLog(kBase, kBase + 40), 0);
    EXPECT_EQ(rows("SELECT count(*) FROM userlog"), (DbRows{{"0"}}));
}

}  // namespace
