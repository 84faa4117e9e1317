// The block a receiver maps was written by another program: whatever it
// holds, reading it must stay inside the bytes, and what the reader accepts
// must describe rows that lie inside them.
#include "common/picture_block.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    auto view = ormbrook::ReadPictureBlock(data, size);
    if (!view)
        return 0;
    const ormbrook::DibLayout& d = view->layout;
    if (view->dibOffset + view->dibBytes != size || d.bitsOffset > view->dibBytes)
        __builtin_trap();
    if (d.compression != 1 && d.compression != 2 && d.bitsOffset + d.imageBytes > view->dibBytes)
        __builtin_trap();
    // Touch every table entry and the last byte of the rows.
    uint32_t sum = 0;
    for (uint32_t i = 0; i < d.colours && i < 4096; ++i)
        sum += d.TableColour(view->dib, i);
    if (d.imageBytes > 0 && d.compression == 0)
        sum += view->dib[d.bitsOffset + d.imageBytes - 1];
    return sum == 0xFFFFFFFFu ? 1 : 0;
}
