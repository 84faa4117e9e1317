#include "engine/response_head.h"

#include "engine/http_header.h"

#include <algorithm>
#include <cstring>

namespace ormbrook {

void ResponseHead::Clear()
{
    count_ = 0;
    statusLine_.clear();
    headerBlock_.clear();
}

char* ResponseHead::space()
{
    if (!buffer_)
        buffer_ = std::make_unique_for_overwrite<char[]>(kBufferSize);
    return buffer_.get() + count_;
}

void ResponseHead::Commit(size_t count)
{
    count_ += std::min(count, spaceLeft());
}

size_t ResponseHead::Append(std::string_view bytes)
{
    const size_t taken = std::min(bytes.size(), spaceLeft());
    if (taken == 0)
        return 0;
    std::memcpy(space(), bytes.data(), taken);
    count_ += taken;
    return taken;
}

void ResponseHead::Drop(size_t count)
{
    count = std::min(count, count_);
    if (count < count_)
        std::memmove(buffer_.get(), buffer_.get() + count, count_ - count);
    count_ -= count;
}

bool ResponseHead::TakeStatusLine()
{
    if (count_ == 0)
        return false;
    const void* newline = std::memchr(buffer_.get(), '\n', std::min(count_, kMaxLine + 1));
    if (!newline)
        return false;
    const size_t length = size_t(static_cast<const char*>(newline) - buffer_.get());
    statusLine_.assign(buffer_.get(), length);
    Drop(length + 1);
    return true;
}

bool ResponseHead::HeaderEndFound() const
{
    return FindHeadEnd(buffered()).has_value();
}

bool ResponseHead::SplitHead()
{
    const std::optional<HeadEnd> end = FindHeadEnd(buffered());
    if (!end)
        return false;
    headerBlock_.assign(buffer_.get(), end->blockLength);
    Drop(end->headLength);
    return true;
}

const char* ResponseHead::TooLong(bool statusLineTaken) const
{
    const std::string_view bytes = buffered();
    if (!statusLineTaken)
        return bytes.size() > kMaxLine && bytes.substr(0, kMaxLine + 1).find('\n') == std::string_view::npos
            ? "status line longer than 16 KB"
            : nullptr;
    if (FindHeadEnd(bytes))
        return nullptr;
    if (full())
        return "response head longer than 64 KB";
    size_t start = 0;
    while (start < bytes.size()) {
        const size_t end = bytes.find('\n', start);
        const size_t length = (end == std::string_view::npos ? bytes.size() : end) - start;
        if (length > kMaxLine)
            return "header line longer than 16 KB";
        if (end == std::string_view::npos)
            break;
        start = end + 1;
    }
    return nullptr;
}

size_t ResponseHead::Take(char* out, size_t max)
{
    const size_t taken = std::min(max, count_);
    if (taken == 0)
        return 0;
    std::memcpy(out, buffer_.get(), taken);
    Drop(taken);
    return taken;
}

} // namespace ormbrook
