#include "windows/artwork.h"

#include <QFont>
#include <QHash>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cmath>

#include <functional>

namespace ormbrook::artwork {

namespace {

// Every picture is drawn on a 32-unit square and scaled to the size asked.
using Drawing = std::function<void(QPainter&)>;

const QColor kInk(0x2b, 0x3a, 0x4a);
const QColor kPaper(0xfd, 0xfd, 0xf8);
const QColor kFolder(0xf2, 0xc0, 0x4c);
const QColor kFolderDark(0xc7, 0x8f, 0x1e);
const QColor kSea(0x2f, 0x80, 0xc8);
const QColor kLeaf(0x3d, 0xa3, 0x4e);
const QColor kRed(0xd6, 0x3b, 0x2f);

QPixmap Render(const Drawing& draw, int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 32.0, size / 32.0);
    draw(p);
    return pixmap;
}

QIcon MakeIcon(const Drawing& draw, std::initializer_list<int> sizes = {16, 20, 22, 24, 32, 48})
{
    QIcon icon;
    for (int size : sizes)
        icon.addPixmap(Render(draw, size));
    return icon;
}

QPen Pen(const QColor& c, double w = 1.6)
{
    return QPen(c, w, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

void Page(QPainter& p, QRectF r = QRectF(7, 3, 18, 25), const QColor& fill = kPaper)
{
    QPainterPath path;
    const double fold = 6;
    path.moveTo(r.left(), r.top());
    path.lineTo(r.right() - fold, r.top());
    path.lineTo(r.right(), r.top() + fold);
    path.lineTo(r.right(), r.bottom());
    path.lineTo(r.left(), r.bottom());
    path.closeSubpath();
    p.setPen(Pen(kInk, 1.4));
    p.setBrush(fill);
    p.drawPath(path);
    QPainterPath corner;
    corner.moveTo(r.right() - fold, r.top());
    corner.lineTo(r.right() - fold, r.top() + fold);
    corner.lineTo(r.right(), r.top() + fold);
    p.setBrush(Qt::NoBrush);
    p.drawPath(corner);
}

void PageLines(QPainter& p, QRectF r = QRectF(10, 12, 12, 12))
{
    p.setPen(Pen(QColor(0x8a, 0x96, 0xa3), 1.4));
    for (double y = r.top(); y <= r.bottom(); y += 4)
        p.drawLine(QPointF(r.left(), y), QPointF(r.right(), y));
}

void Folder(QPainter& p, QRectF r = QRectF(2, 7, 28, 20))
{
    QPainterPath back;
    back.moveTo(r.left(), r.top() + 2);
    back.lineTo(r.left() + 9, r.top() + 2);
    back.lineTo(r.left() + 12, r.top() + 5);
    back.lineTo(r.right(), r.top() + 5);
    back.lineTo(r.right(), r.bottom());
    back.lineTo(r.left(), r.bottom());
    back.closeSubpath();
    p.setPen(Pen(kFolderDark, 1.4));
    p.setBrush(kFolderDark.lighter(120));
    p.drawPath(back);
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0, kFolder.lighter(115));
    g.setColorAt(1, kFolder);
    p.setBrush(g);
    p.drawRoundedRect(QRectF(r.left(), r.top() + 8, r.width(), r.height() - 8), 1.5, 1.5);
}

void Globe(QPainter& p, QPointF c = QPointF(16, 16), double radius = 12)
{
    QRadialGradient g(c - QPointF(radius / 3, radius / 3), radius * 1.4);
    g.setColorAt(0, kSea.lighter(160));
    g.setColorAt(1, kSea);
    p.setPen(Pen(kSea.darker(150), 1.4));
    p.setBrush(g);
    p.drawEllipse(c, radius, radius);
    p.setPen(Pen(QColor(255, 255, 255, 200), 1.2));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(c, radius * 0.45, radius);
    p.drawLine(QPointF(c.x() - radius, c.y()), QPointF(c.x() + radius, c.y()));
    p.drawLine(QPointF(c.x(), c.y() - radius), QPointF(c.x(), c.y() + radius));
}

void Badge(QPainter& p, const QColor& colour, QPointF c = QPointF(24, 24), double r = 7)
{
    p.setPen(Pen(Qt::white, 1.5));
    p.setBrush(colour);
    p.drawEllipse(c, r, r);
}

void Plus(QPainter& p, QPointF c = QPointF(24, 24))
{
    Badge(p, kLeaf, c);
    p.setPen(Pen(Qt::white, 2.2));
    p.drawLine(c + QPointF(-3.5, 0), c + QPointF(3.5, 0));
    p.drawLine(c + QPointF(0, -3.5), c + QPointF(0, 3.5));
}

void Cross(QPainter& p, QPointF c = QPointF(24, 24), double r = 7)
{
    Badge(p, kRed, c, r);
    p.setPen(Pen(Qt::white, 2.2));
    const double d = r * 0.45;
    p.drawLine(c + QPointF(-d, -d), c + QPointF(d, d));
    p.drawLine(c + QPointF(-d, d), c + QPointF(d, -d));
}

void Arrow(QPainter& p, QPointF from, QPointF to, const QColor& colour, double w = 2.6)
{
    p.setPen(Pen(colour, w));
    p.drawLine(from, to);
    const QPointF d = to - from;
    const double len = std::hypot(d.x(), d.y());
    if (len <= 0)
        return;
    const QPointF u = d / len, n(-u.y(), u.x());
    QPolygonF head{to + u * 2.5, to - u * 5 + n * 4.5, to - u * 5 - n * 4.5};
    p.setPen(Pen(colour, 1));
    p.setBrush(colour);
    p.drawPolygon(head);
}

void Clock(QPainter& p, QPointF c = QPointF(16, 16), double r = 12)
{
    p.setPen(Pen(kInk, 1.6));
    p.setBrush(kPaper);
    p.drawEllipse(c, r, r);
    p.setPen(Pen(kInk, 2));
    p.drawLine(c, c + QPointF(0, -r * 0.65));
    p.drawLine(c, c + QPointF(r * 0.5, r * 0.15));
}

void Picture(QPainter& p, QRectF r = QRectF(3, 6, 26, 20))
{
    p.setPen(Pen(kInk, 1.4));
    QLinearGradient sky(r.topLeft(), r.bottomLeft());
    sky.setColorAt(0, QColor(0x9c, 0xd4, 0xf5));
    sky.setColorAt(1, QColor(0xe8, 0xf6, 0xff));
    p.setBrush(sky);
    p.drawRect(r);
    QPainterPath hills;
    hills.moveTo(r.left(), r.bottom());
    hills.lineTo(r.left() + r.width() * 0.35, r.top() + r.height() * 0.45);
    hills.lineTo(r.left() + r.width() * 0.55, r.top() + r.height() * 0.7);
    hills.lineTo(r.left() + r.width() * 0.75, r.top() + r.height() * 0.5);
    hills.lineTo(r.right(), r.bottom());
    hills.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(kLeaf);
    p.drawPath(hills);
    p.setBrush(QColor(0xf7, 0xc9, 0x3b));
    p.drawEllipse(QPointF(r.right() - r.width() * 0.2, r.top() + r.height() * 0.25), r.height() * 0.12,
                  r.height() * 0.12);
}

void Monitor(QPainter& p)
{
    p.setPen(Pen(kInk, 1.4));
    p.setBrush(QColor(0x44, 0x4c, 0x56));
    p.drawRoundedRect(QRectF(2, 4, 28, 19), 2, 2);
    p.drawRect(QRectF(13, 23, 6, 3));
    p.drawRoundedRect(QRectF(8, 26, 16, 2.5), 1, 1);
}

void Window(QPainter& p, QRectF r = QRectF(3, 5, 26, 22))
{
    p.setPen(Pen(kInk, 1.4));
    p.setBrush(kPaper);
    p.drawRoundedRect(r, 1.5, 1.5);
    p.setBrush(kSea);
    p.drawRect(QRectF(r.left(), r.top(), r.width(), 5));
}

void Disk(QPainter& p, QRectF r = QRectF(4, 4, 22, 22))
{
    p.setPen(Pen(kInk, 1.4));
    p.setBrush(QColor(0x3d, 0x5a, 0x80));
    QPainterPath body;
    body.moveTo(r.left(), r.top());
    body.lineTo(r.right() - 4, r.top());
    body.lineTo(r.right(), r.top() + 4);
    body.lineTo(r.right(), r.bottom());
    body.lineTo(r.left(), r.bottom());
    body.closeSubpath();
    p.drawPath(body);
    p.setBrush(kPaper);
    p.drawRect(QRectF(r.left() + 4, r.top() + r.height() * 0.55, r.width() - 8, r.height() * 0.45 - 1));
    p.setBrush(QColor(0xc9, 0xd3, 0xdf));
    p.drawRect(QRectF(r.left() + 5, r.top(), r.width() - 12, r.height() * 0.35));
}

void CircleArrow(QPainter& p, QPointF c = QPointF(16, 16), double r = 10, const QColor& colour = kLeaf)
{
    p.setPen(Pen(colour, 3));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(c.x() - r, c.y() - r, 2 * r, 2 * r), 100 * 16, 280 * 16);
    const QPointF tip = c + QPointF(r * std::cos(100 * M_PI / 180), -r * std::sin(100 * M_PI / 180));
    QPolygonF head{tip + QPointF(-6, -4), tip + QPointF(3, -7), tip + QPointF(2, 3)};
    p.setPen(Pen(colour, 1));
    p.setBrush(colour);
    p.drawPolygon(head);
}

void Gear(QPainter& p, QPointF c = QPointF(16, 16))
{
    QPainterPath path;
    const int teeth = 8;
    for (int i = 0; i < teeth * 2; ++i) {
        const double a = i * M_PI / teeth;
        const double r = (i % 2 == 0) ? 13 : 10;
        const double a0 = a - M_PI / teeth / 2, a1 = a + M_PI / teeth / 2;
        const QPointF p0 = c + QPointF(r * std::cos(a0), r * std::sin(a0));
        const QPointF p1 = c + QPointF(r * std::cos(a1), r * std::sin(a1));
        if (i == 0)
            path.moveTo(p0);
        else
            path.lineTo(p0);
        path.lineTo(p1);
    }
    path.closeSubpath();
    path.addEllipse(c, 4.5, 4.5);
    p.setPen(Pen(kInk, 1.3));
    p.setBrush(QColor(0x7f, 0x8c, 0x99));
    p.drawPath(path);
}

void Play(QPainter& p, const QColor& colour, QRectF r = QRectF(6, 4, 22, 24))
{
    QPolygonF tri{r.topLeft(), QPointF(r.right(), r.center().y()), r.bottomLeft()};
    p.setPen(Pen(colour.darker(140), 1.4));
    p.setBrush(colour);
    p.drawPolygon(tri);
}

void Check(QPainter& p, QPointF c, double s, const QColor& colour, double w = 2.6)
{
    p.setPen(Pen(colour, w));
    p.setBrush(Qt::NoBrush);
    QPainterPath path;
    path.moveTo(c + QPointF(-s, 0));
    path.lineTo(c + QPointF(-s * 0.3, s * 0.7));
    path.lineTo(c + QPointF(s, -s * 0.8));
    p.drawPath(path);
}

// The program's mark: a globe inside a ring that a small picture frame rides.
void ProgramMark(QPainter& p)
{
    Globe(p, QPointF(15, 17), 11);
    p.setPen(Pen(QColor(0xf2, 0x9b, 0x2c), 2.4));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(16, 16), 14.5, 6.5);
    p.save();
    p.translate(24, 6);
    p.setPen(Pen(Qt::white, 1));
    p.setBrush(QColor(0xf2, 0x9b, 0x2c));
    p.drawRoundedRect(QRectF(-4.5, -4, 9, 8), 1.5, 1.5);
    p.restore();
}

