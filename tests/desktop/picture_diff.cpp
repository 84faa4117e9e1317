// picture_diff A.png B.png [DIFF.png]: how many pixels of two pictures
// differ (a pixel whose size one of them lacks counts as differing), for the
// browser check of mirrored sites. Prints "differing=N total=N percent=P";
// DIFF.png, when named, shows the differing pixels in red over a pale A.

#include <QImage>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: picture_diff A.png B.png [DIFF.png]\n");
        return 2;
    }
    const QImage a = QImage(QString::fromLocal8Bit(argv[1])).convertToFormat(QImage::Format_RGB32);
    const QImage b = QImage(QString::fromLocal8Bit(argv[2])).convertToFormat(QImage::Format_RGB32);
    if (a.isNull() || b.isNull()) {
        std::fprintf(stderr, "picture_diff: cannot read %s\n", a.isNull() ? argv[1] : argv[2]);
        return 2;
    }
    const int width = std::max(a.width(), b.width());
    const int height = std::max(a.height(), b.height());
    QImage diff(width, height, QImage::Format_RGB32);
    long long differing = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const bool inA = x < a.width() && y < a.height();
            const bool inB = x < b.width() && y < b.height();
            const QRgb pa = inA ? a.pixel(x, y) : 0;
            const bool same = inA && inB && pa == b.pixel(x, y);
            differing += same ? 0 : 1;
            const int grey = inA ? (qGray(pa) + 3 * 255) / 4 : 255;
            diff.setPixel(x, y, same ? qRgb(grey, grey, grey) : qRgb(255, 0, 0));
        }
    }
    const long long total = static_cast<long long>(width) * height;
    std::printf("differing=%lld total=%lld percent=%.2f\n", differing, total, total ? 100.0 * differing / total : 0.0);
    if (argc > 3 && !diff.save(QString::fromLocal8Bit(argv[3])))
        std::fprintf(stderr, "picture_diff: cannot write %s\n", argv[3]);
    return 0;
}
