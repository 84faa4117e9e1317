// Frames from another program's connection: cut into pieces at the first
// byte's say, the reader must never read past what it was given nor keep
// more than one frame's worth.
#include "platform/program_channel.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ormbrook::FrameReader reader;
    const size_t chunk = size > 0 ? (data[0] % 16) + 1 : 1;
    for (size_t at = 0; at < size; at += chunk) {
        const size_t n = size - at < chunk ? size - at : chunk;
        reader.Feed(reinterpret_cast<const char*>(data) + at, n);
        while (auto frame = reader.Next()) {
            if (frame->text.size() > ormbrook::kMaxFrameText)
                __builtin_trap();
        }
    }
    return 0;
}
