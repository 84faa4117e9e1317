#include "common/dib_layout.h"

#include <limits>

namespace ormbrook {

namespace {

uint32_t U32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint16_t U16(const uint8_t* p)
{
    return uint16_t(p[0] | p[1] << 8);
}

// A picture larger than this is not one anybody decodes; refusing it keeps
// every product below in range whatever the header claims.
constexpr int64_t kMaxSide = 1 << 20;

} // namespace

uint32_t DibColourCount(int bitCount, uint32_t coloursUsed)
{
    if (coloursUsed != 0)
        return coloursUsed;
    switch (bitCount) {
    case 1:
        return 2;
    case 4:
        return 16;
    case 8:
        return 256;
    default:
        return 0;
    }
}

size_t DibStrideFor(int bitCount, int64_t width)
{
    return size_t((int64_t(bitCount) * width + 31) / 32) * 4;
}

uint32_t DibLayout::TableColour(const uint8_t* dib, uint32_t index) const
{
    if (index >= colours)
        return 0;
    const uint8_t* e = dib + tableOffset + size_t(index) * tableEntryBytes;
    // Entries are stored blue, green, red (and a reserved byte).
    return uint32_t(e[2]) << 16 | uint32_t(e[1]) << 8 | e[0];
}

std::optional<DibLayout> ParseDibLayout(const uint8_t* dib, size_t size)
{
    if (!dib || size < 4)
        return std::nullopt;
    DibLayout d;
    d.headerBytes = U32(dib);
    int64_t width = 0;
    int64_t height = 0;
    uint32_t coloursUsed = 0;
    if (d.headerBytes == kDibCoreHeaderBytes) {
        if (size < kDibCoreHeaderBytes)
            return std::nullopt;
        width = U16(dib + 4);
        height = U16(dib + 6);
        d.bitCount = U16(dib + 10);
        d.tableEntryBytes = 3;
    } else if (d.headerBytes >= kDibInfoHeaderBytes && d.headerBytes <= 1024) {
        // The later headers (V4, V5) begin with the info header's fields.
        if (size < d.headerBytes)
            return std::nullopt;
        width = int32_t(U32(dib + 4));
        height = int32_t(U32(dib + 8));
        d.bitCount = U16(dib + 14);
        d.compression = U32(dib + 16);
        d.sizeImage = U32(dib + 20);
        coloursUsed = U32(dib + 32);
        d.tableEntryBytes = 4;
    } else {
        return std::nullopt;
    }
    if (height < 0) {
        d.topDown = true;
        height = -height;
    }
    if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide)
        return std::nullopt;
    switch (d.bitCount) {
    case 1:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32:
        break;
    default:
        return std::nullopt;
    }
    d.width = int32_t(width);
    d.height = int32_t(height);
    d.colours = d.headerBytes == kDibCoreHeaderBytes ? DibColourCount(d.bitCount, 0)
                                                     : DibColourCount(d.bitCount, coloursUsed);
    // Bit-field masks follow an info header of exactly 40 bytes.
    const size_t masks = (d.compression == 3 && d.headerBytes == kDibInfoHeaderBytes) ? 12 : 0;
    d.tableOffset = d.headerBytes + masks;
    if (d.tableOffset > size || d.colours > (size - d.tableOffset) / d.tableEntryBytes)
        return std::nullopt;
    d.bitsOffset = d.tableOffset + size_t(d.colours) * d.tableEntryBytes;
    d.stride = DibStrideFor(d.bitCount, width);
    d.imageBytes = d.stride * size_t(height);
    const size_t rest = size - d.bitsOffset;
    if (d.compression == 1 || d.compression == 2) {
        if (rest == 0)
            return std::nullopt;
    } else if (d.imageBytes > rest) {
        return std::nullopt;
    }
    return d;
}

} // namespace ormbrook
