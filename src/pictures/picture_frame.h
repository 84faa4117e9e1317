#pragma once
// The composition of one picture frame, shared by every receiver: the
// background colour, the picture fitted to the view (enlarged as well as
// reduced, centred) or tiled at its own size, and the caption band of a
// fresh download. The slide window and the screen saver compose into their
// off-screen surface; the desktop back end composes the wallpaper.
//
// The picture is read straight from its DIB bytes (the shared block), so a
// large photo is reduced while it is read and never held at full size.

#include "common/dib_layout.h"

#include <QFont>
#include <QImage>
#include <QRect>

#include <cstdint>
#include <string>
#include <string_view>

namespace ormbrook {

// Where a w x h picture is drawn in the client rectangle: scaled by the
// smaller of height and width ratios (floating point), the size truncated,
// centred by integer halves.
QRect FitRect(int width, int height, const QRect& client);

// Tiling: right / w + 1 columns and bottom / h + 1 rows, from (0, 0).
struct TileGrid {
    int columns = 0;
    int rows = 0;
};
TileGrid TileCounts(int width, int height, const QRect& client);

// "New Picture <path>" for a picture with a caption marker, else empty.
std::string CaptionText(std::string_view caption, std::string_view path);

// The band under the caption: text height + 3 rows, row i in red 0, green
// trunc(255 - i x 256 / n), blue 255: cyan at the top fading to blue.
int CaptionBandRows(int textHeight);
QRgb CaptionRowColour(int row, int rows);

// The caption's face: "ＭＳ Ｐ明朝", which fontconfig answers with a
// proportional Mincho face (IPA P明朝 from the set-up script); 16 pixels
// from top to bottom of a line, normal weight. Needs a QGuiApplication.
QFont CaptionFont();

// 0x00BBGGRR as a colour.
QColor ColourOfBgr(int32_t bgColor);

// The DIB's pixels scaled to `size` (smoothly, averaging what is reduced),
// or the rectangle `source` of them at their own size. A null image for a
// DIB whose pixels are not plain rows (run-length compressed).
QImage DibScaled(const uint8_t* dib, const DibLayout& layout, QSize size);
QImage DibRegion(const uint8_t* dib, const DibLayout& layout, const QRect& source);

struct FrameOptions {
    int32_t bgColor = 0;
    bool tile = false;       // the screen saver with "TileWallpaper" set
    std::string captionText; // empty: no band
};

// Composes into `surface` (RGB32, at least as large as the client) within
// the client rectangle. The rest of the surface is left alone.
void ComposeFrame(QImage& surface, const QRect& client, const uint8_t* dib, const DibLayout& layout,
                  const FrameOptions& options);

} // namespace ormbrook
