// SQL from the caller, run as it is.
#include <string>

#include "base/logger.h"
#include "database/Database.h"
#include "database/statement.h"

using namespace olva_db;

int Database::SqlExe(const char* sql)
{
    const char* what = "run statement";
    if (!db_)
        return not_open(what);
    Statement statement(db_, what, std::string(text_of(sql)), {});
    // A second statement would run unseen, so none runs; a comment or blanks
    // after the first are no statement.
    sqlite3_stmt* next = nullptr;
    const bool more = sqlite3_prepare_v2(db_, statement.rest().c_str(), -1, &next, nullptr) != SQLITE_OK || next;
    sqlite3_finalize(next);
    if (more) {
        logger(1, kModule, kTag, "   %s failed: more than one statement", what);
        return SQLITE_ERROR;
    }
    int step;
    while ((step = statement.step()) == SQLITE_ROW) {
    }
    return step == SQLITE_DONE ? 0 : step;
}
