#pragma once
// The desktop as the third picture receiver (the wallpaper changer): each
// picture of the cycle is composed at the screen's size as the viewers
// compose it, written to a file in the runtime folder and made the desktop's
// background by the session's back end. It answers "shown" once the
// desktop has the picture, and "stopped" once the background the user had
// before is back. Its work runs on a thread of its own, in order.

#include "pictures/picture_cycle.h"
#include "pictures/wallpaper_backends.h"

#include <QSize>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace ormbrook {

class DesktopWallpaper : public DesktopReceiver {
public:
    // backend: null where this session has none (the changer then only
    // answers). folder: where the frames are written (the runtime folder).
    DesktopWallpaper(std::unique_ptr<WallpaperBackend> backend, QSize screen, std::string folder);
    ~DesktopWallpaper() override;

    // Where the answers go (the main window: PictureCycle::Deliver).
    // Empty: answers go nowhere (the cycle is going away).
    void SetAnswer(std::function<void(const ChannelFrame&)> answer);

    void Start() override;
    void Stop() override;
    void ShowPicture(uint32_t mainWindow) override;

    // The permanent wallpaper ("WP"): shown in the user's own placement, and
    // what the changer puts back when it stops.
    void SetPermanent(const std::string& file);

    // Waits until the queued work is done (tests, exit).
    void Drain();
    WallpaperBackend* backend() { return backend_.get(); }

private:
    void Post(std::function<void()> job);
    void Run();
    void ShowBlock();
    void Answer(const ChannelFrame& frame);

    std::unique_ptr<WallpaperBackend> backend_;
    QSize screen_;
    std::string folder_;
    std::function<void(const ChannelFrame&)> answer_;
    bool on_ = false;  // worker's own
    int frameNumber_ = 0;
    std::string lastFrame_;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::function<void()>> jobs_;
    bool working_ = false;
    bool quit_ = false;
    std::thread worker_;
};

} // namespace ormbrook
