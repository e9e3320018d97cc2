#include "db/RoleKeyMatch.h"
#include "db/RoleListMethods.h"
#include "db/RoleListSchema.h"
#include "db/RoleRowMaking.h"

#include <numeric>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace mrvn::rolequery {

namespace {

// The per-role lookups answered for many roles per statement. The keys go in as the same
// escaped literals as the per-role statements', compared with the same "=":
//   SELECT CASE WHEN key=<l1> THEN 0 WHEN key=<l2> THEN 1 ... END, values FROM table
//   WHERE key IN (<l1>,<l2>,...) ORDER BY id
// tells for each row the first literal of the list it equals; rows come in ascending id, so
// the last row told for a literal is the one "order by id DESC" would give first. Literals the
// server holds equal (case, trailing spaces, "007" against a number) match the same rows, and
// only the first of them is told: the others are asked again without it, until a statement
// finds no more rows.
class BatchedLookup
{
public:
    // Up to this many literals per statement, and statements of at most about this size.
    static constexpr std::size_t kBatchKeys = 500;
    static constexpr std::size_t kBatchBytes = 256 * 1024;

    BatchedLookup(DbConnection& db, std::string_view table, std::string_view key,
                  std::vector<std::string_view> fields)
        : m_db(db), m_table(table), m_key(key), m_fields(std::move(fields))
    {
    }

    // The values for each key text; false when the server could not be reached.
    bool Load(const std::vector<std::string>& keys)
    {
        std::vector<std::string_view> distinct;
        distinct.reserve(keys.size());
        for (const std::string& key : keys) {
            if (m_values.emplace(key, Values()).second)
                distinct.push_back(key);
        }
        std::vector<std::string> batch;
        std::size_t bytes = 0;
        for (std::size_t i = 0; i < distinct.size(); ++i) {
            batch.push_back(m_db.QuoteString(distinct[i]));
            bytes += 2 * batch.back().size() + m_key.size() + 24;
            if (batch.size() == kBatchKeys || bytes >= kBatchBytes || i + 1 == distinct.size()) {
                const std::size_t first = i + 1 - batch.size();
                if (!LoadBatch(distinct, first, std::move(batch)))
                    return false;
                batch.clear();
                bytes = 0;
            }
        }
        return true;
    }

    // Empty texts for a key without a row.
    const std::vector<std::string>& Find(const std::string& key) const
    {
        static const std::vector<std::string> kNone;
        const auto found = m_values.find(key);
        return found == m_values.end() || found->second.empty() ? kNone : found->second;
    }

private:
    using Values = std::vector<std::string>;

    std::string FieldList() const
    {
        std::string list;
        for (const std::string_view field : m_fields)
            list.append(list.empty() ? "" : ",").append(field);
        return list;
    }

    // `literals` quote the keys distinct[first ...].
    bool LoadBatch(const std::vector<std::string_view>& distinct, std::size_t first,
                   std::vector<std::string> literals)
    {
        std::vector<std::size_t> open(literals.size());
        std::iota(open.begin(), open.end(), first);
        while (!open.empty()) {
            std::vector<std::string> asked;
            for (const std::size_t index : open)
                asked.push_back(literals[index - first]);
            if (!m_db.ExecSql(
                    WhichLiteralQuery(m_key, asked, FieldList(), m_table, " ORDER BY id"))) {
                if (m_db.ConnectionLost())
                    return false;
                // No such table or column: every key's statement would fail alike, and a
                // failed lookup gives empty cells.
                if (m_db.LastError() == 1146 || m_db.LastError() == 1054)
                    return true;
                // What the server refuses for the list it may take key by key (a key it
                // cannot compare fails only its own statement): the per-role statements.
                return LoadOneByOne(distinct, open);
            }
            RowSet rows = m_db.StoreResult();
            if (!rows.Valid())
                return !m_db.ConnectionLost() && LoadOneByOne(distinct, open);
            const std::int64_t count = rows.RowCount();
            std::vector<bool> found(open.size(), false);
            for (std::int64_t r = 0; r < count; ++r) {
                std::size_t length = 0;
                const char* told = rows.CellAt(r, 0, length);
                const std::int64_t at = told ? TextToInt64(std::string_view(told, length)) : -1;
                if (at < 0 || at >= static_cast<std::int64_t>(open.size()))
                    continue;
                Values& values =
                    m_values[std::string(distinct[open[static_cast<std::size_t>(at)]])];
                values.assign(m_fields.size(), std::string());
                for (std::size_t f = 0; f < m_fields.size(); ++f) {
                    const char* cell = rows.CellAt(r, static_cast<int>(f) + 1, length);
                    values[f] = CellText(cell, length);
                }
                found[static_cast<std::size_t>(at)] = true;
            }
            if (count == 0)
                break;
            std::vector<std::size_t> still;
            for (std::size_t i = 0; i < open.size(); ++i) {
                if (!found[i])
                    still.push_back(open[i]);
            }
            open = std::move(still);
        }
        return true;
    }

