#pragma once
// Where the pictures a crawl stores go. In the desktop program they are
// offered to its pickup queue while a receiver runs. A crawl run without it
// (qry --crawl, qry --scheduler) hands them to the desktop program when that
// runs, which takes them only while a receiver shows pictures. Without a
// receiver nothing is offered: a night's crawl does not pile up its pictures
// as "New Picture" for the next slide show.

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
    void PictureStored(const StoredPicture& picture) override;
};

} // namespace ormbrook
