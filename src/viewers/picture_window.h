#pragma once
// The window a viewer draws in: it paints what the viewer core shows and
// reports the user's actions; what they mean is the program's to decide.

#include <QWidget>

namespace ormbrook {

class ViewerCore;

class PictureWindow : public QWidget {
    Q_OBJECT
public:
    enum class Kind {
        Slide,    // the slide window: double clicks count
        Saver,    // the full-screen saver: keys and buttons count, and the
                  // window system cannot close it
        Passive,  // a preview or a window of XScreenSaver's: no input
    };

    PictureWindow(ViewerCore& core, Kind kind, QWidget* parent = nullptr);

    // Closes for good, unlike a close request of the window system, which
    // the saver ignores.
    void CloseWindow();

Q_SIGNALS:
    void doubleClicked();
    // A key, or the left or middle button (the saver ends).
    void endRequested();
    // The right button (the saver opens the picture panel).
    void rightClicked();
    void closed();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    ViewerCore& core_;
    Kind kind_;
    bool closing_ = false;
};

} // namespace ormbrook
