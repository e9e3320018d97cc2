#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iosfwd>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace mrvn {

// A row of texts (UTF-8 cells) in one allocation: where each cell ends, then the cells end to
// end. A list of 100,000 roles is 100,000 allocations of about 200 bytes instead of 16 strings
// of 32 bytes per row plus the longer cells, which a refresh would otherwise allocate, touch
// and free again. The allocation is never changed once made, and copies share it (Set and
// resize make a new one): the database thread's memory of the list and the window's model
// hold the same rows once, and a copy across threads is a count, not a copy of the texts.
class TextRow
{
public:
    TextRow() = default;
    // `cells` empty cells.
    explicit TextRow(std::size_t cells);
    TextRow(std::initializer_list<std::string_view> cells);
    explicit TextRow(const std::vector<std::string>& cells);
    explicit TextRow(std::span<const std::string_view> cells);

    std::size_t size() const;
    bool empty() const { return size() == 0; }
    // "" past the last cell.
    // const, so that "row[c] = text" does not compile (it would assign to a copy): use Set.
    const std::string_view operator[](std::size_t cell) const;
    std::string_view back() const { return empty() ? std::string_view() : (*this)[size() - 1]; }

    // Replaces one cell, adding empty cells before it when the row is shorter; the row is
    // rebuilt, so this is for a few cells, not for filling a row.
    void Set(std::size_t cell, std::string_view text);
    // Cuts the row or pads it with empty cells.
    void resize(std::size_t cells);

    std::vector<std::string> Strings() const;

    friend bool operator==(const TextRow& a, const TextRow& b);
    friend bool operator==(const TextRow& row, const std::vector<std::string>& cells);

private:
    template <typename Cells> void Assign(const Cells& cells);

    std::size_t Bytes() const;

    // uint32 count, uint32 end of each cell (from the start of the texts), the texts; none for
    // a row without cells (one form, so that such rows compare equal).
    std::shared_ptr<const char[]> m_data;
};

// Cells in quotes, for test failures and logs.
std::ostream& operator<<(std::ostream& out, const TextRow& row);

} // namespace mrvn
