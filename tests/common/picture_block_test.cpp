#include "common/dib_layout.h"
#include "common/picture_block.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace ormbrook;

namespace {

void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = uint8_t(v >> (8 * i));
}

void Put16(std::vector<uint8_t>& b, size_t at, uint16_t v)
{
    b[at] = uint8_t(v);
    b[at + 1] = uint8_t(v >> 8);
}

// An info-header DIB with `colours` table entries and room for its rows.
std::vector<uint8_t> InfoDib(int32_t width, int32_t height, int bits, uint32_t coloursUsed = 0, size_t extra = 0)
{
    const uint32_t colours = DibColourCount(bits, coloursUsed);
    const size_t rows = DibStrideFor(bits, width) * size_t(height < 0 ? -height : height);
    std::vector<uint8_t> dib(40 + colours * 4 + rows + extra);
    Put32(dib, 0, 40);
    Put32(dib, 4, uint32_t(width));
    Put32(dib, 8, uint32_t(height));
    Put16(dib, 12, 1);
    Put16(dib, 14, uint16_t(bits));
    Put32(dib, 32, coloursUsed);
    return dib;
}

std::vector<uint8_t> Block(const PictureBlockTexts& texts, const std::vector<uint8_t>& dib,
                           PictureBlockHeader header = {})
{
    std::vector<uint8_t> block(PictureBlockSize(texts, dib.size()));
    const size_t at = WritePictureBlockHead(block.data(), block.size(), header, texts);
    if (at != 0)
        std::memcpy(block.data() + at, dib.data(), dib.size());
    return block;
}

} // namespace

// The example the receivers are written against: 1078 + 8 + 20 bytes, the
// DIB right after the fourth NUL at offset 28.
TEST(PictureBlock, SizeAndOffsetsOfTheWorkedExample)
{
    // 8 bits a pixel, a full table, 4 x 3 pixels and two bytes to spare.
    const std::vector<uint8_t> dib = InfoDib(4, 3, 8, 0, 2);
    ASSERT_EQ(dib.size(), 1078u);
    const PictureBlockTexts texts {"", "/p/a.jpg", "", ""};
    EXPECT_EQ(PictureBlockSize(texts, dib.size()), 1106u);
    const std::vector<uint8_t> block = Block(texts, dib, {0x00FF8000, 7, 5, 99});
    ASSERT_EQ(block.size(), 1106u);
    EXPECT_EQ(std::memcmp(block.data() + 28, dib.data(), dib.size()), 0);
    EXPECT_EQ(block[16], 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(block.data() + 17)), "/p/a.jpg");

    auto view = ReadPictureBlock(block.data(), block.size());
    ASSERT_TRUE(view);
    EXPECT_EQ(view->dibOffset, 28u);
    EXPECT_EQ(view->dibBytes, 1078u);
    EXPECT_EQ(view->header.bgColor, 0x00FF8000);
    EXPECT_EQ(view->header.drawType, 7);
    EXPECT_EQ(view->header.drawSpeed, 5);
    EXPECT_EQ(view->texts.path, "/p/a.jpg");
    EXPECT_EQ(view->layout.colours, 256u);
    EXPECT_EQ(view->layout.bitsOffset, 1064u);
}

TEST(PictureBlock, TextsArePackedInOrderWithLittleEndianHeader)
{
    const std::vector<uint8_t> dib = InfoDib(1, 1, 24);
    const std::vector<uint8_t> block = Block({"New Picture", "p", "f", "http://h/"}, dib, {0x01020304, -1, 0, 0});
    const std::string expect = std::string("\x04\x03\x02\x01\xff\xff\xff\xff\0\0\0\0\0\0\0\0", 16)
        + std::string("New Picture\0p\0f\0http://h/\0", 26);
    ASSERT_GE(block.size(), expect.size());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(block.data()), expect.size()), expect);
    auto view = ReadPictureBlock(block.data(), block.size());
    ASSERT_TRUE(view);
    EXPECT_EQ(view->texts.caption, "New Picture");
    EXPECT_EQ(view->texts.folder, "f");
    EXPECT_EQ(view->texts.pageUrl, "http://h/");
    EXPECT_EQ(view->header.drawType, -1);
}

TEST(PictureBlock, ABlockThatCannotBeMadeHasSizeZero)
{
    EXPECT_EQ(PictureBlockSize({"", std::string_view("a\0b", 3), "", ""}, 40), 0u);
    EXPECT_EQ(PictureBlockSize({"", "p", "", ""}, 0), 0u);
    EXPECT_EQ(PictureBlockSize({"", "p", "", ""}, size_t(0xFFFFFFFF)), 0u);
    uint8_t small[20];
    EXPECT_EQ(WritePictureBlockHead(small, sizeof small, {}, {"", "a long path", "", ""}), 0u);
}

