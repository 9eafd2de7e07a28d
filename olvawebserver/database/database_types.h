// The rows of the record database's tables as its callers exchange them,
// one struct per table with its columns in order, and the descriptions of
// which call records a query covers.
//
// Text fields hold at most their size less one byte, NUL-terminated; a text
// longer than that is cut, never inside a UTF-8 character.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#pragma pack(push, 1)
// One call record as the web service and the database exchange it.
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

// A call record with the name of the contact its number belongs to.
struct RECORD_QUERY : RECORD_INFO {
    char name[32];
};
#pragma pack(pop)

// personinfo: one contact.
struct PERSON_INFO {
    std::int32_t manid;
    char name[32];
    std::int32_t groupid;
    std::int32_t sex;
    char company[64];
    char depart[32];
    char job[32];
    char address[128];
    char code[32];
    char phone[32];
    char phone1[32];
    char phone2[32];
    char exten[32];
    char mobile[32];
    char mobile1[32];
    char url[128];
    char email[64];
    char qq[64];
    char msn[64];
    char memo[128];
};

// groupinfo: one group of contacts.
struct GROUP_INFO {
    std::int32_t groupid;
    char groupname[32];
};

// backdir: one backup of recordings and records.
struct BACKDIR_INFO {
    std::int32_t id;
    std::int64_t begintime;
    std::int64_t endtime;
    char dirpath[260];
    char dbpath[260];
};

// userinfo: one user account.
struct USER_INFO {
    char acco[64];
    char pswd[64];
    char name[64];
    char memo[64];
    char modal[64];
    char flag[64];
};

// userlog: one entry of a user's log.
struct USERLOG_INFO {
    char acco[64];
    std::int64_t logtime;
    char logdata[256];
};

// lineconfig: the settings of one line.
struct LINECONFIG_INFO {
    std::int32_t channelno;
    std::int32_t channelext;
    std::int32_t hide;
    char memo[64];
};

// calltask: one task of outgoing calls, whose numbers are kept in a task
// list table of their own, named by tasktablename.
struct TASK_INFO {
    std::int32_t id;
    char tasktablename[64];
    std::int32_t state;
    std::int32_t maxnumberphone;
    std::int32_t callednumber;
    std::int32_t succesnumber;
    std::int32_t failednumber;
    char name[128];
};

// One number of a task list table, in the order the numbers were added.
struct CALLLIST_INFO {
    std::int32_t id;
    char phone[32];
};

// Copies text into a text field, cut as above; the rest of the field is
// zeroed.
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

// count rows after skipping offset of them. A negative offset counts as 0;
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

// The records that started before a time (begintime < before).
struct RECORD_BEFORE {
    std::int64_t before;
};

// The filter a browser asks for with a record type (0: any type) and a start
// and end time, which restrict only when both are at least 1.
RECORD_FILTER record_filter_of(int phone_type, std::int64_t start_time, std::int64_t end_time);

// Page number page (counting from 1) of limit records. The offset is computed
// in 64 bits, so that no page number and limit overflow it.
RECORD_PAGE record_page_of(int page, int limit);

// The column of a contact through which the joined record queries find the
// contact of a record's number.
enum class PERSON_PHONE { phone, phone1, phone2, exten, mobile, mobile1 };
