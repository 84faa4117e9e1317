#pragma once
// The files the mirror holds for a URL item, as the tree shows them under
// the item and the file list lists them: the files below the item's start
// directory (for the narrowest crawl range) or below its host directory (for
// the wider ones), named by the URLs they were fetched from.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ormbrook {

class AppSettings;
class CMirror;
class ProjectItem;

struct StoredFile {
    std::string url;   // the address the file stands for
    std::string path;  // its local path
    // Whether the file holds a copy (it is not empty). Looked at when first
    // asked, on the thread that shows the file: listing tens of thousands
    // of files must not wait for a look at each.
    bool complete() const;

private:
    mutable int8_t complete_ = -1;
};

using StoredFileList = std::shared_ptr<const std::vector<StoredFile>>;

// Where to look: the directory, and the site (scheme, host and port) its
// first level below `siteDirectory` belongs to.
struct StoredFilesPlace {
    std::string directory;      // absolute, ends in "/"
    std::string siteDirectory;  // the host's directory, ends in "/"
    std::string site;           // "http://host:port"
};

// Nothing when the item is not a URL item or its URL has no local path.
std::optional<StoredFilesPlace> StoredFilesPlaceOf(const CMirror& mirror, const ProjectItem& record,
                                                   const AppSettings& settings);

// Reads the place's files, sorted by URL. Runs on any thread: it touches
// the disk only. At most `limit` files are listed.
std::vector<StoredFile> ListStoredFiles(const StoredFilesPlace& place, size_t limit = 1000000);

// The URL a local path below the site's directory stands for: "[" back to
// "%", and the mirror's "[3f" back to the "?" of a query.
std::string UrlOfStoredPath(const std::string& site, const std::string& relativePath);

} // namespace ormbrook
