// Contacts and their groups on a real SQLite file, checked against what
// SQLite itself finds in the file.
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "database/Database.h"
#include "support/database_fixture.h"

namespace {

using olva_test::DbRows;

// The fields of a contact in the table's column order, as the file shows them.
std::vector<std::string> person_columns(const PERSON_INFO& p)
{
    return {std::to_string(p.manid),     p.name,     std::to_string(p.groupid), std::to_string(p.sex),
            p.company,  p.depart,  p.job,    p.address, p.code,  p.phone, p.phone1, p.phone2, p.exten,
            p.mobile,   p.mobile1, p.url,    p.email,   p.qq,    p.msn,   p.memo};
}

// A contact whose every text field holds its column's name after `tag`, and
// no telephone numbers.
PERSON_INFO person_named(const std::string& tag, int groupid)
{
    PERSON_INFO p{};
    p.manid = 999;
    set_record_text(p.name, tag);
    p.groupid = groupid;
    p.sex = 1;
    set_record_text(p.company, tag + " company");
    set_record_text(p.depart, tag + " depart");
    set_record_text(p.job, tag + " job");
    set_record_text(p.address, tag + " address");
    set_record_text(p.code, tag + " code");
    set_record_text(p.url, tag + " url");
    set_record_text(p.email, tag + " email");
    set_record_text(p.qq, tag + " qq");
    set_record_text(p.msn, tag + " msn");
    set_record_text(p.memo, tag + " memo");
    return p;
}

// The phone columns by the names of the table.
struct PhoneColumn {
    const char* column;
    char (PERSON_INFO::*field)[32];
};
const PhoneColumn kContactPhoneColumns[] = {
    {"phone", &PERSON_INFO::phone},   {"phone1", &PERSON_INFO::phone1}, {"phone2", &PERSON_INFO::phone2},
    {"exten", &PERSON_INFO::exten},   {"mobile", &PERSON_INFO::mobile}, {"mobile1", &PERSON_INFO::mobile1},
};

class ContactsTest : public olva_test::OpenDatabaseTest {
protected:
    int add(PERSON_INFO p)
    {
        EXPECT_EQ(db_.AddPerson(p), 0);
        return p.manid;
    }

