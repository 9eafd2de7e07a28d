// Users and their logs.
#include <string>

#include "database/Database.h"
#include "database/table_rows.h"

using namespace olva_db;

namespace {

constexpr Field<USER_INFO> kUserFields[] = {
    OLVA_DB_FIELD(USER_INFO, acco), OLVA_DB_FIELD(USER_INFO, pswd),  OLVA_DB_FIELD(USER_INFO, name),
    OLVA_DB_FIELD(USER_INFO, memo), OLVA_DB_FIELD(USER_INFO, modal), OLVA_DB_FIELD(USER_INFO, flag),
};

constexpr Field<USERLOG_INFO> kUserLogFields[] = {
    OLVA_DB_FIELD(USERLOG_INFO, acco),
    OLVA_DB_FIELD(USERLOG_INFO, logtime),
    OLVA_DB_FIELD(USERLOG_INFO, logdata),
};

constexpr const char* kInsertUser = "INSERT INTO userinfo VALUES (?, ?, ?, ?, ?, ?)";
constexpr const char* kUpdateUser = "UPDATE userinfo SET name=?, memo=?, modal=?, flag=? WHERE acco=?";
constexpr const char* kUpdatePassword = "UPDATE userinfo SET pswd=? WHERE acco=?";
constexpr const char* kDeleteUser = "DELETE FROM userinfo WHERE acco=?";
constexpr const char* kHasUser = "SELECT 1 FROM userinfo WHERE acco=?";

constexpr const char* kInsertUserLog = "INSERT INTO userlog VALUES (?, ?, ?)";
constexpr const char* kInRange = "logtime>=? AND logtime<=?";

std::string select_users(const char* tail)
{
    return select_of("userinfo", std::span<const Field<USER_INFO>>(kUserFields)) + tail;
}

}  // namespace

int Database::AddUser(const USER_INFO& user)
{
    return run(db_, "add user", kInsertUser, values_of<USER_INFO>(user, kUserFields));
}

int Database::EdtUser(const USER_INFO& user)
{
    const Value values[] = {record_text(user.name), record_text(user.memo), record_text(user.modal),
                            record_text(user.flag), record_text(user.acco)};
    return run(db_, "edit user", kUpdateUser, values);
}

int Database::DelUser(const char* acco)
{
    const Value values[] = {text_of(acco)};
    return run(db_, "delete user", kDeleteUser, values);
}

int Database::GetUser(const char* acco, USER_INFO& user)
{
    const Value values[] = {text_of(acco)};
    return collect_one(db_, "get user", select_users(" WHERE acco=?"), values, reader<USER_INFO>(kUserFields),
                       user);
}

int Database::GetUser(std::vector<USER_INFO>& users)
{
    return collect(db_, "get users", select_users(" ORDER BY acco"), {}, reader<USER_INFO>(kUserFields), users);
}

int Database::IsUserByAcco(const char* acco)
{
    const Value values[] = {text_of(acco)};
    return exists(db_, "find user", kHasUser, values);
}

int Database::UpdatePswd(const char* acco, const char* pswd)
{
    const Value values[] = {text_of(pswd), text_of(acco)};
    return run(db_, "change password", kUpdatePassword, values);
}

int Database::UserLogin(const char* acco, const char* pswd, USER_INFO& user)
{
    const Value values[] = {text_of(acco), text_of(pswd)};
    return collect_one(db_, "user login", select_users(" WHERE acco=? AND pswd=?"), values,
                       reader<USER_INFO>(kUserFields), user);
}

int Database::AddUserLog(const USERLOG_INFO& entry)
{
    return run(db_, "add user log", kInsertUserLog, values_of<USERLOG_INFO>(entry, kUserLogFields));
}

int Database::DelUserLog(std::int64_t begin, std::int64_t end)
{
    const Value values[] = {begin, end};
    return run(db_, "delete user logs", std::string("DELETE FROM userlog WHERE ") + kInRange, values);
}

int Database::DelUserLog(const char* acco, std::int64_t begin, std::int64_t end)
{
    const Value values[] = {begin, end, text_of(acco)};
    return run(db_, "delete user logs of account", std::string("DELETE FROM userlog WHERE ") + kInRange + " AND acco=?",
               values);
}

int Database::GetUserLog(const char* acco, std::int64_t begin, std::int64_t end, std::vector<USERLOG_INFO>& entries)
{
    const Value values[] = {begin, end, text_of(acco)};
    const std::string sql = select_of("userlog", std::span<const Field<USERLOG_INFO>>(kUserLogFields)) + " WHERE " +
                            kInRange + " AND acco=? ORDER BY logtime, rowid";
    return collect(db_, "get user logs", sql, values, reader<USERLOG_INFO>(kUserLogFields), entries);
}
