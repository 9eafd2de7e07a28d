#include "Database.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <span>
#include <string>
#include <variant>

#include <sqlite3.h>
#include <sys/stat.h>

#include "logger.h"

namespace {

constexpr const char* kModule = "olva server";
constexpr const char* kTag = "database";
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

constexpr const char* kInsertRecord =
    "INSERT INTO recordinfo VALUES (null, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";
constexpr const char* kDeleteRecord = "DELETE FROM recordinfo WHERE recordid=?";
constexpr const char* kCountRecords = "SELECT count(*) FROM recordinfo";
// The columns in the order read_record takes them.
constexpr const char* kSelectRecords =
    "SELECT recordid, inchlno, outchlno, type, phone, dtmf, area, begintime, endtime, path, "
    "filesize, memo FROM recordinfo";

// A UTF-8 character is at most four bytes: a lead byte and three that
// continue it.
constexpr int kMaxContinuationBytes = 3;

using Value = std::variant<std::int64_t, std::string_view>;

// acco, pswd, name, memo, modal (32 times '1'), flag
constexpr Value kDefaultUser[] = {
    std::string_view("admin"), std::string_view("Tq7Lw2pZcV9xNa4RkHs0bE=="),
    std::string_view("admin"), std::string_view(""),
    std::string_view("11111111111111111111111111111111"), std::string_view("11111"),
};

int not_open(const char* what)
{
    logger(1, kModule, kTag, "   %s failed: database not open", what);
    return -1;
}

// A statement prepared with its values bound, finalized when it goes. A
// failure is logged once, where it happens, and kept as the result.
class Statement {
public:
    Statement(sqlite3* db, const char* what, const std::string& sql, std::span<const Value> values)
        : db_(db), what_(what)
    {
        result_ = sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size() + 1), &stmt_, nullptr);
        for (std::size_t i = 0; result_ == SQLITE_OK && i < values.size(); ++i)
            result_ = bind(static_cast<int>(i + 1), values[i]);
        if (result_ != SQLITE_OK)
            fail(result_);
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    // SQLITE_ROW, SQLITE_DONE, or the code of the failure.
    int step()
    {
        if (result_ != SQLITE_OK)
            return result_;
        const int res = sqlite3_step(stmt_);
        if (res != SQLITE_ROW && res != SQLITE_DONE) {
            result_ = res;
            fail(res);
        }
        return res;
    }

    // 0 when the statement ran to its end, else the code of the failure.
    int run()
    {
        const int res = step();
        return res == SQLITE_DONE ? 0 : res;
    }

    sqlite3_stmt* get() const { return stmt_; }

private:
    int bind(int index, const Value& value)
    {
        if (const auto* number = std::get_if<std::int64_t>(&value))
            return sqlite3_bind_int64(stmt_, index, *number);
        const std::string_view text = std::get<std::string_view>(value);
        return sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()),
                                 SQLITE_TRANSIENT);
    }

    void fail(int res)
    {
        logger(1, kModule, kTag, "   %s failed, res:%d, %s", what_, res, sqlite3_errmsg(db_));
    }

    sqlite3* db_;
    const char* what_;
    sqlite3_stmt* stmt_ = nullptr;
    int result_;
};

// The part of a query after its table name, with the values of its
// placeholders in order.
struct QueryTail {
    std::string text;
    std::vector<Value> values;
};

QueryTail where_of(const RECORD_FILTER& filter)
{
    QueryTail tail;
    const char* joiner = " WHERE ";
    if (filter.type) {
        tail.text += joiner;
        tail.text += "type=?";
        tail.values.emplace_back(std::int64_t{*filter.type});
        joiner = " AND ";
    }
    if (filter.period) {
        tail.text += joiner;
        tail.text += "begintime>? AND endtime<?";
        tail.values.emplace_back(filter.period->begin_after);
        tail.values.emplace_back(filter.period->end_before);
    }
    return tail;
}

