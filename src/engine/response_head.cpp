#include "engine/response_head.h"

#include "engine/http_header.h"

#include <algorithm>
#include <cstring>

namespace ormbrook {

void ResponseHead::Clear()
{
    count_ = 0;
    statusLength_ = 0;
    statusLine_[0] = '\0';
    blockLength_ = 0;
    headerBlock_[0] = '\0';
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
    std::memmove(buffer_, buffer_ + count, count_ - count);
    count_ -= count;
}

bool ResponseHead::TakeStatusLine()
{
    const void* newline = std::memchr(buffer_, '\n', count_);
    if (!newline)
        return false;
    statusLength_ = static_cast<const char*>(newline) - buffer_;
    std::memcpy(statusLine_, buffer_, statusLength_);
    statusLine_[statusLength_] = '\0';
    Drop(statusLength_ + 1);
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
    blockLength_ = end->blockLength;
    std::memcpy(headerBlock_, buffer_, blockLength_);
    headerBlock_[blockLength_] = '\0';
    Drop(end->headLength);
    return true;
}

size_t ResponseHead::Take(char* out, size_t max)
{
    const size_t taken = std::min(max, count_);
    if (taken == 0)
        return 0;
    std::memcpy(out, buffer_, taken);
    Drop(taken);
    return taken;
}

} // namespace ormbrook
