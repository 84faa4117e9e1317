#pragma once
// The pickup queue "WP.lst": pictures and picture sources waiting to be looked
// at, taken from the end so that new downloads come up next and folder walks
// go depth first. NextPicture walks folders and mirrored pages to find the
// next picture; nothing here touches the network or the current directory.

#include "crawl/picture_sink.h"
#include "pictures/pickup_entry.h"
#include "pictures/picture_history.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ormbrook {

constexpr int32_t kPickupQueueVersion = 10050;

// The record list under the queue: a queue file with the signature above.
class PickupStore {
public:
    virtual ~PickupStore() = default;
    // Opens or creates the file; the signature read, or -1 when it can
    // neither be opened nor created.
    virtual int32_t Open(const std::string& path) = 0;
    virtual bool PushBack(std::string_view record) = 0;
    virtual std::optional<std::string> PopBack() = 0;
    virtual bool IsEmpty() = 0;
    virtual void Reset() = 0;
    // Every record of an old file (the form without signature), in file order.
    virtual bool ReadOldForm(const std::string& path, const std::function<void(std::string_view record)>& each) = 0;
};

// How a link was found on a page; only these kinds lead anywhere.
enum class PageLinkKind { AHref, AreaHref, BodyBackground, FrameSrc, ImgSrc, Other };

struct PageLink {
    PageLinkKind kind = PageLinkKind::Other;
    std::string url; // absolute canonical URL
};

// What the page walk needs of the mirror.
class MirrorPages {
public:
    virtual ~MirrorPages() = default;
    // The mirror file of a URL for a folder path; nothing when the URL has no
    // local place.
    virtual std::optional<std::string> LocalPath(const std::string& url, const std::string& folderPath) = 0;
    // The links of a mirrored page, in page order.
    virtual std::vector<PageLink> CollectLinks(const std::string& localFile, const std::string& pageUrl) = 0;
};

// Whether a screen saver, a slide window or the desktop display is running:
// new downloads are only offered when someone will show them.
class PictureReceiverQuery {
public:
    virtual ~PictureReceiverQuery() = default;
    virtual bool AnyReceiverRunning() = 0;
};

// What a page walk reads of the settings: the effective HTML extension list
// and the effective excluded HTML extension list (";"-separated).
struct PageWalkSettings {
    std::string extHtml = "htm;html;shtml";
    std::string uvExtHtml;
};

class AppSettings;
PageWalkSettings PageWalkSettingsFrom(const AppSettings& settings);

// A finished JPEG download that may become a picture, with the options of the
// item it was fetched for.
using NewPictureOffer = StoredPicture;

class CPickupQueue {
public:
    CPickupQueue(std::unique_ptr<PickupStore> store, MirrorPages& mirror);

    // Opens "WP.lst" (or any queue path); the version read. Anything but
    // kPickupQueueVersion means the caller must ask and convert, or give up.
    int32_t OpenPickupQueue(const std::string& path);

    // Keeps the old file as "<path>.<version>" and moves its records into a
    // new store at path, calling progress(count) from 0 on. False when any
    // step fails.
    bool ConvertPickupQueue(const std::string& path, int32_t oldVersion,
        const std::function<void(int count)>& progress = {});

    // Negative when the record could not be stored.
    int AddEntry(const PickupEntry& entry);
    std::optional<PickupEntry> TakeEntry();
    bool IsQueueEmpty();
    void ClearQueue();

    // Empties the queue and fills it again through buildSources (the
    // slide-show list's BuildPictureSources), in the order it adds them.
    void RefillQueue(const std::function<void(const std::function<void(const PickupEntry&)>&)>& buildSources);

    // The next picture to show, walking folders and pages as they come up.
    std::optional<PickupEntry> NextPicture();
    std::optional<PickupEntry> PreviousPicture();
    void AddToHistory(const PickupEntry& entry) { history_.AddToHistory(entry); }
    void ClearPictures();

    // Queues a fresh download as "New Picture" when a receiver runs and the
    // picture is large enough. True when it was queued.
    bool OfferNewPicture(const NewPictureOffer& offer, PictureReceiverQuery& receivers);
    // The entry OfferNewPicture queues; nothing when the picture is too small
    // or unreadable.
    static std::optional<PickupEntry> NewPictureEntry(const NewPictureOffer& offer);

    void SetPageWalkSettings(PageWalkSettings settings);
    const PictureHistory& history() const { return history_; }
    // The picture panel's delete of the only picture shown.
    void ClearHistory() { history_.Clear(); }

private:
    void WalkFolder(const PickupEntry& entry);
    void WalkPage(const PickupEntry& entry, std::vector<std::string>& expanded);

    std::unique_ptr<PickupStore> store_;
    MirrorPages& mirror_;
    std::mutex queueMutex_;
    std::mutex settingsMutex_;
    PageWalkSettings walk_;
    PictureHistory history_;
};

} // namespace ormbrook
