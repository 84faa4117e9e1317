// The JPEG size check and decode on arbitrary file contents (pictures come from
// any web site): no crash, no leak, and a DIB that agrees with its own header
// and with the size check.
#include "pictures/jpeg_decode.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace ormbrook;
    static const std::string path = "/tmp/ormbrook_jpeg_fuzz_" + std::to_string(getpid()) + ".jpg";
    static const bool quiet = (SetJpegMessageSink([](std::string_view) {}), true);
    (void)quiet;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);

    const JpegSize header = ReadJpegSize(path);
    // Large claimed sizes are legitimate and only cost time here; the decoder's
    // own limit is checked by the tests.
    if (header.ok && uint64_t(header.width) * uint64_t(header.height) > (uint64_t(1) << 22)) {
        std::remove(path.c_str());
        return 0;
    }
    const DibBlock dib = DecodeJpegToDib(path);
    if (dib) {
        if (!header.ok || dib.width() != header.width || dib.height() != header.height
            || dib.size() != kDibHeaderSize + dib.stride() * size_t(dib.height()))
            std::abort();
    }
    std::remove(path.c_str());
    return 0;
}
