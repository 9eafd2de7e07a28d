// Contacts and their groups.
#include <string>

#include "database/Database.h"
#include "database/table_rows.h"

using namespace olva_db;

namespace {

constexpr Field<PERSON_INFO> kPersonFields[] = {
    OLVA_DB_FIELD(PERSON_INFO, manid),   OLVA_DB_FIELD(PERSON_INFO, name),
    OLVA_DB_FIELD(PERSON_INFO, groupid), OLVA_DB_FIELD(PERSON_INFO, sex),
    OLVA_DB_FIELD(PERSON_INFO, company), OLVA_DB_FIELD(PERSON_INFO, depart),
    OLVA_DB_FIELD(PERSON_INFO, job),     OLVA_DB_FIELD(PERSON_INFO, address),
    OLVA_DB_FIELD(PERSON_INFO, code),    OLVA_DB_FIELD(PERSON_INFO, phone),
    OLVA_DB_FIELD(PERSON_INFO, phone1),  OLVA_DB_FIELD(PERSON_INFO, phone2),
    OLVA_DB_FIELD(PERSON_INFO, exten),   OLVA_DB_FIELD(PERSON_INFO, mobile),
    OLVA_DB_FIELD(PERSON_INFO, mobile1), OLVA_DB_FIELD(PERSON_INFO, url),
    OLVA_DB_FIELD(PERSON_INFO, email),   OLVA_DB_FIELD(PERSON_INFO, qq),
    OLVA_DB_FIELD(PERSON_INFO, msn),     OLVA_DB_FIELD(PERSON_INFO, memo),
};
const KeyedTable<PERSON_INFO> kPersons{"personinfo", kPersonFields, &PERSON_INFO::manid};

constexpr Field<GROUP_INFO> kGroupFields[] = {
    OLVA_DB_FIELD(GROUP_INFO, groupid),
    OLVA_DB_FIELD(GROUP_INFO, groupname),
};
const KeyedTable<GROUP_INFO> kGroups{"groupinfo", kGroupFields, &GROUP_INFO::groupid};

// Many contacts leave phone columns empty: an empty number is nobody's.
constexpr const char* kOfPhone = " WHERE ?1 <> '' AND ?1 IN (phone, phone1, phone2, exten, mobile, mobile1)";
constexpr const char* kHasExten = "SELECT 1 FROM personinfo WHERE ?1 <> '' AND exten=?1 LIMIT 1";
constexpr const char* kHasPersonName = "SELECT 1 FROM personinfo WHERE name=? LIMIT 1";
constexpr const char* kMovePerson = "UPDATE personinfo SET groupid=? WHERE manid=?";
constexpr const char* kHasGroupName = "SELECT 1 FROM groupinfo WHERE groupname=? LIMIT 1";

}  // namespace

int Database::AddPerson(PERSON_INFO& person)
{
    return add_row(db_, "add person", kPersons, person);
}

int Database::EdtPerson(const PERSON_INFO& person)
{
    return edit_row(db_, "edit person", kPersons, person);
}

int Database::EdtPerson(int manid, int groupid)
{
    const Value values[] = {std::int64_t{groupid}, std::int64_t{manid}};
    return run(db_, "move person", kMovePerson, values);
}

int Database::DelPerson(int manid)
{
    return delete_row(db_, "delete person", kPersons, manid);
}

int Database::GetPerson(int manid, PERSON_INFO& person)
{
    return get_row(db_, "get person", kPersons, manid, person);
}

int Database::GetPerson(const char* phone, PERSON_INFO& person)
{
    const Value values[] = {text_of(phone)};
    const std::string sql = select_of(kPersons.name, kPersons.fields) + kOfPhone + " ORDER BY manid LIMIT 1";
    return collect_one(db_, "get person by phone", sql, values, reader(kPersons.fields), person);
}

int Database::GetPerson(int groupid, std::vector<PERSON_INFO>& persons)
{
    const Value values[] = {std::int64_t{groupid}};
    return get_rows(db_, "get persons of group", kPersons, persons, "groupid=?", values);
}

int Database::GetPerson(std::vector<PERSON_INFO>& persons)
{
    return get_rows(db_, "get persons", kPersons, persons);
}

int Database::IsPersonByName(const char* name)
{
    const Value values[] = {text_of(name)};
    return exists(db_, "find person by name", kHasPersonName, values);
}

int Database::IsPersonByPhone(const char* phone)
{
    const Value values[] = {text_of(phone)};
    return exists(db_, "find person by phone", std::string("SELECT 1 FROM personinfo") + kOfPhone + " LIMIT 1", values);
}

int Database::IsExten(const char* exten)
{
    const Value values[] = {text_of(exten)};
    return exists(db_, "find extension", kHasExten, values);
}

int Database::AddGroup(GROUP_INFO& group)
{
    return add_row(db_, "add group", kGroups, group);
}

int Database::EdtGroup(const GROUP_INFO& group)
{
    return edit_row(db_, "edit group", kGroups, group);
}

int Database::DelGroup(int groupid)
{
    return delete_row(db_, "delete group", kGroups, groupid);
}

int Database::GetGroup(int groupid, GROUP_INFO& group)
{
    return get_row(db_, "get group", kGroups, groupid, group);
}

int Database::GetGroup(std::vector<GROUP_INFO>& groups)
{
    return get_rows(db_, "get groups", kGroups, groups);
}

int Database::IsGroupByName(const char* name)
{
    const Value values[] = {text_of(name)};
    return exists(db_, "find group by name", kHasGroupName, values);
}