// What a receiver maps may have been cut or scribbled on: every such block
// is refused instead of read past its end.
TEST(PictureBlock, RefusesBlocksWhoseTextsOrDibDoNotFit)
{
    const std::vector<uint8_t> good = Block({"c", "p", "f", "u"}, InfoDib(3, 2, 24));
    ASSERT_TRUE(ReadPictureBlock(good.data(), good.size()));

    struct Case {
        const char* name;
        size_t cutTo;
    } cuts[] = {
        {"header only", 16},
        {"inside the texts", 20},
        {"texts but no DIB", 24},
        {"DIB header cut", 24 + 20},
        {"last row cut", good.size() - 1},
    };
    for (const Case& c : cuts)
        EXPECT_FALSE(ReadPictureBlock(good.data(), c.cutTo)) << c.name;

    std::vector<uint8_t> noNul = good;
    std::memset(noNul.data() + 16, 'x', noNul.size() - 16);
    EXPECT_FALSE(ReadPictureBlock(noNul.data(), noNul.size()));
    EXPECT_FALSE(ReadPictureBlock(nullptr, 0));
}

TEST(DibLayout, ColourTableCountsAndEntrySizes)
{
    struct Row {
        int bits;
        uint32_t used;
        uint32_t colours;
    } rows[] = {
        {1, 0, 2}, {4, 0, 16}, {8, 0, 256}, {8, 12, 12}, {16, 0, 0}, {24, 0, 0}, {24, 5, 5}, {32, 0, 0},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(DibColourCount(r.bits, r.used), r.colours) << r.bits << "/" << r.used;
        const std::vector<uint8_t> dib = InfoDib(5, 2, r.bits, r.used);
        auto layout = ParseDibLayout(dib.data(), dib.size());
        ASSERT_TRUE(layout) << r.bits << "/" << r.used;
        EXPECT_EQ(layout->bitsOffset, 40 + 4 * r.colours);
        EXPECT_EQ(layout->stride, DibStrideFor(r.bits, 5));
    }
    EXPECT_EQ(DibStrideFor(24, 3), 12u);
    EXPECT_EQ(DibStrideFor(1, 33), 8u);

    // A core header: 16-bit sizes and three-byte table entries.
    std::vector<uint8_t> core(12 + 16 * 3 + DibStrideFor(4, 7) * 2);
    Put32(core, 0, 12);
    Put16(core, 4, 7);
    Put16(core, 6, 2);
    Put16(core, 8, 1);
    Put16(core, 10, 4);
    core[12 + 3 * 5 + 0] = 0x30; // blue
    core[12 + 3 * 5 + 2] = 0x10; // red
    auto layout = ParseDibLayout(core.data(), core.size());
    ASSERT_TRUE(layout);
    EXPECT_EQ(layout->tableEntryBytes, 3u);
    EXPECT_EQ(layout->bitsOffset, 12u + 48u);
    EXPECT_EQ(layout->TableColour(core.data(), 5), 0x100030u);
    EXPECT_EQ(layout->TableColour(core.data(), 16), 0u);
}

TEST(DibLayout, RefusesNonsense)
{
    struct Case {
        const char* name;
        std::vector<uint8_t> dib;
    };
    std::vector<Case> cases;
    cases.push_back({"zero width", InfoDib(0, 2, 24)});
    cases.push_back({"seven bits", InfoDib(2, 2, 24)});
    Put16(cases.back().dib, 14, 7);
    cases.push_back({"header of 20 bytes", InfoDib(2, 2, 24)});
    Put32(cases.back().dib, 0, 20);
    cases.push_back({"table past the end", InfoDib(2, 2, 8)});
    Put32(cases.back().dib, 32, 0x40000000);
    cases.push_back({"rows past the end", InfoDib(2, 2, 24)});
    cases.back().dib.pop_back();
    cases.push_back({"huge side", InfoDib(2, 2, 24)});
    Put32(cases.back().dib, 4, 0x7FFFFFFF);
    for (const Case& c : cases)
        EXPECT_FALSE(ParseDibLayout(c.dib.data(), c.dib.size())) << c.name;

    // A negative height is a top-down picture, not an error.
    const std::vector<uint8_t> topDown = InfoDib(2, -3, 24);
    auto layout = ParseDibLayout(topDown.data(), topDown.size());
    ASSERT_TRUE(layout);
    EXPECT_TRUE(layout->topDown);
    EXPECT_EQ(layout->height, 3);
}
