#pragma once
// QueueEntry: one unit of crawl work, as it is kept in the project's queue
// files. The byte form is fixed because stopped crawls resume from files
// written by earlier runs.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ormbrook {

struct QueueEntry {
    int32_t reserved0 = 0;
    int32_t reservedA = 0;  // carried from the start entry into entries made from its links
    int32_t retries = 0;    // failed downloads of this entry so far
    int32_t maxDepth = 0;   // the record's effective GraphMax when its start URL was queued
    int32_t depth = 0;      // link depth from the start URL (0 for the start URL)
    int32_t reservedB = 0;  // as reservedA
    std::string folderPath; // FolderPath of the record that owns the entry
    std::string recordUrl;  // start URL of that record
    std::string referrer;   // page the link was found in; empty for a start URL
    std::string url;        // what to fetch
    std::string robotsUrl;  // where the host's robots.txt comes from; empty for the default

    bool operator==(const QueueEntry&) const = default;
};

// Eleven fields, each a little-endian uint32 byte count followed by the bytes:
// the six integers (count 4), then the five texts with their terminating NUL.
std::vector<uint8_t> EncodeQueueEntry(const QueueEntry& entry);

// The reverse of EncodeQueueEntry. Refuses (nothing) any record that is not
// exactly eleven well-formed fields: wrong integer sizes, texts without their
// final NUL or with a NUL inside, counts running past the end, trailing bytes.
std::optional<QueueEntry> DecodeQueueEntry(const uint8_t* data, size_t size);

} // namespace ormbrook
