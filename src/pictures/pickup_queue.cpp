#include "pictures/pickup_queue.h"

#include "crawl/settings.h"
#include "common/url.h"
#include "pictures/jpeg_decode.h"

#include <algorithm>
#include <filesystem>

namespace fs = std::filesystem;

namespace ormbrook {

namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

bool EqualsIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size()
        && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return LowerAscii(x) == LowerAscii(y); });
}

// Only the four-byte ending ".jpg" counts: ".jpeg" files are not taken from
// folders.
bool HasJpgEnding(std::string_view name)
{
    return name.size() >= 4 && EqualsIgnoringCase(name.substr(name.size() - 4), ".jpg");
}

bool IsRegularFile(const std::string& path)
{
    std::error_code ec;
    return fs::is_regular_file(path, ec);
}

bool IsDirectory(const std::string& path)
{
    std::error_code ec;
    return fs::is_directory(path, ec);
}

bool LargeEnough(const std::string& path, int32_t minWidth, int32_t minHeight)
{
    const JpegSize size = ReadJpegSize(path);
    return size.ok && size.width >= minWidth && size.height >= minHeight;
}

// A new entry with the display and walk fields (1-9) of its origin.
PickupEntry Derived(const PickupEntry& from)
{
    PickupEntry e;
    e.bgColor = from.bgColor;
    e.drawType = from.drawType;
    e.drawSpeed = from.drawSpeed;
    e.maxDepth = from.maxDepth;
    e.depth = from.depth;
    e.minWidth = from.minWidth;
    e.minHeight = from.minHeight;
    e.followImages = from.followImages;
    e.interval = from.interval;
    return e;
}

std::string_view AsView(const std::vector<uint8_t>& bytes)
{
    return std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

} // namespace

PageWalkSettings PageWalkSettingsFrom(const AppSettings& settings)
{
    PageWalkSettings walk;
    walk.extHtml = settings.ExtList(ExtKindHtml);
    walk.uvExtHtml = settings.UVExtList(ExtKindHtml);
    return walk;
}

CPickupQueue::CPickupQueue(std::unique_ptr<PickupStore> store, MirrorPages& mirror)
    : store_(std::move(store)), mirror_(mirror)
{
}

int32_t CPickupQueue::OpenPickupQueue(const std::string& path)
{
    std::lock_guard lock(queueMutex_);
    return store_->Open(path);
}

bool CPickupQueue::ConvertPickupQueue(const std::string& path, int32_t oldVersion,
    const std::function<void(int count)>& progress)
{
    std::lock_guard lock(queueMutex_);
    const std::string oldCopy = path + "." + std::to_string(oldVersion);
    std::error_code ec;
    if (!fs::copy_file(path, oldCopy, fs::copy_options::overwrite_existing, ec) || ec)
        return false;
    if (!fs::remove(path, ec) || ec)
        return false;
    if (store_->Open(path) != kPickupQueueVersion)
        return false;

    int count = 0;
    if (progress)
        progress(count);
    bool stored = true;
    const bool read = store_->ReadOldForm(oldCopy, [&](std::string_view record) {
        // Old records share the encoding; one that doesn't decode could never
        // be shown, so it is not carried over.
        if (!DecodePickupRecord(record))
            return;
        stored = store_->PushBack(record) && stored;
        ++count;
        if (progress)
            progress(count);
    });
    return read && stored;
}

int CPickupQueue::AddEntry(const PickupEntry& entry)
{
    const std::vector<uint8_t> record = EncodePickupRecord(entry);
    std::lock_guard lock(queueMutex_);
    return store_->PushBack(AsView(record)) ? 0 : -1;
}

std::optional<PickupEntry> CPickupQueue::TakeEntry()
{
    std::lock_guard lock(queueMutex_);
    while (auto record = store_->PopBack()) {
        if (auto entry = DecodePickupRecord(*record))
            return entry;
        // A damaged record is dropped and the next one taken.
    }
    return std::nullopt;
}

bool CPickupQueue::IsQueueEmpty()
{
    std::lock_guard lock(queueMutex_);
    return store_->IsEmpty();
}

void CPickupQueue::ClearQueue()
{
    std::lock_guard lock(queueMutex_);
    store_->Reset();
}

void CPickupQueue::RefillQueue(
    const std::function<void(const std::function<void(const PickupEntry&)>&)>& buildSources)
{
    ClearQueue();
    buildSources([this](const PickupEntry& source) { AddEntry(source); });
}

void CPickupQueue::SetPageWalkSettings(PageWalkSettings settings)
{
    std::lock_guard lock(settingsMutex_);
    walk_ = std::move(settings);
}

