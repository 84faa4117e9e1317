// DecodeJpegToDib against the limit: libjpeg decoding the same file to plain
// RGB rows in memory, with nothing else done. Both read the same file from
// disk (the page cache after the first run). Pictures are photo-like (smooth
// gradients with grain) and made here, at 12 and 0.3 megapixels.
#include "pictures/jpeg_decode.h"

#include <benchmark/benchmark.h>

#include <jpeglib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using namespace ormbrook;

namespace {

std::string MakePhoto(int width, int height)
{
    const std::string path = (std::filesystem::temp_directory_path()
        / ("ormbrook_bench_" + std::to_string(width) + "x" + std::to_string(height) + ".jpg")).string();
    if (std::filesystem::exists(path))
        return path;

    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    jpeg_mem_dest(&cinfo, &out, &outSize);
    cinfo.image_width = JDIMENSION(width);
    cinfo.image_height = JDIMENSION(height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 90, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<uint8_t> row(size_t(width) * 3);
    uint32_t noise = 12345;
    while (cinfo.next_scanline < cinfo.image_height) {
        const double fy = double(cinfo.next_scanline) / height;
        for (int x = 0; x < width; ++x) {
            const double fx = double(x) / width;
            noise = noise * 1664525u + 1013904223u;
            const int grain = int(noise >> 29) - 4;
            const double shade = 0.5 + 0.5 * std::sin(fx * 9.0 + std::cos(fy * 7.0) * 2.0);
            row[3 * x + 0] = uint8_t(std::clamp(int(200 * shade + 40 * fy) + grain, 0, 255));
            row[3 * x + 1] = uint8_t(std::clamp(int(150 * (1 - fx) * shade + 60) + grain, 0, 255));
            row[3 * x + 2] = uint8_t(std::clamp(int(255 * fy * (1 - shade) + 20) + grain, 0, 255));
        }
        JSAMPROW p = row.data();
        jpeg_write_scanlines(&cinfo, &p, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(out), std::streamsize(outSize));
    std::free(out);
    return path;
}

// The limit: the same library from the same file into one RGB buffer, rows
// handed out in batches, no header, no padding, no reordering.
size_t PlainRgbDecode(const std::string& path)
{
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return 0;
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, f);
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    const size_t rowBytes = size_t(cinfo.output_width) * 3;
    std::vector<uint8_t> rgb(rowBytes * cinfo.output_height);
    JSAMPROW rows[16];
    while (cinfo.output_scanline < cinfo.output_height) {
        const JDIMENSION first = cinfo.output_scanline;
        const JDIMENSION n = std::min<JDIMENSION>(16, cinfo.output_height - first);
        for (JDIMENSION i = 0; i < n; ++i)
            rows[i] = rgb.data() + (first + i) * rowBytes;
        jpeg_read_scanlines(&cinfo, rows, n);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    std::fclose(f);
    benchmark::DoNotOptimize(rgb.data());
    return rgb.size();
}

void SetRate(benchmark::State& state, int w, int h)
{
    state.counters["MP/s"] = benchmark::Counter(double(w) * h / 1e6 * double(state.iterations()),
        benchmark::Counter::kIsRate);
}

void BM_DecodeJpegToDib(benchmark::State& state)
{
    const int w = int(state.range(0)), h = int(state.range(1));
    const std::string path = MakePhoto(w, h);
    for (auto _ : state) {
        DibBlock dib = DecodeJpegToDib(path);
        if (!dib)
            state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(dib.data());
    }
    SetRate(state, w, h);
}

void BM_LibjpegPlainRgb(benchmark::State& state)
{
    const int w = int(state.range(0)), h = int(state.range(1));
    const std::string path = MakePhoto(w, h);
    for (auto _ : state) {
        if (PlainRgbDecode(path) == 0)
            state.SkipWithError("decode failed");
    }
    SetRate(state, w, h);
}

} // namespace

// 4000 x 3000 = 12 MP; 640 x 480 = 0.3 MP.
BENCHMARK(BM_DecodeJpegToDib)->Args({4000, 3000})->Args({640, 480})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LibjpegPlainRgb)->Args({4000, 3000})->Args({640, 480})->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
