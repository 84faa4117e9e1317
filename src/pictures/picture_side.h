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
    // The longest side of the screens, in pixels (how long a transition
    // may take); 0 leaves the cycle's own bound.
    int largestViewSide = 0;
};

class PictureSide {
public:
    explicit PictureSide(PictureSideSetup setup);
    ~PictureSide();

    enum class OpenResult { Ok, OldVersion, Failed };
    // Opens "WP.lst" in the program folder. OldVersion: the caller asks the
    // user and converts, or gives up. Failed: another program kept the lock;
    // the file is left as it is.
    OpenResult OpenQueue();
    int32_t oldVersion() const { return version_; }
    std::string queuePath() const { return setup_.programFolder + "/WP.lst"; }
    // Where the page walk finds the mirror (the MirrorDir setting changed).
    void SetMirrorDir(const std::string& mirrorDir) { mirror_.SetMirrorRoot(mirrorDir); }
    std::optional<std::string> MirrorPathOf(const std::string& url, const std::string& folderPath)
    {
        return mirror_.LocalPath(url, folderPath);
    }
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
