#include "text/TextRow.h"

#include <algorithm>
#include <cstring>
#include <ostream>

namespace mrvn {

namespace {

std::uint32_t ReadWord(const char* data, std::size_t at)
{
    std::uint32_t value = 0;
    std::memcpy(&value, data + at, sizeof value);
    return value;
}

void WriteWord(char* data, std::size_t at, std::uint32_t value)
{
    std::memcpy(data + at, &value, sizeof value);
}

constexpr std::size_t kWord = sizeof(std::uint32_t);

} // namespace

template <typename Cells> void TextRow::Assign(const Cells& cells)
{
    const std::size_t count = cells.size();
    if (count == 0) {
        m_data.reset();
        return;
    }
    std::size_t texts = 0;
    for (const auto& cell : cells)
        texts += std::string_view(cell).size();
    std::shared_ptr<char[]> data =
        std::make_shared_for_overwrite<char[]>(kWord * (count + 1) + texts);
    WriteWord(data.get(), 0, static_cast<std::uint32_t>(count));
    std::size_t end = 0;
    std::size_t i = 0;
    char* out = data.get() + kWord * (count + 1);
    for (const auto& cell : cells) {
        const std::string_view text(cell);
        if (!text.empty())
            std::memcpy(out + end, text.data(), text.size());
        end += text.size();
        WriteWord(data.get(), kWord * (++i), static_cast<std::uint32_t>(end));
    }
    m_data = std::move(data);
}

TextRow::TextRow(std::size_t cells)
{
    Assign(std::vector<std::string_view>(cells));
}

TextRow::TextRow(std::initializer_list<std::string_view> cells)
{
    Assign(cells);
}

TextRow::TextRow(const std::vector<std::string>& cells)
{
    Assign(cells);
}

TextRow::TextRow(std::span<const std::string_view> cells)
{
    Assign(cells);
}

std::size_t TextRow::size() const
{
    return m_data ? ReadWord(m_data.get(), 0) : 0;
}

std::size_t TextRow::Bytes() const
{
    const std::size_t count = size();
    return count == 0 ? 0 : kWord * (count + 1) + ReadWord(m_data.get(), kWord * count);
}

bool operator==(const TextRow& a, const TextRow& b)
{
    if (a.m_data == b.m_data)
        return true;
    const std::size_t bytes = a.Bytes();
    return bytes == b.Bytes() && bytes != 0 &&
           std::memcmp(a.m_data.get(), b.m_data.get(), bytes) == 0;
}

const std::string_view TextRow::operator[](std::size_t cell) const
{
    const std::size_t count = size();
    if (cell >= count)
        return {};
    const std::size_t begin = cell == 0 ? 0 : ReadWord(m_data.get(), kWord * cell);
    const std::size_t end = ReadWord(m_data.get(), kWord * (cell + 1));
    return std::string_view(m_data.get() + kWord * (count + 1) + begin, end - begin);
}

void TextRow::Set(std::size_t cell, std::string_view text)
{
    std::vector<std::string_view> cells(std::max(size(), cell + 1));
    for (std::size_t i = 0; i < size(); ++i)
        cells[i] = (*this)[i];
    cells[cell] = text;
    // The views point into m_data, which Assign lets go of only once the new row is built.
    Assign(cells);
}

void TextRow::resize(std::size_t cells)
{
    if (cells == size())
        return;
    std::vector<std::string_view> views(cells);
    for (std::size_t i = 0; i < std::min(cells, size()); ++i)
        views[i] = (*this)[i];
    Assign(views);
}

std::vector<std::string> TextRow::Strings() const
{
    std::vector<std::string> cells;
    cells.reserve(size());
    for (std::size_t i = 0; i < size(); ++i)
        cells.emplace_back((*this)[i]);
    return cells;
}

bool operator==(const TextRow& row, const std::vector<std::string>& cells)
{
    if (row.size() != cells.size())
        return false;
    for (std::size_t i = 0; i < cells.size(); ++i) {
        if (row[i] != cells[i])
            return false;
    }
    return true;
}

std::ostream& operator<<(std::ostream& out, const TextRow& row)
{
    out << '{';
    for (std::size_t i = 0; i < row.size(); ++i)
        out << (i == 0 ? "\"" : ", \"") << row[i] << '"';
    return out << '}';
}

} // namespace mrvn
