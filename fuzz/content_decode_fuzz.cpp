// A compressed body of any bytes, in each coding, fed in pieces as it comes
// off a socket and decoded into a small room: the decoder must end in
// Done or Error or want more, never write past its room, and always move on.
#include "engine/content_decoder.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string_view>

using namespace ormbrook;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    for (const char* coding : {"gzip", "deflate", "br", "identity", "x-unknown"}) {
        ContentDecoder decoder;
        if (!decoder.Start(coding))
            continue;
        char room[4096];
        size_t at = 0;
        size_t produced = 0;
        int idle = 0;
        while ((at < input.size() || decoder.hasPending()) && decoder.status() == ContentDecoder::Status::More) {
            const size_t piece = std::min(input.size() - at, size_t(1 + (at < input.size() ? data[at] : 0)));
            const char* in = input.data() + at;
            size_t left = piece;
            const size_t out = decoder.Decode(in, left, room, sizeof room);
            if (out > sizeof room || left > piece || in != input.data() + at + (piece - left))
                std::abort();
            at += piece - left;
            produced += out;
            idle = out == 0 && left == piece ? idle + 1 : 0;
            if (idle > 2 || produced > (size_t(64) << 20))
                break; // wants more than there is, or a bomb: the transfer's room bounds it anyway
        }
    }
    return 0;
}
