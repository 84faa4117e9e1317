// The composition every receiver draws: geometry of the fit and the tiles,
// the caption band, and the pixels that come out for each kind of DIB.

#include "pictures/picture_frame.h"

#include <gtest/gtest.h>

#include <QFontInfo>
#include <QFontMetrics>

#include <vector>

using namespace ormbrook;

namespace {

void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = uint8_t(v >> (8 * i));
}

// A packed DIB of the image: 24 bits bottom-up, or 8 bits through a table
// made of the image's colours.
std::vector<uint8_t> Dib(const QImage& image, int bits = 24, bool topDown = false)
{
    const int w = image.width(), h = image.height();
    std::vector<QRgb> table;
    if (bits == 8)
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                if (std::find(table.begin(), table.end(), image.pixel(x, y)) == table.end())
                    table.push_back(image.pixel(x, y));
    const size_t stride = size_t((bits * w + 31) / 32) * 4;
    std::vector<uint8_t> dib(40 + table.size() * 4 + stride * size_t(h));
    Put32(dib, 0, 40);
    Put32(dib, 4, uint32_t(w));
    Put32(dib, 8, uint32_t(topDown ? -h : h));
    dib[12] = 1;
    dib[14] = uint8_t(bits);
    Put32(dib, 32, uint32_t(table.size()));
    for (size_t i = 0; i < table.size(); ++i) {
        dib[40 + i * 4] = uint8_t(qBlue(table[i]));
        dib[41 + i * 4] = uint8_t(qGreen(table[i]));
        dib[42 + i * 4] = uint8_t(qRed(table[i]));
    }
    uint8_t* bitsStart = dib.data() + 40 + table.size() * 4;
    for (int y = 0; y < h; ++y) {
        uint8_t* row = bitsStart + size_t(topDown ? y : h - 1 - y) * stride;
        for (int x = 0; x < w; ++x) {
            const QRgb p = image.pixel(x, y);
            if (bits == 8) {
                row[x] = uint8_t(std::find(table.begin(), table.end(), p) - table.begin());
            } else {
                row[x * 3] = uint8_t(qBlue(p));
                row[x * 3 + 1] = uint8_t(qGreen(p));
                row[x * 3 + 2] = uint8_t(qRed(p));
            }
        }
    }
    return dib;
}

QImage Halves(int w, int h, QRgb top, QRgb bottom)
{
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixel(x, y, y < h / 2 ? top : bottom);
    return image;
}

QImage Compose(const std::vector<uint8_t>& dib, QSize client, FrameOptions options)
{
    QImage surface(client, QImage::Format_RGB32);
    surface.fill(Qt::white);
    auto layout = ParseDibLayout(dib.data(), dib.size());
    ComposeFrame(surface, QRect(QPoint(0, 0), client), layout ? dib.data() : nullptr, layout.value_or(DibLayout {}),
                 options);
    return surface;
}

bool Near(QRgb a, QRgb b, int tolerance = 8)
{
    return std::abs(qRed(a) - qRed(b)) <= tolerance && std::abs(qGreen(a) - qGreen(b)) <= tolerance
        && std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

bool Black(QRgb p)
{
    return qRed(p) < 70 && qGreen(p) < 70 && qBlue(p) < 70;
}

} // namespace

TEST(PictureFrame, FitScalesBothWaysAndCentres)
{
    struct Row {
        const char* intent;
        int w, h;
        QSize client;
        QRect expected;
    } rows[] = {
        {"enlarged to the width", 100, 50, {200, 200}, {0, 50, 200, 100}},
        {"reduced to the height", 1000, 1000, {160, 125}, {17, 0, 125, 125}},
        {"exact size stays", 160, 125, {160, 125}, {0, 0, 160, 125}},
        {"a line of a picture", 1000, 1, {200, 100}, {0, 50, 200, 0}},
        {"sizes are truncated", 3, 2, {10, 10}, {0, 2, 10, 6}},
    };
    for (const Row& r : rows)
        EXPECT_EQ(FitRect(r.w, r.h, QRect(QPoint(0, 0), r.client)), r.expected) << r.intent;
    EXPECT_TRUE(FitRect(0, 5, QRect(0, 0, 10, 10)).isEmpty());
}

TEST(PictureFrame, TileCountsAndCaptionTexts)
{
    const TileGrid grid = TileCounts(300, 200, QRect(0, 0, 1024, 768));
    EXPECT_EQ(grid.columns, 4);
    EXPECT_EQ(grid.rows, 4);
    EXPECT_EQ(TileCounts(512, 384, QRect(0, 0, 1024, 768)).columns, 3);

    EXPECT_EQ(CaptionText("", "/m/a.jpg"), "");
    EXPECT_EQ(CaptionText("New Picture", "/m/a.jpg"), "New Picture /m/a.jpg");
}

