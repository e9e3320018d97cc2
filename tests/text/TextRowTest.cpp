#include "text/TextRow.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

using mrvn::TextRow;
using Cells = std::vector<std::string>;

// Each way of making or changing a row gives exactly the cells named, empty ones included.
TEST(TextRow, CellsAsMadeAndChanged)
{
    const std::string withZero("a\0b", 3);
    const struct
    {
        const char* what;
        TextRow row;
        Cells cells;
    } cases[] = {
        {"no cells", TextRow(), {}},
        {"empty cells", TextRow(std::size_t{3}), {"", "", ""}},
        {"from a list", TextRow{"1", "", "名称", withZero}, {"1", "", "名称", withZero}},
        {"from strings", TextRow(Cells{"x", "yy"}), {"x", "yy"}},
        {"a cell replaced",
         [] {
             TextRow r{"a", "b", "c"};
             r.Set(1, "长一些的文字");
             return r;
         }(),
         {"a", "长一些的文字", "c"}},
        {"a cell past the end",
         [] {
             TextRow r{"a"};
             r.Set(3, "d");
             return r;
         }(),
         {"a", "", "", "d"}},
        {"emptied",
         [] {
             TextRow r{"a", "b"};
             r.Set(0, "");
             return r;
         }(),
         {"", "b"}},
        {"padded",
         [] {
             TextRow r{"a"};
             r.resize(3);
             return r;
         }(),
         {"a", "", ""}},
        {"cut",
         [] {
             TextRow r{"a", "b", "c"};
             r.resize(1);
             return r;
         }(),
         {"a"}},
        // Copies share their texts: changing one leaves the other as it was.
        {"the original of a changed copy",
         [] {
             TextRow r{"a", "b"};
             TextRow copy = r;
             copy.Set(0, "z");
             copy.resize(1);
             return copy == TextRow{"z"} ? r : TextRow();
         }(),
         {"a", "b"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.row.size(), c.cells.size());
        EXPECT_EQ(c.row.Strings(), c.cells);
        EXPECT_TRUE(c.row == c.cells);
        EXPECT_TRUE(c.row == TextRow(c.cells));
        EXPECT_EQ(c.row[c.cells.size()], ""); // past the last cell
        EXPECT_EQ(c.row.back(), c.cells.empty() ? "" : c.cells.back());
    }
}

TEST(TextRow, EqualOnlyWithTheSameCells)
{
    // The same texts cut in other places are other rows.
    EXPECT_FALSE((TextRow{"ab", "c"}) == (TextRow{"a", "bc"}));
    EXPECT_FALSE((TextRow{"a"}) == (TextRow{"a", ""}));
    EXPECT_FALSE((TextRow{"a", "b"}) == (Cells{"a", "c"}));
    std::ostringstream out;
    out << TextRow{"a", ""};
    EXPECT_EQ(out.str(), "{\"a\", \"\"}");
}

} // namespace
