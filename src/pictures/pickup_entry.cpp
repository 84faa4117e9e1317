#include "pictures/pickup_entry.h"

namespace ormbrook {

namespace {

void Put32(std::vector<uint8_t>& out, uint32_t v)
{
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
    out.push_back(uint8_t(v >> 16));
    out.push_back(uint8_t(v >> 24));
}

class RecordCursor {
public:
    explicit RecordCursor(std::string_view bytes) : bytes_(bytes) {}

    bool Read32(uint32_t& v)
    {
        if (bytes_.size() - pos_ < 4)
            return false;
        const auto* p = reinterpret_cast<const uint8_t*>(bytes_.data() + pos_);
        v = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
        pos_ += 4;
        return true;
    }

    bool ReadInt(int32_t& v)
    {
        uint32_t length = 0, value = 0;
        if (!Read32(length) || length != 4 || !Read32(value))
            return false;
        v = int32_t(value);
        return true;
    }

    bool ReadText(std::string& text)
    {
        uint32_t length = 0;
        if (!Read32(length) || length == 0 || length > bytes_.size() - pos_)
            return false;
        const std::string_view field = bytes_.substr(pos_, length);
        if (field.back() != '\0' || field.find('\0') != length - 1)
            return false;
        text.assign(field.substr(0, length - 1));
        pos_ += length;
        return true;
    }

    bool AtEnd() const { return pos_ == bytes_.size(); }

private:
    std::string_view bytes_;
    size_t pos_ = 0;
};

} // namespace

std::vector<uint8_t> EncodePickupRecord(const PickupEntry& e)
{
    std::vector<uint8_t> out;
    out.reserve(92 + e.caption.size() + e.path.size() + e.folder.size() + e.pageUrl.size());
    for (int32_t v : {e.bgColor, e.drawType, e.drawSpeed, e.maxDepth, e.depth, e.minWidth, e.minHeight,
             e.followImages, e.interval}) {
        Put32(out, 4);
        Put32(out, uint32_t(v));
    }
    for (const std::string* text : {&e.caption, &e.path, &e.folder, &e.pageUrl}) {
        Put32(out, uint32_t(text->size() + 1));
        out.insert(out.end(), text->begin(), text->end());
        out.push_back(0);
    }
    return out;
}

std::optional<PickupEntry> DecodePickupRecord(std::string_view record)
{
    PickupEntry e;
    RecordCursor in(record);
    for (int32_t* v : {&e.bgColor, &e.drawType, &e.drawSpeed, &e.maxDepth, &e.depth, &e.minWidth, &e.minHeight,
             &e.followImages, &e.interval})
        if (!in.ReadInt(*v))
            return std::nullopt;
    for (std::string* text : {&e.caption, &e.path, &e.folder, &e.pageUrl})
        if (!in.ReadText(*text))
            return std::nullopt;
    if (!in.AtEnd())
        return std::nullopt;
    return e;
}

} // namespace ormbrook
