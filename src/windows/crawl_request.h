#pragma once
// Every crawl and saved-data job of the desktop program asks the engine
// thread through a request made here, in one place, so that whatever a
// crawl reports to besides its status view is wired to all of them alike.

#include <cstdint>
#include <memory>

class QObject;

namespace ormbrook {

class AppSettings;
class DialupConnector;
class ProjectItem;
struct CrawlProject;
struct CrawlRequestRecord;
class CrawlPictureSink;

// What the program lends to every crawl it starts.
struct CrawlServices {
    const AppSettings* settings = nullptr;
    DialupConnector* dialup = nullptr;
    // Where the pictures a crawl stores go.
    std::shared_ptr<CrawlPictureSink> pictures;
};

// startKind 1 crawls the selected items only; startItem, when given, is the
// item whose subtree a timer crawl covers.
std::unique_ptr<CrawlRequestRecord> MakeCrawlRequest(const CrawlServices& services, CrawlProject& project,
                                                     QObject* statusWindow, uint8_t startKind,
                                                     ProjectItem* startItem);

} // namespace ormbrook
