#pragma once

#include "db/RoleList.h"
#include "db/RoleListSchema.h"
#include "text/DateTime.h"
#include "text/TextUtil.h"

#include <array>
#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>

// How a role becomes a row of the list, whichever way the list was read.
namespace mrvn::rolequery {

// The text of a cell as the server sent it (up to a zero byte); NULL reads as "".
std::string_view CellView(const char* cell, std::size_t length);

std::string CellText(const char* cell, std::size_t length);

template <typename Rows> class CellReader
{
public:
    CellReader(const Rows& rows, const PositionMap& positions)
        : m_rows(rows), m_positions(positions)
    {
    }

    bool Has(int position) const { return m_positions.columnOf[position] >= 0; }

    // The cell's text up to a zero byte; valid while the row set lives.
    std::string_view Role(int position) const
    {
        if (!Has(position))
            return {};
        std::size_t length = 0;
        const char* cell = m_rows.Cell(m_positions.columnOf[position], length);
        return CellView(cell, length);
    }

    // Every byte of the cell, for a key that goes back to the server.
    std::string Bytes(int position) const
    {
        if (!Has(position))
            return {};
        std::size_t length = 0;
        const char* cell = m_rows.Cell(m_positions.columnOf[position], length);
        return cell ? std::string(cell, length) : std::string();
    }

    std::int64_t Int64(int position) const
    {
        std::int64_t value = 0;
        if (Has(position))
            m_rows.ReadField(m_positions.columnOf[position], value);
        return value;
    }

    int ColumnOf(int position) const { return m_positions.columnOf[position]; }

private:
    const Rows& m_rows;
    const PositionMap& m_positions;
};

// The money cells of a role; the texts live in the lookup results.
struct Currencies
{
    std::string_view yuanbao;
    std::string_view copper;
    std::string_view bound;
};

// Builds the rows of one list: the texts that are not the server's bytes as they came are
// made in buffers kept from row to row.
class RowMaker
{
public:
    // The cells of the role under the reader's cursor; `online` tells where the row goes.
    template <typename Rows>
    RoleRow Make(const CellReader<Rows>& read, const Rows& rows, int accountColumn,
                 const Currencies& money, bool& online)
    {
        const std::int64_t lastLogin = read.Int64(kLastLogin);
        const std::int64_t lastOffline = read.Int64(kLastOffline);
        online = lastOffline < lastLogin;

        std::array<std::string_view, kRoleListColumns> cells{};
        const auto cell = [&cells](RoleColumn column) -> std::string_view& {
            return cells[static_cast<std::size_t>(column)];
        };
        cell(RoleColumn::Online) = online ? "在线" : " - ";
        if (read.Has(kName)) {
            std::size_t length = 0;
            const char* name = rows.Cell(read.ColumnOf(kName), length);
            // Names stay whole, also characters that the old GBK display could not hold.
            cell(RoleColumn::Name) = Clean(m_name, name, length);
        }
        cell(RoleColumn::Level) = read.Role(kLevel);
        cell(RoleColumn::Copper) = money.copper;
        cell(RoleColumn::Yuanbao) = money.yuanbao;
        cell(RoleColumn::BoundYuanbao) = money.bound;
        cell(RoleColumn::Experience) = read.Role(kExp);
        if (read.Has(kJob))
            cell(RoleColumn::Job) = JobName(read.Role(kJob));
        cell(RoleColumn::Spirit) = read.Role(kSpirit);
        cell(RoleColumn::BattlePower) = read.Role(kBattlePower);
        cell(RoleColumn::Logins) = read.Role(kLogins);
        if (read.Has(kOnlineMinutes)) {
            m_minutes.assign(read.Role(kOnlineMinutes)).append("分");
            cell(RoleColumn::OnlineTime) = m_minutes;
        }
        cell(RoleColumn::Created) = read.Role(kCreated);
        if (read.Has(kLastOffline)) {
            m_offline = FormatDateTime(MsToLocalTime(lastOffline, false));
            cell(RoleColumn::LastOffline) = m_offline;
        }
        cell(RoleColumn::RoleId) = read.Role(kId);
        if (accountColumn >= 0) {
            std::size_t length = 0;
            const char* account = rows.Cell(accountColumn, length);
            cell(RoleColumn::Account) = Clean(m_account, account, length);
        }
        return RoleRow(cells);
    }

private:
    // The cell as valid UTF-8 up to a zero byte: the server's bytes when they are, else a
    // cleaned copy in `buffer`.
    static std::string_view Clean(std::string& buffer, const char* cell, std::size_t length)
    {
        const std::string_view text = CellView(cell, length);
        if (IsValidUtf8(text))
            return text;
        buffer = CleanUtf8(text);
        return buffer;
    }

    std::string m_name;
    std::string m_minutes;
    std::string m_offline;
    std::string m_account;
};

// Rows arrive newest id first and each online role goes to the top, so the online block ends
// up in reverse arrival order.
class ListBuilder
{
public:
    explicit ListBuilder(std::size_t count) { m_others.reserve(count); }

    // Where the row went, for At.
    std::size_t Add(RoleRow row, bool online)
    {
        RoleRows& rows = online ? m_online : m_others;
        rows.push_back(std::move(row));
        return rows.size() - 1;
    }
    RoleRow& At(bool online, std::size_t index) { return (online ? m_online : m_others)[index]; }

    RoleRows Finish()
    {
        RoleRows result;
        result.reserve(m_online.size() + m_others.size());
        std::move(m_online.rbegin(), m_online.rend(), std::back_inserter(result));
        std::move(m_others.begin(), m_others.end(), std::back_inserter(result));
        return result;
    }

private:
    RoleRows m_online;
    RoleRows m_others;
};

} // namespace mrvn::rolequery
