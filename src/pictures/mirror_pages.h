#pragma once
// The page walk's view of the mirror the crawler wrote: local file names and
// the links of stored pages.

#include "crawl/mirror.h"
#include "pictures/pickup_queue.h"

#include <mutex>

namespace ormbrook {

class CrawlMirrorPages : public MirrorPages {
public:
    // mirrorRoot: the MirrorDir setting.
    explicit CrawlMirrorPages(std::string_view mirrorRoot) : mirror_(mirrorRoot, "") {}

    // The settings sheet stored another MirrorDir; the walk on the picture
    // worker looks there from its next page on.
    void SetMirrorRoot(std::string_view mirrorRoot)
    {
        std::lock_guard lock(mutex_);
        mirror_ = CMirror(mirrorRoot, "");
    }
    std::optional<std::string> LocalPath(const std::string& url, const std::string& folderPath) override
    {
        std::lock_guard lock(mutex_);
        return mirror_.LocalPath(url, folderPath);
    }
    std::vector<PageLink> CollectLinks(const std::string& localFile, const std::string& pageUrl) override;
    // A walk takes the ReadableNames setting of the moment when it starts.
    void SetNaming(MirrorNaming naming) { mirror_.SetNaming(naming); }

private:
    std::mutex mutex_;
    CMirror mirror_;
};

} // namespace ormbrook
