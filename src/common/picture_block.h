#pragma once
// PictureBlock: the bytes by which a decoded picture crosses from the main
// program to a receiver, in one shared block of exactly this size:
//
//   0   bgColor     int32, 0x00BBGGRR
//   4   drawType    int32, transition effect 0..11 (0 for a manual step)
//   8   drawSpeed   int32, ms per transition step
//   12  reserved    int32, 0
//   16  caption, path, folder, pageUrl: four texts, each ended by one NUL,
//       packed without padding
//   ..  the packed DIB, right after the last NUL (so in general unaligned)
//
// Integers are little-endian. A receiver maps what another program wrote and
// trusts none of it: ReadPictureBlock checks every text and the DIB's layout
// against the mapped size before anything is read.

#include "common/dib_layout.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace ormbrook {

constexpr size_t kPictureBlockHeaderBytes = 16;

struct PictureBlockHeader {
    int32_t bgColor = 0;
    int32_t drawType = 0;
    int32_t drawSpeed = 0;
    int32_t reserved = 0;
};

struct PictureBlockTexts {
    std::string_view caption; // "New Picture" or empty
    std::string_view path;
    std::string_view folder;
    std::string_view pageUrl;
};

// 16 + the four texts with their NULs + the DIB. 0 when the block cannot be
// made: a text holding a NUL (it would end early), no DIB, or a size past
// 32 bits.
size_t PictureBlockSize(const PictureBlockTexts& texts, size_t dibBytes);

// Writes the header and the texts into a block of `size` bytes (as given by
// PictureBlockSize) and returns where the DIB goes; 0 when it does not fit.
size_t WritePictureBlockHead(uint8_t* block, size_t size, const PictureBlockHeader& header,
                             const PictureBlockTexts& texts);

struct PictureBlockView {
    PictureBlockHeader header;
    PictureBlockTexts texts;   // pointing into the block
    const uint8_t* dib = nullptr;
    size_t dibBytes = 0;       // to the end of the block
    size_t dibOffset = 0;
    DibLayout layout;
};

// The block's fields, or nothing when a text runs past the end or the DIB
// does not lie wholly inside the block.
std::optional<PictureBlockView> ReadPictureBlock(const uint8_t* block, size_t size);

} // namespace ormbrook
