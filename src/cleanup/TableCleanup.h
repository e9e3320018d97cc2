#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The delete statements of the cleanup page and the choice between them.
namespace mrvn {

class DbConnection;

inline constexpr char kCleanupDoneText[] = "清理完成！";
inline constexpr char kCleanupDoneTitle[] = "消息";
inline constexpr char kEmptyEveryTableTitle[] = "删除确认";
inline constexpr char kCleanupResultPrefix[] = "影响行数：";

// The tables of the connected database in the server's order; nullopt when "show tables"
// failed.
std::optional<std::vector<std::string>> ListTables(DbConnection& db);

// The ticked boxes of the page.
struct CleanupOptions
{
    bool emptyAll = false;           // 选择框1
    bool emptySelected = false;      // 选择框2
    bool olderSelected = false;      // 选择框3
    bool byRole = false;             // 选择框4
    bool roleInSelectedOnly = false; // 选择框5
};

enum class CleanupCase {
    EmptySelected,
    OlderSelected,
    RoleInSelected,
    RoleInEvery,
    EveryTable,
    Nothing
};

// The first case whose condition holds; Nothing for the silent stops (no selection where
// one is needed, a role id of spaces only, an empty table list). EveryTable empties or
// thins every table depending on options.emptyAll.
CleanupCase ChooseCleanupCase(const CleanupOptions& options, std::string_view roleIdText,
                              bool hasSelection, int rowCount);

// nullopt when the statement cannot be built: an empty table name, or a day count that is
// not an integer (an emptied day box would otherwise break every statement).
std::optional<std::string> AllRowsStatement(std::string_view table);
std::optional<std::string> OlderRowsStatement(std::string_view table, std::string_view daysText);
// The role id goes in as typed, spaces included, escaped as a string literal.
std::optional<std::string> RoleStatement(const DbConnection& db, std::string_view table,
                                         std::string_view roleIdAsTyped);

// The affected-row count; -1 when the statement was not built or the server refused it.
std::int64_t RunCleanupStatement(DbConnection& db, const std::optional<std::string>& sql);

// "影响行数：" followed by the count.
std::string CleanupResultText(std::int64_t affected);

// The question asked before every row of every table is deleted; names the table count.
std::string EmptyEveryTableQuestion(std::size_t tableCount);

} // namespace mrvn
