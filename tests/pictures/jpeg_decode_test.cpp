#include "pictures/jpeg_decode.h"

#include "support/jpeg_maker.h"
#include "support/scratch_dir.h"

#include <gtest/gtest.h>

#include <algorithm>


using namespace ormbrook;
using namespace ormbrook::test;

namespace {

int ComponentsOf(JpegColours c)
{
    return c == JpegColours::Grey ? 1 : c == JpegColours::Rgb ? 3 : 4;
}

// The exact block the viewers expect, built from libjpeg's own RGB decode.
std::vector<uint8_t> ExpectedDib(const RgbImage& ref)
{
    const size_t stride = (size_t(ref.width) * 3 + 3) / 4 * 4;
    std::vector<uint8_t> dib(40 + stride * size_t(ref.height), 0);
    uint8_t* h = dib.data();
    auto put = [](uint8_t* p, uint32_t v, int n) {
        for (int i = 0; i < n; ++i)
            p[i] = uint8_t(v >> (8 * i));
    };
    put(h + 0, 40, 4);
    put(h + 4, uint32_t(ref.width), 4);
    put(h + 8, uint32_t(ref.height), 4);
    put(h + 12, 1, 2);
    put(h + 14, 24, 2);
    for (int y = 0; y < ref.height; ++y) {
        const uint8_t* in = ref.rgb.data() + size_t(y) * size_t(ref.width) * 3;
        uint8_t* out = dib.data() + 40 + size_t(ref.height - 1 - y) * stride;
        for (int x = 0; x < ref.width; ++x) {
            out[3 * x + 0] = in[3 * x + 2];
            out[3 * x + 1] = in[3 * x + 1];
            out[3 * x + 2] = in[3 * x + 0];
        }
    }
    return dib;
}

const uint8_t kSof0[] = {0xFF, 0xC0};

std::vector<uint8_t> Bytes(const DibBlock& b) { return std::vector<uint8_t>(b.data(), b.data() + b.size()); }

struct Decodable {
    const char* name;
    JpegParams params;
};

class DecodableJpeg : public ::testing::TestWithParam<Decodable> {};

} // namespace

TEST_P(DecodableJpeg, GivesTheExactDibOfTheReferenceDecode)
{
    const JpegParams& params = GetParam().params;
    ScratchDir dir;
    const auto jpeg = EncodeJpeg(params, PatternPixels(params.width, params.height, ComponentsOf(params.colours)));
    ASSERT_FALSE(jpeg.empty());
    const std::string path = dir.file("p.jpg");
    WriteFile(path, jpeg);

    const RgbImage ref = ReferenceDecodeRgb(jpeg);
    ASSERT_TRUE(ref.ok);

    const JpegSize size = ReadJpegSize(path);
    EXPECT_TRUE(size.ok);
    EXPECT_EQ(size.width, params.width);
    EXPECT_EQ(size.height, params.height);

    const DibBlock dib = DecodeJpegToDib(path);
    ASSERT_TRUE(dib);
    EXPECT_EQ(dib.size(), 40 + size_t(params.height) * ((size_t(params.width) * 3 + 3) / 4 * 4));
    EXPECT_EQ(Bytes(dib), ExpectedDib(ref));
}

INSTANTIATE_TEST_SUITE_P(Pictures, DecodableJpeg,
    ::testing::Values(
        Decodable{"grey_3x2", {3, 2, JpegColours::Grey}},
        Decodable{"grey_width_1", {1, 9, JpegColours::Grey}},
        Decodable{"grey_width_5", {5, 4, JpegColours::Grey}},
        Decodable{"grey_width_7", {7, 3, JpegColours::Grey}},
        Decodable{"colour_width_1", {1, 1, JpegColours::Rgb}},
        Decodable{"colour_width_3", {3, 5, JpegColours::Rgb}},
        Decodable{"colour_width_5", {5, 17, JpegColours::Rgb}},
        Decodable{"colour_width_7", {7, 7, JpegColours::Rgb}},
        Decodable{"colour_many_mcu_rows", {64, 70, JpegColours::Rgb}},
        Decodable{"colour_progressive", {37, 29, JpegColours::Rgb, true}},
        Decodable{"grey_progressive", {13, 11, JpegColours::Grey, true}},
        Decodable{"colour_restart_every_row", {45, 50, JpegColours::Rgb, false, 1}},
        Decodable{"progressive_with_restarts", {31, 40, JpegColours::Rgb, true, 2}}),
    [](const auto& info) { return std::string(info.param.name); });

