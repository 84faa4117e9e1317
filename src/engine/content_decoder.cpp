#include "engine/content_decoder.h"

#include <brotli/decode.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>

namespace ormbrook {

struct ContentDecoder::Zlib {
    z_stream stream{};
    bool open = false;
    ~Zlib()
    {
        if (open)
            inflateEnd(&stream);
    }
};

struct ContentDecoder::Brotli {
    BrotliDecoderState* state = nullptr;
    ~Brotli()
    {
        if (state)
            BrotliDecoderDestroyInstance(state);
    }
};

namespace {
bool SameLetters(std::string_view a, std::string_view lower)
{
    if (a.size() != lower.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const char c = a[i] >= 'A' && a[i] <= 'Z' ? char(a[i] + 32) : a[i];
        if (c != lower[i])
            return false;
    }
    return true;
}
} // namespace

ContentDecoder::ContentDecoder() = default;
ContentDecoder::~ContentDecoder() = default;

void ContentDecoder::Reset()
{
    zlib_.reset();
    brotli_.reset();
    deflateRaw_ = deflateProbed_ = false;
    status_ = Status::More;
}

bool ContentDecoder::Start(std::string_view value)
{
    Reset();
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
        value.remove_prefix(1);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t' || value.back() == '\r'))
        value.remove_suffix(1);
    if (value.empty() || SameLetters(value, "identity")) {
        coding_ = Coding::Identity;
        return true;
    }
    if (SameLetters(value, "gzip") || SameLetters(value, "x-gzip"))
        coding_ = Coding::Gzip;
    else if (SameLetters(value, "deflate"))
        coding_ = Coding::Deflate;
    else if (SameLetters(value, "br"))
        coding_ = Coding::Brotli;
    else
        return false; // several codings at once, or one not asked for
    if (coding_ == Coding::Brotli) {
        brotli_ = std::make_unique<Brotli>();
        brotli_->state = BrotliDecoderCreateInstance(nullptr, nullptr, nullptr);
        return brotli_->state != nullptr;
    }
    zlib_ = std::make_unique<Zlib>();
    if (coding_ == Coding::Gzip) {
        zlib_->open = inflateInit2(&zlib_->stream, 16 + MAX_WBITS) == Z_OK;
        return zlib_->open;
    }
    return true; // deflate: the wrapper is looked at with the first bytes
}

bool ContentDecoder::hasPending() const
{
    return coding_ == Coding::Brotli && brotli_ && brotli_->state && BrotliDecoderHasMoreOutput(brotli_->state);
}

size_t ContentDecoder::Decode(const char*& in, size_t& inLeft, char* out, size_t outRoom)
{
    if (status_ != Status::More) {
        // Anything after the end of the coded stream is not the document.
        if (inLeft > 0 && coding_ != Coding::Identity)
            status_ = Status::Error;
        return 0;
    }
    switch (coding_) {
    case Coding::Identity: {
        const size_t n = std::min(inLeft, outRoom);
        std::memcpy(out, in, n);
        in += n;
        inLeft -= n;
        return n;
    }
    case Coding::Gzip:
    case Coding::Deflate:
        return Inflate(in, inLeft, out, outRoom);
    case Coding::Brotli:
        return Unbrotli(in, inLeft, out, outRoom);
    }
    return 0;
}

size_t ContentDecoder::Inflate(const char*& in, size_t& inLeft, char* out, size_t outRoom)
{
    z_stream& z = zlib_->stream;
    if (coding_ == Coding::Deflate && !deflateProbed_) {
        if (inLeft < 2)
            return 0;
        // RFC 9110 means the zlib format; some servers send bare deflate.
        const auto b0 = static_cast<unsigned char>(in[0]);
        const auto b1 = static_cast<unsigned char>(in[1]);
        deflateRaw_ = (b0 & 0x0f) != 8 || ((b0 << 8) | b1) % 31 != 0;
        deflateProbed_ = true;
        zlib_->open = inflateInit2(&z, deflateRaw_ ? -MAX_WBITS : MAX_WBITS) == Z_OK;
        if (!zlib_->open) {
            status_ = Status::Error;
            return 0;
        }
    }
    if (!zlib_->open) {
        status_ = Status::Error;
        return 0;
    }
    size_t written = 0;
    while (written < outRoom && status_ == Status::More) {
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in));
        z.avail_in = uInt(std::min<size_t>(inLeft, UINT32_MAX));
        z.next_out = reinterpret_cast<Bytef*>(out + written);
        z.avail_out = uInt(std::min<size_t>(outRoom - written, UINT32_MAX));
        const uInt inBefore = z.avail_in;
        const uInt outBefore = z.avail_out;
        const int r = inflate(&z, Z_NO_FLUSH);
        const size_t used = inBefore - z.avail_in;
        in += used;
        inLeft -= used;
        written += outBefore - z.avail_out;
        if (r == Z_STREAM_END) {
            // A gzip body may hold several members one after another.
            if (coding_ == Coding::Gzip && inLeft > 0) {
                if (inflateReset(&z) != Z_OK)
                    status_ = Status::Error;
                continue;
            }
            // Bytes after the end are no part of the document.
            status_ = inLeft > 0 ? Status::Error : Status::Done;
        } else if (r == Z_BUF_ERROR) {
            break; // needs more input, or more room
        } else if (r != Z_OK) {
            status_ = Status::Error;
        } else if (used == 0 && outBefore == z.avail_out) {
            break;
        }
    }
    return written;
}

size_t ContentDecoder::Unbrotli(const char*& in, size_t& inLeft, char* out, size_t outRoom)
{
    size_t availIn = inLeft;
    const uint8_t* nextIn = reinterpret_cast<const uint8_t*>(in);
    size_t availOut = outRoom;
    uint8_t* nextOut = reinterpret_cast<uint8_t*>(out);
    const BrotliDecoderResult r = BrotliDecoderDecompressStream(brotli_->state, &availIn, &nextIn, &availOut, &nextOut,
                                                                nullptr);
    in = reinterpret_cast<const char*>(nextIn);
    inLeft = availIn;
    if (r == BROTLI_DECODER_RESULT_SUCCESS)
        status_ = inLeft > 0 ? Status::Error : Status::Done;
    else if (r == BROTLI_DECODER_RESULT_ERROR)
        status_ = Status::Error;
    return outRoom - availOut;
}

} // namespace ormbrook
