#include "engine/body_framing.h"

#include <algorithm>
#include <cstring>

namespace ormbrook {

namespace {
int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}
} // namespace

void BodyFraming::Reset(Kind kind, int64_t length)
{
    kind_ = kind;
    chunk_ = Chunk::Size;
    sizeDigit_ = false;
    lineLength_ = 0;
    left_ = kind == Kind::Length ? std::max<int64_t>(length, 0) : 0;
    status_ = kind == Kind::None || (kind == Kind::Length && left_ == 0) ? Status::Done : Status::More;
}

size_t BodyFraming::Decode(char* data, size_t size, size_t& used)
{
    used = 0;
    if (status_ != Status::More)
        return 0;
    switch (kind_) {
    case Kind::None:
        return 0;
    case Kind::Close:
        used = size;
        return size;
    case Kind::Length: {
        const size_t n = size_t(std::min<int64_t>(left_, int64_t(size)));
        left_ -= int64_t(n);
        used = n;
        if (left_ == 0)
            status_ = Status::Done;
        return n;
    }
    case Kind::Chunked:
        break;
    }

    size_t out = 0;
    size_t i = 0;
    auto fail = [&] {
        status_ = Status::Error;
        used = i;
        return out;
    };
    while (i < size && status_ == Status::More) {
        const char c = data[i];
        switch (chunk_) {
        case Chunk::Size: {
            const int v = HexValue(c);
            if (v >= 0) {
                if (left_ > (INT64_MAX >> 4))
                    return fail();
                left_ = left_ * 16 + v;
                sizeDigit_ = true;
                ++i;
                break;
            }
            if (!sizeDigit_)
                return fail();
            chunk_ = c == '\r' ? Chunk::SizeLf : c == '\n' ? Chunk::SizeLf : Chunk::Extension;
            if (c != '\n') {
                lineLength_ = 0;
                ++i;
            }
            break;
        }
        case Chunk::Extension:
            // ";name=value" after the size: read and dropped.
            if (c == '\n') {
                chunk_ = Chunk::SizeLf;
                break;
            }
            if (++lineLength_ > kMaxLine)
                return fail();
            ++i;
            break;
        case Chunk::SizeLf:
            if (c == '\r') {
                ++i;
                break;
            }
            if (c != '\n')
                return fail();
            ++i;
            sizeDigit_ = false;
            lineLength_ = 0;
            chunk_ = left_ == 0 ? Chunk::Trailer : Chunk::Data;
            break;
        case Chunk::Data: {
            const size_t n = size_t(std::min<int64_t>(left_, int64_t(size - i)));
            if (out != i)
                std::memmove(data + out, data + i, n);
            out += n;
            i += n;
            left_ -= int64_t(n);
            if (left_ == 0)
                chunk_ = Chunk::DataCr;
            break;
        }
        case Chunk::DataCr:
            if (c == '\r') {
                chunk_ = Chunk::DataLf;
                ++i;
                break;
            }
            chunk_ = Chunk::DataLf;
            break;
        case Chunk::DataLf:
            if (c != '\n')
                return fail();
            ++i;
            chunk_ = Chunk::Size;
            break;
        case Chunk::Trailer:
            // A trailer field line, or the empty line that ends the body.
            if (c == '\r') {
                ++i;
                chunk_ = Chunk::TrailerLf;
                break;
            }
            if (c == '\n') {
                ++i;
                if (lineLength_ == 0) {
                    status_ = Status::Done;
                    break;
                }
                lineLength_ = 0;
                break;
            }
            if (++lineLength_ > kMaxLine)
                return fail();
            ++i;
            break;
        case Chunk::TrailerLf:
            if (c != '\n')
                return fail();
            ++i;
            if (lineLength_ == 0) {
                status_ = Status::Done;
                break;
            }
            lineLength_ = 0;
            chunk_ = Chunk::Trailer;
            break;
        }
    }
    used = i;
    return out;
}

} // namespace ormbrook