// Adobe CMYK pictures store inverted inks; a decoder that forgets the
// inversion shows a negative, one that ignores K shows everything too light.
TEST(JpegDecode, AdobeCmykComesOutInTrueColours)
{
    struct Patch {
        const char* name;
        uint8_t c, m, y, k; // ink amounts, 0 none .. 255 full
        uint8_t r, g, b;
    };
    const Patch patches[] = {
        {"white", 0, 0, 0, 0, 255, 255, 255},
        {"black_by_key", 0, 0, 0, 255, 0, 0, 0},
        {"red", 0, 255, 255, 0, 255, 0, 0},
        {"cyan", 255, 0, 0, 0, 0, 255, 255},
        {"half_grey_by_key", 0, 0, 0, 128, 127, 127, 127},
    };
    for (const Patch& p : patches) {
        SCOPED_TRACE(p.name);
        ScratchDir dir;
        const int w = 16, h = 16;
        std::vector<uint8_t> px;
        for (int i = 0; i < w * h; ++i)
            px.insert(px.end(), {uint8_t(255 - p.c), uint8_t(255 - p.m), uint8_t(255 - p.y), uint8_t(255 - p.k)});
        WriteFile(dir.file("c.jpg"), EncodeJpeg({w, h, JpegColours::CmykAdobe, false, 0, 100}, px));
        const DibBlock dib = DecodeJpegToDib(dir.file("c.jpg"));
        ASSERT_TRUE(dib);
        ASSERT_EQ(dib.width(), w);
        ASSERT_EQ(dib.height(), h);
        for (int y = 0; y < h; ++y) {
            const uint8_t* r = dib.row(y);
            for (int x = 0; x < w; ++x) {
                ASSERT_NEAR(r[3 * x + 0], p.b, 4) << x << "," << y;
                ASSERT_NEAR(r[3 * x + 1], p.g, 4) << x << "," << y;
                ASSERT_NEAR(r[3 * x + 2], p.r, 4) << x << "," << y;
            }
        }
    }
}

TEST(JpegDecode, BrokenFilesFailCleanly)
{
    const auto good = EncodeJpeg({40, 30, JpegColours::Rgb}, PatternPixels(40, 30, 3));
    struct Broken {
        const char* name;
        std::vector<uint8_t> bytes;
    };
    std::vector<Broken> cases = {
        {"empty", {}},
        {"not_a_jpeg", {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0}},
        {"html_page", {'<', 'h', 't', 'm', 'l', '>', '\n'}},
        {"start_marker_only", {0xFF, 0xD8}},
        {"cut_inside_header", std::vector<uint8_t>(good.begin(), good.begin() + 60)},
        {"end_marker_only", {0xFF, 0xD8, 0xFF, 0xD9}},
    };
    std::string messages;
    SetJpegMessageSink([&](std::string_view m) { messages += m; });
    for (const Broken& b : cases) {
        SCOPED_TRACE(b.name);
        ScratchDir dir;
        WriteFile(dir.file("b.jpg"), b.bytes);
        const JpegSize size = ReadJpegSize(dir.file("b.jpg"));
        EXPECT_FALSE(size.ok);
        EXPECT_FALSE(DecodeJpegToDib(dir.file("b.jpg")));
    }
    // A header claiming 20000 x 18000 pixels (a DIB just over the limit):
    // sized, but never allocated.
    auto huge = good;
    const size_t sof = size_t(std::search(huge.begin(), huge.end(), std::begin(kSof0), std::end(kSof0)) - huge.begin());
    ASSERT_LT(sof, huge.size());
    huge[sof + 5] = 0x46, huge[sof + 6] = 0x50; // height 18000
    huge[sof + 7] = 0x4E, huge[sof + 8] = 0x20; // width 20000
    ScratchDir hugeDir;
    WriteFile(hugeDir.file("h.jpg"), huge);
    EXPECT_EQ(ReadJpegSize(hugeDir.file("h.jpg")).width, 20000);
    EXPECT_FALSE(DecodeJpegToDib(hugeDir.file("h.jpg")));

    // Unreadable pictures are skipped silently; only a missing file is reported.
    EXPECT_EQ(messages, "");
    ScratchDir dir;
    EXPECT_FALSE(ReadJpegSize(dir.file("gone.jpg")).ok);
    EXPECT_FALSE(DecodeJpegToDib(dir.file("gone.jpg")));
    SetJpegMessageSink({});
    EXPECT_EQ(messages, "JPEG :\nCan't open " + dir.file("gone.jpg") + "\n");
}

// A picture cut off inside its scan data is what libjpeg makes of it (the
// rest filled in), never a crash or a short block.
TEST(JpegDecode, PictureCutInItsDataDecodesLikeTheLibrary)
{
    for (bool progressive : {false, true}) {
        SCOPED_TRACE(progressive ? "progressive" : "baseline");
        ScratchDir dir;
        auto jpeg = EncodeJpeg({48, 40, JpegColours::Rgb, progressive}, PatternPixels(48, 40, 3));
        jpeg.resize(jpeg.size() * 2 / 3);
        WriteFile(dir.file("t.jpg"), jpeg);
        const RgbImage ref = ReferenceDecodeRgb(jpeg);
        ASSERT_TRUE(ref.ok);
        const DibBlock dib = DecodeJpegToDib(dir.file("t.jpg"));
        ASSERT_TRUE(dib);
        EXPECT_EQ(Bytes(dib), ExpectedDib(ref));
    }
}
