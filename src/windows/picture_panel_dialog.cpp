#include "windows/picture_panel_dialog.h"

#include <QFontMetrics>
#include <QGridLayout>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace ormbrook {

namespace {

const char* CaptionOf(PanelButton b)
{
    switch (b) {
    case PanelButton::PickupKeep:
    case PanelButton::PickupDelete:
        return "Pickup";
    case PanelButton::Copy:
        return "Copy";
    case PanelButton::Wallpaper:
        return "WP";
    case PanelButton::Prev:
        return "Prev";
    case PanelButton::Next:
        return "Next";
    case PanelButton::Ok:
        return "OK";
    }
    return "";
}

// The emblem of each button, drawn in a square of side s at the origin.
void DrawEmblem(QPainter& p, PanelButton b, qreal s, const QColor& ink)
{
    p.setPen(QPen(ink, s * 0.07, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    switch (b) {
    case PanelButton::PickupKeep: {
        // A tray with an arrow going in.
        p.drawPolyline(QPolygonF({{s * 0.15, s * 0.55}, {s * 0.15, s * 0.85}, {s * 0.85, s * 0.85}, {s * 0.85, s * 0.55}}));
        p.drawLine(QPointF(s * 0.5, s * 0.1), QPointF(s * 0.5, s * 0.65));
        p.drawPolyline(QPolygonF({{s * 0.3, s * 0.45}, {s * 0.5, s * 0.65}, {s * 0.7, s * 0.45}}));
        break;
    }
    case PanelButton::PickupDelete: {
        // A tray with a cross over it.
        p.drawPolyline(QPolygonF({{s * 0.15, s * 0.55}, {s * 0.15, s * 0.85}, {s * 0.85, s * 0.85}, {s * 0.85, s * 0.55}}));
        p.setPen(QPen(QColor(200, 30, 30), s * 0.09, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(s * 0.3, s * 0.12), QPointF(s * 0.7, s * 0.6));
        p.drawLine(QPointF(s * 0.7, s * 0.12), QPointF(s * 0.3, s * 0.6));
        break;
    }
    case PanelButton::Copy:
        // Two sheets.
        p.drawRect(QRectF(s * 0.15, s * 0.1, s * 0.45, s * 0.55));
        p.setBrush(QColor(255, 255, 255));
        p.drawRect(QRectF(s * 0.4, s * 0.35, s * 0.45, s * 0.55));
        break;
    case PanelButton::Wallpaper:
        // A screen on its stand, showing a hill.
        p.drawRect(QRectF(s * 0.1, s * 0.12, s * 0.8, s * 0.55));
        p.drawLine(QPointF(s * 0.5, s * 0.67), QPointF(s * 0.5, s * 0.82));
        p.drawLine(QPointF(s * 0.3, s * 0.85), QPointF(s * 0.7, s * 0.85));
        p.drawPolyline(QPolygonF({{s * 0.15, s * 0.6}, {s * 0.4, s * 0.35}, {s * 0.6, s * 0.52}, {s * 0.85, s * 0.3}}));
        break;
    case PanelButton::Prev:
    case PanelButton::Next: {
        const bool left = b == PanelButton::Prev;
        QPainterPath arrow;
        const qreal tip = left ? s * 0.15 : s * 0.85;
        const qreal back = left ? s * 0.6 : s * 0.4;
        const qreal tail = left ? s * 0.85 : s * 0.15;
        arrow.moveTo(tip, s * 0.5);
        arrow.lineTo(back, s * 0.2);
        arrow.lineTo(back, s * 0.38);
        arrow.lineTo(tail, s * 0.38);
        arrow.lineTo(tail, s * 0.62);
        arrow.lineTo(back, s * 0.62);
        arrow.lineTo(back, s * 0.8);
        arrow.closeSubpath();
        p.setBrush(ink);
        p.drawPath(arrow);
        break;
    }
    case PanelButton::Ok:
        p.drawPolyline(QPolygonF({{s * 0.18, s * 0.52}, {s * 0.42, s * 0.76}, {s * 0.85, s * 0.25}}));
        break;
    }
}

} // namespace

QImage PanelButtonImage(PanelButton button, PanelFace face, QSize size)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r(0.5, 0.5, size.width() - 1, size.height() - 1);
    const bool down = face == PanelFace::Down;
    const bool disabled = face == PanelFace::Disabled;
    QLinearGradient fill(r.topLeft(), r.bottomLeft());
    fill.setColorAt(0, down ? QColor(150, 170, 200) : QColor(235, 242, 252));
    fill.setColorAt(1, down ? QColor(205, 218, 238) : QColor(170, 190, 222));
    p.setPen(QPen(QColor(70, 90, 130), 1));
    p.setBrush(fill);
    p.drawRoundedRect(r, 5, 5);
    // The face sinks by a pixel when pressed.
    const qreal shift = down ? 1 : 0;
    const QColor ink = disabled ? QColor(150, 155, 165) : QColor(35, 50, 90);
    const qreal side = std::min(size.width() * 0.72, size.height() * 0.55);
    p.save();
    p.translate((size.width() - side) / 2 + shift, size.height() * 0.08 + shift);
    DrawEmblem(p, button, side, ink);
    p.restore();
    QFont font = p.font();
    font.setPixelSize(std::max(9, size.height() / 7));
    font.setBold(true);
    p.setFont(font);
    p.setPen(ink);
    p.drawText(QRectF(shift, size.height() * 0.68 + shift, size.width(), size.height() * 0.3),
               Qt::AlignHCenter | Qt::AlignVCenter, QString::fromLatin1(CaptionOf(button)));
    return image;
}

PanelImageButton::PanelImageButton(PanelButton kind, QWidget* parent) : QAbstractButton(parent), kind_(kind)
{
    setText(QString::fromLatin1(CaptionOf(kind)));
    setFocusPolicy(Qt::NoFocus);
}

void PanelImageButton::SetKind(PanelButton kind)
{
    if (kind_ == kind)
        return;
    kind_ = kind;
    update();
}

QSize PanelImageButton::sizeHint() const
{
    return minimumSize().isEmpty() ? QSize(56, 64) : minimumSize();
}

void PanelImageButton::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const PanelFace face = !isEnabled() ? PanelFace::Disabled : (isDown() ? PanelFace::Down : PanelFace::Up);
    p.drawImage(0, 0, PanelButtonImage(kind_, face, size()));
}

PicturePanelDialog::PicturePanelDialog(PicturePanelLogic& logic, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      logic_(logic)
{
    // No title: the panel is only its buttons.
    setWindowTitle(QString());
    // 112 x 87 dialog units, buttons of 37 x 43, in the dialog's own font.
    const QFontMetrics metrics(font());
    const qreal dluX = metrics.averageCharWidth() / 4.0;
    const qreal dluY = metrics.height() / 8.0;
    const QSize button(qRound(37 * dluX), qRound(43 * dluY));
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(QMargins(qRound(dluX / 2), qRound(dluY / 2), qRound(dluX / 2), qRound(dluY / 2)));
    grid->setSpacing(0);
    auto make = [&](PanelButton kind, int row, int column) {
        auto* b = new PanelImageButton(kind, this);
        b->setFixedSize(button);
        grid->addWidget(b, row, column);
        return b;
    };
    pickup_ = make(PanelButton::PickupKeep, 0, 0);
    copy_ = make(PanelButton::Copy, 0, 1);
    wallpaper_ = make(PanelButton::Wallpaper, 0, 2);
    prev_ = make(PanelButton::Prev, 1, 0);
    next_ = make(PanelButton::Next, 1, 1);
    ok_ = make(PanelButton::Ok, 1, 2);
    setFixedSize(qRound(112 * dluX), qRound(87 * dluY));

    connect(pickup_, &QAbstractButton::clicked, this, [this] {
        logic_.KeepOrDeletePicture();
        prev_->setEnabled(logic_.prevEnabled());
    });
    connect(copy_, &QAbstractButton::clicked, this, [this] { logic_.CopyPicture(); });
    connect(wallpaper_, &QAbstractButton::clicked, this, [this] { logic_.SetWallpaper(); });
    connect(prev_, &QAbstractButton::clicked, this, [this] {
        logic_.Previous();
        prev_->setEnabled(logic_.prevEnabled());
    });
    connect(next_, &QAbstractButton::clicked, this, [this] {
        logic_.Next();
        prev_->setEnabled(logic_.prevEnabled());
    });
    connect(ok_, &QAbstractButton::clicked, this, &QDialog::accept);
    // The picture on show changes under the panel as steps arrive.
    connect(&refresh_, &QTimer::timeout, this, [this] {
        logic_.RefreshPickup();
        pickup_->SetKind(logic_.pickupDeletes() ? PanelButton::PickupDelete : PanelButton::PickupKeep);
    });
    refresh_.start(500);
    Refresh();
}

PanelImageButton* PicturePanelDialog::button(int id) const
{
    switch (id) {
    case kPickup: return pickup_;
    case kCopy: return copy_;
    case kWallpaper: return wallpaper_;
    case kPrev: return prev_;
    case kNext: return next_;
    case kOk: return ok_;
    default: return nullptr;
    }
}

void PicturePanelDialog::Refresh()
{
    logic_.Refresh();
    pickup_->SetKind(logic_.pickupDeletes() ? PanelButton::PickupDelete : PanelButton::PickupKeep);
    prev_->setEnabled(logic_.prevEnabled());
}

} // namespace ormbrook
