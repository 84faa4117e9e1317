#pragma once
// What the picture panel does, without its window: which buttons are
// enabled and which "Pickup" pair shows, stepping through pictures, keeping
// the current picture in the pickup folder or deleting it from there,
// copying it elsewhere, and making it the desktop's wallpaper ("QRYWP.bmp").
// The window only shows these states and calls these functions.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace ormbrook {

// "QRYWP.bmp": the 14-byte file header, then the DIB with the image size in
// its header recomputed (the stored one kept for run-length rows). Empty
// for a DIB without a 40-byte header.
std::vector<uint8_t> WallpaperBmpBytes(const uint8_t* dib, size_t size);

// What the panel needs of the program.
struct PanelServices {
    std::function<std::string()> currentPicture;
    std::function<size_t()> historyCount;
    std::function<void()> clearHistory;
    std::function<void()> next;     // the cycle lets one picture through
    std::function<void()> previous;
    // PickupDir as the settings store holds it (ends in "/").
    std::function<std::string()> pickupDir;
    // The folder browser, starting in `start`; nothing when cancelled.
    std::function<std::optional<std::string>(const std::string& start)> chooseFolder;
    // The folder "Copy" chose last, kept across runs.
    std::function<std::string()> loadCopyFolder;
    std::function<void(const std::string&)> saveCopyFolder;
    std::string programFolder; // without a final "/"
    // Makes the file the permanent desktop wallpaper.
    std::function<void(const std::string& file)> setWallpaper;
};

class PicturePanelLogic {
public:
    explicit PicturePanelLogic(PanelServices services);

    // On opening: both states from the history and the picture on show.
    void Refresh();
    // The picture on show changed: which "Pickup" pair shows.
    void RefreshPickup();
    bool prevEnabled() const { return prevEnabled_; }
    // The "Pickup" button deletes (the picture lies in the pickup folder) or
    // keeps.
    bool pickupDeletes() const { return pickupDeletes_; }

    void Next();
    void Previous();
    void KeepOrDeletePicture();
    void CopyPicture();
    // False when the picture could not be decoded or the file not written.
    bool SetWallpaper();

    std::string wallpaperFile() const { return services_.programFolder + "/QRYWP.bmp"; }

private:
    bool InPickupFolder(const std::string& picture) const;

    PanelServices services_;
    bool prevEnabled_ = false;
    bool pickupDeletes_ = false;
};

} // namespace ormbrook
