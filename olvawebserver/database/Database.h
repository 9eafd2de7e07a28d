// The record database: call records, and the tables of contacts, groups,
// users, user logs, backup directories, line settings and call tasks, in one
// SQLite file "olva.db" in the work directory.
//
// Every value reaches SQLite as a bound parameter; record queries are
// described by a RECORD_SELECT, never by SQL text from the caller (SqlExe
// alone takes SQL). No lock: the web thread makes every call.
#pragma once

#include <cstdint>
#include <vector>

#include "database/database_types.h"

struct sqlite3;

// Results, unless a method says otherwise: 0 success, -1 when the database
// is not open, otherwise the SQLite result code of the statement that
// failed. Getters give -2 when nothing matches; a getter of one row fills
// its row only on success, a getter of many appends to its list only on
// success. The Is... checks give 0 when a row matches and -2 when none does.
// An edit or delete that matches no row succeeds and changes nothing. A null
// text argument is taken as the empty text.
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

    // Call records.

    // Stores every field but recordid and reserved; on success sets
    // record.recordid to the new record's id.
    int AddRecord(RECORD_INFO& record);
    // Rewrites every stored field of the record record.recordid.
    int EdtRecord(const RECORD_INFO& record);
    // Rewrites the memo of one record.
    int EdtRecord(int recordid, const char* memo);
    int DelRecord(int recordid);
    int DelRecord(RECORD_BEFORE time);
    // The records of one number that started before a time.
    int DelRecord(const char* phone, RECORD_BEFORE time);
    // The number of records of the filter, or -1 when the database is not
    // open or the query fails.
    std::int64_t GetRecordCount(const RECORD_FILTER& filter);
    // Appends the selected records to records.
    int GetOlvaRecord(const RECORD_SELECT& query, std::vector<RECORD_INFO>& records);
    // Every record, in the order they were added.
    int GetAllRecord(std::vector<RECORD_INFO>& records);
    // The records of one type, in the order they were added.
    int GetRecordType(int type, std::vector<RECORD_INFO>& records);
    int GetRecord(int recordid, RECORD_INFO& record);
    // The call of a number that started at begintime.
    int GetRecord(const char* phone, std::int64_t begintime, RECORD_INFO& record);
    // The selected records whose number is the column `by` of a contact,
    // each with that contact's name (one row per contact that has it); -1
    // for a `by` outside PERSON_PHONE.
    int GetRecord(PERSON_PHONE by, const RECORD_SELECT& query, std::vector<RECORD_QUERY>& records);
    // Every selected record, each with the name of the first contact (by
    // manid) that has its number in any phone column; the name is empty
    // where no contact has it.
    int GetRecordEx(const RECORD_SELECT& query, std::vector<RECORD_QUERY>& records);
    // Whether any record is of this number.
    int IsHaveRecord(const char* phone);
    // The highest record id, 0 when there are none, -1 when the database is
    // not open or the query fails.
    std::int64_t GetMaxRecordId();

    // Contacts.

    // Stores every field but manid; on success sets person.manid to the new
    // contact's id.
    int AddPerson(PERSON_INFO& person);
    // Rewrites every field of the contact person.manid.
    int EdtPerson(const PERSON_INFO& person);
    // Moves a contact to another group.
    int EdtPerson(int manid, int groupid);
    int DelPerson(int manid);
    int GetPerson(int manid, PERSON_INFO& person);
    // The first contact (by manid) that has this number in one of its phone
    // columns: phone, phone1, phone2, exten, mobile or mobile1. An empty
    // number belongs to nobody.
    int GetPerson(const char* phone, PERSON_INFO& person);
    // The contacts of one group, by manid.
    int GetPerson(int groupid, std::vector<PERSON_INFO>& persons);
    // Every contact, by manid.
    int GetPerson(std::vector<PERSON_INFO>& persons);
    int IsPersonByName(const char* name);
    // A contact with this number in one of its phone columns, as GetPerson.
    int IsPersonByPhone(const char* phone);
    // A contact with this extension; an empty one is nobody's.
    int IsExten(const char* exten);

    // Groups of contacts.

    // On success sets group.groupid to the new group's id. Deleting a group
    // leaves its contacts as they are.
    int AddGroup(GROUP_INFO& group);
    int EdtGroup(const GROUP_INFO& group);
    int DelGroup(int groupid);
    int GetGroup(int groupid, GROUP_INFO& group);
    // Every group, by groupid.
    int GetGroup(std::vector<GROUP_INFO>& groups);
    int IsGroupByName(const char* name);

    // Users: an account that is there already fails to be added
    // (SQLITE_CONSTRAINT).

    int AddUser(const USER_INFO& user);
    // Rewrites name, memo, modal and flag of the account user.acco; the
    // password changes only through UpdatePswd.
    int EdtUser(const USER_INFO& user);
    int DelUser(const char* acco);
    int GetUser(const char* acco, USER_INFO& user);
    // Every user, by account.
    int GetUser(std::vector<USER_INFO>& users);
    int IsUserByAcco(const char* acco);
    int UpdatePswd(const char* acco, const char* pswd);
    // 0 and the user's row when the account has this password, -2 when it
    // has another or is not there.
    int UserLogin(const char* acco, const char* pswd, USER_INFO& user);

    // User logs; a time range covers begin <= logtime <= end.

    int AddUserLog(const USERLOG_INFO& entry);
    int DelUserLog(std::int64_t begin, std::int64_t end);
    int DelUserLog(const char* acco, std::int64_t begin, std::int64_t end);
    // The entries of one account in the range, by time.
    int GetUserLog(const char* acco, std::int64_t begin, std::int64_t end, std::vector<USERLOG_INFO>& entries);

    // Backup directories.

    // On success sets dir.id to the new row's id.
    int AddBackDir(BACKDIR_INFO& dir);
    int EdtBackDir(const BACKDIR_INFO& dir);
    int DelBackDir(int id);
    int GetBackDir(int id, BACKDIR_INFO& dir);
    // Every backup, by id.
    int GetBackDir(std::vector<BACKDIR_INFO>& dirs);

    // Line settings: one row per channel, which adding again replaces.

    int AddLineConfig(const LINECONFIG_INFO& line);
    // Every line's settings, by channel.
    int GetLineConfig(std::vector<LINECONFIG_INFO>& lines);

    // Call tasks and their task list tables. A task list table's name may
    // hold only letters, digits and '_' (it cannot be bound): another name
    // is refused with -1.

    // On success sets task.id to the new task's id.
    int AddTask(TASK_INFO& task);
    // Every task, by id.
    int GetTask(std::vector<TASK_INFO>& tasks);
    // Makes the task list table `name` unless it is there.
    int createTaskListTable(const char* name);
    int AddCallTasklistPhoneNumber(const char* table, const char* phone);
    // Every number of the table, in the order they were added.
    int GetCalllist(const char* table, std::vector<CALLLIST_INFO>& numbers);
    // A page of them, in the same order.
    int GetCalllistEx(const char* table, const RECORD_PAGE& page, std::vector<CALLLIST_INFO>& numbers);

    // Area codes of telephone numbers are not kept: these do nothing and
    // return 0, open or closed, and leave their outputs as they were.
    int InputCode(const char* file);
    int UpdateCode(const char* code, const char* area);
    // The area of a number; of a number with its area code; of an area code.
    int GetCode(const char* phone, char* area, int size);
    int GetCode(const char* phone, char* area, int size, char* code, int code_size);
    int GetCode(int code, char* area, int size);
    int phonearea_convert(const char* phone, char* area, int size);

    // The interface's raw door: runs one SQL statement exactly as the caller
    // wrote it, its rows unread; text after the first statement fails it
    // (SQLITE_ERROR) before anything runs. No route of the web service
    // reaches it, and none may: a browser's text must never become SQL.
    int SqlExe(const char* sql);

private:
    sqlite3* db_ = nullptr;
};
