// Call records: adding, editing, deleting, counting and reading them.
#include <string>

#include "database/Database.h"
#include "database/record_rows.h"
#include "database/statement.h"

namespace olva_db {

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

QueryTail where_of(const RECORD_FILTER& filter, std::string_view condition)
{
    QueryTail tail;
    const char* joiner = " WHERE ";
    auto add = [&](std::string_view term) {
        tail.text += joiner;
        tail.text += term;
        joiner = " AND ";
    };
    if (!condition.empty())
        add(condition);
    if (filter.type) {
        add("recordinfo.type=?");
        tail.values.emplace_back(std::int64_t{*filter.type});
    }
    if (filter.period) {
        add("recordinfo.begintime>? AND recordinfo.endtime<?");
        tail.values.emplace_back(filter.period->begin_after);
        tail.values.emplace_back(filter.period->end_before);
    }
    return tail;
}

QueryTail select_tail(const RECORD_SELECT& query, std::string_view condition, std::string_view tie_break)
{
    QueryTail tail = where_of(query.filter, condition);
    if (query.page) {
        tail.text += " ORDER BY recordinfo.begintime DESC";
        tail.text += tie_break;
        tail.text += " LIMIT ? OFFSET ?";
        tail.values.emplace_back(query.page->count);
        tail.values.emplace_back(query.page->offset);
    } else {
        tail.text += " ORDER BY recordinfo.recordid";
        tail.text += tie_break;
    }
    return tail;
}

}  // namespace olva_db

using namespace olva_db;

namespace {

constexpr const char* kInsertRecord = "INSERT INTO recordinfo VALUES (null, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";
constexpr const char* kUpdateRecord =
    "UPDATE recordinfo SET inchlno=?, outchlno=?, type=?, phone=?, dtmf=?, area=?, begintime=?, "
    "endtime=?, path=?, filesize=?, memo=? WHERE recordid=?";
constexpr const char* kUpdateRecordMemo = "UPDATE recordinfo SET memo=? WHERE recordid=?";
constexpr const char* kDeleteRecord = "DELETE FROM recordinfo WHERE recordid=?";
constexpr const char* kDeleteRecordsBefore = "DELETE FROM recordinfo WHERE begintime<?";
constexpr const char* kDeletePhoneRecordsBefore = "DELETE FROM recordinfo WHERE phone=? AND begintime<?";
constexpr const char* kCountRecords = "SELECT count(*) FROM recordinfo";
constexpr const char* kMaxRecordId = "SELECT MAX(recordid) FROM recordinfo";
constexpr const char* kPhoneHasRecord = "SELECT 1 FROM recordinfo WHERE phone=? LIMIT 1";

std::string select_records(const std::string& tail)
{
    return std::string("SELECT ") + kRecordColumns + " FROM recordinfo" + tail;
}

// Every stored field, in column order after recordid.
std::vector<Value> stored_values(const RECORD_INFO& record)
{
    return {
        std::int64_t{record.inchlno},   std::int64_t{record.outchlno}, std::int64_t{record.type},
        record_text(record.phone),      record_text(record.dtmf),      record_text(record.area),
        std::int64_t{record.begintime}, std::int64_t{record.endtime},  record_text(record.path),
        std::int64_t{record.filesize},  record_text(record.memo),
    };
}

}  // namespace

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

int Database::AddRecord(RECORD_INFO& record)
{
    std::int32_t id = 0;
    const int res = insert(db_, "add record", kInsertRecord, stored_values(record), id);
    if (res == 0)
        record.recordid = id;
    return res;
}

int Database::EdtRecord(const RECORD_INFO& record)
{
    std::vector<Value> values = stored_values(record);
    values.emplace_back(std::int64_t{record.recordid});
    return run(db_, "edit record", kUpdateRecord, values);
}

int Database::EdtRecord(int recordid, const char* memo)
{
    const Value values[] = {text_of(memo), std::int64_t{recordid}};
    return run(db_, "edit record memo", kUpdateRecordMemo, values);
}

int Database::DelRecord(int recordid)
{
    const Value values[] = {std::int64_t{recordid}};
    return run(db_, "delete record", kDeleteRecord, values);
}

int Database::DelRecord(RECORD_BEFORE time)
{
    const Value values[] = {time.before};
    return run(db_, "delete records by time", kDeleteRecordsBefore, values);
}

int Database::DelRecord(const char* phone, RECORD_BEFORE time)
{
    const Value values[] = {text_of(phone), time.before};
    return run(db_, "delete records by phone and time", kDeletePhoneRecordsBefore, values);
}

std::int64_t Database::GetRecordCount(const RECORD_FILTER& filter)
{
    const QueryTail tail = where_of(filter);
    return single_integer(db_, "count records", kCountRecords + tail.text, tail.values);
}

int Database::GetOlvaRecord(const RECORD_SELECT& query, std::vector<RECORD_INFO>& records)
{
    const QueryTail tail = select_tail(query);
    return collect(db_, "get records", select_records(tail.text), tail.values, read_record, records);
}

int Database::GetAllRecord(std::vector<RECORD_INFO>& records)
{
    return GetOlvaRecord({}, records);
}

int Database::GetRecordType(int type, std::vector<RECORD_INFO>& records)
{
    return GetOlvaRecord({RECORD_FILTER{type, std::nullopt}, std::nullopt}, records);
}

int Database::GetRecord(int recordid, RECORD_INFO& record)
{
    const Value values[] = {std::int64_t{recordid}};
    return collect_one(db_, "get record", select_records(" WHERE recordid=?"), values, read_record, record);
}

int Database::GetRecord(const char* phone, std::int64_t begintime, RECORD_INFO& record)
{
    const Value values[] = {text_of(phone), begintime};
    return collect_one(db_, "get record by phone and time",
                       select_records(" WHERE phone=? AND begintime=? ORDER BY recordid LIMIT 1"), values,
                       read_record, record);
}

int Database::IsHaveRecord(const char* phone)
{
    const Value values[] = {text_of(phone)};
    return exists(db_, "find record of phone", kPhoneHasRecord, values);
}

std::int64_t Database::GetMaxRecordId()
{
    return single_integer(db_, "get max record id", kMaxRecordId, {});
}
