#include "support/sqlite_file.h"

#include <stdexcept>

#include <gtest/gtest.h>
#include <sqlite3.h>

namespace olva_test {

namespace {

// The statements of the living StatementLog.
std::vector<std::string>* g_statements = nullptr;

int on_statement(unsigned, void*, void* statement, void*)
{
    if (g_statements)
        g_statements->push_back(sqlite3_sql(static_cast<sqlite3_stmt*>(statement)));
    return 0;
}

int install_trace(sqlite3* db, char**, const sqlite3_api_routines*)
{
    sqlite3_trace_v2(db, SQLITE_TRACE_STMT, &on_statement, nullptr);
    return SQLITE_OK;
}

}  // namespace

SqliteFile::SqliteFile(const std::string& path)
{
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
        const std::string message = sqlite3_errmsg(db_);
        sqlite3_close(db_);
        throw std::runtime_error("cannot open " + path + ": " + message);
    }
    // A StatementLog may have hooked this connection too.
    sqlite3_trace_v2(db_, 0, nullptr, nullptr);
}

SqliteFile::~SqliteFile()
{
    sqlite3_close(db_);
}

void SqliteFile::exec(const std::string& sql)
{
    char* message = nullptr;
    const int res = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message);
    if (res != SQLITE_OK)
        ADD_FAILURE() << sql << ": " << (message ? message : sqlite3_errstr(res));
    sqlite3_free(message);
}

std::vector<std::vector<std::string>> SqliteFile::rows(const std::string& sql)
{
    std::vector<std::vector<std::string>> result;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
        ADD_FAILURE() << sql << ": " << sqlite3_errmsg(db_);
        return result;
    }
    int res;
    while ((res = sqlite3_step(stmt)) == SQLITE_ROW) {
        std::vector<std::string> row;
        for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, i));
            row.push_back(text ? std::string(text, sqlite3_column_bytes(stmt, i)) : "<null>");
        }
        result.push_back(std::move(row));
    }
    if (res != SQLITE_DONE)
        ADD_FAILURE() << sql << ": " << sqlite3_errmsg(db_);
    sqlite3_finalize(stmt);
    return result;
}

std::vector<long long> SqliteFile::integers(const std::string& sql)
{
    std::vector<long long> result;
    for (const auto& row : rows(sql))
        result.push_back(std::stoll(row.at(0)));
    return result;
}

StatementLog::StatementLog()
{
    g_statements = &statements_;
    sqlite3_auto_extension(reinterpret_cast<void (*)()>(&install_trace));
}

StatementLog::~StatementLog()
{
    sqlite3_cancel_auto_extension(reinterpret_cast<void (*)()>(&install_trace));
    g_statements = nullptr;
}

}  // namespace olva_test
