#include "db/RoleList.h"

#include "db/BoundedRun.h"
#include "db/RoleListMethods.h"
#include "db/SqlPortability.h"

namespace mrvn {

std::string_view JobName(std::string_view code)
{
    if (code == "A")
        return "灵猴";
    if (code == "B")
        return "九尾";
    if (code == "C")
        return "牛魔";
    if (code == "D")
        return "罗刹";
    return "未知";
}

std::optional<RoleRows> QueryRoleList(DbConnection& db, const RoleListOptions& options)
{
    using namespace rolequery;
    if (options.method == RoleListMethod::PerRole)
        return PerRoleList(db);
    if (options.method == RoleListMethod::Batched ||
        (options.method == RoleListMethod::Automatic && db.Refuses(SqlForm::BoundedRoleList)))
        return BatchedRoleList(db);
    BoundedRun run(db, options);
    std::optional<RoleRows> rows = BoundedRoleList(run, options);
    if (rows || options.method == RoleListMethod::Bounded)
        return rows;
    // An older server that does not understand a bounded statement is asked with the per-role
    // statements' comparisons, many roles at a time, which gives the same cells; it keeps
    // being asked so until the next connect.
    if (run.Unsupported()) {
        db.RememberRefused(SqlForm::BoundedRoleList);
        return BatchedRoleList(db);
    }
    if (run.NotExact())
        return BatchedRoleList(db);
    return std::nullopt;
}

} // namespace mrvn
