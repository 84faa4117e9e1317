// The picture panel's window over its logic: six buttons, Prev's state and
// the "Pickup" pair follow the logic, and the buttons reach it.

#include "windows/picture_panel_dialog.h"

#include <gtest/gtest.h>

using namespace ormbrook;

TEST(PicturePanelDialog, ButtonsFollowTheLogic)
{
    std::string current = "/m/a.jpg";
    size_t history = 1;
    int nexts = 0, previouses = 0;
    PanelServices s;
    s.currentPicture = [&] { return current; };
    s.historyCount = [&] { return history; };
    s.next = [&] { ++nexts; };
    s.previous = [&] { ++previouses; };
    s.pickupDir = [] { return std::string("/p/Pickup/"); };
    PicturePanelLogic logic(s);
    PicturePanelDialog panel(logic);

    for (int id : {PicturePanelDialog::kPickup, PicturePanelDialog::kCopy, PicturePanelDialog::kWallpaper,
                   PicturePanelDialog::kPrev, PicturePanelDialog::kNext, PicturePanelDialog::kOk})
        ASSERT_NE(panel.button(id), nullptr) << id;
    EXPECT_TRUE(panel.windowTitle().isEmpty());
    EXPECT_TRUE(panel.windowFlags() & Qt::WindowStaysOnTopHint);
    // Two rows of three 37 x 43 buttons in a 112 x 87 panel (dialog units).
    const QSize b = panel.button(PicturePanelDialog::kOk)->size();
    EXPECT_LE(3 * b.width(), panel.width());
    EXPECT_LE(2 * b.height(), panel.height());
    EXPECT_GT(b.height(), b.width());

    EXPECT_FALSE(panel.button(PicturePanelDialog::kPrev)->isEnabled());
    EXPECT_EQ(panel.button(PicturePanelDialog::kPickup)->kind(), PanelButton::PickupKeep);
    panel.button(PicturePanelDialog::kNext)->click();
    EXPECT_EQ(nexts, 1);
    EXPECT_TRUE(panel.button(PicturePanelDialog::kPrev)->isEnabled());
    history = 2;
    panel.button(PicturePanelDialog::kPrev)->click();
    EXPECT_EQ(previouses, 1);
    EXPECT_FALSE(panel.button(PicturePanelDialog::kPrev)->isEnabled());

    current = "/p/Pickup/a.jpg";
    panel.Refresh();
    EXPECT_EQ(panel.button(PicturePanelDialog::kPickup)->kind(), PanelButton::PickupDelete);

    // Every face of every button is drawn, and the faces differ.
    for (PanelButton kind : {PanelButton::PickupKeep, PanelButton::PickupDelete, PanelButton::Copy,
                             PanelButton::Wallpaper, PanelButton::Prev, PanelButton::Next, PanelButton::Ok}) {
        const QImage up = PanelButtonImage(kind, PanelFace::Up, QSize(56, 70));
        const QImage down = PanelButtonImage(kind, PanelFace::Down, QSize(56, 70));
        const QImage off = PanelButtonImage(kind, PanelFace::Disabled, QSize(56, 70));
        EXPECT_NE(up, down);
        EXPECT_NE(up, off);
    }
    bool accepted = false;
    QObject::connect(&panel, &QDialog::accepted, [&] { accepted = true; });
    panel.button(PicturePanelDialog::kOk)->click();
    EXPECT_TRUE(accepted);
}
