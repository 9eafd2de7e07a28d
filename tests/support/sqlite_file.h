// Test access to SQLite files: a connection of our own that looks at what the
// code under test wrote, and a log of the statement texts that the code's
// connections run.
#pragma once

#include <string>
#include <vector>

struct sqlite3;

namespace olva_test {

// A connection of the test's own; it never shows in a StatementLog.
class SqliteFile {
public:
    explicit SqliteFile(const std::string& path);
    ~SqliteFile();
    SqliteFile(const SqliteFile&) = delete;
    SqliteFile& operator=(const SqliteFile&) = delete;

    // Runs sql, failing the test on an error.
    void exec(const std::string& sql);
    // Every row of a query, each column as its text ("<null>" for NULL).
    std::vector<std::vector<std::string>> rows(const std::string& sql);
    // The first column of each row, as integers.
    std::vector<long long> integers(const std::string& sql);

private:
    sqlite3* db_ = nullptr;
};

// While one lives, every connection opened (by anyone but SqliteFile) has
// the text of each statement it runs appended to statements(), as written,
// placeholders and all.
class StatementLog {
public:
    StatementLog();
    ~StatementLog();
    StatementLog(const StatementLog&) = delete;
    StatementLog& operator=(const StatementLog&) = delete;

    const std::vector<std::string>& statements() const { return statements_; }
    void clear() { statements_.clear(); }

private:
    std::vector<std::string> statements_;
};

}  // namespace olva_test
