#include "database/statement.h"

#include "base/logger.h"
#include "database/database_types.h"

namespace olva_db {

std::string_view text_of(const char* text)
{
    return text ? std::string_view(text) : std::string_view();
}

int not_open(const char* what)
{
    logger(1, kModule, kTag, "   %s failed: database not open", what);
    return -1;
}

Statement::Statement(sqlite3* db, const char* what, const std::string& sql, std::span<const Value> values)
    : db_(db), what_(what)
{
    const char* tail = nullptr;
    result_ = sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size() + 1), &stmt_, &tail);
    if (result_ == SQLITE_OK && tail)
        rest_ = tail;
    for (std::size_t i = 0; result_ == SQLITE_OK && i < values.size(); ++i)
        result_ = bind(static_cast<int>(i + 1), values[i]);
    if (result_ != SQLITE_OK)
        fail(result_);
}

Statement::~Statement()
{
    sqlite3_finalize(stmt_);
}

int Statement::step()
{
    if (result_ != SQLITE_OK)
        return result_;
    // Text of nothing but blanks and comments prepares to no statement.
    if (!stmt_)
        return SQLITE_DONE;
    const int res = sqlite3_step(stmt_);
    if (res != SQLITE_ROW && res != SQLITE_DONE) {
        result_ = res;
        fail(res);
    }
    return res;
}

int Statement::run()
{
    const int res = step();
    return res == SQLITE_DONE ? 0 : res;
}

int Statement::bind(int index, const Value& value)
{
    if (const auto* number = std::get_if<std::int64_t>(&value))
        return sqlite3_bind_int64(stmt_, index, *number);
    const std::string_view text = std::get<std::string_view>(value);
    return sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

void Statement::fail(int res)
{
    logger(1, kModule, kTag, "   %s failed, res:%d, %s", what_, res, sqlite3_errmsg(db_));
}

void copy_column(sqlite3_stmt* stmt, int column, char* field, std::size_t size)
{
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
    const int bytes = sqlite3_column_bytes(stmt, column);
    set_record_text(field, size, text ? std::string_view(text, static_cast<std::size_t>(bytes)) : std::string_view());
}

int run(sqlite3* db, const char* what, const std::string& sql, std::span<const Value> values)
{
    if (!db)
        return not_open(what);
    return Statement(db, what, sql, values).run();
}

int insert(sqlite3* db, const char* what, const std::string& sql, std::span<const Value> values,
           std::int32_t& id)
{
    const int res = run(db, what, sql, values);
    if (res == 0)
        id = static_cast<std::int32_t>(sqlite3_last_insert_rowid(db));
    return res;
}

int exists(sqlite3* db, const char* what, const std::string& sql, std::span<const Value> values)
{
    if (!db)
        return not_open(what);
    Statement statement(db, what, sql, values);
    const int res = statement.step();
    if (res == SQLITE_ROW)
        return 0;
    return res == SQLITE_DONE ? -2 : res;
}

std::int64_t single_integer(sqlite3* db, const char* what, const std::string& sql,
                            std::span<const Value> values)
{
    if (!db)
        return not_open(what);
    Statement statement(db, what, sql, values);
    if (statement.step() != SQLITE_ROW)
        return -1;
    return sqlite3_column_int64(statement.get(), 0);
}

}  // namespace olva_db
