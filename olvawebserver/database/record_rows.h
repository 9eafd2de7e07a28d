// What the record operations share: the record's columns, how a result row
// becomes a RECORD_INFO, and the SQL that a RECORD_SELECT stands for.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "database/database_types.h"
#include "database/statement.h"

namespace olva_db {

// The columns in the order read_record takes them, named with their table
// so that a query joined with personinfo reads them the same way.
inline constexpr const char* kRecordColumns =
    "recordinfo.recordid, recordinfo.inchlno, recordinfo.outchlno, recordinfo.type, recordinfo.phone, "
    "recordinfo.dtmf, recordinfo.area, recordinfo.begintime, recordinfo.endtime, recordinfo.path, "
    "recordinfo.filesize, recordinfo.memo";
inline constexpr int kRecordColumnCount = 12;

RECORD_INFO read_record(sqlite3_stmt* stmt);

// The part of a query after its FROM, with the values of its placeholders
// in order.
struct QueryTail {
    std::string text;
    std::vector<Value> values;
};

// The WHERE of a filter, with condition (if any) as its first term.
QueryTail where_of(const RECORD_FILTER& filter, std::string_view condition = {});

// The WHERE of the query's filter and its order: with a page, newest start
// time first and then tie_break; without one, in the order the records were
// added and then tie_break.
QueryTail select_tail(const RECORD_SELECT& query, std::string_view condition = {},
                      std::string_view tie_break = {});

}  // namespace olva_db
