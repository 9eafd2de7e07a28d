// The record database: call records, and the tables of contacts, groups,
// users, user logs, backup directories, line settings and call tasks, in one
// SQLite file "olva.db" in the work directory.
//
// Every value reaches SQLite as a bound parameter; queries are described by a
// RECORD_SELECT, never by SQL text from the caller. No lock: the web thread
// makes every call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

struct sqlite3;

#pragma pack(push, 1)
// One call record as the web service and the database exchange it. Text
// fields hold at most their size less one byte, NUL-terminated.
struct RECORD_INFO {
    std::int32_t reserved;  // not stored
    std::int32_t recordid;
    std::int32_t inchlno;
    std::int32_t outchlno;
    std::int32_t type;
    char phone[32];
    char dtmf[32];
    char area[64];
    std::int64_t begintime;
    std::int64_t endtime;
    char path[255];
    std::int32_t filesize;
    char memo[128];
};
#pragma pack(pop)

// Copies text into a record's text field, cut to the field's size less the
// terminating NUL and never inside a UTF-8 character; the rest of the field
// is zeroed.
void set_record_text(char* field, std::size_t size, std::string_view text);
template <std::size_t N>
void set_record_text(char (&field)[N], std::string_view text)
{
    set_record_text(field, N, text);
}

// The text a field holds: up to its first NUL, cut as above when it has none.
std::string_view record_text(const char* field, std::size_t size);
template <std::size_t N>
std::string_view record_text(const char (&field)[N])
{
    return record_text(field, N);
}

// begintime > begin_after and endtime < end_before.
struct RECORD_PERIOD {
    std::int64_t begin_after;
    std::int64_t end_before;
};

// Which records a query covers; an empty filter covers them all.
struct RECORD_FILTER {
    std::optional<std::int32_t> type;
    std::optional<RECORD_PERIOD> period;
};

// count records after skipping offset of them. A negative offset counts as 0;
// a negative count means no limit.
struct RECORD_PAGE {
    std::int64_t offset;
    std::int64_t count;
};

// The records of the filter; with a page, that page of them, newest start
// time first; without one, all of them in the order they were added.
struct RECORD_SELECT {
    RECORD_FILTER filter;
    std::optional<RECORD_PAGE> page;
};

// The filter a browser asks for with a record type (0: any type) and a start
// and end time, which restrict only when both are at least 1.
RECORD_FILTER record_filter_of(int phone_type, std::int64_t start_time, std::int64_t end_time);

// Page number page (counting from 1) of limit records. The offset is computed
// in 64 bits, so that no page number and limit overflow it.
RECORD_PAGE record_page_of(int page, int limit);

// Results: 0 success, -1 when the database is not open, otherwise the SQLite
// result code of the statement that failed.
class Database {
public:
    Database() = default;
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    // Opens dir + "olva.db" (dir ends in '/'), closing a connection that is
    // still open, and creates the missing tables; a file that did not exist
    // gets the default user. A file that is not a database, or tables that
    // cannot be created, fail the open and leave the database closed. -1 for
    // a null dir.
    int OpenDbase(const char* dir);
    // Returns 0.
    int CloseDbase();

    // Stores every field but recordid and reserved; on success sets
    // record.recordid to the new record's id.
    int AddRecord(RECORD_INFO& record);
    // Deleting an id that is not there succeeds.
    int DelRecord(int recordid);
    // The number of records of the filter, or -1 when the database is not
    // open or the query fails.
    std::int64_t GetRecordCount(const RECORD_FILTER& filter);
    // Appends the selected records to records; -2 when there are none. On
    // any failure records stays as it was.
    int GetOlvaRecord(const RECORD_SELECT& query, std::vector<RECORD_INFO>& records);

private:
    sqlite3* db_ = nullptr;
};
