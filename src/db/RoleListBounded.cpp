#include "db/BoundedRun.h"
#include "db/RoleKeyMatch.h"
#include "db/RoleListMethods.h"
#include "db/RoleListSchema.h"
#include "db/RoleRowMaking.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace mrvn::rolequery {

std::optional<RoleRows> BoundedRoleList(BoundedRun& run, const RoleListOptions& options)
{
    const std::optional<Schema> schema = ReadSchema(run);
    if (!schema)
        return std::nullopt;
    const RoleQuery query = BuildRoleQuery(*schema);
    // The lookup tables first: the roles are then made into rows as they arrive.
    // A lookup table the server cannot read leaves its cells empty, as a failed per-role
    // statement would.
    std::optional<LookupTable> accountTable, currencyTable;
    std::optional<Lookup> accounts, currencies;
    if (schema->accountUsable) {
        accountTable.emplace(
            LookupTable{"user_account", "b.lingshi", *schema->accountKey, kAccountKey});
        accounts.emplace(*accountTable, options.maxAskedRoleKeys);
        accounts->Load(run);
    }
    if (schema->currencyUsable) {
        currencyTable.emplace(
            LookupTable{"role_account", "b.tongqian,b.bind_lingshi", *schema->currencyKey, kId});
        currencies.emplace(*currencyTable, options.maxAskedRoleKeys);
        currencies->Load(run);
    }
    if (run.Unsupported() || run.NotExact() || run.Lost())
        return std::nullopt;

    RowStream rows = run.Stream(query.sql);
    if (!rows.Valid())
        return std::nullopt;
    // Rows whose key found no table key of its bytes, where a text key's collation may still
    // find one: their cells are filled in once the server has said which.
    struct Pending
    {
        std::vector<std::pair<bool, std::size_t>> rows; // online, place in ListBuilder
        std::vector<std::string> keys;
        void Add(bool online, std::size_t index, std::string key)
        {
            rows.emplace_back(online, index);
            keys.push_back(std::move(key));
        }
    };
    Pending pendingAccounts, pendingCurrencies;
    const CellReader<RowStream> read(rows, query.positions);
    ListBuilder list(0);
    RowMaker maker;
    const auto keyOf = [&rows](int column) {
        std::size_t length = 0;
        const char* key = rows.Cell(column, length);
        return key ? std::string(key, length) : std::string();
    };
    while (rows.NextRow()) {
        Currencies money;
        bool accountPending = false, currencyPending = false;
        if (accounts) {
            const std::int64_t account = accounts->Find(rows, query.accountKeyColumn);
            money.yuanbao = accounts->Text(account, 1);
            accountPending = account < 0 && accounts->MayMatchOtherBytes();
        }
        if (currencies) {
            const std::int64_t currency = currencies->Find(rows, query.currencyKeyColumn);
            money.copper = currencies->Text(currency, 1);
            money.bound = currencies->Text(currency, 2);
            currencyPending = currency < 0 && currencies->MayMatchOtherBytes();
        }
        bool online = false;
        RoleRow row = maker.Make(read, rows, query.accountNameColumn, money, online);
        const std::size_t index = list.Add(std::move(row), online);
        if (accountPending && query.accountKeyColumn >= 0)
            pendingAccounts.Add(online, index, keyOf(query.accountKeyColumn));
        if (currencyPending && query.currencyKeyColumn >= 0)
            pendingCurrencies.Add(online, index, keyOf(query.currencyKeyColumn));
    }
    if (run.StreamFailed())
        return std::nullopt;
    rows = RowStream();

    if (!pendingAccounts.keys.empty())
        accounts->MatchRoleKeys(run, *schema, pendingAccounts.keys);
    if (!pendingCurrencies.keys.empty())
        currencies->MatchRoleKeys(run, *schema, pendingCurrencies.keys);
    if (run.Unsupported() || run.NotExact() || run.Lost())
        return std::nullopt;
    for (std::size_t i = 0; i < pendingAccounts.keys.size(); ++i) {
        const std::int64_t account = accounts->FindKey(pendingAccounts.keys[i]);
        const auto [online, index] = pendingAccounts.rows[i];
        if (account >= 0)
            list.At(online, index)
                .Set(ColumnIndex(RoleColumn::Yuanbao), accounts->Text(account, 1));
    }
    for (std::size_t i = 0; i < pendingCurrencies.keys.size(); ++i) {
        const std::int64_t currency = currencies->FindKey(pendingCurrencies.keys[i]);
        if (currency < 0)
            continue;
        const auto [online, index] = pendingCurrencies.rows[i];
        RoleRow& row = list.At(online, index);
        row.Set(ColumnIndex(RoleColumn::Copper), currencies->Text(currency, 1));
        row.Set(ColumnIndex(RoleColumn::BoundYuanbao), currencies->Text(currency, 2));
    }
    return list.Finish();
}

} // namespace mrvn::rolequery
