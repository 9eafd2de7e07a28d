// A record database opened on a fresh file in a temporary directory, with a
// connection of the test's own to look at what the file holds.
#pragma once

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "database/Database.h"
#include "support/sqlite_file.h"
#include "support/temp_dir.h"

namespace olva_test {

using DbRows = std::vector<std::vector<std::string>>;

class OpenDatabaseTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(db_.OpenDbase((dir_.path() + "/").c_str()), 0); }

    std::string file() const { return dir_.file("olva.db"); }
    // Every row of a query on the file, through SQLite itself.
    DbRows rows(const std::string& sql) { return SqliteFile(file()).rows(sql); }

    TempDir dir_;
    Database db_;
};

}  // namespace olva_test
