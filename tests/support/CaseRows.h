#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <functional>
#include <string>

namespace mrvn::test {

// How a row of a case table is called in a failure message: its number in the table (from
// 1) and what it is about. Texts are printed quoted with their odd bytes escaped, so a row
// of GBK or broken UTF-8 still reads as what it holds.
template <class Name> std::string RowName(std::size_t number, const Name& name)
{
    return "row " + std::to_string(number) + ": " + testing::PrintToString(name);
}

// Runs `check` on every row of a case table, each under a trace naming the row
// (`name(row)`, or a member pointer such as &Case::what). A failing row is named, and a
// fatal failure (ASSERT_*) ends only the row it is in: the rows after it still run.
template <class Rows, class Name, class Check>
void ForEachRow(const Rows& rows, Name name, Check check)
{
    std::size_t number = 0;
    for (const auto& row : rows) {
        ++number;
        SCOPED_TRACE(RowName(number, std::invoke(name, row)));
        check(row);
    }
}

// ForEachRow for a table of pairs (what goes in, what should come of it): each row is named
// by its first member, and `check` takes the two members.
template <class Rows, class Check> void ForEachPair(const Rows& rows, Check check)
{
    ForEachRow(
        rows, [](const auto& row) { return row.first; },
        [&](const auto& row) { check(row.first, row.second); });
}

} // namespace mrvn::test
