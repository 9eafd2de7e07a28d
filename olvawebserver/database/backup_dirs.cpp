// Backups of recordings and records: where they went and the time they
// cover.
#include "database/Database.h"
#include "database/table_rows.h"

using namespace olva_db;

namespace {

constexpr Field<BACKDIR_INFO> kBackDirFields[] = {
    OLVA_DB_FIELD(BACKDIR_INFO, id),      OLVA_DB_FIELD(BACKDIR_INFO, begintime),
    OLVA_DB_FIELD(BACKDIR_INFO, endtime), OLVA_DB_FIELD(BACKDIR_INFO, dirpath),
    OLVA_DB_FIELD(BACKDIR_INFO, dbpath),
};
const KeyedTable<BACKDIR_INFO> kBackDirs{"backdir", kBackDirFields, &BACKDIR_INFO::id};

}  // namespace

int Database::AddBackDir(BACKDIR_INFO& dir)
{
    return add_row(db_, "add backup dir", kBackDirs, dir);
}

int Database::EdtBackDir(const BACKDIR_INFO& dir)
{
    return edit_row(db_, "edit backup dir", kBackDirs, dir);
}

int Database::DelBackDir(int id)
{
    return delete_row(db_, "delete backup dir", kBackDirs, id);
}

int Database::GetBackDir(int id, BACKDIR_INFO& dir)
{
    return get_row(db_, "get backup dir", kBackDirs, id, dir);
}

int Database::GetBackDir(std::vector<BACKDIR_INFO>& dirs)
{
    return get_rows(db_, "get backup dirs", kBackDirs, dirs);
}
