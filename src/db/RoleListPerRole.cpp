#include "db/RoleListMethods.h"
#include "db/RoleListSchema.h"
#include "db/RoleRowMaking.h"

#include <initializer_list>
#include <string>
#include <string_view>

namespace mrvn::rolequery {

namespace {

// The first row's columns of a lookup as text; empty texts when there is no row or the
// statement fails. False when the server could not be reached.
bool ReadFirst(DbConnection& db, std::string_view table, std::string_view fields,
               const std::string& condition, std::initializer_list<std::string*> targets)
{
    RowSet rows = db.SelectRows(table, fields, condition, "id DESC");
    if (!rows.Valid() && db.ConnectionLost())
        return false;
    rows.FirstRow();
    int column = 0;
    for (std::string* target : targets) {
        target->clear();
        rows.ReadField(column++, *target);
    }
    FreeRowSet(rows);
    return true;
}

} // namespace

std::optional<RoleRows> PerRoleList(DbConnection& db)
{
    RowSet rows = db.SelectRows("user_role", "*", "", "id DESC");
    if (!rows.Valid())
        return std::nullopt;
    const PositionMap positions = ColumnsInOrder(rows);
    const CellReader<RowSet> read(rows, positions);
    const int accountColumn = rows.ColumnIndex("user_id");
    const auto count = static_cast<std::size_t>(rows.RowCount());
    ListBuilder list(count);
    RowMaker maker;
    std::string yuanbao, copper, bound;
    rows.FirstRow();
    for (std::size_t i = 0; i < count; ++i, rows.NextRow()) {
        // The keys go in escaped, so each is compared exactly as its text reads.
        // A server gone out of reach would cost a reconnect attempt for every further lookup.
        if (!ReadFirst(db, "user_account", "lingshi",
                       "user_guid=" + db.QuoteString(read.Bytes(kAccountKey)), {&yuanbao}) ||
            !ReadFirst(db, "role_account", "tongqian,bind_lingshi",
                       "user_role_id=" + db.QuoteString(read.Bytes(kId)), {&copper, &bound}))
            return std::nullopt;
        bool online = false;
        RoleRow row = maker.Make(read, rows, accountColumn, {yuanbao, copper, bound}, online);
        list.Add(std::move(row), online);
    }
    FreeRowSet(rows);
    return list.Finish();
}

} // namespace mrvn::rolequery
