// Tasks of outgoing calls, and the task list tables that hold their numbers.
#include <algorithm>
#include <string>

#include "base/logger.h"
#include "database/Database.h"
#include "database/table_rows.h"

using namespace olva_db;

namespace {

constexpr Field<TASK_INFO> kTaskFields[] = {
    OLVA_DB_FIELD(TASK_INFO, id),           OLVA_DB_FIELD(TASK_INFO, tasktablename),
    OLVA_DB_FIELD(TASK_INFO, state),        OLVA_DB_FIELD(TASK_INFO, maxnumberphone),
    OLVA_DB_FIELD(TASK_INFO, callednumber), OLVA_DB_FIELD(TASK_INFO, succesnumber),
    OLVA_DB_FIELD(TASK_INFO, failednumber), OLVA_DB_FIELD(TASK_INFO, name),
};
const KeyedTable<TASK_INFO> kTasks{"calltask", kTaskFields, &TASK_INFO::id};

constexpr Field<CALLLIST_INFO> kNumberFields[] = {
    OLVA_DB_FIELD(CALLLIST_INFO, id),
    OLVA_DB_FIELD(CALLLIST_INFO, phone),
};

// Of a refused name, the log shows this much.
constexpr std::size_t kShownNameBytes = 64;

bool is_name_character(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// A table's name cannot be bound: it goes into the SQL text, so it may hold
// nothing that SQL would read as more than a name. Quoted, since a name may
// begin with a digit. Empty when the name is refused (logged).
std::string quoted_table(const char* what, const char* name)
{
    const std::string_view text = text_of(name);
    if (text.empty() || !std::all_of(text.begin(), text.end(), is_name_character)) {
        // Logged with '?' for what is no name character, so that the log
        // line stays one line.
        std::string shown(text.substr(0, kShownNameBytes));
        std::replace_if(shown.begin(), shown.end(), [](char c) { return !is_name_character(c); }, '?');
        logger(1, kModule, kTag, "   %s failed: task list table name \"%s\" is not letters, digits and '_'", what,
               shown.c_str());
        return {};
    }
    return "\"" + std::string(text) + "\"";
}

std::string select_numbers(const std::string& table)
{
    return "SELECT id, phone FROM " + table + " ORDER BY id";
}

}  // namespace

int Database::AddTask(TASK_INFO& task)
{
    return add_row(db_, "add task", kTasks, task);
}

int Database::GetTask(std::vector<TASK_INFO>& tasks)
{
    return get_rows(db_, "get tasks", kTasks, tasks);
}

int Database::createTaskListTable(const char* name)
{
    const char* what = "create task list table";
    const std::string table = quoted_table(what, name);
    if (table.empty())
        return -1;
    return run(db_, what,
               "CREATE TABLE IF NOT EXISTS " + table + "(id INTEGER PRIMARY KEY AUTOINCREMENT, phone VARCHAR(32))",
               {});
}

int Database::AddCallTasklistPhoneNumber(const char* table, const char* phone)
{
    const char* what = "add task list number";
    const std::string quoted = quoted_table(what, table);
    if (quoted.empty())
        return -1;
    const Value values[] = {text_of(phone)};
    return run(db_, what, "INSERT INTO " + quoted + " (phone) VALUES (?)", values);
}

int Database::GetCalllist(const char* table, std::vector<CALLLIST_INFO>& numbers)
{
    const char* what = "get task list";
    const std::string quoted = quoted_table(what, table);
    if (quoted.empty())
        return -1;
    return collect(db_, what, select_numbers(quoted), {}, reader<CALLLIST_INFO>(kNumberFields), numbers);
}

int Database::GetCalllistEx(const char* table, const RECORD_PAGE& page, std::vector<CALLLIST_INFO>& numbers)
{
    const char* what = "get task list page";
    const std::string quoted = quoted_table(what, table);
    if (quoted.empty())
        return -1;
    const Value values[] = {page.count, page.offset};
    return collect(db_, what, select_numbers(quoted) + " LIMIT ? OFFSET ?", values,
                   reader<CALLLIST_INFO>(kNumberFields), numbers);
}
