#pragma once
// JPEG pictures through libjpeg's own decompression interface: the size check
// used by the folder and page walks (header only), and the decode into the
// packed 24-bit DIB that the picture handoff carries to the viewers.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace ormbrook {

constexpr size_t kDibHeaderSize = 40;
// Largest DIB the decoder makes (about 350 megapixels): far above any photo,
// and well inside the 32-bit size of the block that carries it to a viewer.
constexpr size_t kMaxDibBytes = size_t(1) << 30;

// A zero-filled block holding a BITMAPINFOHEADER followed by bottom-up BGR
// rows, each padded to a multiple of four bytes. The block is allocated with
// calloc so that a large picture's zero fill comes from fresh pages for free.
class DibBlock {
public:
    DibBlock() = default;
    static DibBlock Allocate(size_t size);

    explicit operator bool() const { return data_ != nullptr; }
    uint8_t* data() { return data_.get(); }
    const uint8_t* data() const { return data_.get(); }
    size_t size() const { return size_; }

    int32_t width() const;
    int32_t height() const;
    // Bytes per row including the padding.
    size_t stride() const;
    const uint8_t* row(int32_t bottomUpIndex) const;

private:
    struct Free {
        void operator()(uint8_t* p) const { std::free(p); }
    };
    std::unique_ptr<uint8_t, Free> data_;
    size_t size_ = 0;
};

struct JpegSize {
    bool ok = false;
    int width = 0;
    int height = 0;
};

// Where ReadJpegSize's "can't open" message goes. The desktop program shows it
// in a message box; the default writes it to standard error. An empty
// function restores the default.
using JpegMessageSink = std::function<void(std::string_view message)>;
void SetJpegMessageSink(JpegMessageSink sink);

// Row bytes of a 24-bit DIB row of the given width (padded to four bytes).
inline size_t DibStride(size_t width) { return (width * 3 + 3) & ~size_t(3); }

// Reads the header only. A file that cannot be opened costs a message through
// the sink; a file libjpeg refuses fails silently.
JpegSize ReadJpegSize(const std::string& path);

// Decodes the whole picture; an empty block on any failure (no message).
DibBlock DecodeJpegToDib(const std::string& path);

// Decodes the whole picture into memory the caller places: `place` is told
// the DIB's size once the header is read and returns where it goes (zero
// filled, as the padding is not written), or null to give up. The picture
// handoff decodes straight into the shared block this way. False on any
// failure.
bool DecodeJpegInto(const std::string& path, const std::function<uint8_t*(size_t dibBytes)>& place);

} // namespace ormbrook
