#pragma once
// The picture panel: a small topmost window of six picture buttons in two
// rows - "Pickup", "Copy", "WP" above, "Prev", "Next", "OK" below. What
// they do is PicturePanelLogic's; this window shows its states.

#include "pictures/picture_panel.h"

#include <QAbstractButton>
#include <QDialog>
#include <QImage>
#include <QTimer>

namespace ormbrook {

// The pictures of the panel's buttons, drawn here: each button has an up and
// a down picture, "Prev" a disabled one too, and "Pickup" two pairs (keep,
// delete).
enum class PanelButton { PickupKeep, PickupDelete, Copy, Wallpaper, Prev, Next, Ok };
enum class PanelFace { Up, Down, Disabled };
QImage PanelButtonImage(PanelButton button, PanelFace face, QSize size);

class PanelImageButton : public QAbstractButton {
    Q_OBJECT
public:
    PanelImageButton(PanelButton kind, QWidget* parent = nullptr);
    void SetKind(PanelButton kind);
    PanelButton kind() const { return kind_; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    PanelButton kind_;
};

class PicturePanelDialog : public QDialog {
    Q_OBJECT
public:
    explicit PicturePanelDialog(PicturePanelLogic& logic, QWidget* parent = nullptr);

    PanelImageButton* button(int id) const;
    // Button ids, as the panel has always numbered them.
    static constexpr int kPickup = 1000, kCopy = 1001, kWallpaper = 1002, kPrev = 1003, kNext = 1004, kOk = 1;

    // The buttons again from the logic's states.
    void Refresh();

private:
    PicturePanelLogic& logic_;
    PanelImageButton* pickup_;
    PanelImageButton* copy_;
    PanelImageButton* wallpaper_;
    PanelImageButton* prev_;
    PanelImageButton* next_;
    PanelImageButton* ok_;
    QTimer refresh_;
};

} // namespace ormbrook
