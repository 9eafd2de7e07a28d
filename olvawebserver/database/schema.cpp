// The file's tables, created at every open, and its default user.
#include <cerrno>
#include <string>

#include <sys/stat.h>

#include "base/logger.h"
#include "database/Database.h"
#include "database/statement.h"

using namespace olva_db;

namespace {

constexpr const char* kFileName = "olva.db";

// The tables of the file, created in this order. Their texts stay as they
// always were, tabs included: SQLite keeps them in the file's schema.
constexpr const char* kCreateTables[] = {
    "CREATE TABLE IF NOT EXISTS personinfo(\t\t\t\t\t\t\t\t\t"
    "manid INTEGER PRIMARY KEY,\t\t\t\t\t\t\t\t\t"
    "name VARCHAR(32),\t\t\t\t\t\t\t\t\t"
    "groupid INTEGER NOT NULL,\t\t\t\t\t\t\t\t\t"
    "sex  INTEGER NOT NULL,\t\t\t\t\t\t\t\t\t"
    "company VARCHAR(64),\t\t\t\t\t\t\t\t\t"
    "depart VARCHAR(32),\t\t\t\t\t\t\t\t\t"
    "job VARCHAR(32),\t\t\t\t\t\t\t\t\t"
    "address VARCHAR(128),\t\t\t\t\t\t\t\t\t"
    "code VARCHAR(32),\t\t\t\t\t\t\t\t\t"
    "phone VARCHAR(32),\t\t\t\t\t\t\t\t\t"
    "phone1 VARCHAR(32),\t\t\t\t\t\t\t\t\t"
    "phone2 VARCHAR(32),\t\t\t\t\t\t\t\t\t"
    "exten VARCHAR(32),\t\t\t\t\t\t\t\t\t"
    "mobile VARCHAR(32),\t\t\t\t\t\t\t\t\t"
    "mobile1 VARCHAR(32),\t\t\t\t\t\t\t\t\t"
    "url VARCHAR(128),\t\t\t\t\t\t\t\t\t"
    "email VARCHAR(64),\t\t\t\t\t\t\t\t\t"
    "qq VARCHAR(64),\t\t\t\t\t\t\t\t\t"
    "msn VARCHAR(64),\t\t\t\t\t\t\t\t\t"
    "memo VARCHAR(128))",

    "CREATE TABLE IF NOT EXISTS recordinfo(\t\t\t\t\t\t\t\t\t"
    "recordid INTEGER PRIMARY KEY AUTOINCREMENT,\t\t\t\t\t\t\t\t\t"
    "inchlno INTEGER NOT NULL,\t\t\t\t\t\t\t\t\t"
    "outchlno INTEGER NOT NULL,\t\t\t\t\t\t\t\t\t"
    "type INTEGER NOT NULL,\t\t\t\t\t\t\t\t\t"
    "phone VARCHAR(32),\t\t\t\t\t\t\t\t\t"
    "dtmf VARCHAR(32),\t\t\t\t\t\t\t\t\t"
    "area VARCHAR(64),\t\t\t\t\t\t\t\t\t"
    "begintime INTEGER NOT NULL,\t\t\t\t\t\t\t\t\t"
    "endtime INTEGER NOT NULL,\t\t\t\t\t\t\t\t\t"
    "path VARCHAR(256),\t\t\t\t\t\t\t\t\t"
    "filesize INTEGER NOT NULL,\t\t\t\t\t\t\t\t\t"
    "memo VARCHAR(128))",

    "CREATE TABLE IF NOT EXISTS groupinfo(\t\t\t\t\t\t\t\t\t"
    "groupid INTEGER PRIMARY KEY,\t\t\t\t\t\t\t\t\t"
    "groupname VARCHAR(32))",

    "CREATE TABLE IF NOT EXISTS backdir(\t\t\t\t\t\t\t\t\t"
    "id INTEGER PRIMARY KEY AUTOINCREMENT,\t\t\t\t\t\t\t\t\t"
    "begintime INTEGER NOT NULL,\t\t\t\t\t\t\t\t\t"
    "endtime INTEGER NOT NULL,\t\t\t\t\t\t\t\t\t"
    "dirpath VARCHAR(260),\t\t\t\t\t\t\t\t\t"
    "dbpath VARCHAR(260))",

    "CREATE TABLE IF NOT EXISTS userinfo(\t\t\t\t\t\t\t\t\t"
    "acco VARCHAR(64) PRIMARY KEY,\t\t\t\t\t\t\t\t\t"
    "pswd VARCHAR(64),\t\t\t\t\t\t\t\t\t"
    "name VARCHAR(64),\t\t\t\t\t\t\t\t\t"
    "memo VARCHAR(64),\t\t\t\t\t\t\t\t\t"
    "modal VARCHAR(64),\t\t\t\t\t\t\t\t\t"
    "flag VARCHAR(64))",

    "CREATE TABLE IF NOT EXISTS userlog(\t\t\t\t\t\t\t\t\t"
    "acco VARCHAR(64) ,\t\t\t\t\t\t\t\t\t"
    "logtime INTEGER NOT NULL,\t\t\t\t\t\t\t\t\t"
    "logdata VARCHAR(256))",

    "CREATE TABLE IF NOT EXISTS lineconfig(\t\t\t\t\t\t\t\t\t"
    "channelno INTEGER NOT NULL,\t\t\t\t\t\t\t\t\t"
    "channelext INTEGER NOT NULL,\t\t\t\t\t\t\t\t\t"
    "hide INTEGER NOT NULL,\t\t\t\t\t\t\t\t\t"
    "memo VARCHAR(64),\t\t\t\t\t\t\t\t\t"
    "PRIMARY KEY (channelno))",

    "CREATE TABLE IF NOT EXISTS  calltask(\t\t\t\t\t\t\t\t"
    "    id INTEGER PRIMARY KEY AUTOINCREMENT,\t\t\t\t\t\t\t\t\t"
    "tasktablename VARCHAR(64),\t\t\t\t\t\t\t\t\t"
    "state INTEGER NOT NULL,\t\t\t\t\t\t\t\t\t"
    "maxnumberphone INTEGER NOT NULL,\t\t\t\t\t\t\t\t\t"
    "callednumber INTEGER NOT NULL,\t\t\t\t\t\t\t\t\t"
    "succesnumber INTEGER NOT NULL,\t\t\t\t\t\t\t\t\t"
    "failednumber INTEGER NOT NULL,\t\t\t\t\t\t\t\t\t"
    "name VARCHAR(128))"
};

// Pages of records come newest start time first. Without an index every page
// sorted the whole table (100 000 records: 45 ms for the first page, 200 ms
// for the last). Descending, so that records of the same start time come in
// the order they were added, as the sort gave them. Made at every open, so
// that a file of an older build gets it too.
constexpr const char* kCreateRecordIndex =
    "CREATE INDEX IF NOT EXISTS recordinfo_begintime ON recordinfo(begintime DESC)";

constexpr const char* kInsertDefaultUser = "INSERT INTO userinfo VALUES (?, ?, ?, ?, ?, ?)";

// acco, pswd, name, memo, modal (32 times '1'), flag
constexpr Value kDefaultUser[] = {
    std::string_view("admin"), std::string_view("Tq7Lw2pZcV9xNa4RkHs0bE=="),
    std::string_view("admin"), std::string_view(""),
    std::string_view("11111111111111111111111111111111"), std::string_view("11111"),
};

int create_tables(sqlite3* db)
{
    for (const char* sql : kCreateTables) {
        char* message = nullptr;
        const int res = sqlite3_exec(db, sql, nullptr, nullptr, &message);
        if (res != SQLITE_OK) {
            logger(1, kModule, kTag, "   create table failed, res:%d, %s", res,
                   message ? message : sqlite3_errstr(res));
            sqlite3_free(message);
            return res;
        }
    }
    return SQLITE_OK;
}

}  // namespace

