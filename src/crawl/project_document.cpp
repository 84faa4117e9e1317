#include "crawl/project_document.h"

#include "crawl/crawl_queues.h"
#include "crawl/project_file.h"
#include "crawl/settings.h"
#include "common/url.h"

#include <QDir>
#include <QFile>
#include <QString>

#include <cstdio>

namespace ormbrook {

std::string ProjectTitleFromPath(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.size() >= 4) {
        std::string ext = name.substr(name.size() - 4);
        for (char& c : ext)
            c = (c >= 'A' && c <= 'Z') ? char(c + 32) : c;
        if (ext == ".prj")
            name.resize(name.size() - 4);
    }
    return name;
}

CKESDLEDoc::CKESDLEDoc(const AppSettings& app, QMutex& mirrorLock)
    : app_(app), mirrorLock_(mirrorLock), root_(ProjectItem::NewRoot())
{
}

void CKESDLEDoc::NewProject(const std::string& title)
{
    WriteAccess tree = Write();
    root_ = ProjectItem::NewRoot(title);
    path_.clear();
}

bool CKESDLEDoc::OpenProject(const std::string& path)
{
    errorText_.clear();
    const std::string title = ProjectTitleFromPath(path);
    auto fresh = ProjectItem::NewRoot(title);
    if (!ReadProjectFile(path, *fresh, &errorText_))
        return false;
    const std::string mirror = TrailingSlash(app_.values().MirrorDir) + title + "/";
    {
        QMutexLocker lock(&mirrorLock_);
        if (!QDir().mkpath(QString::fromUtf8(mirror.c_str()))) {
            errorText_ = "cannot create the mirror folder " + mirror;
            return false;
        }
    }
    WriteAccess tree = Write();
    root_ = std::move(fresh);
    path_ = path;
    return true;
}

bool CKESDLEDoc::SaveProject(const std::string& path)
{
    errorText_.clear();
    const std::string oldTitle = title();
    {
        ReadAccess tree = Read();
        if (!SaveProjectFile(path, tree.root(), app_, &errorText_))
            return false;
    }
    const std::string newTitle = ProjectTitleFromPath(path);
    if (newTitle != oldTitle)
        MoveQueueFiles(oldTitle, newTitle);
    WriteAccess tree = Write();
    path_ = path;
    root_->title = newTitle;
    return true;
}

void CKESDLEDoc::MoveQueueFiles(const std::string& oldTitle, const std::string& newTitle)
{
    // The work lists are named after the project: under its new name a
    // stopped crawl (or saved-data job) must find them again.
    const std::string root = TrailingSlash(app_.values().MirrorDir);
    const std::string oldDir = root + oldTitle + "/";
    const std::string newDir = root + newTitle + "/";
    QMutexLocker lock(&mirrorLock_);
    for (const char* suffix : {".uq", ".lq", ".det", ".del"}) {
        const std::string from = QueuePath(oldDir, oldTitle, suffix);
        if (!QFile::exists(QString::fromUtf8(from.c_str())))
            continue;
        const std::string to = QueuePath(newDir, newTitle, suffix);
        if (!QDir().mkpath(QString::fromUtf8(newDir.c_str())) || ::rename(from.c_str(), to.c_str()) != 0)
            errorText_ = "cannot move the work list " + from + " to " + to; // it stays where it was
    }
}

std::string CKESDLEDoc::title() const
{
    return Read()->title;
}

std::string CKESDLEDoc::filePath() const
{
    ReadAccess tree = Read();
    return path_;
}

std::string CKESDLEDoc::ProjectMirrorDir() const
{
    return TrailingSlash(app_.values().MirrorDir) + title() + "/";
}

} // namespace ormbrook
