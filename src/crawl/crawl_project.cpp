#include "crawl/crawl_project.h"

namespace ormbrook {

CrawlProject::OpenResult CrawlProject::OpenQueues(std::string* error)
{
    const std::string directory = mirror.ProjectDirectory();
    // A relative folder would be made under whatever folder the program
    // was started in.
    if (directory.empty() || directory.front() != '/') {
        if (error)
            *error = "the mirror folder is not a full path: " + directory;
        return OpenResult::Failed;
    }
    if (MakeDirectories(directory, true) != MirrorResult::Ok) {
        if (error)
            *error = "cannot make the project mirror directory " + directory;
        return OpenResult::Failed;
    }
    EntryQueue* queues[] = {&urlQueue, &localiseQueue};
    const char* suffixes[] = {".uq", ".lq"};
    for (int i = 0; i < 2; ++i) {
        const std::string path = QueuePath(directory, title, suffixes[i]);
        switch (queues[i]->Open(path)) {
        case EntryQueue::OpenResult::Ok:
            break;
        case EntryQueue::OpenResult::OldVersion:
            if (error)
                *error = path + ": " + kOldVersionQuestion;
            return OpenResult::OldVersion;
        case EntryQueue::OpenResult::Failed:
            if (error)
                *error = path + ": " + queues[i]->errorText();
            return OpenResult::Failed;
        }
    }
    return OpenResult::Ok;
}

} // namespace ormbrook