    DbRows file_person(int manid) { return rows("SELECT * FROM personinfo WHERE manid = " + std::to_string(manid)); }
};

TEST_F(ContactsTest, AddsReadsEditsAndDeletesEveryColumn)
{
    PERSON_INFO first = person_named("张三", 7);
    set_record_text(first.phone, "01088886666");
    set_record_text(first.mobile1, "13900001111");
    PERSON_INFO second = person_named("O'Brien", 8);
    set_record_text(second.exten, "8021");

    // The id comes from the file, whatever the row held.
    ASSERT_EQ(db_.AddPerson(first), 0);
    EXPECT_EQ(first.manid, 1);
    ASSERT_EQ(db_.AddPerson(second), 0);
    EXPECT_EQ(second.manid, 2);
    EXPECT_EQ(file_person(1), DbRows{person_columns(first)});
    EXPECT_EQ(file_person(2), DbRows{person_columns(second)});

    PERSON_INFO read{};
    ASSERT_EQ(db_.GetPerson(2, read), 0);
    EXPECT_EQ(person_columns(read), person_columns(second));

    // Every column but the id is rewritten.
    PERSON_INFO edited = person_named("李四 \"Lee\"", 9);
    edited.manid = 1;
    edited.sex = 2;
    set_record_text(edited.mobile, "+8613512345678");
    ASSERT_EQ(db_.EdtPerson(edited), 0);
    EXPECT_EQ(file_person(1), DbRows{person_columns(edited)});
    EXPECT_EQ(file_person(2), DbRows{person_columns(second)});

    // The short edit moves a contact to another group and changes nothing else.
    ASSERT_EQ(db_.EdtPerson(2, 12), 0);
    second.groupid = 12;
    EXPECT_EQ(file_person(2), DbRows{person_columns(second)});

    // Edits and deletes of an id that is not there change nothing.
    PERSON_INFO stranger = person_named("nobody", 1);
    stranger.manid = 40;
    EXPECT_EQ(db_.EdtPerson(stranger), 0);
    EXPECT_EQ(db_.EdtPerson(41, 3), 0);
    EXPECT_EQ(db_.DelPerson(42), 0);
    EXPECT_EQ(rows("SELECT count(*) FROM personinfo"), (DbRows{{"2"}}));

    ASSERT_EQ(db_.DelPerson(1), 0);
    EXPECT_EQ(rows("SELECT manid FROM personinfo"), (DbRows{{"2"}}));
    read.manid = 555;
    EXPECT_EQ(db_.GetPerson(1, read), -2);
    EXPECT_EQ(read.manid, 555);
}

TEST_F(ContactsTest, FindsAContactByEachPhoneColumn)
{
    // A contact with the same number in one column each, and one who has
    // every column empty.
    for (const PhoneColumn& c : kContactPhoneColumns) {
        PERSON_INFO p = person_named(c.column, 1);
        set_record_text(p.*c.field, std::string("555-") + c.column);
        add(p);
    }
    add(person_named("no numbers", 1));

    for (std::size_t i = 0; i < std::size(kContactPhoneColumns); ++i) {
        const std::string number = std::string("555-") + kContactPhoneColumns[i].column;
        SCOPED_TRACE(number);
        PERSON_INFO found{};
        ASSERT_EQ(db_.GetPerson(number.c_str(), found), 0);
        EXPECT_EQ(found.manid, static_cast<int>(i + 1));
        EXPECT_EQ(record_text(found.name), kContactPhoneColumns[i].column);
        EXPECT_EQ(db_.IsPersonByPhone(number.c_str()), 0);
        // Only the extension column holds extensions.
        EXPECT_EQ(db_.IsExten(number.c_str()), std::string(kContactPhoneColumns[i].column) == "exten" ? 0 : -2);
    }

    // Empty columns are no number: nobody has the empty number.
    struct Missing {
        const char* number;
    };
    const Missing missing[] = {{""}, {nullptr}, {"555"}, {"555-phone3"}, {"' OR '1'='1"}};
    for (const Missing& m : missing) {
        SCOPED_TRACE(m.number ? m.number : "null");
        PERSON_INFO found{};
        found.manid = 77;
        EXPECT_EQ(db_.GetPerson(m.number, found), -2);
        EXPECT_EQ(found.manid, 77);
        EXPECT_EQ(db_.IsPersonByPhone(m.number), -2);
        EXPECT_EQ(db_.IsExten(m.number), -2);
    }
}

TEST_F(ContactsTest, ANumberTwoContactsShareFindsTheFirst)
{
    PERSON_INFO later = person_named("later", 1);
    set_record_text(later.phone, "123");
    PERSON_INFO earlier = person_named("earlier", 1);
    set_record_text(earlier.mobile, "123");
    // Ids given by the file: the first added is the lower one.
    add(earlier);
    add(later);
    PERSON_INFO found{};
    ASSERT_EQ(db_.GetPerson("123", found), 0);
    EXPECT_EQ(record_text(found.name), "earlier");
}

TEST_F(ContactsTest, ListsContactsByGroupAndAll)
{
    add(person_named("a", 1));
    add(person_named("b", 2));
    add(person_named("c", 1));
    add(person_named("d", 3));
    struct Case {
        int groupid;
        std::vector<std::string> names;
    };
    const Case cases[] = {{1, {"a", "c"}}, {2, {"b"}}, {3, {"d"}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.groupid);
        std::vector<PERSON_INFO> persons(1);
        ASSERT_EQ(db_.GetPerson(c.groupid, persons), 0);
        ASSERT_EQ(persons.size(), c.names.size() + 1);
        for (std::size_t i = 0; i < c.names.size(); ++i)
            EXPECT_EQ(record_text(persons[i + 1].name), c.names[i]);
    }
    std::vector<PERSON_INFO> persons;
    EXPECT_EQ(db_.GetPerson(4, persons), -2);
    EXPECT_TRUE(persons.empty());
    ASSERT_EQ(db_.GetPerson(persons), 0);
    std::vector<std::string> names;
    for (const PERSON_INFO& p : persons)
        names.emplace_back(record_text(p.name));
    EXPECT_EQ(names, (std::vector<std::string>{"a", "b", "c", "d"}));
}

TEST_F(ContactsTest, NamesAreFoundAsWritten)
{
    add(person_named("王五", 1));
    add(person_named("It's me", 1));
    struct Case {
        const char* name;
        int result;
    };
    const Case cases[] = {
        {"王五", 0}, {"It's me", 0}, {"王", -2}, {"it's me", -2}, {"", -2}, {"' OR ''='", -2}, {"%", -2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(db_.IsPersonByName(c.name), c.result);
    }
}

TEST_F(ContactsTest, TextIsCutToItsFieldAndRoundTrips)
{
    // A contact edited in the file itself with texts longer than the fields.
    add(person_named("x", 1));
    const std::string long_name = "欧阳" + std::string(40, 'n');
    const std::string long_memo = std::string(126, 'm') + "好";  // 129 bytes
    olva_test::SqliteFile(file()).exec("UPDATE personinfo SET name = '" + long_name + "', memo = '" + long_memo +
                            "', phone = '" + std::string(40, '9') + "' WHERE manid = 1");
    PERSON_INFO read{};
    ASSERT_EQ(db_.GetPerson(1, read), 0);
    EXPECT_EQ(std::string(read.name, sizeof read.name), long_name.substr(0, 31) + '\0');
    // The last character does not fit whole: it is left out.
    EXPECT_EQ(std::string(read.memo), std::string(126, 'm'));
    EXPECT_EQ(std::string(read.phone), std::string(31, '9'));
}

class GroupsTest : public olva_test::OpenDatabaseTest {};

TEST_F(GroupsTest, AddsRenamesFindsAndDeletes)
{
    const char* names[] = {"家人", "Friends 'n' family", "\"work\"; DROP TABLE groupinfo"};
    std::vector<int> ids;
    for (const char* name : names) {
        GROUP_INFO group{};
        group.groupid = 50;
        set_record_text(group.groupname, name);
        ASSERT_EQ(db_.AddGroup(group), 0);
        ids.push_back(group.groupid);
    }
    EXPECT_EQ(ids, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(rows("SELECT groupid, groupname FROM groupinfo"),
              (DbRows{{"1", names[0]}, {"2", names[1]}, {"3", names[2]}}));
    for (std::size_t i = 0; i < std::size(names); ++i) {
        SCOPED_TRACE(names[i]);
        GROUP_INFO group{};
        ASSERT_EQ(db_.GetGroup(ids[i], group), 0);
        EXPECT_EQ(record_text(group.groupname), names[i]);
        EXPECT_EQ(db_.IsGroupByName(names[i]), 0);
    }
    EXPECT_EQ(db_.IsGroupByName("家"), -2);

    GROUP_INFO renamed{};
    renamed.groupid = 2;
    set_record_text(renamed.groupname, "同事");
    ASSERT_EQ(db_.EdtGroup(renamed), 0);
    EXPECT_EQ(db_.IsGroupByName(names[1]), -2);
    EXPECT_EQ(db_.IsGroupByName("同事"), 0);

    // A group's contacts stay when it goes.
    PERSON_INFO member = person_named("member", 1);
    ASSERT_EQ(db_.AddPerson(member), 0);
    ASSERT_EQ(db_.DelGroup(1), 0);
    EXPECT_EQ(db_.DelGroup(1), 0);
    std::vector<GROUP_INFO> groups;
    ASSERT_EQ(db_.GetGroup(groups), 0);
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_EQ(groups[0].groupid, 2);
    EXPECT_EQ(record_text(groups[0].groupname), "同事");
    EXPECT_EQ(groups[1].groupid, 3);
    GROUP_INFO gone{};
    EXPECT_EQ(db_.GetGroup(1, gone), -2);
    EXPECT_EQ(rows("SELECT name, groupid FROM personinfo"), (DbRows{{"member", "1"}}));

    ASSERT_EQ(db_.DelGroup(2), 0);
    ASSERT_EQ(db_.DelGroup(3), 0);
    groups.clear();
    EXPECT_EQ(db_.GetGroup(groups), -2);
}

}  // namespace