Database::~Database()
{
    CloseDbase();
}

int Database::OpenDbase(const char* dir)
{
    CloseDbase();
    if (!dir) {
        logger(1, kModule, kTag, "   open database failed: no directory");
        return -1;
    }
    const std::string path = std::string(dir) + kFileName;
    struct stat st {};
    const bool is_new = stat(path.c_str(), &st) != 0 && errno == ENOENT;

    sqlite3* db = nullptr;
    int res = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (res != SQLITE_OK)
        logger(1, kModule, kTag, "   open database %s failed, res:%d, %s", path.c_str(), res,
               db ? sqlite3_errmsg(db) : sqlite3_errstr(res));
    else
        res = create_tables(db);
    if (res != SQLITE_OK) {
        sqlite3_close(db);
        return res;
    }

    // The tables stand without these, so a failure here is logged and the
    // database stays open.
    Statement(db, "create record index", kCreateRecordIndex, {}).run();
    if (is_new)
        Statement(db, "add default user", kInsertDefaultUser, kDefaultUser).run();
    db_ = db;
    logger(4, kModule, kTag, "   open database %s ok", path.c_str());
    return 0;
}

int Database::CloseDbase()
{
    if (db_) {
        const int res = sqlite3_close(db_);
        if (res != SQLITE_OK)
            logger(1, kModule, kTag, "   close database failed, res:%d", res);
        db_ = nullptr;
    }
    return 0;
}
