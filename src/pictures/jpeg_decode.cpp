#include "pictures/jpeg_decode.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <mutex>

#include <jpeglib.h>

namespace ormbrook {

namespace {

std::mutex g_sinkMutex;
JpegMessageSink g_sink;

void Report(std::string_view message)
{
    JpegMessageSink sink;
    {
        std::lock_guard lock(g_sinkMutex);
        sink = g_sink;
    }
    if (sink)
        sink(message);
    else
        std::fwrite(message.data(), 1, message.size(), stderr);
}

// The standard error manager with its exit replaced by a jump back into the
// function that set it up. libjpeg's own message is formatted and dropped:
// a picture that can't be read is skipped, not reported.
struct ReturningErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

[[noreturn]] void ErrorExit(j_common_ptr cinfo)
{
    char buffer[JMSG_LENGTH_MAX];
    static_assert(JMSG_LENGTH_MAX == 200);
    (*cinfo->err->format_message)(cinfo, buffer);
    std::longjmp(reinterpret_cast<ReturningErrorManager*>(cinfo->err)->jump, 1);
}

// Warnings (a cut-off file, a bad restart marker) would otherwise go to
// standard error from whatever thread decodes.
void DropMessage(j_common_ptr cinfo)
{
    char buffer[JMSG_LENGTH_MAX];
    (*cinfo->err->format_message)(cinfo, buffer);
}

void InstallErrorManager(jpeg_decompress_struct& cinfo, ReturningErrorManager& err)
{
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = ErrorExit;
    err.pub.output_message = DropMessage;
}

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// Everything the decode loop leaves behind lives here, outside the frame that
// calls setjmp, so nothing needs to be volatile and a jump loses nothing.
struct DecodeState {
    const std::function<uint8_t*(size_t)>* place = nullptr;
    uint8_t* dib = nullptr;
    std::unique_ptr<uint8_t[]> scratch;
};

// Converts one CMYK row (as libjpeg hands it out, YCCK already turned into
// CMYK) into BGR. Adobe writers store the inks inverted, which is what the
// Adobe marker tells us; without it the values are plain ink amounts.
void CmykRowToBgr(const uint8_t* in, uint8_t* out, JDIMENSION width, bool inverted)
{
    for (JDIMENSION x = 0; x < width; ++x, in += 4, out += 3) {
        unsigned c = in[0], m = in[1], y = in[2], k = in[3];
        if (!inverted) {
            c = 255 - c;
            m = 255 - m;
            y = 255 - y;
            k = 255 - k;
        }
        out[0] = uint8_t((y * k + 127) / 255);
        out[1] = uint8_t((m * k + 127) / 255);
        out[2] = uint8_t((c * k + 127) / 255);
    }
}

// Components that are neither grey, RGB nor CMYK: the first one is taken as
// brightness, which at least shows the picture's shapes.
void OtherRowToBgr(const uint8_t* in, uint8_t* out, JDIMENSION width, int components)
{
    for (JDIMENSION x = 0; x < width; ++x, in += components, out += 3) {
        if (components == 3) {
            out[0] = in[2];
            out[1] = in[1];
            out[2] = in[0];
        } else {
            out[0] = out[1] = out[2] = in[0];
        }
    }
}

void WriteHeader(uint8_t* p, int32_t width, int32_t height)
{
    auto put32 = [&p](uint32_t v) {
        p[0] = uint8_t(v);
        p[1] = uint8_t(v >> 8);
        p[2] = uint8_t(v >> 16);
        p[3] = uint8_t(v >> 24);
        p += 4;
    };
    auto put16 = [&p](uint16_t v) {
        p[0] = uint8_t(v);
        p[1] = uint8_t(v >> 8);
        p += 2;
    };
    put32(40);
    put32(uint32_t(width));
    put32(uint32_t(height));
    put16(1);  // planes
    put16(24); // bits per pixel
    put32(0);  // uncompressed
    put32(0);  // image size (may be 0 when uncompressed)
    put32(0);  // horizontal resolution
    put32(0);  // vertical resolution
    put32(0);  // colours used
    put32(0);  // colours important
}

// Returns true when the picture was decoded into state.block. Called with a
// decompressor whose error manager jumps back here.
bool DecodeInto(jpeg_decompress_struct& cinfo, ReturningErrorManager& err, FILE* file, DecodeState& state)
{
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, file);
    jpeg_read_header(&cinfo, TRUE);

    // A few hundred bytes of header can claim 65500 x 65500 pixels; a picture
    // whose DIB would pass the limit is refused before anything is allocated.
    if (kDibHeaderSize + DibStride(cinfo.image_width) * size_t(cinfo.image_height) > kMaxDibBytes) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }

