#include "ModelTesterFindings.h"
#include "Platform.h"

#include "app/RoleListChange.h"
#include "app/RoleListProxy.h"
#include "app/TextTableModel.h"
#include "db/RoleList.h"

#include <QCollator>
#include <QItemSelectionModel>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace mrvn::test {
namespace {

constexpr int kName = ColumnIndex(RoleColumn::Name);
constexpr int kRoleId = ColumnIndex(RoleColumn::RoleId);

QStringList RoleHeaders()
{
    QStringList headers;
    for (int column = 0; column < kRoleListColumns; ++column)
        headers << QString::number(column);
    return headers;
}

// Rows whose `column` holds `cells` and whose role ids are "1", "2", ... in the given order
// (unless `column` is the role id).
RoleRows RowsWith(int column, const std::vector<std::string>& cells)
{
    RoleRows rows;
    for (std::size_t i = 0; i < cells.size(); ++i) {
        RoleRow row(kRoleListColumns);
        row.Set(kRoleId, std::to_string(i + 1));
        row.Set(static_cast<std::size_t>(column), cells[i]);
        rows.push_back(std::move(row));
    }
    return rows;
}

// The cells of `column` top to bottom, as the proxy shows them.
std::vector<std::string> Shown(const RoleListProxy& proxy, const TextTableModel& model, int column)
{
    std::vector<std::string> cells;
    for (int row = 0; row < proxy.rowCount(); ++row)
        cells.push_back(model.Cell(proxy.mapToSource(proxy.index(row, 0)).row(), column));
    return cells;
}

TEST(TextTableModelContract, TheModelTesterFindsNothing)
{
    ModelTesterFindings findings;
    TextTableModel model(RoleHeaders());
    QAbstractItemModelTester tester(&model,
                                    QAbstractItemModelTester::FailureReportingMode::Warning);
    EXPECT_EQ(model.AppendRow(), 0);
    EXPECT_EQ(model.InsertRow(0), 0);
    EXPECT_EQ(model.InsertRow(-5), 2);
    model.SetCell(1, kRoleId, "42");
    model.SetCell(9, 0, "ignored");
    EXPECT_EQ(model.Cell(1, kRoleId), "42");
    model.ResetRows({{"a"}, {"b", "c"}});
    EXPECT_EQ(model.RowCount(), 2);
    EXPECT_EQ(model.ColumnCount(), kRoleListColumns);
    EXPECT_EQ(model.Cell(0, 1), "");
    model.Clear();
    EXPECT_EQ(model.RowCount(), 0);
    // Rows made when asked for: counted, read, not edited; an insert makes held rows again.
    model.ResetSource(100000, [](std::size_t row, std::size_t column) {
        return std::to_string(row * 100 + column);
    });
    EXPECT_EQ(model.RowCount(), 100000);
    model.SetCell(99999, 1, "ignored");
    EXPECT_EQ(model.Cell(99999, 1), "9999901");
    EXPECT_EQ(model.InsertRow(7), 0);
    EXPECT_EQ(model.RowCount(), 1);
    EXPECT_TRUE(findings.Findings().isEmpty()) << findings.Findings().join(u'\n').toStdString();
}

TEST(RoleListProxyContract, TheModelTesterFindsNothingWhileSortingAndFiltering)
{
    ModelTesterFindings findings;
    TextTableModel model(RoleHeaders());
    RoleListProxy proxy(model);
    QAbstractItemModelTester tester(&proxy,
                                    QAbstractItemModelTester::FailureReportingMode::Warning);
    model.ResetRows(RowsWith(kName, {"张三", "李四", "王五", "abc"}));
    proxy.sort(kName, Qt::AscendingOrder);
    proxy.SetFilterText(QStringLiteral("A"));
    EXPECT_EQ(proxy.rowCount(), 1);
    proxy.SetFilterText(QString());
    model.AppendRow();
    model.SetCell(4, kName, "赵六");
    model.SetCell(4, kRoleId, "5");
    proxy.sort(ColumnIndex(RoleColumn::Level), Qt::DescendingOrder);
    model.ResetRows(RowsWith(kName, {"b", "a"}));
    proxy.sort(-1);
    EXPECT_EQ(Shown(proxy, model, kRoleId), (std::vector<std::string>{"1", "2"}));
    EXPECT_TRUE(findings.Findings().isEmpty()) << findings.Findings().join(u'\n').toStdString();
}

struct SortCase
{
    const char* name;
    int column;
    std::vector<std::string> cells; // in the query's order
    std::vector<std::string> ascending;
};

void PrintTo(const SortCase& c, std::ostream* out)
{
    *out << c.name;
}

class RoleListSort : public ::testing::TestWithParam<SortCase>
{
};

TEST_P(RoleListSort, AscendingThenDescending)
{
    const SortCase& c = GetParam();
    if (c.column == kName || c.column == ColumnIndex(RoleColumn::Job)) {
        MRVN_SKIP_WITHOUT_PINYIN_COLLATION();
    }
    TextTableModel model(RoleHeaders());
    RoleListProxy proxy(model);
    model.ResetRows(RowsWith(c.column, c.cells));
    EXPECT_EQ(Shown(proxy, model, c.column), c.cells) << "no column chosen: the query's order";
    proxy.sort(c.column, Qt::AscendingOrder);
    EXPECT_EQ(Shown(proxy, model, c.column), c.ascending);
    proxy.sort(c.column, Qt::DescendingOrder);
    const std::vector<std::string> descending(c.ascending.rbegin(), c.ascending.rend());
    EXPECT_EQ(Shown(proxy, model, c.column), descending);
}

const SortCase kSortCases[] = {
    {"LevelAsNumbers",
     ColumnIndex(RoleColumn::Level),
     {"10", "9", "100", "", "-1"},
     {"", "-1", "9", "10", "100"}},
    {"OnlineMinutesWithTheirUnit",
     ColumnIndex(RoleColumn::OnlineTime),
     {"50分", "5分", "分", "6分", "0分"},
     {"分", "0分", "5分", "6分", "50分"}},
    {"FractionsAndSigns",
     ColumnIndex(RoleColumn::Spirit),
     {"-1.2", "0.5", "-1.5", "0", "abc"},
     {"abc", "-1.5", "-1.2", "0", "0.5"}},
    // A double would make these two equal and leave them in the query's order.
    {"CopperBeyondDoublePrecision",
     ColumnIndex(RoleColumn::Copper),
     {"9223372036854775807", "9223372036854775806", "12"},
     {"12", "9223372036854775806", "9223372036854775807"}},
    {"RoleIdsAsNumbers", kRoleId, {"99", "1000", "5", "100"}, {"5", "99", "100", "1000"}},
    {"OfflineTimesAsDates",
     ColumnIndex(RoleColumn::LastOffline),
     {"2014-06-29 08:05:09", "2013-12-31 23:59:59", "", "2014-06-29 08:05:10",
      "1970-01-01 08:00:00"},
     {"", "1970-01-01 08:00:00", "2013-12-31 23:59:59", "2014-06-29 08:05:09",
      "2014-06-29 08:05:10"}},
    // As text "2014-6-9" would come after "2014-06-10".
    {"CreationTimesUnpadded",
     ColumnIndex(RoleColumn::Created),
     {"2014-6-9 8:05:09", "2014-06-10 00:00:00", "2014-06-09 08:05:08"},
     {"2014-06-09 08:05:08", "2014-6-9 8:05:09", "2014-06-10 00:00:00"}},
    // Pinyin: li, wang, zhang (code points would give 张 李 王).
    {"ChineseNamesByPinyin", kName, {"张", "李", "王", ""}, {"", "李", "王", "张"}},
    {"NamesWithNumbersInThem",
     kName,
     {"角色10", "角色9", "角色100"},
     {"角色9", "角色10", "角色100"}},
    {"JobNames",
     ColumnIndex(RoleColumn::Job),
     {"罗刹", "灵猴", "牛魔", "九尾"},
     {"九尾", "灵猴", "罗刹", "牛魔"}},
};

INSTANTIATE_TEST_SUITE_P(Columns, RoleListSort, ::testing::ValuesIn(kSortCases),
                         [](const ::testing::TestParamInfo<SortCase>& info) {
                             return std::string(info.param.name);
                         });

// The collation places order exactly as the collator.
TEST(RoleListSortCollation, ManyMixedNamesInTheCollatorsOrder)
{
    MRVN_SKIP_WITHOUT_PINYIN_COLLATION();
    const QStringList parts = {QStringLiteral("张"), QStringLiteral("章"), QStringLiteral("长"),
                               QStringLiteral("李"), QStringLiteral("王"), QStringLiteral("汪"),
                               QStringLiteral("a"),  QStringLiteral("A"),  QStringLiteral("z"),
                               QStringLiteral("1"),  QStringLiteral("12"), QStringLiteral("9"),
                               QStringLiteral(" "),  QStringLiteral("·"),  QStringLiteral("㐀")};
    std::vector<std::string> names;
    std::uint32_t seed = 7;
    for (int i = 0; i < 3000; ++i) {
        QString name;
        const int length = 1 + static_cast<int>(seed % 6);
        for (int c = 0; c < length; ++c) {
            seed = seed * 1103515245u + 12345u;
            name +=
                parts[static_cast<int>((seed >> 16) % static_cast<std::uint32_t>(parts.size()))];
        }
        names.push_back(name.toStdString());
    }
    TextTableModel model(RoleHeaders());
    RoleListProxy proxy(model);
    model.ResetRows(RowsWith(kName, names));
    proxy.sort(kName, Qt::AscendingOrder);
    QCollator collator(QLocale(QLocale::Chinese, QLocale::China));
    collator.setNumericMode(true);
    const std::vector<std::string> shown = Shown(proxy, model, kName);
    for (std::size_t i = 1; i < shown.size(); ++i) {
        SCOPED_TRACE(shown[i - 1] + " | " + shown[i]);
        ASSERT_LE(collator.compare(QString::fromStdString(shown[i - 1]),
                                   QString::fromStdString(shown[i])),
                  0);
    }
}

TEST(RoleListSortTies, EqualKeysKeepTheQueryOrderBothWays)
{
    TextTableModel model(RoleHeaders());
    RoleListProxy proxy(model);
    model.ResetRows(RowsWith(ColumnIndex(RoleColumn::Level), {"5", "7", "5", "", "5", ""}));
    proxy.sort(ColumnIndex(RoleColumn::Level), Qt::AscendingOrder);
    EXPECT_EQ(Shown(proxy, model, kRoleId),
              (std::vector<std::string>{"4", "6", "1", "3", "5", "2"}));
    proxy.sort(ColumnIndex(RoleColumn::Level), Qt::DescendingOrder);
    EXPECT_EQ(Shown(proxy, model, kRoleId),
              (std::vector<std::string>{"2", "1", "3", "5", "4", "6"}));
}

TEST(RoleListSortRefresh, NewRowsAreSortedByTheChosenColumn)
{
    TextTableModel model(RoleHeaders());
    RoleListProxy proxy(model);
    const int power = ColumnIndex(RoleColumn::BattlePower);
    model.ResetRows(RowsWith(power, {"3", "1", "2"}));
    proxy.sort(power, Qt::DescendingOrder);
    model.ResetRows(RowsWith(power, {"10", "30", "20", "4"}));
    EXPECT_EQ(Shown(proxy, model, power), (std::vector<std::string>{"30", "20", "10", "4"}));
    model.SetCell(3, power, "99");
    EXPECT_EQ(Shown(proxy, model, power), (std::vector<std::string>{"99", "30", "20", "10"}));
}

// A refresh becomes a difference, rows matched by role id: what the database thread hands
// over, and what the window then shows.
struct UpdateCase
{
    const char* name;
    std::vector<std::string> before, after; // "id:level" per row, in order
    int removed = 0, inserted = 0, changed = 0;
    bool replaces = false;
};

void PrintTo(const UpdateCase& c, std::ostream* out)
{
    *out << c.name;
}

RoleRows RowsOf(const std::vector<std::string>& cells)
{
    RoleRows rows;
    for (const std::string& cell : cells) {
        RoleRow row(kRoleListColumns);
        row.Set(kRoleId, cell.substr(0, cell.find(':')));
        row.Set(ColumnIndex(RoleColumn::Level), cell.substr(cell.find(':') + 1));
        row.Set(kName, cell.substr(cell.find(':') + 1));
        rows.push_back(std::move(row));
    }
    return rows;
}

std::vector<std::string> Numbered(int count, int step)
{
    std::vector<std::string> cells;
    for (int i = 0; i < count; i += step)
        cells.push_back(std::to_string(i) + ":1");
    return cells;
}

class ModelUpdate : public ::testing::TestWithParam<UpdateCase>
{
};

TEST_P(ModelUpdate, HandsOverOnlyWhatChanged)
{
    const UpdateCase& c = GetParam();
    RoleListKeeper keeper;
    TextTableModel model(RoleHeaders());
    RoleListProxy proxy(model);
    proxy.ApplyChange(keeper.Change(RowsOf(c.before), proxy.ShownVersion()));
    RoleListChange change = keeper.Change(RowsOf(c.after), proxy.ShownVersion());
    EXPECT_EQ(change.replaces, c.replaces);
    if (!c.replaces) {
        EXPECT_EQ(change.rows.removed.size(), static_cast<std::size_t>(c.removed));
        EXPECT_EQ(change.rows.inserted.size(), static_cast<std::size_t>(c.inserted));
        EXPECT_EQ(change.rows.changed.size(), static_cast<std::size_t>(c.changed));
    }
    ModelTesterFindings findings;
    QAbstractItemModelTester modelTester(&model,
                                         QAbstractItemModelTester::FailureReportingMode::Warning);
    QAbstractItemModelTester proxyTester(&proxy,
                                         QAbstractItemModelTester::FailureReportingMode::Warning);
    // Each sort and filter shows the difference as a fresh fill of the new rows would.
    const struct
    {
        const char* label;
        int column;
        Qt::SortOrder order;
        QString filter;
    } views[] = {
        {"unsorted", -1, Qt::AscendingOrder, {}},
        {"by level descending, filtered", ColumnIndex(RoleColumn::Level), Qt::DescendingOrder,
         QStringLiteral("1")},
        {"by name", kName, Qt::AscendingOrder, {}},
    };
    for (const auto& v : views) {
        SCOPED_TRACE(v.label);
        keeper.Change(RowsOf(c.before), kNoRoleList); // the window shows another list now
        proxy.ApplyChange(keeper.Change(RowsOf(c.before), proxy.ShownVersion()));
        proxy.sort(v.column, v.order);
        proxy.SetFilterText(v.filter);
        EXPECT_TRUE(proxy.ApplyChange(keeper.Change(RowsOf(c.after), proxy.ShownVersion())));
        TextTableModel freshModel(RoleHeaders());
        RoleListProxy fresh(freshModel);
        freshModel.ResetRows(RowsOf(c.after));
        fresh.sort(v.column, v.order);
        fresh.SetFilterText(v.filter);
        EXPECT_EQ(Shown(proxy, model, kRoleId), Shown(fresh, freshModel, kRoleId));
        EXPECT_EQ(Shown(proxy, model, kName), Shown(fresh, freshModel, kName));
    }
    EXPECT_TRUE(findings.Findings().isEmpty()) << findings.Findings().join(u'\n').toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Refreshes, ModelUpdate,
    ::testing::Values(
        UpdateCase{"Unchanged", {"1:a", "2:b", "3:c"}, {"1:a", "2:b", "3:c"}},
        UpdateCase{"OneCell", {"1:a", "2:b", "3:c"}, {"1:a", "2:x", "3:c"}, 0, 0, 1},
        UpdateCase{"TwoRows", {"1:a", "2:b", "3:c"}, {"1:x", "2:b", "3:z"}, 0, 0, 2},
        UpdateCase{"AddedAtTopAndEnd", {"1:a", "2:b"}, {"0:z", "1:a", "2:b", "3:c", "4:d"}, 0, 3},
        UpdateCase{"RemovedRange", {"1:a", "2:b", "3:c", "4:d", "5:e"}, {"1:a", "5:e"}, 3},
        UpdateCase{"MovedUp", {"1:a", "2:b", "3:c", "4:d"}, {"3:c", "1:a", "2:b", "4:d"}, 1, 1},
        UpdateCase{"MovedAndChanged", {"1:a", "2:b", "3:c"}, {"3:x", "1:a", "2:y"}, 1, 1, 1},
        UpdateCase{"AllNew", {"1:a", "2:b"}, {"3:c", "4:d"}, 2, 2},
        UpdateCase{"ManyScattered", Numbered(300, 1), Numbered(300, 2), 150},
        // Ids that are not plain numbers are matched by their texts: "01" is not "1".
        UpdateCase{"TextIds", {"x:a", "y:b", "z:c"}, {"z:c", "x:a", "y:q"}, 1, 1, 1},
        UpdateCase{"LeadingZeroIds", {"01:a", "1:b"}, {"1:b", "01:x"}, 1, 1},
        UpdateCase{"ZeroPaddedIdIsAnotherRole", {"01:a", "2:b"}, {"1:a", "2:b"}, 1, 1},
        UpdateCase{"ToEmpty", {"1:a", "2:b"}, {}, 0, 0, 0, true},
        UpdateCase{"FromEmpty", {}, {"1:a"}, 0, 0, 0, true},
        UpdateCase{"DuplicateKeys", {"1:a", "2:b"}, {"1:a", "1:b"}, 0, 0, 0, true}),
    [](const ::testing::TestParamInfo<UpdateCase>& info) { return std::string(info.param.name); });

// A refresh moves the selection along with its roles, also a role that moved, and a change
// made for a list the window no longer shows is not applied: the next one brings every row.
TEST(RoleListApply, SelectionFollowsItsRolesAndAStaleChangeIsDropped)
{
    RoleListKeeper keeper;
    TextTableModel model(RoleHeaders());
    RoleListProxy proxy(model);
    QItemSelectionModel selection(&proxy);
    proxy.ApplyChange(keeper.Change(RowsOf({"1:a", "2:b", "3:c", "4:d"}), proxy.ShownVersion()));
    proxy.sort(kName, Qt::DescendingOrder);
    selection.select(proxy.index(0, 0), QItemSelectionModel::Select); // role 4 ("d")
    selection.select(proxy.index(3, 0), QItemSelectionModel::Select); // role 1 ("a")
    selection.setCurrentIndex(proxy.index(3, 0), QItemSelectionModel::NoUpdate);
    // Role 1 moves to the end, role 2 gets a new name, role 3 goes, role 5 arrives.
    RoleListChange change =
        keeper.Change(RowsOf({"2:e", "4:d", "5:c", "1:a"}), proxy.ShownVersion());
    ASSERT_FALSE(change.replaces);
    ASSERT_EQ(change.rows.movedTo, (std::vector<std::int64_t>{3, -1}));
    ASSERT_TRUE(proxy.ApplyChange(std::move(change)));
    EXPECT_EQ(Shown(proxy, model, kRoleId), (std::vector<std::string>{"2", "4", "5", "1"}));
    std::vector<std::string> selected;
    for (const QModelIndex& index : selection.selectedIndexes())
        selected.push_back(model.Cell(proxy.mapToSource(index).row(), kRoleId));
    std::sort(selected.begin(), selected.end());
    EXPECT_EQ(selected, (std::vector<std::string>{"1", "4"}));
    EXPECT_EQ(model.Cell(proxy.mapToSource(selection.currentIndex()).row(), kRoleId), "1");

    RoleListChange stale = keeper.Change(RowsOf({"1:a", "2:e"}), proxy.ShownVersion());
    proxy.Clear();
    EXPECT_FALSE(proxy.ApplyChange(std::move(stale)));
    EXPECT_EQ(proxy.rowCount(), 0);
    RoleListChange next = keeper.Change(RowsOf({"1:a", "2:e"}), proxy.ShownVersion());
    EXPECT_TRUE(next.replaces);
    EXPECT_TRUE(proxy.ApplyChange(std::move(next)));
    EXPECT_EQ(Shown(proxy, model, kRoleId), (std::vector<std::string>{"2", "1"}));
}

// The collation places kept from one refresh to the next order as a fresh sort of the same
// texts: texts added between, before and after the known ones, texts the collator holds equal,
// texts that went.
TEST(RoleListCollationPlaces, KeptPlacesOrderLikeAFreshSort)
{
    MRVN_SKIP_WITHOUT_PINYIN_COLLATION();
    std::vector<std::string> names;
    for (const char* surname : {"张", "李", "王", "赵", "钱", "孙", "周", "吴"})
        for (const char* given : {"三", "10", "09", "a", "B", "四", "二十", "一"})
            names.push_back(std::string(surname) + given);
    std::vector<std::vector<std::string>> refreshes = {names, names, names};
    // Between, before and after the known texts, and one the collator holds equal to a known
    // one ("9" and "09" in numeric mode); few enough to be placed among the known ones, not
    // sorted with them.
    for (const char* added : {"阿", "zz", "张9", ""})
        refreshes[1].push_back(added);
    refreshes[1].push_back(names[3]);
    // Texts go: among them the first of two equal ones, whose follower is then equal to
    // nothing before it.
    refreshes[2] = refreshes[1];
    refreshes[2].erase(refreshes[2].begin(), refreshes[2].begin() + 2);
    refreshes[2].erase(std::find(refreshes[2].begin(), refreshes[2].end(), "张9"));
    refreshes[2].push_back("钱三1");
    // Places only order: compared as the order of the texts they give.
    const auto order = [](const std::vector<std::uint32_t>& places) {
        std::vector<std::uint32_t> distinct(places);
        std::sort(distinct.begin(), distinct.end());
        distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
        std::vector<std::size_t> ranks;
        for (const std::uint32_t place : places)
            ranks.push_back(static_cast<std::size_t>(
                std::lower_bound(distinct.begin(), distinct.end(), place) - distinct.begin()));
        return ranks;
    };
    CollationPlaces kept;
    std::vector<std::uint32_t> entries;
    for (std::size_t r = 0; r < refreshes.size(); ++r) {
        SCOPED_TRACE("refresh " + std::to_string(r));
        const std::vector<std::string_view> texts(refreshes[r].begin(), refreshes[r].end());
        std::vector<std::uint32_t> next;
        for (const std::string_view text : texts)
            next.push_back(kept.Use(text));
        for (const std::uint32_t entry : entries)
            kept.Release(entry);
        entries = next;
        std::vector<std::uint32_t> places;
        for (const std::uint32_t entry : entries)
            places.push_back(kept.Places()[entry]);
        EXPECT_EQ(order(places), order(CollationPlaces::PlacesOf(texts)));
    }
}

struct FilterCase
{
    const char* name;
    QString text;
    std::vector<std::string> ids;
};

void PrintTo(const FilterCase& c, std::ostream* out)
{
    *out << c.name;
}

class RoleListFilter : public ::testing::TestWithParam<FilterCase>
{
};

TEST_P(RoleListFilter, NameOrRoleIdContainsTheText)
{
    const FilterCase& c = GetParam();
    TextTableModel model(RoleHeaders());
    RoleListProxy proxy(model);
    RoleRows rows = RowsWith(kName, {"张三丰", "SkyWalker", "张无忌", "walker", "李12"});
    rows[0].Set(kRoleId, "10001");
    rows[1].Set(kRoleId, "10002");
    rows[2].Set(kRoleId, "20001");
    rows[3].Set(kRoleId, "31000");
    rows[4].Set(kRoleId, "40000");
    model.ResetRows(rows);
    proxy.SetFilterText(c.text);
    EXPECT_EQ(Shown(proxy, model, kRoleId), c.ids);
    // The filter stays when the rows are replaced.
    model.ResetRows(rows);
    EXPECT_EQ(Shown(proxy, model, kRoleId), c.ids);
}

const FilterCase kFilterCases[] = {
    {"EmptyShowsAll", QString(), {"10001", "10002", "20001", "31000", "40000"}},
    {"ChineseName", QStringLiteral("张"), {"10001", "20001"}},
    {"IgnoresCase", QStringLiteral("WALK"), {"10002", "31000"}},
    {"RoleIdPart", QStringLiteral("1000"), {"10001", "10002", "31000"}},
    {"NameDigitsOrId", QStringLiteral("12"), {"40000"}},
    {"WholeRoleId", QStringLiteral("20001"), {"20001"}},
    {"NothingMatches", QStringLiteral("王"), {}},
    // No match may run from the end of the name into the role id.
    {"NotAcrossNameAndId", QStringLiteral("丰1"), {}},
};

INSTANTIATE_TEST_SUITE_P(Texts, RoleListFilter, ::testing::ValuesIn(kFilterCases),
                         [](const ::testing::TestParamInfo<FilterCase>& info) {
                             return std::string(info.param.name);
                         });

struct ParseCase
{
    const char* name;
    const char* text;
    bool present;
    std::int64_t whole;
    double fraction;
};

void PrintTo(const ParseCase& c, std::ostream* out)
{
    *out << c.name;
}

class NumberCells : public ::testing::TestWithParam<ParseCase>
{
};

TEST_P(NumberCells, ReadLikeTheirLeadingNumber)
{
    const ParseCase& c = GetParam();
    const rolelist::ParsedNumber number = rolelist::ParseNumber(c.text);
    EXPECT_EQ(number.present, c.present);
    EXPECT_EQ(number.whole, c.whole);
    EXPECT_DOUBLE_EQ(number.fraction, c.fraction);
}

const ParseCase kNumberCases[] = {
    {"Empty", "", false, 0, 0},
    {"UnitAlone", "分", false, 0, 0},
    {"Minutes", "5分", true, 5, 0},
    {"LeadingSpaces", "  12", true, 12, 0},
    {"Negative", "-3.25", true, -3, -0.25},
    {"PlusSign", "+7", true, 7, 0},
    {"FractionOnly", ".5", true, 0, 0.5},
    {"SignAlone", "-", false, 0, 0},
    {"Letters", "abc", false, 0, 0},
    {"Largest", "9223372036854775807", true, 9223372036854775807LL, 0},
    {"BeyondSixtyFourBits", "99999999999999999999", true, 9223372036854775807LL, 0},
};

INSTANTIATE_TEST_SUITE_P(Texts, NumberCells, ::testing::ValuesIn(kNumberCases),
                         [](const ::testing::TestParamInfo<ParseCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(DateCells, OrderLikeTheDateTheyName)
{
    using rolelist::ParseDate;
    EXPECT_FALSE(ParseDate("").present);
    EXPECT_FALSE(ParseDate("never").present);
    EXPECT_EQ(ParseDate("2014-6-9 8:5:9").whole, ParseDate("2014-06-09 08:05:09").whole);
    EXPECT_EQ(ParseDate("2014-06-09").whole, ParseDate("2014-06-09 00:00:00").whole);
    const char* ordered[] = {"1970-01-01 08:00:00", "2013-12-31 23:59:59", "2014-01-01 00:00:00",
                             "2014-01-01 00:00:01", "2014-01-01 00:01:00", "2014-02-01 00:00:00",
                             "10000-01-01"};
    for (std::size_t i = 1; i < std::size(ordered); ++i) {
        SCOPED_TRACE(ordered[i]);
        EXPECT_LT(ParseDate(ordered[i - 1]).whole, ParseDate(ordered[i]).whole);
    }
}

} // namespace
} // namespace mrvn::test
