#include "crawl/project_document.h"

#include "crawl/crawl_queues.h"
#include "crawl/project_file.h"
#include "crawl/settings.h"
#include "common/url.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

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
    const std::string newTitle = ProjectTitleFromPath(path);
    const std::string root = TrailingSlash(app_.values().MirrorDir);
    const std::string oldDir = root + oldTitle + "/";
    const std::string newDir = root + newTitle + "/";
    // The mirror goes with the project to its new name; another project's
    // folder of that name is not merged into, nor the old one left behind.
    const bool moveMirror = newTitle != oldTitle && !FolderEmpty(oldDir);
    if (moveMirror && QFileInfo::exists(QString::fromUtf8(newDir.c_str()))) {
        errorText_ = "the mirror folder " + newDir + " exists already: the files of " + oldTitle
                     + " would mix with it. Choose another name, or move that folder away first";
        return false;
    }
    {
        ReadAccess tree = Read();
        if (!SaveProjectFile(path, tree.root(), app_, &errorText_))
            return false;
    }
    if (newTitle != oldTitle)
        MoveMirror(oldTitle, newTitle, moveMirror);
    WriteAccess tree = Write();
    path_ = path;
    root_->title = newTitle;
    return true;
}

bool CKESDLEDoc::FolderEmpty(const std::string& dir)
{
    const QDir folder(QString::fromUtf8(dir.c_str()));
    return !folder.exists() || folder.isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
}

void CKESDLEDoc::MoveMirror(const std::string& oldTitle, const std::string& newTitle, bool moveFolder)
{
    const std::string root = TrailingSlash(app_.values().MirrorDir);
    const std::string oldDir = root + oldTitle + "/";
    const std::string newDir = root + newTitle + "/";
    QMutexLocker lock(&mirrorLock_);
    if (!moveFolder) {
        // Made for the project when it opened and never filled.
        ::rmdir(oldDir.c_str());
        return;
    }
    if (::rename(oldDir.substr(0, oldDir.size() - 1).c_str(), newDir.substr(0, newDir.size() - 1).c_str()) != 0) {
        errorText_ = "cannot move the mirror folder " + oldDir + " to " + newDir + ": " + std::strerror(errno)
                     + "; its files stay there";
        return;
    }
    // The work lists are named after the project: under its new name a
    // stopped crawl (or saved-data job) must find them again.
    for (const char* suffix : {".uq", ".lq", ".det", ".del"}) {
        const std::string from = QueuePath(newDir, oldTitle, suffix);
        if (!QFile::exists(QString::fromUtf8(from.c_str())))
            continue;
        const std::string to = QueuePath(newDir, newTitle, suffix);
        if (::rename(from.c_str(), to.c_str()) != 0)
            errorText_ = "cannot rename the work list " + from + " to " + to;
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