    // Ask libjpeg for the final byte order where it can give it, so that each
    // row is written once, straight into its place in the DIB.
    enum class Path { Direct, Cmyk, Other } path = Path::Direct;
    switch (cinfo.jpeg_color_space) {
    case JCS_GRAYSCALE:
    case JCS_YCbCr:
    case JCS_RGB:
#ifdef JCS_EXTENSIONS
        cinfo.out_color_space = JCS_EXT_BGR;
#else
        cinfo.out_color_space = JCS_RGB;
#endif
        break;
    case JCS_CMYK:
    case JCS_YCCK:
        cinfo.out_color_space = JCS_CMYK;
        path = Path::Cmyk;
        break;
    default:
        path = Path::Other;
        break;
    }
    cinfo.quantize_colors = FALSE;
    cinfo.desired_number_of_colors = 0;
    jpeg_start_decompress(&cinfo);

    const JDIMENSION width = cinfo.output_width;
    const JDIMENSION height = cinfo.output_height;
    const size_t stride = DibStride(width);
    state.dib = (*state.place)(kDibHeaderSize + stride * size_t(height));
    if (!state.dib) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    uint8_t* const pixels = state.dib + kDibHeaderSize;
    WriteHeader(state.dib, int32_t(width), int32_t(height));

    if (path == Path::Direct) {
        // A handful of row pointers per call lets libjpeg hand out a whole
        // MCU row at once; each points at the row's bottom-up place.
        constexpr JDIMENSION kBatch = 16;
        JSAMPROW rows[kBatch];
        while (cinfo.output_scanline < height) {
            const JDIMENSION first = cinfo.output_scanline;
            const JDIMENSION count = std::min<JDIMENSION>(kBatch, height - first);
            for (JDIMENSION i = 0; i < count; ++i)
                rows[i] = pixels + size_t(height - 1 - (first + i)) * stride;
            jpeg_read_scanlines(&cinfo, rows, count);
        }
#ifndef JCS_EXTENSIONS
        for (JDIMENSION y = 0; y < height; ++y) {
            uint8_t* p = pixels + size_t(y) * stride;
            for (JDIMENSION x = 0; x < width; ++x, p += 3)
                std::swap(p[0], p[2]);
        }
#endif
    } else {
        const int components = cinfo.output_components;
        state.scratch.reset(new uint8_t[size_t(width) * size_t(components)]);
        JSAMPROW row = state.scratch.get();
        const bool inverted = cinfo.saw_Adobe_marker;
        while (cinfo.output_scanline < height) {
            const JDIMENSION n = cinfo.output_scanline;
            jpeg_read_scanlines(&cinfo, &row, 1);
            uint8_t* out = pixels + size_t(height - 1 - n) * stride;
            if (path == Path::Cmyk && components == 4)
                CmykRowToBgr(row, out, width, inverted);
            else
                OtherRowToBgr(row, out, width, components);
        }
    }

    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

bool ReadHeaderInto(jpeg_decompress_struct& cinfo, ReturningErrorManager& err, FILE* file, JpegSize& size)
{
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, file);
    jpeg_read_header(&cinfo, TRUE);
    size.width = int(cinfo.image_width);
    size.height = int(cinfo.image_height);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

} // namespace

DibBlock DibBlock::Allocate(size_t size)
{
    DibBlock block;
    block.data_.reset(static_cast<uint8_t*>(std::calloc(size, 1)));
    block.size_ = block.data_ ? size : 0;
    return block;
}

static int32_t ReadLe32(const uint8_t* p)
{
    return int32_t(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24);
}

int32_t DibBlock::width() const { return size_ >= kDibHeaderSize ? ReadLe32(data_.get() + 4) : 0; }
int32_t DibBlock::height() const { return size_ >= kDibHeaderSize ? ReadLe32(data_.get() + 8) : 0; }
size_t DibBlock::stride() const { return DibStride(size_t(width())); }

const uint8_t* DibBlock::row(int32_t bottomUpIndex) const
{
    return data_.get() + kDibHeaderSize + size_t(bottomUpIndex) * stride();
}

void SetJpegMessageSink(JpegMessageSink sink)
{
    std::lock_guard lock(g_sinkMutex);
    g_sink = std::move(sink);
}

JpegSize ReadJpegSize(const std::string& path)
{
    JpegSize size;
    FilePtr file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        Report("JPEG :\nCan't open " + path + "\n");
        return size;
    }
    jpeg_decompress_struct cinfo;
    ReturningErrorManager err;
    InstallErrorManager(cinfo, err);
    size.ok = ReadHeaderInto(cinfo, err, file.get(), size);
    if (!size.ok)
        size.width = size.height = 0;
    return size;
}

bool DecodeJpegInto(const std::string& path, const std::function<uint8_t*(size_t dibBytes)>& place)
{
    FilePtr file(std::fopen(path.c_str(), "rb"));
    if (!file)
        return false;
    jpeg_decompress_struct cinfo;
    ReturningErrorManager err;
    InstallErrorManager(cinfo, err);
    DecodeState state;
    state.place = &place;
    return DecodeInto(cinfo, err, file.get(), state);
}

DibBlock DecodeJpegToDib(const std::string& path)
{
    DibBlock block;
    const bool ok = DecodeJpegInto(path, [&block](size_t size) {
        block = DibBlock::Allocate(size);
        return block.data();
    });
    return ok ? std::move(block) : DibBlock();
}

} // namespace ormbrook
