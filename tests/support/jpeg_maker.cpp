#include "support/jpeg_maker.h"

#include <algorithm>
#include <csetjmp>
#include <cstdlib>
#include <cstdio>
#include <fstream>
#include <stdexcept>

#include <jpeglib.h>

namespace ormbrook::test {

namespace {

struct Err {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

void ErrExit(j_common_ptr cinfo) { std::longjmp(reinterpret_cast<Err*>(cinfo->err)->jump, 1); }
void Quiet(j_common_ptr) {}

} // namespace

std::vector<uint8_t> EncodeJpeg(const JpegParams& params, const std::vector<uint8_t>& pixels)
{
    jpeg_compress_struct cinfo;
    Err err;
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = ErrExit;
    err.pub.output_message = Quiet;
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&cinfo);
        std::free(out);
        return {};
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, &out, &outSize);
    cinfo.image_width = JDIMENSION(params.width);
    cinfo.image_height = JDIMENSION(params.height);
    switch (params.colours) {
    case JpegColours::Grey:
        cinfo.input_components = 1;
        cinfo.in_color_space = JCS_GRAYSCALE;
        break;
    case JpegColours::Rgb:
        cinfo.input_components = 3;
        cinfo.in_color_space = JCS_RGB;
        break;
    case JpegColours::CmykAdobe:
        cinfo.input_components = 4;
        cinfo.in_color_space = JCS_CMYK;
        break;
    }
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, params.quality, TRUE);
    if (params.progressive)
        jpeg_simple_progression(&cinfo);
    cinfo.restart_in_rows = params.restartRows;
    jpeg_start_compress(&cinfo, TRUE);
    const size_t rowBytes = size_t(params.width) * size_t(cinfo.input_components);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<uint8_t*>(pixels.data()) + cinfo.next_scanline * rowBytes;
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::vector<uint8_t> bytes(out, out + outSize);
    std::free(out);
    return bytes;
}

std::vector<uint8_t> PatternPixels(int width, int height, int components, uint32_t seed)
{
    std::vector<uint8_t> pixels(size_t(width) * size_t(height) * size_t(components));
    uint32_t state = seed * 2654435761u + 1;
    size_t i = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < components; ++c) {
                state = state * 1664525u + 1013904223u;
                int v = (x * 255) / std::max(1, width - 1) * (c % 2 ? 1 : -1) + (y * 200) / std::max(1, height - 1)
                    + c * 60 + int(state >> 28);
                pixels[i++] = uint8_t(((v % 256) + 256) % 256);
            }
        }
    }
    return pixels;
}

RgbImage ReferenceDecodeRgb(const std::vector<uint8_t>& jpeg)
{
    RgbImage image;
    jpeg_decompress_struct cinfo;
    Err err;
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = ErrExit;
    err.pub.output_message = Quiet;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return RgbImage{};
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    image.width = int(cinfo.output_width);
    image.height = int(cinfo.output_height);
    image.rgb.resize(size_t(image.width) * size_t(image.height) * 3);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = image.rgb.data() + size_t(cinfo.output_scanline) * size_t(image.width) * 3;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    image.ok = true;
    return image;
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

void WriteSolidJpeg(const std::string& path, int width, int height, uint8_t red, uint8_t green, uint8_t blue)
{
    std::vector<uint8_t> pixels(size_t(width) * size_t(height) * 3);
    for (size_t i = 0; i < pixels.size(); i += 3) {
        pixels[i] = red;
        pixels[i + 1] = green;
        pixels[i + 2] = blue;
    }
    JpegParams params;
    params.width = width;
    params.height = height;
    params.quality = 95;
    WriteFile(path, EncodeJpeg(params, pixels));
}

} // namespace ormbrook::test
