// Call records with the names of the contacts their numbers belong to.
#include <string>

#include "base/logger.h"
#include "database/Database.h"
#include "database/record_rows.h"
#include "database/statement.h"

using namespace olva_db;

namespace {

// A record without a number belongs to nobody, though many contacts leave
// some of their phone columns empty.
constexpr const char* kHasPhone = "recordinfo.phone <> ''";

constexpr const char* kPhoneColumns[] = {"phone", "phone1", "phone2", "exten", "mobile", "mobile1"};

// The first contact, by manid, with the record's number in a phone column.
constexpr const char* kNameOfAnyContact =
    "(SELECT personinfo.name FROM personinfo WHERE recordinfo.phone <> '' AND recordinfo.phone IN "
    "(personinfo.phone, personinfo.phone1, personinfo.phone2, personinfo.exten, personinfo.mobile, "
    "personinfo.mobile1) ORDER BY personinfo.manid LIMIT 1)";

RECORD_QUERY read_named_record(sqlite3_stmt* stmt)
{
    RECORD_QUERY row{};
    static_cast<RECORD_INFO&>(row) = read_record(stmt);
    copy_column(stmt, kRecordColumnCount, row.name);
    return row;
}

}  // namespace

int Database::GetRecord(PERSON_PHONE by, const RECORD_SELECT& query, std::vector<RECORD_QUERY>& records)
{
    const auto column = static_cast<std::size_t>(by);
    if (column >= std::size(kPhoneColumns)) {
        logger(1, kModule, kTag, "   get records of contacts failed: no phone column %zu", column);
        return -1;
    }
    const QueryTail tail = select_tail(query, kHasPhone, ", personinfo.manid");
    const std::string sql = std::string("SELECT ") + kRecordColumns +
                            ", personinfo.name FROM recordinfo JOIN personinfo ON personinfo." +
                            kPhoneColumns[column] + " = recordinfo.phone" + tail.text;
    return collect(db_, "get records of contacts", sql, tail.values, read_named_record, records);
}

int Database::GetRecordEx(const RECORD_SELECT& query, std::vector<RECORD_QUERY>& records)
{
    const QueryTail tail = select_tail(query);
    const std::string sql =
        std::string("SELECT ") + kRecordColumns + ", " + kNameOfAnyContact + " FROM recordinfo" + tail.text;
    return collect(db_, "get records with names", sql, tail.values, read_named_record, records);
}
