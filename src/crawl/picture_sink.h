#pragma once
// Where a crawl hands the JPEG pictures it stores: the picture side offers
// them to the pickup queue. The crawl finds the item the picture was fetched
// for and takes its display options; the sink is called on the engine
// thread and must return at once.

#include <cstdint>
#include <string>

namespace ormbrook {

struct StoredPicture {
    std::string localPath; // its mirror file
    int32_t bgColor = 0;
    int32_t drawType = 1;
    int32_t drawSpeed = 5;
    int32_t minWidth = 0;
    int32_t minHeight = 0;
    int32_t followImages = 1;
    int32_t interval = 5;  // seconds on screen
};

class ProjectItem;
class AppSettings;

// The picture with the effective options of the item that fetched it.
StoredPicture StoredPictureFor(const ProjectItem& item, const AppSettings& settings, std::string localPath);

class CrawlPictureSink {
public:
    virtual ~CrawlPictureSink() = default;
    virtual void PictureStored(const StoredPicture& picture) = 0;
};

} // namespace ormbrook
