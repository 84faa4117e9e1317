#include "common/queue_entry.h"

#include <cstring>

namespace ormbrook {

namespace {

void putU32(std::vector<uint8_t>& out, uint32_t v)
{
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
    out.push_back(uint8_t(v >> 16));
    out.push_back(uint8_t(v >> 24));
}

uint32_t getU32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

class FieldReader {
public:
    FieldReader(const uint8_t* data, size_t size) : p_(data), left_(size) {}

    bool readInt(int32_t& out)
    {
        const uint8_t* field;
        size_t n;
        if (!next(field, n) || n != 4)
            return false;
        out = int32_t(getU32(field));
        return true;
    }

    bool readText(std::string& out)
    {
        const uint8_t* field;
        size_t n;
        if (!next(field, n) || n == 0 || field[n - 1] != 0)
            return false;
        // A NUL inside would silently shorten the text for every reader
        // that treats it as a C string, so such a record is not ours.
        if (std::memchr(field, 0, n - 1) != nullptr)
            return false;
        out.assign(reinterpret_cast<const char*>(field), n - 1);
        return true;
    }

    bool atEnd() const { return left_ == 0; }

private:
    bool next(const uint8_t*& field, size_t& n)
    {
        if (left_ < 4)
            return false;
        n = getU32(p_);
        p_ += 4;
        left_ -= 4;
        if (n > left_)
            return false;
        field = p_;
        p_ += n;
        left_ -= n;
        return true;
    }

    const uint8_t* p_;
    size_t left_;
};

} // namespace

std::vector<uint8_t> EncodeQueueEntry(const QueueEntry& e)
{
    std::vector<uint8_t> out;
    const std::string* texts[] = {&e.folderPath, &e.recordUrl, &e.referrer, &e.url, &e.robotsUrl};
    size_t total = 6 * 8;
    for (const std::string* t : texts)
        total += 4 + t->size() + 1;
    out.reserve(total);
    for (int32_t v : {e.reserved0, e.reservedA, e.retries, e.maxDepth, e.depth, e.reservedB}) {
        putU32(out, 4);
        putU32(out, uint32_t(v));
    }
    for (const std::string* t : texts) {
        putU32(out, uint32_t(t->size() + 1));
        out.insert(out.end(), t->begin(), t->end());
        out.push_back(0);
    }
    return out;
}

std::optional<QueueEntry> DecodeQueueEntry(const uint8_t* data, size_t size)
{
    if (data == nullptr && size != 0)
        return std::nullopt;
    FieldReader in(data, size);
    QueueEntry e;
    for (int32_t* v : {&e.reserved0, &e.reservedA, &e.retries, &e.maxDepth, &e.depth, &e.reservedB}) {
        if (!in.readInt(*v))
            return std::nullopt;
    }
    for (std::string* t : {&e.folderPath, &e.recordUrl, &e.referrer, &e.url, &e.robotsUrl}) {
        if (!in.readText(*t))
            return std::nullopt;
    }
    if (!in.atEnd())
        return std::nullopt;
    return e;
}

} // namespace ormbrook