void CPickupQueue::WalkFolder(const PickupEntry& entry)
{
    if (!IsDirectory(entry.folder))
        return;
    std::error_code ec;
    std::vector<fs::directory_entry> items;
    for (fs::directory_iterator it(entry.folder, fs::directory_options::skip_permission_denied, ec), end;
         !ec && it != end; it.increment(ec))
        items.push_back(*it);
    // A stable order, so the walk does not depend on the file system's.
    std::sort(items.begin(), items.end(),
        [](const fs::directory_entry& a, const fs::directory_entry& b) { return a.path().filename() < b.path().filename(); });

    const std::string base = entry.folder.ends_with('/') ? entry.folder : entry.folder + "/";
    for (const fs::directory_entry& item : items) {
        const std::string name = item.path().filename().string();
        const std::string full = base + name;
        if (HasJpgEnding(name) && LargeEnough(full, entry.minWidth, entry.minHeight)) {
            PickupEntry file = Derived(entry);
            file.path = full;
            AddEntry(file);
        }
        // A linked folder could lead back up the tree and make the walk
        // endless; only real subfolders are walked.
        std::error_code dirEc;
        if (item.is_directory(dirEc) && !item.is_symlink(dirEc)) {
            PickupEntry sub = Derived(entry);
            sub.folder = full;
            AddEntry(sub);
        }
    }
}

void CPickupQueue::WalkPage(const PickupEntry& entry, std::vector<std::string>& expanded)
{
    CUrl url;
    if (!url.Parse(entry.pageUrl))
        return;

    if (url.fileKind() == FileKindJpeg) {
        const auto local = mirror_.LocalPath(entry.pageUrl, entry.folder);
        if (local && IsRegularFile(*local) && LargeEnough(*local, entry.minWidth, entry.minHeight)) {
            PickupEntry file = Derived(entry);
            file.path = *local;
            AddEntry(file);
        }
        return;
    }

    if (url.hasExtension()) {
        std::lock_guard lock(settingsMutex_);
        if (!ExtensionListMatches(walk_.extHtml, url.extension())
            || ExtensionListMatches(walk_.uvExtHtml, url.extension()))
            return;
    }

    // Frames and backgrounds stay on their level, so two pages framing each
    // other would be expanded for ever within one search; each page is
    // expanded once per level and search.
    std::string key = entry.folder + '\n' + entry.pageUrl + '\n' + std::to_string(entry.depth);
    if (std::find(expanded.begin(), expanded.end(), key) != expanded.end())
        return;
    expanded.push_back(std::move(key));

    const auto local = mirror_.LocalPath(entry.pageUrl, entry.folder);
    if (!local || !IsRegularFile(*local))
        return;
    const std::vector<PageLink> links = mirror_.CollectLinks(*local, entry.pageUrl);
    // Queued from the last link to the first, so the first link of the page
    // comes off the end of the queue first.
    for (auto it = links.rbegin(); it != links.rend(); ++it) {
        int32_t level;
        switch (it->kind) {
        case PageLinkKind::AHref:
        case PageLinkKind::AreaHref:
            level = entry.depth + 1;
            break;
        case PageLinkKind::BodyBackground:
        case PageLinkKind::FrameSrc:
            level = entry.depth;
            break;
        case PageLinkKind::ImgSrc:
            if (!entry.followImages)
                continue;
            level = entry.depth;
            break;
        default:
            continue;
        }
        if (level > entry.maxDepth)
            continue;
        PickupEntry page = Derived(entry);
        page.depth = level;
        page.folder = entry.folder;
        page.pageUrl = it->url;
        AddEntry(page);
    }
}

std::optional<PickupEntry> CPickupQueue::NextPicture()
{
    std::vector<std::string> expanded;
    while (auto entry = TakeEntry()) {
        if (entry->IsFileEntry()) {
            if (IsRegularFile(entry->path))
                return entry;
        } else if (entry->IsPageEntry()) {
            WalkPage(*entry, expanded);
        } else if (entry->IsFolderEntry()) {
            WalkFolder(*entry);
        }
    }
    return std::nullopt;
}

std::optional<PickupEntry> CPickupQueue::PreviousPicture()
{
    if (history_.count() <= 1)
        return std::nullopt;
    const auto shown = history_.TakeNewest();
    PickupEntry back = Derived(*shown);
    back.path = shown->path;
    AddEntry(back);
    return history_.TakeNewest();
}

void CPickupQueue::ClearPictures()
{
    history_.Clear();
    ClearQueue();
}

std::optional<PickupEntry> CPickupQueue::NewPictureEntry(const NewPictureOffer& offer)
{
    if (!LargeEnough(offer.localPath, offer.minWidth, offer.minHeight))
        return std::nullopt;
    PickupEntry e;
    e.bgColor = offer.bgColor;
    e.drawType = offer.drawType;
    e.drawSpeed = offer.drawSpeed;
    e.maxDepth = 0;
    e.depth = 0;
    e.minWidth = offer.minWidth;
    e.minHeight = offer.minHeight;
    e.followImages = offer.followImages;
    e.interval = offer.interval;
    e.caption = "New Picture";
    e.path = offer.localPath;
    return e;
}

bool CPickupQueue::OfferNewPicture(const NewPictureOffer& offer, PictureReceiverQuery& receivers)
{
    if (!receivers.AnyReceiverRunning())
        return false;
    const auto entry = NewPictureEntry(offer);
    return entry && AddEntry(*entry) >= 0;
}

} // namespace ormbrook
