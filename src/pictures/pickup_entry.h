#pragma once
// PickupEntry: one picture source or picture waiting in the pickup queue, and
// one item of the picture history. Its stored record is what "WP.lst" holds.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ormbrook {

struct PickupEntry {
    int32_t bgColor = 0;      // 0x00BBGGRR
    int32_t drawType = 0;     // transition effect 0..11
    int32_t drawSpeed = 0;    // ms per effect step
    int32_t maxDepth = 0;     // highest link level followed from a page
    int32_t depth = 0;        // link level of this entry
    int32_t minWidth = 0;
    int32_t minHeight = 0;
    int32_t followImages = 0; // non-zero: IMG SRC pictures are taken too
    int32_t interval = 0;     // seconds on screen
    std::string caption;      // "New Picture" for a fresh download
    std::string path;         // a picture file (file entry)
    std::string folder;       // folder to walk, or the FolderPath of a page entry
    std::string pageUrl;      // canonical URL of a page or picture in the mirror

    bool IsFileEntry() const { return !path.empty(); }
    bool IsPageEntry() const { return path.empty() && !pageUrl.empty(); }
    bool IsFolderEntry() const { return path.empty() && pageUrl.empty() && !folder.empty(); }

    bool operator==(const PickupEntry&) const = default;
};

// Nine integers, each as a 32-bit length 4 and the value, then four texts,
// each as a 32-bit length (bytes + 1), the bytes and a NUL; little-endian.
std::vector<uint8_t> EncodePickupRecord(const PickupEntry& entry);

// Refuses anything the encoder would not have written: wrong integer lengths,
// a text running past the record or not ended by its NUL, a NUL inside a
// text, bytes left over.
std::optional<PickupEntry> DecodePickupRecord(std::string_view record);

} // namespace ormbrook
