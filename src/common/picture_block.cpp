#include "common/picture_block.h"

#include <cstring>
#include <limits>

namespace ormbrook {

namespace {

void Put32(uint8_t* p, int32_t value)
{
    const uint32_t v = uint32_t(value);
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

int32_t Get32(const uint8_t* p)
{
    return int32_t(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24);
}

// The text that starts at `at` and its NUL, or nothing when no NUL comes
// before the end.
std::optional<std::string_view> TextAt(const uint8_t* block, size_t size, size_t& at)
{
    if (at >= size)
        return std::nullopt;
    const void* nul = std::memchr(block + at, 0, size - at);
    if (!nul)
        return std::nullopt;
    const size_t length = size_t(static_cast<const uint8_t*>(nul) - (block + at));
    std::string_view text(reinterpret_cast<const char*>(block + at), length);
    at += length + 1;
    return text;
}

} // namespace

size_t PictureBlockSize(const PictureBlockTexts& texts, size_t dibBytes)
{
    if (dibBytes == 0)
        return 0;
    size_t total = kPictureBlockHeaderBytes;
    for (std::string_view t : {texts.caption, texts.path, texts.folder, texts.pageUrl}) {
        if (t.find('\0') != std::string_view::npos)
            return 0;
        total += t.size() + 1;
    }
    if (dibBytes > std::numeric_limits<uint32_t>::max() - total)
        return 0;
    return total + dibBytes;
}

size_t WritePictureBlockHead(uint8_t* block, size_t size, const PictureBlockHeader& header,
                             const PictureBlockTexts& texts)
{
    if (!block || size < kPictureBlockHeaderBytes)
        return 0;
    Put32(block, header.bgColor);
    Put32(block + 4, header.drawType);
    Put32(block + 8, header.drawSpeed);
    Put32(block + 12, header.reserved);
    size_t at = kPictureBlockHeaderBytes;
    for (std::string_view t : {texts.caption, texts.path, texts.folder, texts.pageUrl}) {
        if (t.size() + 1 > size - at)
            return 0;
        std::memcpy(block + at, t.data(), t.size());
        block[at + t.size()] = 0;
        at += t.size() + 1;
    }
    return at;
}

std::optional<PictureBlockView> ReadPictureBlock(const uint8_t* block, size_t size)
{
    if (!block || size < kPictureBlockHeaderBytes)
        return std::nullopt;
    PictureBlockView view;
    view.header.bgColor = Get32(block);
    view.header.drawType = Get32(block + 4);
    view.header.drawSpeed = Get32(block + 8);
    view.header.reserved = Get32(block + 12);
    size_t at = kPictureBlockHeaderBytes;
    std::string_view* fields[] = {&view.texts.caption, &view.texts.path, &view.texts.folder, &view.texts.pageUrl};
    for (std::string_view* field : fields) {
        auto text = TextAt(block, size, at);
        if (!text)
            return std::nullopt;
        *field = *text;
    }
    if (at >= size)
        return std::nullopt;
    view.dibOffset = at;
    view.dib = block + at;
    view.dibBytes = size - at;
    auto layout = ParseDibLayout(view.dib, view.dibBytes);
    if (!layout)
        return std::nullopt;
    view.layout = *layout;
    return view;
}

} // namespace ormbrook
