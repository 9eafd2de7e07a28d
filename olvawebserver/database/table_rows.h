// The columns of a table as the fields of its row struct, in column order:
// from them a row's values are bound and a result row is read back, so that
// each table states its columns once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "database/database_types.h"
#include "database/statement.h"

namespace olva_db {

template <class Row>
struct Field {
    const char* column;
    Value (*value)(const Row& row);
    void (*read)(Row& row, sqlite3_stmt* stmt, int column);
};

inline Value value_of(std::int32_t number)
{
    return std::int64_t{number};
}
inline Value value_of(std::int64_t number)
{
    return number;
}
template <std::size_t N>
Value value_of(const char (&text)[N])
{
    return record_text(text);
}

inline void read_column(sqlite3_stmt* stmt, int column, std::int32_t& number)
{
    number = sqlite3_column_int(stmt, column);
}
inline void read_column(sqlite3_stmt* stmt, int column, std::int64_t& number)
{
    number = sqlite3_column_int64(stmt, column);
}
template <std::size_t N>
void read_column(sqlite3_stmt* stmt, int column, char (&text)[N])
{
    copy_column(stmt, column, text);
}

template <class Row, auto Member>
constexpr Field<Row> field(const char* column)
{
    return {column, [](const Row& row) { return value_of(row.*Member); },
            [](Row& row, sqlite3_stmt* stmt, int column) { read_column(stmt, column, row.*Member); }};
}

// The field of a struct member and of the column of the same name.
#define OLVA_DB_FIELD(Row, member) ::olva_db::field<Row, &Row::member>(#member)

// "a, b, c": the fields' columns; with a suffix, each followed by it
// ("a=?, b=?").
template <class Row>
std::string columns_of(std::span<const Field<Row>> fields, std::string_view suffix = {})
{
    std::string text;
    for (const Field<Row>& f : fields) {
        if (!text.empty())
            text += ", ";
        text += f.column;
        text += suffix;
    }
    return text;
}

// "?, ?, ?": a placeholder for each field.
template <class Row>
std::string placeholders_of(std::span<const Field<Row>> fields)
{
    std::string text;
    for (std::size_t i = 0; i < fields.size(); ++i)
        text += i ? ", ?" : "?";
    return text;
}

// "SELECT a, b, c FROM table"
template <class Row>
std::string select_of(const char* table, std::span<const Field<Row>> fields)
{
    return "SELECT " + columns_of(fields) + " FROM " + table;
}

// The values of the fields, in order.
template <class Row>
std::vector<Value> values_of(const Row& row, std::span<const Field<Row>> fields)
{
    std::vector<Value> values;
    values.reserve(fields.size());
    for (const Field<Row>& f : fields)
        values.push_back(f.value(row));
    return values;
}

// A row read from the result's columns, the fields in order from column 0.
template <class Row>
Row read_row(sqlite3_stmt* stmt, std::span<const Field<Row>> fields)
{
    Row row{};
    for (std::size_t i = 0; i < fields.size(); ++i)
        fields[i].read(row, stmt, static_cast<int>(i));
    return row;
}

// The reader of rows of this struct that collect and collect_one take.
template <class Row>
auto reader(std::span<const Field<Row>> fields)
{
    return [fields](sqlite3_stmt* stmt) { return read_row<Row>(stmt, fields); };
}

// A table whose first column is an integer key that SQLite assigns: its
// rows are added, edited, deleted and read by that key.
template <class Row>
struct KeyedTable {
    const char* name;
    std::span<const Field<Row>> fields;  // the key first
    std::int32_t Row::*key;

    std::span<const Field<Row>> values() const { return fields.subspan(1); }
    std::string where_key() const { return std::string(" WHERE ") + fields[0].column + "=?"; }
    std::string order_by_key() const { return std::string(" ORDER BY ") + fields[0].column; }
};

// Stores every field but the key; on success sets the row's key to the new
// row's id.
template <class Row>
int add_row(sqlite3* db, const char* what, const KeyedTable<Row>& table, Row& row)
{
    const std::string sql =
        std::string("INSERT INTO ") + table.name + " VALUES (null, " + placeholders_of(table.values()) + ")";
    std::int32_t id = 0;
    const int res = insert(db, what, sql, values_of(row, table.values()), id);
    if (res == 0)
        row.*table.key = id;
    return res;
}

// Rewrites every field of the row of row's key.
template <class Row>
int edit_row(sqlite3* db, const char* what, const KeyedTable<Row>& table, const Row& row)
{
    const std::string sql =
        std::string("UPDATE ") + table.name + " SET " + columns_of(table.values(), "=?") + table.where_key();
    std::vector<Value> values = values_of(row, table.values());
    values.push_back(value_of(row.*table.key));
    return run(db, what, sql, values);
}

template <class Row>
int delete_row(sqlite3* db, const char* what, const KeyedTable<Row>& table, int id)
{
    const Value values[] = {std::int64_t{id}};
    return run(db, what, std::string("DELETE FROM ") + table.name + table.where_key(), values);
}

template <class Row>
int get_row(sqlite3* db, const char* what, const KeyedTable<Row>& table, int id, Row& row)
{
    const Value values[] = {std::int64_t{id}};
    return collect_one(db, what, select_of(table.name, table.fields) + table.where_key(), values,
                       reader(table.fields), row);
}

// The rows of the condition (the text after WHERE; empty: every row) by key.
template <class Row>
int get_rows(sqlite3* db, const char* what, const KeyedTable<Row>& table, std::vector<Row>& rows,
             std::string_view condition = {}, std::span<const Value> values = {})
{
    std::string sql = select_of(table.name, table.fields);
    if (!condition.empty())
        sql += std::string(" WHERE ") + std::string(condition);
    return collect(db, what, sql + table.order_by_key(), values, reader(table.fields), rows);
}

}  // namespace olva_db