TEST(PictureFrame, CaptionBandFadesFromCyanToBlue)
{
    EXPECT_EQ(CaptionBandRows(16), 19);
    struct Row {
        int row, rows, green;
    } rows[] = {{0, 19, 255}, {1, 19, 241}, {9, 19, 133}, {18, 19, 12}, {0, 1, 255}, {3, 4, 63}};
    for (const Row& r : rows)
        EXPECT_EQ(CaptionRowColour(r.row, r.rows), qRgb(0, r.green, 255)) << r.row << "/" << r.rows;
}

TEST(PictureFrame, TheCaptionFaceIsAProportionalMinchoSixteenPixelsHigh)
{
    const QFont font = CaptionFont();
    EXPECT_LE(QFontMetrics(font).height(), 16);
    EXPECT_GE(QFontMetrics(font).height(), 14);
    const QString family = QFontInfo(font).family();
    if (!family.contains("Mincho") && !family.contains(QString::fromUtf8("明朝")))
        GTEST_SKIP() << "no Mincho face installed; the caption is drawn in " << family.toStdString();
    EXPECT_TRUE(family.contains("PMincho") || family.contains(QString::fromUtf8("P明朝"))) << family.toStdString();
}

TEST(PictureFrame, ComposesBackgroundPictureAndCaption)
{
    const QRgb red = qRgb(220, 0, 0), green = qRgb(0, 200, 0), blue = qRgb(0, 0, 255);
    struct Case {
        const char* intent;
        std::vector<uint8_t> dib;
    } cases[] = {
        {"24 bits, bottom-up", Dib(Halves(100, 50, red, green))},
        {"24 bits, top-down", Dib(Halves(100, 50, red, green), 24, true)},
        {"8 bits through the colour table", Dib(Halves(100, 50, red, green), 8)},
    };
    for (const Case& c : cases) {
        const QImage frame = Compose(c.dib, {200, 200}, {0x00FF0000, false, {}});
        // Drawn at 200 x 100 from (0, 50) on the background.
        EXPECT_TRUE(Near(frame.pixel(100, 20), blue)) << c.intent;
        EXPECT_TRUE(Near(frame.pixel(100, 70), red)) << c.intent;
        EXPECT_TRUE(Near(frame.pixel(100, 130), green)) << c.intent;
        EXPECT_TRUE(Near(frame.pixel(100, 180), blue)) << c.intent;
        EXPECT_TRUE(Near(frame.pixel(0, 51), red)) << c.intent;
    }

    // A large picture is reduced by averaging: stripes one pixel wide blend.
    QImage stripes(1200, 800, QImage::Format_RGB32);
    for (int y = 0; y < 800; ++y)
        for (int x = 0; x < 1200; ++x)
            stripes.setPixel(x, y, x % 2 ? qRgb(0, 0, 0) : qRgb(200, 200, 200));
    const QImage reduced = Compose(Dib(stripes), {120, 80}, {});
    EXPECT_TRUE(Near(reduced.pixel(60, 40), qRgb(100, 100, 100), 6));

    // The caption band: cyan on top, blue at its foot, black text in it.
    const QImage captioned = Compose(Dib(Halves(100, 50, red, green)), {400, 300}, {0, false, "New Picture /m/a.jpg"});
    const int rows = CaptionBandRows(QFontMetrics(CaptionFont()).height());
    EXPECT_EQ(captioned.pixel(0, 0), qRgb(0, 255, 255));
    EXPECT_EQ(captioned.pixel(399, rows - 1), CaptionRowColour(rows - 1, rows));
    EXPECT_NE(captioned.pixel(0, rows), CaptionRowColour(rows - 1, rows));
    int dark = 0;
    for (int y = 0; y < rows; ++y)
        for (int x = 100; x < 300; ++x)
            dark += Black(captioned.pixel(x, y));
    EXPECT_GT(dark, 20);
    int darkOutside = 0;
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < 20; ++x)
            darkOutside += Black(captioned.pixel(x, y));
    EXPECT_EQ(darkOutside, 0); // centred
}

TEST(PictureFrame, TilesAtTheOwnSizeFromTheTopLeft)
{
    QImage picture(300, 200, QImage::Format_RGB32);
    picture.fill(qRgb(0, 200, 0));
    picture.setPixel(0, 0, qRgb(255, 0, 0));
    const QImage frame = Compose(Dib(picture), {1024, 768}, {0, true, {}});
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            EXPECT_EQ(frame.pixel(i * 300, j * 200), qRgb(255, 0, 0)) << i << "," << j;
    EXPECT_EQ(frame.pixel(1023, 767), qRgb(0, 200, 0));
}

TEST(PictureFrame, CompressedRowsLeaveOnlyTheBackground)
{
    std::vector<uint8_t> rle = Dib(Halves(4, 4, qRgb(255, 0, 0), qRgb(255, 0, 0)), 8);
    Put32(rle, 16, 1);
    const QImage frame = Compose(rle, {40, 40}, {0x0000FF00, false, {}});
    EXPECT_EQ(frame.pixel(20, 20), qRgb(0, 255, 0));
}
