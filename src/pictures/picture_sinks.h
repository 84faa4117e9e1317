#pragma once
// Where the pictures a crawl stores go. In the desktop program they are
// offered to its pickup queue while a receiver runs. A crawl run without it
// (qry --crawl, qry --scheduler) hands them to the desktop program when that
// runs, or else puts them into "WP.lst" itself, so that the next desktop
// session shows them.

#include "crawl/picture_sink.h"
#include "platform/named_lock.h"

#include <memory>
#include <string>

namespace ormbrook {

class CPickupQueue;
class PictureCycle;

// Whoever has "WP.lst" open holds this lock: the desktop program for its
// whole run, a crawl without it for one append.
constexpr const char* kPickupQueueLockName = "Ormbrook Pickup Queue";

class PickupPictureSink : public CrawlPictureSink {
public:
    PickupPictureSink(CPickupQueue& queue, PictureCycle& cycle) : queue_(queue), cycle_(cycle) {}
    void PictureStored(const StoredPicture& picture) override;

private:
    CPickupQueue& queue_;
    PictureCycle& cycle_;
};

class HeadlessPictureSink : public CrawlPictureSink {
public:
    // queuePath: the program folder's "WP.lst".
    explicit HeadlessPictureSink(std::string queuePath) : queuePath_(std::move(queuePath)) {}
    void PictureStored(const StoredPicture& picture) override;

private:
    std::string queuePath_;
};

} // namespace ormbrook
