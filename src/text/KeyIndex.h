#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>
#include <utility>
#include <vector>

namespace mrvn {

// Row numbers by key text, in one flat table: no allocation per key, one probe per lookup
// (a refresh of 100,000 roles looks up several hundred thousand keys). The keys are views:
// their texts must stay where they are while the index is used.
class KeyIndex
{
public:
    explicit KeyIndex(std::size_t expected = 0) { Reserve(expected); }

    // Room for `count` keys without growing; forgets every key.
    void Reserve(std::size_t count)
    {
        std::size_t capacity = 16;
        while (capacity < 2 * count)
            capacity *= 2;
        m_slots.assign(capacity, Slot{});
        m_mask = capacity - 1;
        m_used = 0;
    }

    // Adds `key` for `row` unless it is there: the row already there, or -1 once added.
    std::int64_t Add(std::string_view key, std::int64_t row)
    {
        Slot& slot = Place(key);
        if (slot.row >= 0)
            return slot.row;
        slot.row = row;
        return -1;
    }

    // Adds `key` for `row`; a key already there takes the new row.
    void Set(std::string_view key, std::int64_t row) { Place(key).row = row; }

    // The same, telling the row the key had before (-1 when it is new).
    std::int64_t Exchange(std::string_view key, std::int64_t row)
    {
        return std::exchange(Place(key).row, row);
    }

    // -1 when the key is not there.
    std::int64_t Find(std::string_view key) const
    {
        const std::size_t hash = std::hash<std::string_view>{}(key);
        for (std::size_t at = hash & m_mask;; at = (at + 1) & m_mask) {
            const Slot& slot = m_slots[at];
            if (slot.row < 0 || (slot.hash == hash && slot.key == key))
                return slot.row;
        }
    }

private:
    struct Slot
    {
        std::size_t hash = 0;
        std::int64_t row = -1;
        std::string_view key;
    };

    // The key's slot, made (with no row yet) when the key is new.
    Slot& Place(std::string_view key)
    {
        if (2 * (m_used + 1) > m_slots.size())
            Grow();
        const std::size_t hash = std::hash<std::string_view>{}(key);
        for (std::size_t at = hash & m_mask;; at = (at + 1) & m_mask) {
            Slot& slot = m_slots[at];
            if (slot.row < 0) {
                ++m_used;
                slot.hash = hash;
                slot.key = key;
                return slot;
            }
            if (slot.hash == hash && slot.key == key)
                return slot;
        }
    }

    void Grow()
    {
        std::vector<Slot> old = std::move(m_slots);
        Reserve(std::max<std::size_t>(16, old.size()));
        for (const Slot& slot : old) {
            if (slot.row >= 0)
                Set(slot.key, slot.row);
        }
    }

    std::vector<Slot> m_slots;
    std::size_t m_mask = 0;
    std::size_t m_used = 0;
};

} // namespace mrvn
