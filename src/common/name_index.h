#pragma once
// Lookups in small tables of names: for each first byte, a bit mask of the
// entries whose name starts with it, so that a name is compared only with
// those. Entries have a `name` (a non-empty std::string_view).

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace ormbrook {

using NameIndex = std::array<uint64_t, 256>;

// The index of the first `count` entries of a table (64 at most).
template <typename Entry, size_t N>
constexpr NameIndex MakeNameIndex(const Entry (&table)[N], size_t count = N)
{
    NameIndex index{};
    for (size_t i = 0; i < count && i < 64; ++i)
        index[static_cast<unsigned char>(table[i].name[0])] |= uint64_t(1) << i;
    return index;
}

// The first entry named exactly `name`, or nothing.
template <typename Entry, size_t N>
const Entry* FindByName(const Entry (&table)[N], const NameIndex& index, std::string_view name)
{
    if (name.empty())
        return nullptr;
    for (uint64_t candidates = index[static_cast<unsigned char>(name[0])]; candidates != 0;
         candidates &= candidates - 1) {
        const Entry& entry = table[std::countr_zero(candidates)];
        if (entry.name == name)
            return &entry;
    }
    return nullptr;
}

} // namespace ormbrook
