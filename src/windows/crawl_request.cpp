#include "windows/crawl_request.h"

#include "crawl/download_manager.h"
#include "crawl/settings.h"

namespace ormbrook {

std::unique_ptr<CrawlRequestRecord> MakeCrawlRequest(const CrawlServices& services, CrawlProject& project,
                                                     QObject* statusWindow, uint8_t startKind,
                                                     ProjectItem* startItem)
{
    auto request = std::make_unique<CrawlRequestRecord>();
    request->statusWindow = statusWindow;
    request->project = &project;
    // The crawl reads its settings on the engine thread, for as long as it
    // runs; the settings sheet may store new ones meanwhile.
    if (services.settings) {
        request->settingsCopy = services.settings->Snapshot();
        request->settings = request->settingsCopy.get();
    }
    request->dialup = services.dialup; // the manager dials only when AutoDialup is on
    request->startKind = startKind;
    request->startItem = startItem;
    request->pictures = services.pictures;
    return request;
}

} // namespace ormbrook
