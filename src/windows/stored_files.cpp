#include "windows/stored_files.h"

#include "common/url.h"
#include "crawl/mirror.h"
#include "crawl/project_item.h"

#include <algorithm>
#include <dirent.h>
#include <sys/stat.h>

namespace ormbrook {

std::optional<StoredFilesPlace> StoredFilesPlaceOf(const CMirror& mirror, const ProjectItem& record,
                                                   const AppSettings& settings)
{
    if (record.kind != ItemRecord)
        return std::nullopt;
    CUrl url;
    // https is stored where http is.
    if (!url.Parse(record.url) || !IsWebScheme(url.scheme()))
        return std::nullopt;
    const std::string folderPath = FolderPath(record);
    std::optional<std::string> site = mirror.LocalDirectory(url, folderPath, false);
    std::optional<std::string> directory =
        mirror.LocalDirectory(url, folderPath, record.EffectivePilotArea(settings) == 0);
    if (!site || !directory)
        return std::nullopt;
    StoredFilesPlace place;
    place.site = std::string(url.site());
    place.siteDirectory = std::move(*site);
    place.directory = std::move(*directory);
    return place;
}

std::string UrlOfStoredPath(const std::string& site, const std::string& relativePath)
{
    std::string path = relativePath;
    const size_t query = path.find("[3f");
    std::string tail;
    if (query != std::string::npos) {
        tail = path.substr(query + 3);
        path.resize(query);
    }
    auto unescape = [](std::string& text) {
        for (char& c : text)
            if (c == '[')
                c = '%';
    };
    unescape(path);
    unescape(tail);
    std::string url = site + "/" + path;
    if (query != std::string::npos)
        url += "?" + tail;
    return url;
}

bool StoredFile::complete() const
{
    if (complete_ < 0) {
        struct stat info {};
        // A file cut off before its first byte is not a copy of anything.
        complete_ = ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0;
    }
    return complete_ == 1;
}

std::vector<StoredFile> ListStoredFiles(const StoredFilesPlace& place, size_t limit)
{
    std::vector<StoredFile> files;
    std::vector<std::string> pending{place.directory};
    while (!pending.empty() && files.size() < limit) {
        const std::string directory = std::move(pending.back());
        pending.pop_back();
        DIR* dir = ::opendir(directory.c_str());
        if (!dir)
            continue;
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name == "." || name == "..")
                continue;
            const std::string path = directory + name;
            unsigned char type = entry->d_type;
            if (type == DT_UNKNOWN) {
                struct stat info {};
                if (::stat(path.c_str(), &info) != 0)
                    continue;
                type = S_ISDIR(info.st_mode) ? DT_DIR : S_ISREG(info.st_mode) ? DT_REG : DT_UNKNOWN;
            }
            if (type == DT_DIR) {
                pending.push_back(path + "/");
            } else if (type == DT_REG && files.size() < limit) {
                StoredFile file;
                file.url = UrlOfStoredPath(place.site, path.substr(place.siteDirectory.size()));
                file.path = path;
                files.push_back(std::move(file));
            }
        }
        ::closedir(dir);
    }
    std::sort(files.begin(), files.end(), [](const StoredFile& a, const StoredFile& b) { return a.url < b.url; });
    return files;
}

} // namespace ormbrook
