#include "crawl/project_document.h"

#include "crawl/project_file.h"
#include "crawl/settings.h"
#include "common/url.h"

#include <QDir>
#include <QString>

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
    {
        ReadAccess tree = Read();
        if (!SaveProjectFile(path, tree.root(), app_, &errorText_))
            return false;
    }
    WriteAccess tree = Write();
    path_ = path;
    root_->title = ProjectTitleFromPath(path);
    return true;
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
