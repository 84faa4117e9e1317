#include "windows/tree_edits.h"

#include "common/url.h"
#include "crawl/mirror.h"
#include "crawl/project_item.h"
#include "shell/slide_show_list.h"
#include "shell/timer_doc.h"

namespace ormbrook {

ProjectItem* AddChildItem(ProjectItem& parent, NewItemKind kind, std::string_view text)
{
    if (parent.kind == ItemRecord || text.empty())
        return nullptr;
    if (kind == NewItemKind::Folder)
        return AppendChild(parent, ProjectItem::NewFolder(std::string(text)));
    CUrl url;
    if (!url.Parse(text))
        return nullptr;
    return AppendChild(parent, ProjectItem::NewRecord(url.url()));
}

bool RenameItem(ProjectItem& item, std::string_view text)
{
    switch (item.kind) {
    case ItemRoot:
        return false;
    case ItemFolder:
        // An empty name would make the folder's path that of its parent.
        if (text.empty() || text.find('/') != std::string_view::npos || text == item.title)
            return false;
        item.title = std::string(text);
        return true;
    case ItemRecord: {
        CUrl url;
        if (!url.Parse(text) || url.url() == item.url)
            return false;
        item.url = url.url();
        return true;
    }
    }
    return false;
}

bool CanDrop(const ProjectItem& item, const ProjectItem& target)
{
    if (item.kind == ItemRoot || target.kind == ItemRecord)
        return false;
    if (&target == &item || item.parent == &target)
        return false;
    for (const ProjectItem* up = target.parent; up; up = up->parent)
        if (up == &item)
            return false;
    return true;
}

std::string MovedFilesDestination(const CMirror& mirror, const ProjectItem& item, const ProjectItem& target)
{
    std::string folderPath = FolderPath(target);
    if (item.kind == ItemFolder)
        folderPath += "/" + item.title;
    return mirror.FolderDirectory(folderPath);
}

void RemoveItemSchedules(CTimerDoc& timers, CSSDoc& slides, const std::string& projectPath, const ProjectItem& item)
{
    const std::string folder = FolderPath(item);
    const std::string url = item.kind == ItemRecord ? item.url : std::string();
    timers.RemoveItemEntries(projectPath, folder, url);
    slides.RemoveItemEntries(projectPath, folder, url);
}

} // namespace ormbrook