    bool LoadOneByOne(const std::vector<std::string_view>& distinct,
                      const std::vector<std::size_t>& open)
    {
        for (const std::size_t index : open) {
            const std::string key(distinct[index]);
            RowSet rows = m_db.SelectRows(m_table, FieldList(), m_key + "=" + m_db.QuoteString(key),
                                          "id DESC");
            if (!rows.Valid() && m_db.ConnectionLost())
                return false;
            if (!rows.Valid() || rows.RowCount() == 0)
                continue;
            Values& values = m_values[key];
            values.assign(m_fields.size(), std::string());
            rows.FirstRow();
            for (std::size_t f = 0; f < m_fields.size(); ++f)
                rows.ReadField(static_cast<int>(f), values[f]);
        }
        return true;
    }

    DbConnection& m_db;
    std::string m_table;
    std::string m_key;
    std::vector<std::string_view> m_fields;
    // Empty for a key without a row; the map's keys stay put, so views of them stay valid.
    std::unordered_map<std::string, Values> m_values;
};

} // namespace

std::optional<RoleRows> BatchedRoleList(DbConnection& db)
{
    RowSet rows = db.SelectRows("user_role", "*", "", "id DESC");
    if (!rows.Valid())
        return std::nullopt;
    const PositionMap positions = ColumnsInOrder(rows);
    const CellReader<RowSet> read(rows, positions);
    const auto count = static_cast<std::size_t>(rows.RowCount());
    std::vector<std::string> accountKeys, roleIds;
    accountKeys.reserve(count);
    roleIds.reserve(count);
    rows.FirstRow();
    for (std::size_t i = 0; i < count; ++i, rows.NextRow()) {
        accountKeys.push_back(read.Bytes(kAccountKey));
        roleIds.push_back(read.Bytes(kId));
    }
    BatchedLookup accounts(db, "user_account", "user_guid", {"lingshi"});
    BatchedLookup currencies(db, "role_account", "user_role_id", {"tongqian", "bind_lingshi"});
    if (!accounts.Load(accountKeys) || !currencies.Load(roleIds))
        return std::nullopt;

    const int accountColumn = rows.ColumnIndex("user_id");
    ListBuilder list(count);
    RowMaker maker;
    rows.FirstRow();
    for (std::size_t i = 0; i < count; ++i, rows.NextRow()) {
        const std::vector<std::string>& account = accounts.Find(accountKeys[i]);
        const std::vector<std::string>& currency = currencies.Find(roleIds[i]);
        Currencies money;
        if (!account.empty())
            money.yuanbao = account[0];
        if (!currency.empty()) {
            money.copper = currency[0];
            money.bound = currency[1];
        }
        bool online = false;
        RoleRow row = maker.Make(read, rows, accountColumn, money, online);
        list.Add(std::move(row), online);
    }
    FreeRowSet(rows);
    return list.Finish();
}

} // namespace mrvn::rolequery
