#pragma once
// Where the parts of a packed device-independent bitmap lie: the header (the
// 40-byte info header or the 12-byte core header), the colour table and the
// pixel rows. A DIB may come from another program, so the layout is only
// given when every part lies inside the bytes at hand.

#include <cstddef>
#include <cstdint>
#include <optional>

namespace ormbrook {

constexpr size_t kDibInfoHeaderBytes = 40;
constexpr size_t kDibCoreHeaderBytes = 12;

struct DibLayout {
    size_t headerBytes = 0;     // 40 or more (info header), or 12 (core header)
    int32_t width = 0;          // > 0
    int32_t height = 0;         // rows, > 0
    bool topDown = false;       // an info header with a negative height
    int bitCount = 0;           // 1, 4, 8, 16, 24 or 32
    uint32_t compression = 0;   // 0 plain, 1 RLE8, 2 RLE4, 3 bit fields
    uint32_t sizeImage = 0;     // as stored
    uint32_t colours = 0;       // colour-table entries
    size_t tableEntryBytes = 0; // 4 (info header) or 3 (core header)
    size_t tableOffset = 0;     // right after the header
    size_t bitsOffset = 0;      // right after the table
    size_t stride = 0;          // bytes per row, padded to four
    size_t imageBytes = 0;      // stride x height for plain rows

    // The colour of table entry i as 0x00RRGGBB; black past the table.
    uint32_t TableColour(const uint8_t* dib, uint32_t index) const;
};

// The colour-table entry count: the colours-used field when it is not 0, else
// 2, 16 or 256 for 1, 4 or 8 bits a pixel, else none.
uint32_t DibColourCount(int bitCount, uint32_t coloursUsed);

// Rows of `bitCount` x `width` bits padded to four bytes.
size_t DibStrideFor(int bitCount, int64_t width);

// The layout of the DIB in `size` bytes, or nothing when its header is of an
// unknown size, its numbers make no sense, or its table or (plain) rows do
// not fit. Compressed rows are only required to start inside the bytes.
std::optional<DibLayout> ParseDibLayout(const uint8_t* dib, size_t size);

} // namespace ormbrook
