#pragma once
// The slide-show list: which project items supply pictures to the slide show
// and how each one's pictures are shown. Kept in "QRY.ssf" in the program
// folder; read by the picture side from its own thread, hence the lock.

#include "pictures/pickup_entry.h"

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace ormbrook {

constexpr size_t kSlidePathMax = 1023; // File, Folder
constexpr size_t kSlideTextMax = 255;  // URL, Title
// Longest path (without ".ssf") the list is loaded from or saved to.
constexpr size_t kSlideFileBaseMax = 256;

struct SlideEntry {
    int32_t linkDepth = 0;
    std::string file;   // full path of the project file
    std::string folder; // FolderPath of the item
    std::string url;    // empty for a folder item
    std::string title;
    int32_t effect = 1;
    int32_t speed = 5;
    int32_t backColor = 0;
    int32_t minWidth = 0;
    int32_t minHeight = 0;
    int32_t showImgTags = 1;
    int32_t interval = 5;

    bool SameItem(const SlideEntry& o) const { return file == o.file && folder == o.folder && url == o.url; }
    bool operator==(const SlideEntry&) const = default;
};

// The display values of the slide-show page ("ｽﾗｲﾄﾞｼｮｳの設定").
struct SlideSettings {
    bool enabled = false; // "スライドショウで表示する"
    int effect = 1;
    int speed = 5;
    int backColor = 0;
    int minWidth = 0;
    int minHeight = 0;
    bool showImgTags = true;
    int interval = 5;
};

// Speed 0..100, MinWidth 0..640, MinHeight 0..480, Interval 5..86400.
void BoundSlideValues(SlideEntry& entry);

bool SlideEntryFitsFile(const SlideEntry& entry);

// What BuildPictureSources needs of the application settings.
struct PictureSourceSettings {
    int pickupDisplay = 1;   // 0 list only, 1 both, 2 pickup folder only
    std::string pickupDir;   // ends in "/"
    std::string mirrorDir;   // the MirrorDir setting (normally ending in "/")
    int linkMaxStored = -1;  // LinkMax as stored, -1 included
    int bgColor = 0;
    int drawType = 1;
    int drawSpeed = 5;
    int minPicWidth = 0;
    int minPicHeight = 0;
    int imgSw = 1;
    int picChgInterval = 5;
};

class AppSettings;
PictureSourceSettings PictureSourceSettingsFrom(const AppSettings& settings);

class CSSDoc {
public:
    using FileExists = std::function<bool(const std::string& path)>;

    CSSDoc();
    explicit CSSDoc(FileExists exists);

    // pathBase is the list's path without ".ssf". Loading replaces the list;
    // a missing file is created empty. A malformed record is left out (see
    // unreadLines) and the reading goes on.
    bool Load(const std::string& pathBase);
    bool Save(const std::string& pathBase);

    std::string Serialize();
    void Parse(std::string_view bytes);
    // The lines the last reading left out, malformed (from 1).
    const std::vector<int>& unreadLines() const { return unreadLines_; }

    // From the item properties' OK. linkDepth is the item's effective link
    // depth. Replaces the item's entry, or removes it when the page's box is
    // off; a new entry is saved where the list was loaded from. False when
    // the entry can't be kept in the file.
    bool SetItemSlideShow(const std::string& projectPath, const std::string& folderPath, const std::string& url,
        int linkDepth, const SlideSettings& page);

    // A crawl found the page title of a record: its entries take it (made to
    // fit the file). True when an entry changed.
    bool SetItemTitle(const std::string& projectPath, const std::string& folderPath, const std::string& url,
        std::string_view title);

    // Removes the entries of a deleted item: a URL item's own, or a folder
    // item's own and everything below it.
    void RemoveItemEntries(const std::string& projectPath, const std::string& folderPath, const std::string& url);

    // The picture sources, in the order the pickup queue must receive them:
    // the pickup folder first (unless PickupDisplay is 0), then the list's
    // entries (unless it is 2).
    void BuildPictureSources(const PictureSourceSettings& settings,
        const std::function<void(const PickupEntry&)>& add);

    // For the list dialog and the properties page: hold the lock for the
    // whole pass over entries().
    std::unique_lock<std::mutex> Lock() { return std::unique_lock(mutex_); }
    std::vector<SlideEntry>& entries() { return entries_; }

private:
    std::string SerializeLocked() const;
    bool SaveLocked(const std::string& pathBase) const;

    FileExists exists_;
    std::mutex mutex_;
    std::string pathBase_;
    std::vector<SlideEntry> entries_;
    std::vector<int> unreadLines_;
};

} // namespace ormbrook
