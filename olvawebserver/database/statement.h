// The record database's one way to SQLite: a statement prepared with its
// values bound, and the steps every operation of the tables shares.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include <sqlite3.h>

namespace olva_db {

inline constexpr const char* kModule = "olva server";
inline constexpr const char* kTag = "database";

using Value = std::variant<std::int64_t, std::string_view>;

// A text argument of the interface; null is the empty text.
std::string_view text_of(const char* text);

// Logs that the database is not open and returns -1.
int not_open(const char* what);

// A statement prepared with its values bound, finalized when it goes. A
// failure is logged once, where it happens, and kept as the result.
class Statement {
public:
    Statement(sqlite3* db, const char* what, const std::string& sql, std::span<const Value> values);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    // SQLITE_ROW, SQLITE_DONE, or the code of the failure.
    int step();
    // 0 when the statement ran to its end, else the code of the failure.
    int run();

    sqlite3_stmt* get() const { return stmt_; }
    // The text after the first statement of the SQL, as SQLite left it.
    const std::string& rest() const { return rest_; }

private:
    int bind(int index, const Value& value);
    void fail(int res);

    sqlite3* db_;
    const char* what_;
    sqlite3_stmt* stmt_ = nullptr;
    std::string rest_;
    int result_;
};

// Copies a text column into a text field, cut to it.
void copy_column(sqlite3_stmt* stmt, int column, char* field, std::size_t size);
template <std::size_t N>
void copy_column(sqlite3_stmt* stmt, int column, char (&field)[N])
{
    copy_column(stmt, column, field, N);
}

// Runs a statement that returns no rows: 0, or the code of the failure.
int run(sqlite3* db, const char* what, const std::string& sql, std::span<const Value> values);

// Runs an insert and, on success, sets id to the new row's id.
int insert(sqlite3* db, const char* what, const std::string& sql, std::span<const Value> values,
           std::int32_t& id);

// 0 when the query has a row, -2 when it has none.
int exists(sqlite3* db, const char* what, const std::string& sql, std::span<const Value> values);

// The one integer the query returns, 0 when it is NULL, -1 when the database
// is not open or the query fails.
std::int64_t single_integer(sqlite3* db, const char* what, const std::string& sql,
                            std::span<const Value> values);

// Appends each row of the query to rows, read by read_row(stmt); -2 when
// there is none. On any failure rows stays as it was.
template <class Row, class Read>
int collect(sqlite3* db, const char* what, const std::string& sql, std::span<const Value> values,
            Read read_row, std::vector<Row>& rows)
{
    if (!db)
        return not_open(what);
    Statement statement(db, what, sql, values);
    std::vector<Row> found;
    int res;
    while ((res = statement.step()) == SQLITE_ROW)
        found.push_back(read_row(statement.get()));
    if (res != SQLITE_DONE)
        return res;
    if (found.empty())
        return -2;
    rows.insert(rows.end(), found.begin(), found.end());
    return 0;
}

// The first row of the query into row; -2 when there is none, and row stays
// as it was unless a row was read.
template <class Row, class Read>
int collect_one(sqlite3* db, const char* what, const std::string& sql, std::span<const Value> values,
                Read read_row, Row& row)
{
    std::vector<Row> found;
    const int res = collect(db, what, sql, values, read_row, found);
    if (res == 0)
        row = found.front();
    return res;
}

}  // namespace olva_db
