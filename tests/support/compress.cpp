#include "support/compress.h"

#include <brotli/encode.h>
#include <zlib.h>

namespace ormbrook::test {

std::string Compressed(Coding coding, const std::string& text)
{
    if (coding == Coding::Brotli) {
        std::string out(BrotliEncoderMaxCompressedSize(text.size()) + 16, '\0');
        size_t size = out.size();
        BrotliEncoderCompress(BROTLI_DEFAULT_QUALITY, BROTLI_DEFAULT_WINDOW, BROTLI_MODE_TEXT, text.size(),
                              reinterpret_cast<const uint8_t*>(text.data()), &size, reinterpret_cast<uint8_t*>(out.data()));
        out.resize(size);
        return out;
    }
    z_stream z{};
    const int bits = coding == Coding::Gzip ? 16 + MAX_WBITS : coding == Coding::Deflate ? MAX_WBITS : -MAX_WBITS;
    deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, bits, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, uLong(text.size())) + 32, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    z.avail_in = uInt(text.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = uInt(out.size());
    deflate(&z, Z_FINISH);
    out.resize(out.size() - z.avail_out);
    deflateEnd(&z);
    return out;
}

} // namespace ormbrook::test
