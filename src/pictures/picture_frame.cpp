#include "pictures/picture_frame.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <thread>
#include <vector>

namespace ormbrook {

namespace {

constexpr uint32_t kOpaque = 0xFF000000u;

// The colour table as ready pixels, for the indexed depths.
std::vector<uint32_t> Palette(const uint8_t* dib, const DibLayout& d)
{
    std::vector<uint32_t> palette;
    if (d.bitCount > 8)
        return palette;
    palette.resize(size_t(1) << d.bitCount, kOpaque);
    for (uint32_t i = 0; i < palette.size(); ++i)
        palette[i] = kOpaque | d.TableColour(dib, i);
    return palette;
}

const uint8_t* StoredRow(const uint8_t* dib, const DibLayout& d, int row)
{
    const int stored = d.topDown ? row : d.height - 1 - row;
    return dib + d.bitsOffset + size_t(stored) * d.stride;
}

// Pixels x0 .. x0+count-1 of the picture's row `row` (counted from the top).
void ReadRow(const uint8_t* dib, const DibLayout& d, const std::vector<uint32_t>& palette, int row, int x0,
             int count, uint32_t* out)
{
    const uint8_t* p = StoredRow(dib, d, row);
    switch (d.bitCount) {
    case 24:
        p += size_t(x0) * 3;
        for (int i = 0; i < count; ++i, p += 3)
            out[i] = kOpaque | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
        break;
    case 32:
        p += size_t(x0) * 4;
        for (int i = 0; i < count; ++i, p += 4)
            out[i] = kOpaque | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
        break;
    case 16:
        p += size_t(x0) * 2;
        for (int i = 0; i < count; ++i, p += 2) {
            const unsigned v = unsigned(p[0]) | unsigned(p[1]) << 8;
            const unsigned r = (v >> 10) & 31, g = (v >> 5) & 31, b = v & 31;
            out[i] = kOpaque | (r * 255 / 31) << 16 | (g * 255 / 31) << 8 | (b * 255 / 31);
        }
        break;
    case 8:
        for (int i = 0; i < count; ++i)
            out[i] = palette[p[x0 + i]];
        break;
    case 4:
        for (int i = 0; i < count; ++i) {
            const int x = x0 + i;
            const uint8_t byte = p[x / 2];
            out[i] = palette[(x & 1) ? (byte & 15) : (byte >> 4)];
        }
        break;
    case 1:
        for (int i = 0; i < count; ++i) {
            const int x = x0 + i;
            out[i] = palette[(p[x / 8] >> (7 - (x & 7))) & 1];
        }
        break;
    default:
        std::fill(out, out + count, kOpaque);
        break;
    }
}

// The rectangle `source` of the picture, each k x k box averaged into one
// pixel. Large photos are read once, row by row, without a full-size copy.
QImage Reduce(const uint8_t* dib, const DibLayout& d, const QRect& source, int k)
{
    const int outW = std::max(1, source.width() / k);
    const int outH = std::max(1, source.height() / k);
    const int boxW = std::min(k, source.width());
    const int boxH = std::min(k, source.height());
    QImage out(outW, outH, QImage::Format_RGB32);
    if (out.isNull())
        return out;
    const std::vector<uint32_t> palette = Palette(dib, d);
    if (k == 1) {
        for (int y = 0; y < outH; ++y)
            ReadRow(dib, d, palette, source.y() + y, source.x(), outW,
                    reinterpret_cast<uint32_t*>(out.scanLine(y)));
        return out;
    }
    std::vector<uint32_t> sums(size_t(outW) * 3);
    std::vector<uint32_t> row(d.bitCount == 24 ? 0 : size_t(outW) * size_t(boxW));
    const uint32_t area = uint32_t(boxW * boxH);
    for (int y = 0; y < outH; ++y) {
        std::fill(sums.begin(), sums.end(), 0);
        for (int j = 0; j < boxH; ++j) {
            const int r = source.y() + y * k + j;
            uint32_t* s = sums.data();
            if (d.bitCount == 24) {
                // The decoder's own depth: added straight from the bytes.
                const uint8_t* p = StoredRow(dib, d, r) + size_t(source.x()) * 3;
                for (int x = 0; x < outW; ++x, s += 3) {
                    uint32_t b = 0, g = 0, rr = 0;
                    for (int i = 0; i < boxW; ++i, p += 3) {
                        b += p[0];
                        g += p[1];
                        rr += p[2];
                    }
                    p += size_t(k - boxW) * 3;
                    s[0] += rr;
                    s[1] += g;
                    s[2] += b;
                }
            } else {
                ReadRow(dib, d, palette, r, source.x(), outW * boxW, row.data());
                const uint32_t* p = row.data();
                for (int x = 0; x < outW; ++x, s += 3)
                    for (int i = 0; i < boxW; ++i, ++p) {
                        s[0] += (*p >> 16) & 0xFF;
                        s[1] += (*p >> 8) & 0xFF;
                        s[2] += *p & 0xFF;
                    }
            }
        }
        auto* line = reinterpret_cast<uint32_t*>(out.scanLine(y));
        const uint32_t half = area / 2;
        for (int x = 0; x < outW; ++x) {
            const uint32_t* s = sums.data() + size_t(x) * 3;
            line[x] = kOpaque | ((s[0] + half) / area) << 16 | ((s[1] + half) / area) << 8 | ((s[2] + half) / area);
        }
    }
    return out;
}

// One output pixel's share of the source along one axis: source indexes and
// the overlap of each, in 1/256 of a source pixel.
struct Taps {
    std::vector<int> first;  // per output pixel: index into index/weight
    std::vector<int> index;
    std::vector<uint32_t> weight;
    std::vector<uint32_t> total;
};

Taps AreaTaps(int source, int out)
{
    Taps t;
    const double scale = double(source) / double(out);
    t.first.reserve(size_t(out) + 1);
    for (int o = 0; o < out; ++o) {
        t.first.push_back(int(t.index.size()));
        const double a = o * scale;
        const double b = std::min(double(source), (o + 1) * scale);
        uint32_t total = 0;
        for (int c = int(a); c < source && c < b; ++c) {
            const double overlap = std::min(b, double(c + 1)) - std::max(a, double(c));
            const uint32_t w = uint32_t(std::lround(overlap * 256.0));
            if (w == 0)
                continue;
            t.index.push_back(c);
            t.weight.push_back(w);
            total += w;
        }
        t.total.push_back(std::max<uint32_t>(total, 1));
    }
    t.first.push_back(int(t.index.size()));
    return t;
}

// Each output pixel the average of the source area it covers, read straight
// from the DIB's rows: one pass over a large photo, no full-size copy. Output
// rows are shared out among two threads for a large picture.
QImage AreaScale(const uint8_t* dib, const DibLayout& d, QSize size)
{
    QImage out(size, QImage::Format_RGB32);
    if (out.isNull())
        return out;
    const Taps columns = AreaTaps(d.width, size.width());
    const Taps rows = AreaTaps(d.height, size.height());
    const std::vector<uint32_t> palette = Palette(dib, d);
    auto band = [&](int fromRow, int toRow) {
        std::vector<uint32_t> sums(size_t(d.width) * 3);
        std::vector<uint32_t> decoded(d.bitCount == 24 ? 0 : size_t(d.width));
        for (int y = fromRow; y < toRow; ++y) {
            std::fill(sums.begin(), sums.end(), 0);
            for (int t = rows.first[size_t(y)]; t < rows.first[size_t(y) + 1]; ++t) {
                const uint32_t w = rows.weight[size_t(t)];
                uint32_t* s = sums.data();
                if (d.bitCount == 24) {
                    const uint8_t* p = StoredRow(dib, d, rows.index[size_t(t)]);
                    for (int x = 0; x < d.width; ++x, p += 3, s += 3) {
                        s[0] += p[2] * w;
                        s[1] += p[1] * w;
                        s[2] += p[0] * w;
                    }
                } else {
                    ReadRow(dib, d, palette, rows.index[size_t(t)], 0, d.width, decoded.data());
                    for (int x = 0; x < d.width; ++x, s += 3) {
                        const uint32_t p = decoded[size_t(x)];
                        s[0] += ((p >> 16) & 0xFF) * w;
                        s[1] += ((p >> 8) & 0xFF) * w;
                        s[2] += (p & 0xFF) * w;
                    }
                }
            }
            auto* line = reinterpret_cast<uint32_t*>(out.scanLine(y));
            const uint64_t rowTotal = rows.total[size_t(y)];
            for (int x = 0; x < size.width(); ++x) {
                uint64_t r = 0, g = 0, b = 0;
                for (int t = columns.first[size_t(x)]; t < columns.first[size_t(x) + 1]; ++t) {
                    const uint32_t* s = sums.data() + size_t(columns.index[size_t(t)]) * 3;
                    const uint64_t w = columns.weight[size_t(t)];
                    r += s[0] * w;
                    g += s[1] * w;
                    b += s[2] * w;
                }
                const uint64_t all = rowTotal * columns.total[size_t(x)];
                line[x] = kOpaque | uint32_t((r + all / 2) / all) << 16 | uint32_t((g + all / 2) / all) << 8
                    | uint32_t((b + all / 2) / all);
            }
        }
    };
    const int64_t work = int64_t(d.width) * d.height;
    if (work < (1 << 20) || size.height() < 2) {
        band(0, size.height());
    } else {
        const int half = size.height() / 2;
        std::thread other([&] { band(half, size.height()); });
        band(0, half);
        other.join();
    }
    return out;
}

bool PlainRows(const DibLayout& d)
{
    return d.compression != 1 && d.compression != 2;
}

} // namespace

QRect FitRect(int width, int height, const QRect& client)
{
    if (width <= 0 || height <= 0)
        return {};
    const int right = client.x() + client.width();
    const int bottom = client.y() + client.height();
    const double factor = std::min(double(bottom) / height, double(right) / width);
    const int w = int(std::trunc(width * factor));
    const int h = int(std::trunc(height * factor));
    return QRect((right - w) / 2, (bottom - h) / 2, w, h);
}

TileGrid TileCounts(int width, int height, const QRect& client)
{
    if (width <= 0 || height <= 0)
        return {};
    return {(client.x() + client.width()) / width + 1, (client.y() + client.height()) / height + 1};
}

std::string CaptionText(std::string_view caption, std::string_view path)
{
    if (caption.empty())
        return {};
    return "New Picture " + std::string(path);
}

int CaptionBandRows(int textHeight)
{
    return textHeight + 3;
}

QRgb CaptionRowColour(int row, int rows)
{
    const double green = std::trunc(255.0 - double(row) * 256.0 / double(rows));
    return qRgb(0, int(std::clamp(green, 0.0, 255.0)), 255);
}

QFont CaptionFont()
{
    static std::once_flag once;
    static QFont font;
    std::call_once(once, [] {
        // The face the caption asks for is a Windows one; these are the
        // proportional Mincho faces a Linux desktop has in its place.
        const QString wanted = QString::fromUtf8("ＭＳ Ｐ明朝");
        QFont::insertSubstitutions(wanted, {QStringLiteral("IPAPMincho"), QString::fromUtf8("IPA P明朝"),
                                            QStringLiteral("IPAexMincho"), QStringLiteral("Noto Serif CJK JP"),
                                            QStringLiteral("TakaoPMincho"), QStringLiteral("IPAMincho")});
        QFont f(wanted);
        f.setStyleHint(QFont::Serif);
        f.setWeight(QFont::Normal);
        f.setItalic(false);
        // Sixteen pixels is the height of a whole line, not of the em.
        int pixels = 16;
        f.setPixelSize(pixels);
        while (pixels > 6 && QFontMetrics(f).height() > 16)
            f.setPixelSize(--pixels);
        font = f;
    });
    return font;
}

QColor ColourOfBgr(int32_t bgColor)
{
    const uint32_t v = uint32_t(bgColor);
    return QColor(int(v & 0xFF), int((v >> 8) & 0xFF), int((v >> 16) & 0xFF));
}

QImage DibScaled(const uint8_t* dib, const DibLayout& layout, QSize size)
{
    if (!dib || !PlainRows(layout) || size.isEmpty())
        return {};
    // A row of sums holds up to 65 000 source rows; a picture reduced even
    // further is first reduced by whole boxes.
    const int k = std::max(layout.width / size.width(), layout.height / size.height());
    if (k > 60000) {
        QImage image = Reduce(dib, layout, QRect(0, 0, layout.width, layout.height), k / 2);
        return image.isNull() ? image : image.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    if (size.width() <= layout.width && size.height() <= layout.height)
        return AreaScale(dib, layout, size);
    // Enlarged: the picture is small, so it is taken whole and scaled
    // smoothly.
    QImage image = Reduce(dib, layout, QRect(0, 0, layout.width, layout.height), 1);
    if (image.isNull())
        return image;
    return image.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

QImage DibRegion(const uint8_t* dib, const DibLayout& layout, const QRect& source)
{
    const QRect r = source.intersected(QRect(0, 0, layout.width, layout.height));
    if (!dib || !PlainRows(layout) || r.isEmpty())
        return {};
    return Reduce(dib, layout, r, 1);
}

void ComposeFrame(QImage& surface, const QRect& client, const uint8_t* dib, const DibLayout& layout,
                  const FrameOptions& options)
{
    QPainter painter(&surface);
    painter.setClipRect(client);
    painter.fillRect(client, ColourOfBgr(options.bgColor));
    const int right = client.x() + client.width();
    const int bottom = client.y() + client.height();
    if (dib) {
        if (options.tile) {
            const TileGrid grid = TileCounts(layout.width, layout.height, client);
            // Every tile starts at the picture's top left, so no more of it
            // than the view can show is ever needed.
            const QImage tile = DibRegion(dib, layout, QRect(0, 0, std::min(layout.width, right),
                                                             std::min(layout.height, bottom)));
            if (!tile.isNull())
                for (int j = 0; j < grid.rows; ++j)
                    for (int i = 0; i < grid.columns; ++i)
                        painter.drawImage(i * layout.width, j * layout.height, tile);
        } else {
            const QRect target = FitRect(layout.width, layout.height, client);
            if (!target.isEmpty()) {
                const QImage picture = DibScaled(dib, layout, target.size());
                if (!picture.isNull())
                    painter.drawImage(target.topLeft(), picture);
            }
        }
    }
    if (!options.captionText.empty()) {
        const QFont font = CaptionFont();
        const int rows = CaptionBandRows(QFontMetrics(font).height());
        for (int i = 0; i < rows; ++i)
            painter.fillRect(QRect(0, i, right, 1), QColor::fromRgb(CaptionRowColour(i, rows)));
        painter.setFont(font);
        painter.setPen(Qt::black);
        painter.drawText(QRect(0, 0, right, bottom), Qt::AlignHCenter | Qt::AlignTop | Qt::TextSingleLine,
                         QString::fromUtf8(options.captionText.data(), qsizetype(options.captionText.size())));
    }
}

} // namespace ormbrook
