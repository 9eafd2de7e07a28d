// The settings kept for each line, one row per channel.
#include "database/Database.h"
#include "database/table_rows.h"

using namespace olva_db;

namespace {

constexpr Field<LINECONFIG_INFO> kLineFields[] = {
    OLVA_DB_FIELD(LINECONFIG_INFO, channelno),
    OLVA_DB_FIELD(LINECONFIG_INFO, channelext),
    OLVA_DB_FIELD(LINECONFIG_INFO, hide),
    OLVA_DB_FIELD(LINECONFIG_INFO, memo),
};

// The channel is the key: a channel's row is replaced, never doubled.
constexpr const char* kReplaceLine = "REPLACE INTO lineconfig (channelno, channelext, hide, memo) VALUES (?, ?, ?, ?)";

}  // namespace

int Database::AddLineConfig(const LINECONFIG_INFO& line)
{
    return run(db_, "add line config", kReplaceLine, values_of<LINECONFIG_INFO>(line, kLineFields));
}

int Database::GetLineConfig(std::vector<LINECONFIG_INFO>& lines)
{
    const std::span<const Field<LINECONFIG_INFO>> fields(kLineFields);
    return collect(db_, "get line config", select_of("lineconfig", fields) + " ORDER BY channelno", {},
                   reader(fields), lines);
}