Drawing CommandDrawing(CommandIcon icon)
{
    using I = CommandIcon;
    switch (icon) {
    case I::New:
        return [](QPainter& p) {
            Page(p);
            Plus(p, QPointF(23, 23));
        };
    case I::Open:
        return [](QPainter& p) {
            Folder(p);
            Arrow(p, QPointF(16, 24), QPointF(16, 12), kSea);
        };
    case I::Save:
        return [](QPainter& p) { Disk(p, QRectF(4, 4, 24, 24)); };
    case I::NewFolder:
        return [](QPainter& p) {
            Folder(p, QRectF(1, 5, 26, 20));
            Plus(p);
        };
    case I::NewUrl:
        return [](QPainter& p) {
            Globe(p, QPointF(13, 13), 11);
            Plus(p);
        };
    case I::UrlFromBrowser:
        return [](QPainter& p) {
            Window(p, QRectF(2, 3, 22, 18));
            Globe(p, QPointF(22, 21), 8);
            Arrow(p, QPointF(6, 28), QPointF(13, 22), kLeaf, 2.2);
        };
    case I::Delete:
        return [](QPainter& p) { Cross(p, QPointF(16, 16), 12); };
    case I::Properties:
        return [](QPainter& p) {
            Page(p);
            PageLines(p);
            Check(p, QPointF(22, 22), 5, kLeaf);
        };
    case I::Crawl:
        return [](QPainter& p) { Play(p, kLeaf); };
    case I::SelectedCrawl:
        return [](QPainter& p) {
            Play(p, kLeaf, QRectF(2, 3, 20, 22));
            Badge(p, kSea, QPointF(24, 24), 7);
            Check(p, QPointF(24, 24), 3.5, Qt::white, 2);
        };
    case I::Stop:
        return [](QPainter& p) {
            p.setPen(Pen(kRed.darker(140), 1.4));
            p.setBrush(kRed);
            p.drawRoundedRect(QRectF(6, 6, 20, 20), 2.5, 2.5);
        };
    case I::ResetCrawl:
        return [](QPainter& p) { CircleArrow(p, QPointF(16, 17), 10, kSea); };
    case I::TimerOn:
        return [](QPainter& p) { Clock(p); };
    case I::DeleteSaved:
        return [](QPainter& p) {
            Disk(p, QRectF(2, 2, 22, 22));
            Cross(p);
        };
    case I::MoveSaved:
        return [](QPainter& p) {
            Disk(p, QRectF(2, 2, 20, 20));
            Arrow(p, QPointF(14, 26), QPointF(29, 26), kLeaf);
        };
    case I::CopySaved:
        return [](QPainter& p) {
            Page(p, QRectF(3, 2, 16, 21));
            Page(p, QRectF(12, 9, 16, 21));
        };
    case I::ShowInBrowser:
        return [](QPainter& p) {
            Window(p);
            Globe(p, QPointF(16, 18), 7);
        };
    case I::Wallpaper:
        return [](QPainter& p) {
            Monitor(p);
            Picture(p, QRectF(4.5, 6.5, 23, 14));
        };
    case I::SlideWindow:
        return [](QPainter& p) {
            Window(p, QRectF(2, 3, 28, 26));
            Picture(p, QRectF(6, 11, 20, 14));
        };
    case I::ShowWindow:
        return [](QPainter& p) {
            Window(p, QRectF(2, 6, 22, 18));
            Window(p, QRectF(8, 11, 22, 18));
        };
    case I::SlideReset:
        return [](QPainter& p) {
            Picture(p, QRectF(2, 3, 22, 17));
            CircleArrow(p, QPointF(23, 23), 6, kSea);
        };
    case I::Settings:
        return [](QPainter& p) { Gear(p); };
    case I::About:
        return [](QPainter& p) {
            Badge(p, kSea, QPointF(16, 16), 13);
            p.setPen(Pen(Qt::white, 3.2));
            p.drawLine(QPointF(16, 14), QPointF(16, 23));
            p.setPen(Qt::NoPen);
            p.setBrush(Qt::white);
            p.drawEllipse(QPointF(16, 9), 2, 2);
        };
    case I::ContextHelp:
        return [](QPainter& p) {
            QPolygonF cursor{QPointF(4, 3), QPointF(4, 24), QPointF(9, 19), QPointF(13, 27), QPointF(16, 25.5),
                             QPointF(12, 18), QPointF(19, 18)};
            p.setPen(Pen(kInk, 1.3));
            p.setBrush(Qt::white);
            p.drawPolygon(cursor);
            Badge(p, kSea, QPointF(24, 10), 7);
            QFont f;
            f.setPixelSize(11);
            f.setBold(true);
            p.setFont(f);
            p.setPen(Qt::white);
            p.drawText(QRectF(17, 3, 14, 14), Qt::AlignCenter, "?");
        };
    case I::None:
        break;
    }
    return {};
}

