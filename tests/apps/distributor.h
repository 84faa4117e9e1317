#pragma once
// The main program's side of the pictures, played by a test: the picture
// cycle with its window listening as "Ormbrook Download Engine", starting the
// slide window from the build.

#include "common/messages.h"
#include "pictures/mirror_pages.h"
#include "pictures/picture_cycle.h"
#include "pictures/queue_file_pickup_store.h"
#include "pictures/receiver_links.h"
#include "platform/named_lock.h"
#include "platform/program_channel.h"
#include "support/event_loop.h"
#include "support/xvfb_display.h"

#include <algorithm>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace ormbrook::test {

inline std::string QryswPath()
{
    return std::string(ORMBROOK_BINARY_DIR) + "/apps/qrysw";
}

// The main program's side of the pictures, in this process.
class Distributor {
public:
    Distributor(const std::string& folder, const XvfbDisplay& x, std::vector<PickupEntry> sources)
        : mirror_(folder), links_(QryswPath()), sources_(std::move(sources))
    {
        queue_ = std::make_unique<CPickupQueue>(std::make_unique<QueueFilePickupStore>(), mirror_);
        queue_->OpenPickupQueue(folder + "WP.lst");
        links_.SetEnvironment(x.Environment());
        PictureCycleSetup setup;
        setup.buildSources = [this](const std::function<void(const PickupEntry&)>& add) {
            for (const auto& s : sources_)
                add(s);
        };
        setup.mainWindow = uint32_t(::getpid());
        setup.runPanel = [this] { ++panels; };
        cycle = std::make_unique<PictureCycle>(*queue_, links_, nullptr, setup);
        window_ = std::make_unique<ChannelServer>([this](const ChannelFrame& frame) {
            frames.push_back(frame);
            uint32_t reply = 0;
            cycle->OnReceiverFrame(frame, reply);
            return reply;
        });
        // As the main program, which holds its lock while it runs.
        listening = lock_.TryAcquire() && window_->Listen(kMainProgramTitle);
    }
    ~Distributor()
    {
        if (cycle->slideWindowRunning())
            cycle->ToggleSlideWindow();
        RunUntil([] { return !ChannelExists(kSlideWindowTitle); }, 3000);
    }

    bool listening = false;
    int panels = 0;
    std::vector<ChannelFrame> frames; // every frame the window got
    size_t Count(uint32_t message) const
    {
        return size_t(std::count_if(frames.begin(), frames.end(),
                                    [message](const ChannelFrame& f) { return f.message == message; }));
    }
    std::unique_ptr<PictureCycle> cycle;

private:
    CrawlMirrorPages mirror_;
    ChannelReceiverLinks links_;
    std::vector<PickupEntry> sources_;
    std::unique_ptr<CPickupQueue> queue_;
    NamedLock lock_ {kMainProgramTitle};
    std::unique_ptr<ChannelServer> window_;
};


// A folder of pictures as a slide-show source.
inline PickupEntry FolderSource(const std::string& folder, int drawType, int drawSpeed, int interval)
{
    PickupEntry e;
    e.folder = folder;
    e.drawType = drawType;
    e.drawSpeed = drawSpeed;
    e.interval = interval;
    e.bgColor = 0x00400000; // dark blue
    return e;
}

} // namespace ormbrook::test