std::string_view cut_text(std::string_view text, std::size_t max)
{
    if (text.size() <= max)
        return text;
    auto continues = [&](std::size_t i) { return (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80; };
    std::size_t end = max;
    for (int i = 0; i < kMaxContinuationBytes && end > 0 && continues(end); ++i)
        --end;
    // Not UTF-8 here: any cut is as good as another.
    if (continues(end))
        end = max;
    return text.substr(0, end);
}

template <std::size_t N>
void copy_column(sqlite3_stmt* stmt, int column, char (&field)[N])
{
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
    const int bytes = sqlite3_column_bytes(stmt, column);
    set_record_text(field, text ? std::string_view(text, static_cast<std::size_t>(bytes)) : std::string_view());
}

RECORD_INFO read_record(sqlite3_stmt* stmt)
{
    RECORD_INFO record{};
    record.recordid = sqlite3_column_int(stmt, 0);
    record.inchlno = sqlite3_column_int(stmt, 1);
    record.outchlno = sqlite3_column_int(stmt, 2);
    record.type = sqlite3_column_int(stmt, 3);
    copy_column(stmt, 4, record.phone);
    copy_column(stmt, 5, record.dtmf);
    copy_column(stmt, 6, record.area);
    record.begintime = sqlite3_column_int64(stmt, 7);
    record.endtime = sqlite3_column_int64(stmt, 8);
    copy_column(stmt, 9, record.path);
    record.filesize = sqlite3_column_int(stmt, 10);
    copy_column(stmt, 11, record.memo);
    return record;
}

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

void set_record_text(char* field, std::size_t size, std::string_view text)
{
    if (size == 0)
        return;
    const std::string_view kept = cut_text(text.substr(0, text.find('\0')), size - 1);
    std::copy(kept.begin(), kept.end(), field);
    std::memset(field + kept.size(), 0, size - kept.size());
}

std::string_view record_text(const char* field, std::size_t size)
{
    if (size == 0)
        return {};
    return cut_text(std::string_view(field, strnlen(field, size)), size - 1);
}

RECORD_FILTER record_filter_of(int phone_type, std::int64_t start_time, std::int64_t end_time)
{
    RECORD_FILTER filter;
    if (phone_type != 0)
        filter.type = phone_type;
    if (start_time >= 1 && end_time >= 1)
        filter.period = RECORD_PERIOD{start_time, end_time};
    return filter;
}

RECORD_PAGE record_page_of(int page, int limit)
{
    return RECORD_PAGE{(static_cast<std::int64_t>(page) - 1) * limit, limit};
}

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

int Database::AddRecord(RECORD_INFO& record)
{
    if (!db_)
        return not_open("add record");
    const Value values[] = {
        std::int64_t{record.inchlno}, std::int64_t{record.outchlno}, std::int64_t{record.type},
        record_text(record.phone),    record_text(record.dtmf),      record_text(record.area),
        std::int64_t{record.begintime}, std::int64_t{record.endtime}, record_text(record.path),
        std::int64_t{record.filesize}, record_text(record.memo),
    };
    const int res = Statement(db_, "add record", kInsertRecord, values).run();
    if (res == 0)
        record.recordid = static_cast<std::int32_t>(sqlite3_last_insert_rowid(db_));
    return res;
}

int Database::DelRecord(int recordid)
{
    if (!db_)
        return not_open("delete record");
    const Value values[] = {std::int64_t{recordid}};
    return Statement(db_, "delete record", kDeleteRecord, values).run();
}

std::int64_t Database::GetRecordCount(const RECORD_FILTER& filter)
{
    if (!db_)
        return not_open("count records");
    const QueryTail tail = where_of(filter);
    Statement statement(db_, "count records", kCountRecords + tail.text, tail.values);
    if (statement.step() != SQLITE_ROW)
        return -1;
    return sqlite3_column_int64(statement.get(), 0);
}

int Database::GetOlvaRecord(const RECORD_SELECT& query, std::vector<RECORD_INFO>& records)
{
    if (!db_)
        return not_open("get records");
    QueryTail tail = where_of(query.filter);
    if (query.page) {
        tail.text += " ORDER BY begintime DESC LIMIT ? OFFSET ?";
        tail.values.emplace_back(query.page->count);
        tail.values.emplace_back(query.page->offset);
    }
    Statement statement(db_, "get records", kSelectRecords + tail.text, tail.values);
    std::vector<RECORD_INFO> found;
    int res;
    while ((res = statement.step()) == SQLITE_ROW)
        found.push_back(read_record(statement.get()));
    if (res != SQLITE_DONE)
        return res;
    if (found.empty())
        return -2;
    records.insert(records.end(), found.begin(), found.end());
    return 0;
}