// The theme's standard names, where there is one.
const char* ThemeName(CommandIcon icon)
{
    using I = CommandIcon;
    switch (icon) {
    case I::New: return "document-new";
    case I::Open: return "document-open";
    case I::Save: return "document-save";
    case I::NewFolder: return "folder-new";
    case I::Delete: return "edit-delete";
    case I::Properties: return "document-properties";
    case I::Stop: return "process-stop";
    case I::Settings: return "preferences-system";
    case I::About: return "help-about";
    case I::ContextHelp: return "help-contextual";
    default: return nullptr;
    }
}

void MarkDrawing(QPainter& p, TreeMark mark, QPointF c)
{
    switch (mark) {
    case MarkForbidden:
        p.setPen(Pen(Qt::white, 1.2));
        p.setBrush(kRed);
        p.drawEllipse(c, 6.5, 6.5);
        p.setPen(Pen(Qt::white, 2.4));
        p.drawLine(c + QPointF(-3.5, 0), c + QPointF(3.5, 0));
        break;
    case MarkSelected:
        Badge(p, kLeaf, c, 6.5);
        Check(p, c, 3.3, Qt::white, 2.2);
        break;
    case MarkTimer:
        p.setPen(Pen(Qt::white, 1.2));
        p.setBrush(kSea);
        p.drawEllipse(c, 6.5, 6.5);
        p.setPen(Pen(Qt::white, 1.8));
        p.drawLine(c, c + QPointF(0, -4));
        p.drawLine(c, c + QPointF(3, 1));
        break;
    case MarkSlideShow:
        p.setPen(Pen(Qt::white, 1.2));
        p.setBrush(QColor(0xf2, 0x9b, 0x2c));
        p.drawRoundedRect(QRectF(c.x() - 6.5, c.y() - 5.5, 13, 11), 2, 2);
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        p.drawPolygon(QPolygonF{c + QPointF(-4, 3.5), c + QPointF(-1, -1.5), c + QPointF(1.5, 1.5),
                                c + QPointF(3, 0), c + QPointF(4.5, 3.5)});
        break;
    default:
        break;
    }
}

