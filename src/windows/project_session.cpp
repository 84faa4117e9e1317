#include "windows/project_session.h"

#include "crawl/settings.h"

namespace ormbrook {

ProjectSession::ProjectSession(const AppSettings& settings, QMutex& mirrorLock)
    : settings_(settings), mirrorLock_(mirrorLock), document_(settings, mirrorLock)
{
}

ProjectSession::~ProjectSession() = default;

void ProjectSession::New(const std::string& title)
{
    crawl_.reset();
    document_.NewProject(title);
    modified_ = false;
}

bool ProjectSession::Open(const std::string& path)
{
    errorText_.clear();
    if (!document_.OpenProject(path)) {
        errorText_ = document_.errorText();
        return false;
    }
    crawl_.reset();
    modified_ = false;
    return true;
}

bool ProjectSession::Save(const std::string& path)
{
    errorText_.clear();
    const std::string before = document_.title();
    if (!document_.SaveProject(path)) {
        errorText_ = document_.errorText();
        return false;
    }
    errorText_ = document_.errorText();
    if (document_.title() != before)
        crawl_.reset();
    modified_ = false;
    return true;
}

CrawlProject* ProjectSession::crawl()
{
    if (crawl_)
        return crawl_.get();
    auto crawl = std::make_unique<CrawlProject>(settings_.values().MirrorDir, document_.title());
    crawl->root = &document_.Write().root();
    crawl->mirrorLock = &mirrorLock_;
    std::string error;
    if (crawl->OpenQueues(&error) != CrawlProject::OpenResult::Ok) {
        errorText_ = error;
        return nullptr;
    }
    crawl_ = std::move(crawl);
    return crawl_.get();
}

bool ProjectSession::ResetCrawlState()
{
    CrawlProject* project = crawl();
    if (!project)
        return false;
    QMutexLocker lock(&mirrorLock_);
    const bool urls = project->urlQueue.Reset();
    const bool pages = project->localiseQueue.Reset();
    return urls && pages;
}

CMirror ProjectSession::Mirror() const
{
    return CMirror(settings_.values().MirrorDir, document_.title(), MirrorNamingOf(settings_.values().ReadableNames));
}

} // namespace ormbrook
