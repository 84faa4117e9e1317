#include "viewers/viewer_core.h"

#include "common/messages.h"
#include "common/picture_block.h"
#include "pictures/picture_frame.h"
#include "platform/program_channel.h"
#include "platform/shared_block.h"

#include <QPainter>
#include <QWidget>

#include <cstring>

namespace ormbrook {

class SurfaceTarget : public TransitionTarget {
public:
    explicit SurfaceTarget(ViewerCore& core) : core_(core) {}
    void CopyRect(const QRect& rect) override { core_.CopyToShown(rect); }

private:
    ViewerCore& core_;
};

ViewerCore::ViewerCore(ViewerOptions options, QObject* parent) : QObject(parent), options_(std::move(options))
{
    const QSize size = options_.screen.isEmpty() ? QSize(1, 1) : options_.screen;
    next_ = QImage(size, QImage::Format_RGB32);
    next_.fill(Qt::black);
    shown_ = next_.copy();
    if (!options_.answer) {
        options_.answer = [](uint32_t own) { PostFrame(kMainProgramTitle, {MsgPictureShown, 0, own, {}}); };
    }
    worker_ = std::thread([this] { Run(); });
}

ViewerCore::~ViewerCore()
{
    Finish();
}

void ViewerCore::Attach(QWidget* window)
{
    window_ = window;
}

void ViewerCore::SetClientSize(QSize size)
{
    clientWidth_ = size.width();
    clientHeight_ = size.height();
}

void ViewerCore::OnNewPicture(uint32_t code, uint32_t distributor)
{
    if (code != kViewerCmdNewPicture)
        return;
    distributor_ = distributor;
    {
        std::lock_guard lock(jobMutex_);
        jobs_.push_back(distributor);
    }
    jobReady_.notify_one();
}

bool ViewerCore::busy() const
{
    std::lock_guard lock(jobMutex_);
    return working_ || !jobs_.empty();
}

void ViewerCore::Finish()
{
    {
        std::lock_guard lock(jobMutex_);
        quit_ = true;
    }
    abort_ = true;
    jobReady_.notify_one();
    if (worker_.joinable())
        worker_.join();
}

void ViewerCore::Run()
{
    for (;;) {
        uint32_t distributor;
        bool quitting;
        {
            std::unique_lock lock(jobMutex_);
            jobReady_.wait(lock, [this] { return quit_ || !jobs_.empty(); });
            if (jobs_.empty())
                return;
            distributor = jobs_.front();
            jobs_.pop_front();
            working_ = true;
            quitting = quit_;
        }
        if (!quitting)
            ShowNotified(distributor);
        // The answer goes whatever happened to the picture: the main program
        // waits for it.
        options_.answer(options_.ownWindow);
        std::lock_guard lock(jobMutex_);
        working_ = false;
    }
}

void ViewerCore::ShowNotified(uint32_t)
{
    SharedBlock block;
    if (!block.OpenForReading(kPictureBlockName))
        return;
    const std::optional<PictureBlockView> view = ReadPictureBlock(block.constData(), block.size());
    if (!view)
        return;
    abort_ = false;
    const int width = std::min(clientWidth_.load(), next_.width());
    const int height = std::min(clientHeight_.load(), next_.height());
    if (width <= 0 || height <= 0)
        return;
    const QRect client(0, 0, width, height);

    FrameOptions frame;
    frame.bgColor = view->header.bgColor;
    frame.tile = options_.tile;
    frame.captionText = CaptionText(view->texts.caption, view->texts.path);
    // Only this thread touches the next frame.
    ComposeFrame(next_, client, view->dib, view->layout, frame);

    SurfaceTarget target(*this);
    RunTransition(target, view->header.drawType, width, height, view->header.drawSpeed, abort_);
    QMetaObject::invokeMethod(this, [this] {
        Flush();
        Q_EMIT pictureShown();
    }, Qt::QueuedConnection);
}

void ViewerCore::CopyToShown(const QRect& rect)
{
    std::lock_guard lock(surfaceMutex_);
    const int bytes = rect.width() * 4;
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        std::memcpy(shown_.scanLine(y) + rect.left() * 4, next_.constScanLine(y) + rect.left() * 4, size_t(bytes));
    dirty_ += rect;
    if (!flushPending_) {
        flushPending_ = true;
        QMetaObject::invokeMethod(this, [this] { Flush(); }, Qt::QueuedConnection);
    }
}

void ViewerCore::Flush()
{
    QRegion region;
    {
        std::lock_guard lock(surfaceMutex_);
        region = dirty_;
        dirty_ = QRegion();
        flushPending_ = false;
    }
    if (window_ && !region.isEmpty())
        window_->repaint(region);
}

void ViewerCore::PaintShown(QPainter& painter, const QRect& rect)
{
    std::lock_guard lock(surfaceMutex_);
    painter.drawImage(rect, shown_, rect);
}

} // namespace ormbrook