Drawing TreeDrawing(TreeIcon kind)
{
    switch (kind) {
    case TreeIcon::Root:
        return [](QPainter& p) {
            p.setPen(Pen(kInk, 1.4));
            p.setBrush(QColor(0x5b, 0x6f, 0xb8));
            p.drawRoundedRect(QRectF(4, 3, 22, 26), 2, 2);
            p.setBrush(kPaper);
            p.drawRect(QRectF(8, 3, 18, 4));
            Globe(p, QPointF(16, 18), 7);
        };
    case TreeIcon::Folder:
        return [](QPainter& p) { Folder(p); };
    case TreeIcon::Record:
        return [](QPainter& p) {
            Page(p, QRectF(4, 2, 20, 26));
            Globe(p, QPointF(19, 19), 9);
        };
    case TreeIcon::File:
        return [](QPainter& p) {
            Page(p);
            PageLines(p);
        };
    }
    return {};
}

} // namespace

QIcon ProgramIcon()
{
    static const QIcon icon = MakeIcon(ProgramMark, {16, 22, 24, 32, 48, 64, 128, 256});
    return icon;
}

QIcon TrayIcon()
{
    return ProgramIcon();
}

QIcon CommandIconFor(CommandIcon icon)
{
    static QHash<int, QIcon> cache;
    auto it = cache.find(static_cast<int>(icon));
    if (it != cache.end())
        return *it;
    QIcon made;
    if (Drawing draw = CommandDrawing(icon))
        made = MakeIcon(draw);
    if (const char* name = ThemeName(icon))
        made = QIcon::fromTheme(QString::fromLatin1(name), made);
    cache.insert(static_cast<int>(icon), made);
    return made;
}

