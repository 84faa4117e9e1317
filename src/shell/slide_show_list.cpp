#include "shell/slide_show_list.h"

#include "crawl/mirror.h"
#include "crawl/settings.h"
#include "shell/list_file_io.h"
#include "shell/record_line_reader.h"

#include <algorithm>
#include <filesystem>

namespace ormbrook {

namespace {

constexpr long kNumberLimit = 0x7FFFFFFF;

bool DefaultFileExists(const std::string& path)
{
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

int32_t Bound(int32_t v, int32_t lo, int32_t hi) { return std::clamp(v, lo, hi); }

bool ReadRecord(RecordLineReader& in, SlideEntry& e)
{
    if (!in.ReadTextField(e.file, kSlidePathMax) || !in.ReadTextField(e.folder, kSlidePathMax)
        || !in.ReadTextField(e.url, kSlideTextMax) || !in.ReadTextField(e.title, kSlideTextMax))
        return false;
    int32_t* numbers[] = {&e.linkDepth, &e.effect, &e.speed, &e.backColor, &e.minWidth, &e.minHeight,
        &e.showImgTags, &e.interval};
    for (size_t i = 0; i < std::size(numbers); ++i) {
        if (i > 0 && !in.Expect('|'))
            return false;
        *numbers[i] = int32_t(in.ReadNumber(kNumberLimit));
    }
    return in.EndOfRecord();
}

bool Below(const std::string& folder, const std::string& top)
{
    return folder == top
        || (folder.size() > top.size() && folder.compare(0, top.size(), top) == 0 && folder[top.size()] == '/');
}

// A folder setting without its final "/" (a hand-edited one may have none).
std::string WithoutFinalSlash(const std::string& s)
{
    return !s.empty() && s.back() == '/' ? s.substr(0, s.size() - 1) : s;
}

} // namespace

void BoundSlideValues(SlideEntry& e)
{
    e.speed = Bound(e.speed, 0, 100);
    e.minWidth = Bound(e.minWidth, 0, 640);
    e.minHeight = Bound(e.minHeight, 0, 480);
    e.interval = Bound(e.interval, 5, 86400);
}

bool SlideEntryFitsFile(const SlideEntry& e)
{
    // Numbers are written without sign; a negative one would not read back.
    for (int32_t v : {e.linkDepth, e.effect, e.speed, e.backColor, e.minWidth, e.minHeight, e.showImgTags, e.interval})
        if (v < 0)
            return false;
    return TextFits(e.file, kSlidePathMax) && TextFits(e.folder, kSlidePathMax) && TextFits(e.url, kSlideTextMax)
        && TextFits(e.title, kSlideTextMax);
}

PictureSourceSettings PictureSourceSettingsFrom(const AppSettings& settings)
{
    PictureSourceSettings s;
    s.pickupDisplay = settings.values().PickupDisplay;
    s.pickupDir = settings.values().PickupDir;
    s.mirrorDir = settings.values().MirrorDir;
    s.linkMaxStored = settings.values().LinkMax;
    s.bgColor = settings.BGColor();
    s.drawType = settings.MUDrawType();
    s.drawSpeed = settings.MUDrawSpeed();
    s.minPicWidth = settings.MinPicWidth();
    s.minPicHeight = settings.MinPicHeight();
    s.imgSw = settings.IMGSW();
    s.picChgInterval = settings.PicChgInterval();
    return s;
}

CSSDoc::CSSDoc() : exists_(DefaultFileExists) {}
CSSDoc::CSSDoc(FileExists exists) : exists_(std::move(exists)) {}

void CSSDoc::Parse(std::string_view bytes)
{
    std::lock_guard lock(mutex_);
    entries_.clear();
    unreadLines_.clear();
    RecordLineReader in(bytes);
    while (!in.AtEnd()) {
        SlideEntry e;
        const int line = in.lineNumber();
        if (!ReadRecord(in, e)) {
            // One damaged line must not take the entries after it with it
            // (the next save would write the list without them).
            unreadLines_.push_back(line);
            in.SkipLine();
            continue;
        }
        if (exists_(e.file))
            entries_.push_back(std::move(e));
    }
}

std::string CSSDoc::Serialize()
{
    std::lock_guard lock(mutex_);
    return SerializeLocked();
}

std::string CSSDoc::SerializeLocked() const
{
    std::string out;
    for (const SlideEntry& e : entries_) {
        if (!SlideEntryFitsFile(e))
            continue; // it would end the reading of every entry after it
        out += e.file + '|' + e.folder + '|' + e.url + '|' + e.title;
        for (int32_t v : {e.linkDepth, e.effect, e.speed, e.backColor, e.minWidth, e.minHeight, e.showImgTags,
                 e.interval}) {
            out += '|';
            out += std::to_string(v);
        }
        out += "\r\n";
    }
    return out;
}

bool CSSDoc::Load(const std::string& pathBase)
{
    if (pathBase.size() > kSlideFileBaseMax)
        return false;
    std::string bytes;
    if (!ReadOrCreateListFile(pathBase + ".ssf", bytes))
        return false;
    Parse(bytes);
    std::lock_guard lock(mutex_);
    pathBase_ = pathBase;
    return true;
}

bool CSSDoc::Save(const std::string& pathBase)
{
    std::lock_guard lock(mutex_);
    return SaveLocked(pathBase);
}

bool CSSDoc::SaveLocked(const std::string& pathBase) const
{
    if (pathBase.size() > kSlideFileBaseMax)
        return false;
    return SaveListFile(pathBase + ".ssf", SerializeLocked());
}

bool CSSDoc::SetItemSlideShow(const std::string& projectPath, const std::string& folderPath, const std::string& url,
    int linkDepth, const SlideSettings& page)
{
    SlideEntry e;
    e.linkDepth = linkDepth;
    e.file = projectPath;
    e.folder = folderPath;
    e.url = url;
    e.effect = page.effect;
    e.speed = page.speed;
    e.backColor = page.backColor;
    e.minWidth = page.minWidth;
    e.minHeight = page.minHeight;
    e.showImgTags = page.showImgTags ? 1 : 0;
    e.interval = page.interval;
    BoundSlideValues(e);
    if (page.enabled && !SlideEntryFitsFile(e))
        return false;

    std::lock_guard lock(mutex_);
    const auto it = std::find_if(entries_.begin(), entries_.end(), [&](const SlideEntry& s) { return s.SameItem(e); });
    if (it != entries_.end())
        entries_.erase(it);
    if (page.enabled) {
        entries_.push_back(std::move(e));
        if (!pathBase_.empty())
            SaveLocked(pathBase_);
    }
    return true;
}

bool CSSDoc::SetItemTitle(const std::string& projectPath, const std::string& folderPath, const std::string& url,
    std::string_view title)
{
    const std::string text = FieldText(title, kSlideTextMax);
    std::lock_guard lock(mutex_);
    bool changed = false;
    for (SlideEntry& e : entries_)
        if (e.file == projectPath && e.folder == folderPath && e.url == url && e.title != text) {
            e.title = text;
            changed = true;
        }
    return changed;
}

void CSSDoc::RemoveItemEntries(const std::string& projectPath, const std::string& folderPath, const std::string& url)
{
    std::lock_guard lock(mutex_);
    std::erase_if(entries_, [&](const SlideEntry& s) {
        if (s.file != projectPath)
            return false;
        if (!url.empty())
            return s.folder == folderPath && s.url == url;
        return Below(s.folder, folderPath);
    });
}

void CSSDoc::BuildPictureSources(const PictureSourceSettings& settings,
    const std::function<void(const PickupEntry&)>& add)
{
    if (settings.pickupDisplay != 0) {
        PickupEntry p;
        p.bgColor = settings.bgColor;
        p.drawType = settings.drawType;
        p.drawSpeed = settings.drawSpeed;
        p.maxDepth = settings.linkMaxStored;
        p.depth = 0;
        p.minWidth = settings.minPicWidth;
        p.minHeight = settings.minPicHeight;
        p.followImages = settings.imgSw;
        p.interval = settings.picChgInterval;
        p.folder = WithoutFinalSlash(settings.pickupDir);
        add(p);
    }
    if (settings.pickupDisplay == 2)
        return;

    std::lock_guard lock(mutex_);
    for (const SlideEntry& s : entries_) {
        PickupEntry p;
        p.bgColor = s.backColor;
        p.drawType = s.effect;
        p.drawSpeed = s.speed;
        p.maxDepth = s.linkDepth;
        p.depth = 0;
        p.minWidth = s.minWidth;
        p.minHeight = s.minHeight;
        p.followImages = s.showImgTags;
        p.interval = s.interval;
        if (!s.url.empty()) {
            p.folder = s.folder;
            p.pageUrl = s.url;
        } else {
            // The folder's mirror directory, named as the crawl names it
            // (whether or not the mirror root was written with its "/").
            p.folder = WithoutFinalSlash(CMirror(settings.mirrorDir, {}).FolderDirectory(s.folder));
        }
        add(p);
    }
}

} // namespace ormbrook
