#pragma once
// Everything the desktop program holds of the picture side: the pickup queue
// "WP.lst" (with the lock that tells crawls of other processes that it is
// open), the receivers reached through their windows, the picture cycle, and
// the sink through which its crawls hand their pictures on. The program makes
// one and sees it as a PictureDistribution.

#include "pictures/mirror_pages.h"
#include "pictures/picture_cycle.h"
#include "pictures/picture_sinks.h"
#include "pictures/receiver_links.h"
#include "platform/named_lock.h"

#include <functional>
#include <memory>
#include <string>

namespace ormbrook {

struct PictureSideSetup {
    std::string programFolder; // without a final "/"
    std::string mirrorDir;     // the MirrorDir setting
    // The slide-show list's BuildPictureSources with the settings of the
    // moment.
    std::function<void(const std::function<void(const PickupEntry&)>&)> buildSources;
    // The page walk's extension lists, as the settings answer them now.
    std::function<PageWalkSettings()> walkSettings;
    // How the mirror names its files (the ReadableNames setting) now.
    std::function<MirrorNaming()> mirrorNaming;
    std::string slideWindowProgram; // empty: qrysw beside this program
    std::function<void()> runPanel;
    DesktopReceiver* desktop = nullptr;
};

class PictureSide {
public:
    explicit PictureSide(PictureSideSetup setup);
    ~PictureSide();

    enum class OpenResult { Ok, OldVersion, Failed };
    // Opens "WP.lst" in the program folder. OldVersion: the caller asks the
    // user and converts, or gives up.
    OpenResult OpenQueue();
    int32_t oldVersion() const { return version_; }
    bool ConvertQueue(const std::function<void(int count)>& progress);

    PictureCycle& cycle() { return *cycle_; }
    CPickupQueue& queue() { return *queue_; }
    ChannelReceiverLinks& links() { return links_; }
    std::shared_ptr<CrawlPictureSink> crawlSink() { return sink_; }

private:
    PictureSideSetup setup_;
    NamedLock queueLock_;
    CrawlMirrorPages mirror_;
    std::unique_ptr<CPickupQueue> queue_;
    ChannelReceiverLinks links_;
    std::unique_ptr<PictureCycle> cycle_;
    std::shared_ptr<CrawlPictureSink> sink_;
    int32_t version_ = 0;
};

} // namespace ormbrook