QIcon TreeItemIcon(TreeIcon kind, unsigned marks)
{
    static QHash<unsigned, QIcon> cache;
    const unsigned key = static_cast<unsigned>(kind) << 8 | marks;
    auto it = cache.find(key);
    if (it != cache.end())
        return *it;
    const Drawing base = TreeDrawing(kind);
    const QIcon icon = MakeIcon([base, marks](QPainter& p) {
        base(p);
        // Marks sit on the corners, in a fixed order, so each reads the same
        // wherever it appears.
        const QPointF corners[] = {QPointF(24.5, 24.5), QPointF(7.5, 24.5), QPointF(24.5, 7.5), QPointF(7.5, 7.5)};
        const TreeMark order[] = {MarkForbidden, MarkSelected, MarkTimer, MarkSlideShow};
        for (int i = 0; i < 4; ++i)
            if (marks & order[i])
                MarkDrawing(p, order[i], corners[i]);
    });
    cache.insert(key, icon);
    return icon;
}

QIcon FileIcon(bool complete)
{
    static const QIcon done = MakeIcon([](QPainter& p) {
        Page(p);
        PageLines(p);
        Check(p, QPointF(22, 24), 5, kLeaf, 3);
    });
    static const QIcon partial = MakeIcon([](QPainter& p) {
        Page(p, QRectF(7, 3, 18, 25), QColor(0xe9, 0xec, 0xef));
        p.setPen(QPen(kInk, 1.4, Qt::DashLine));
        p.drawLine(QPointF(10, 20), QPointF(22, 20));
    });
    return complete ? done : partial;
}

