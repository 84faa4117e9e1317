#pragma once
// What a crawl of one project works on: the project's tree, its mirror, its
// work lists and the lock that serialises every operation on them.

#include "crawl/crawl_queues.h"
#include "crawl/mirror.h"

#include <QMutex>

#include <string>

namespace ormbrook {

class ProjectItem;

struct CrawlProject {
    CrawlProject(const std::string& mirrorRoot, const std::string& projectTitle)
        : mirror(mirrorRoot, projectTitle), title(projectTitle)
    {
    }

    ProjectItem* root = nullptr;
    CMirror mirror;
    std::string title;           // the project's name: the file name without ".prj"
    EntryQueue urlQueue;         // ".uq"
    EntryQueue localiseQueue;    // ".lq"
    QMutex* mirrorLock = nullptr;

    enum class OpenResult { Ok, OldVersion, Failed };
    // Makes the project mirror directory and opens both queue files.
    OpenResult OpenQueues(std::string* error);
};

} // namespace ormbrook
