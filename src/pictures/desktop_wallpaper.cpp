#include "pictures/desktop_wallpaper.h"

#include "common/messages.h"
#include "common/picture_block.h"
#include "pictures/picture_frame.h"
#include "platform/shared_block.h"

#include <cstdio>

namespace ormbrook {

DesktopWallpaper::DesktopWallpaper(std::unique_ptr<WallpaperBackend> backend, QSize screen, std::string folder)
    : backend_(std::move(backend)), screen_(screen.isEmpty() ? QSize(1024, 768) : screen), folder_(std::move(folder))
{
    worker_ = std::thread([this] { Run(); });
}

DesktopWallpaper::~DesktopWallpaper()
{
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    changed_.notify_all();
    worker_.join();
}

void DesktopWallpaper::Post(std::function<void()> job)
{
    {
        std::lock_guard lock(mutex_);
        jobs_.push_back(std::move(job));
    }
    changed_.notify_all();
}

void DesktopWallpaper::Run()
{
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [this] { return quit_ || !jobs_.empty(); });
            if (jobs_.empty())
                return;
            job = std::move(jobs_.front());
            jobs_.pop_front();
            working_ = true;
        }
        job();
        {
            std::lock_guard lock(mutex_);
            working_ = false;
        }
        changed_.notify_all();
    }
}

void DesktopWallpaper::Drain()
{
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return jobs_.empty() && !working_; });
}

void DesktopWallpaper::SetAnswer(std::function<void(const ChannelFrame&)> answer)
{
    std::lock_guard lock(mutex_);
    answer_ = std::move(answer);
}

void DesktopWallpaper::Answer(const ChannelFrame& frame)
{
    std::function<void(const ChannelFrame&)> answer;
    {
        std::lock_guard lock(mutex_);
        answer = answer_;
    }
    if (answer)
        answer(frame);
}

void DesktopWallpaper::Start()
{
    Post([this] {
        if (!on_ && backend_)
            backend_->Save();
        on_ = true;
    });
}

void DesktopWallpaper::Stop()
{
    Post([this] {
        if (on_ && backend_)
            backend_->Restore();
        on_ = false;
        for (int i = 0; i < 2; ++i)
            std::remove((folder_ + "wallpaper-" + std::to_string(i) + ".png").c_str());
        lastFrame_.clear();
        Answer({MsgDesktopStopped, 0, 0, {}});
    });
}

void DesktopWallpaper::ShowPicture(uint32_t)
{
    Post([this] {
        ShowBlock();
        // Answered whatever came of it: the cycle waits for this.
        Answer({MsgPictureShown, 0, kDesktopHandle, {}});
    });
}

void DesktopWallpaper::ShowBlock()
{
    if (!on_ || !backend_)
        return;
    SharedBlock block;
    if (!block.OpenForReading(kPictureBlockName))
        return;
    const std::optional<PictureBlockView> view = ReadPictureBlock(block.constData(), block.size());
    if (!view)
        return;
    QImage frame(screen_, QImage::Format_RGB32);
    FrameOptions options;
    options.bgColor = view->header.bgColor;
    options.captionText = CaptionText(view->texts.caption, view->texts.path);
    ComposeFrame(frame, QRect(QPoint(0, 0), screen_), view->dib, view->layout, options);
    block.Close();
    // Two names in turn: some desktops do not load a file again under the
    // name they show already.
    const std::string file = folder_ + "wallpaper-" + std::to_string(frameNumber_++ % 2) + ".png";
    // Quality 100 is the fastest PNG: the file lives only until the next one.
    if (!frame.save(QString::fromStdString(file), "PNG", 100))
        return;
    backend_->Show(file, frame, true);
    lastFrame_ = file;
}

void DesktopWallpaper::SetPermanent(const std::string& file)
{
    Post([this, file] {
        if (!backend_)
            return;
        if (on_) {
            // The changer shows its frames now; the new choice comes back
            // when it stops.
            backend_->ReplaceSaved(file);
        } else {
            backend_->Show(file, QImage(), false);
        }
    });
}

} // namespace ormbrook