QIcon TimerKindIcon(int kind)
{
    static QHash<int, QIcon> cache;
    if (cache.contains(kind))
        return cache[kind];
    auto calendar = [](QPainter& p, const QColor& band) {
        p.setPen(Pen(kInk, 1.4));
        p.setBrush(kPaper);
        p.drawRoundedRect(QRectF(4, 6, 24, 22), 2, 2);
        p.setBrush(band);
        p.drawRect(QRectF(4, 6, 24, 6));
        p.setPen(Pen(kInk, 2));
        p.drawLine(QPointF(10, 3), QPointF(10, 8));
        p.drawLine(QPointF(22, 3), QPointF(22, 8));
    };
    QIcon icon;
    switch (kind) {
    case 1: // Monthly: a month's page
        icon = MakeIcon([&](QPainter& p) {
            calendar(p, kRed);
            p.setPen(Pen(kInk, 1));
            for (int r = 0; r < 3; ++r)
                for (int c = 0; c < 4; ++c)
                    p.drawPoint(QPointF(8.5 + c * 5, 16 + r * 4));
        });
        break;
    case 2: // Weekly: one row of seven days
        icon = MakeIcon([&](QPainter& p) {
            calendar(p, kSea);
            p.setPen(Qt::NoPen);
            p.setBrush(kSea);
            for (int c = 0; c < 7; ++c)
                p.drawRect(QRectF(6.5 + c * 2.8, 18, 2, 4));
        });
        break;
    case 3: // Daily: a clock
        icon = MakeIcon([](QPainter& p) { Clock(p, QPointF(16, 16), 12); });
        break;
    default: // Interval: round and round
        icon = MakeIcon([](QPainter& p) { CircleArrow(p, QPointF(16, 17), 10, kLeaf); });
        break;
    }
    cache.insert(kind, icon);
    return icon;
}

QImage SplashImage()
{
    QImage image(480, 300, QImage::Format_ARGB32_Premultiplied);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    QLinearGradient sky(0, 0, 0, 300);
    sky.setColorAt(0, QColor(0x17, 0x3a, 0x5e));
    sky.setColorAt(1, QColor(0x2f, 0x80, 0xc8));
    p.fillRect(image.rect(), sky);
    // A faint lattice of links behind the mark: the crawl's web.
    p.setPen(QPen(QColor(255, 255, 255, 28), 1));
    const QPointF nodes[] = {{40, 60}, {120, 30}, {200, 90}, {300, 40}, {420, 80}, {360, 180},
                             {250, 230}, {120, 260}, {60, 190}, {450, 250}};
    for (const QPointF& a : nodes)
        for (const QPointF& b : nodes)
            if (&a < &b && std::hypot(a.x() - b.x(), a.y() - b.y()) < 170)
                p.drawLine(a, b);
    p.setBrush(QColor(255, 255, 255, 45));
    for (const QPointF& n : nodes)
        p.drawEllipse(n, 3, 3);
    p.save();
    p.translate(40, 70);
    p.scale(4.5, 4.5);
    ProgramMark(p);
    p.restore();
    QFont title;
    title.setPixelSize(44);
    title.setBold(true);
    p.setFont(title);
    p.setPen(Qt::white);
    p.drawText(QRectF(200, 90, 270, 56), Qt::AlignLeft | Qt::AlignVCenter, "Ormbrook");
    QFont sub;
    sub.setPixelSize(18);
    p.setFont(sub);
    p.setPen(QColor(0xdc, 0xec, 0xfa));
    p.drawText(QRectF(202, 146, 270, 28), Qt::AlignLeft | Qt::AlignVCenter, "Download Engine");
    QFont small;
    small.setPixelSize(12);
    p.setFont(small);
    p.drawText(QRectF(202, 176, 270, 20), Qt::AlignLeft | Qt::AlignVCenter, "Version 1.5  ·  Nordvane");
    p.setPen(QPen(QColor(255, 255, 255, 90), 1));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(0.5, 0.5, 479, 299));
    return image;
}

QPixmap ListBackgroundTile()
{
    QPixmap tile(48, 48);
    tile.fill(QColor(0xfb, 0xfc, 0xfd));
    QPainter p(&tile);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0xe6, 0xee, 0xf5), 1));
    p.drawLine(QPointF(0, 0.5), QPointF(48, 0.5));
    p.drawLine(QPointF(0.5, 0), QPointF(0.5, 48));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xe3, 0xec, 0xf4));
    p.drawEllipse(QPointF(24, 24), 2.2, 2.2);
    return tile;
}

} // namespace ormbrook::artwork
