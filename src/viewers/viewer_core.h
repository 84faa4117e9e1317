#pragma once
// The viewer core shared by the slide window and the screen saver: two
// screen-sized surfaces (the next frame and what the window shows), the
// picture worker that reads the shared block, composes the next frame and
// runs the transition onto the shown frame and the window, and the answer to
// the main program.
//
// The worker is one thread that takes the notifications in turn, so two
// pictures never draw at once; it waits on a condition between pictures and
// costs nothing then. The window is only touched on its own thread: the
// worker tells it which rectangles changed and the window repaints them
// from the shown frame.

#include "viewers/transition.h"

#include <QImage>
#include <QObject>
#include <QPointer>
#include <QRegion>
#include <QSize>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

class QPainter;
class QWidget;

namespace ormbrook {

struct ViewerOptions {
    QSize screen;          // the surfaces' size
    bool tile = false;     // the screen saver with "TileWallpaper" set
    uint32_t ownWindow = 0; // the handle this viewer answers with
    // Where the answer goes (the main program's window); tests put a
    // recorder here. Default: MsgPictureShown to the main window's channel.
    std::function<void(uint32_t ownWindow)> answer;
};

class ViewerCore : public QObject {
    Q_OBJECT
public:
    explicit ViewerCore(ViewerOptions options, QObject* parent = nullptr);
    ~ViewerCore() override;

    // The window that shows the frames; painted from the shown surface.
    void Attach(QWidget* window);

    // The new-picture notification: wParam 3 starts the worker's next
    // picture, with lParam as the distributor; other codes do nothing.
    void OnNewPicture(uint32_t code, uint32_t distributor);
    // The window is closing: a running transition stops at its next step.
    void Abort() { abort_ = true; }
    // Stops taking pictures and waits for the worker, which answers for the
    // picture it had.
    void Finish();

    // The distributor of the last notification, 0 before the first.
    uint32_t distributor() const { return distributor_; }
    bool busy() const;

    // The window's paint: the shown surface, in the rectangle.
    void PaintShown(QPainter& painter, const QRect& rect);
    // The window's client size, as the transitions use it.
    void SetClientSize(QSize size);

Q_SIGNALS:
    // A picture's transition has ended and its last strips are on screen.
    void pictureShown();

private:
    void Run();
    void ShowNotified(uint32_t distributor);
    void CopyToShown(const QRect& rect);
    void Flush();

    ViewerOptions options_;
    QPointer<QWidget> window_;

    mutable std::mutex surfaceMutex_;
    QImage next_;
    QImage shown_;
    QRegion dirty_;
    bool flushPending_ = false;
    bool announcePending_ = false;

    std::atomic<int> clientWidth_ {0};
    std::atomic<int> clientHeight_ {0};
    std::atomic<bool> abort_ {false};
    std::atomic<uint32_t> distributor_ {0};

    mutable std::mutex jobMutex_;
    std::condition_variable jobReady_;
    std::deque<uint32_t> jobs_;
    bool working_ = false;
    bool quit_ = false;
    std::thread worker_;

    friend class SurfaceTarget;
};

} // namespace ormbrook
