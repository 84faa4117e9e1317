#include "crawl/project_item.h"

#include "common/url.h"

namespace ormbrook {

namespace {

constexpr std::array<int32_t ProjectItem::*, kItemOptionCount> kOptionFields = {
    &ProjectItem::BGColor,           &ProjectItem::MUDrawType,      &ProjectItem::MUDrawSpeed,
    &ProjectItem::IMGSW,             &ProjectItem::MinPicWidth,     &ProjectItem::MinPicHeight,
    &ProjectItem::PilotArea,         &ProjectItem::RenewalType,     &ProjectItem::NoCache,
    &ProjectItem::ConnectionTimeout, &ProjectItem::ReplyRcvTimeout, &ProjectItem::CtlRcvTimeout,
    &ProjectItem::DataRcvTimeout,    &ProjectItem::CloseTimeout,    &ProjectItem::DLTotalTimeout,
    &ProjectItem::DLoadRetry,        &ProjectItem::GraphMax,        &ProjectItem::LocalizeLink,
    &ProjectItem::UseHttp10,
    &ProjectItem::RequisitesOffSite,
};

// Where the chain ends: the application's answer for each option.
constexpr std::array<int32_t (AppSettings::*)() const, kItemOptionCount> kAppAnswers = {
    &AppSettings::BGColor,           &AppSettings::MUDrawType,      &AppSettings::MUDrawSpeed,
    &AppSettings::IMGSW,             &AppSettings::MinPicWidth,     &AppSettings::MinPicHeight,
    &AppSettings::PilotArea,         &AppSettings::RenewalType,     &AppSettings::NoCache,
    &AppSettings::ConnectionTimeout, &AppSettings::ReplyRcvTimeout, &AppSettings::CtlRcvTimeout,
    &AppSettings::DataRcvTimeout,    &AppSettings::CloseTimeout,    &AppSettings::TotalTimeout,
    &AppSettings::DLRetry,           &AppSettings::LinkMax,         &AppSettings::LocalizeLink,
    &AppSettings::UseHttp10,
    &AppSettings::RequisitesOffSite,
};

bool isInSubtree(const ProjectItem* item, const ProjectItem& top)
{
    for (; item != nullptr; item = item->parent) {
        if (item == &top)
            return true;
    }
    return false;
}

} // namespace

ProjectItem::ProjectItem(ItemKind k) : kind(k)
{
    if (k == ItemRoot)
        PilotType = PilotNormal;
}

ProjectItem::~ProjectItem()
{
    ProjectItem* child = firstChild;
    firstChild = nullptr;
    while (child != nullptr) {
        ProjectItem* following = child->next;
        child->parent = nullptr;
        delete child;
        child = following;
    }
}

std::unique_ptr<ProjectItem> ProjectItem::NewRoot(std::string title)
{
    auto item = std::make_unique<ProjectItem>(ItemRoot);
    item->title = std::move(title);
    return item;
}

std::unique_ptr<ProjectItem> ProjectItem::NewFolder(std::string name)
{
    auto item = std::make_unique<ProjectItem>(ItemFolder);
    item->title = std::move(name);
    return item;
}

std::unique_ptr<ProjectItem> ProjectItem::NewRecord(std::string url)
{
    auto item = std::make_unique<ProjectItem>(ItemRecord);
    item->url = std::move(url);
    return item;
}

int32_t& ProjectItem::option(ItemOption o)
{
    return this->*kOptionFields[o];
}

int32_t ProjectItem::option(ItemOption o) const
{
    return this->*kOptionFields[o];
}

int32_t ProjectItem::Effective(ItemOption o, const AppSettings& app) const
{
    for (const ProjectItem* item = this; item != nullptr; item = item->parent) {
        if (item->option(o) != -1)
            return item->option(o);
    }
    return (app.*kAppAnswers[o])();
}

int32_t ProjectItem::EffectivePilotType() const
{
    if (parent == nullptr)
        return PilotType == -1 ? PilotNormal : PilotType;
    const int32_t inherited = parent->EffectivePilotType();
    if (inherited == PilotForbidden)
        return PilotForbidden;
    return PilotType != -1 ? PilotType : inherited;
}

const ExtFilterGroup& ProjectItem::EffectiveDownloadFilter(const AppSettings& app) const
{
    for (const ProjectItem* item = this; item != nullptr; item = item->parent) {
        if (item->downloadFilter.use != -1)
            return item->downloadFilter;
    }
    return app.DownloadFilter();
}

const ExtFilterGroup& ProjectItem::EffectiveExclusionFilter(const AppSettings& app) const
{
    for (const ProjectItem* item = this; item != nullptr; item = item->parent) {
        if (item->exclusionFilter.use != -1)
            return item->exclusionFilter;
    }
    return app.ExclusionFilter();
}

bool ProjectItem::SetPilotType(int32_t value)
{
    // Under a Forbidden ancestor only an item that is Forbidden itself may
    // change; whatever it becomes, the ancestor keeps it Forbidden.
    if (parent != nullptr && parent->EffectivePilotType() == PilotForbidden && PilotType != PilotForbidden)
        return false;
    PilotType = value;
    return true;
}

bool ProjectItem::AdmitsExtension(const CUrl& url, const AppSettings& app) const
{
    const bool hasExtension = url.hasExtension() && !url.extension().empty();
    const ExtFilterGroup& download = EffectiveDownloadFilter(app);
    if (download.use == 1) {
        const bool admitted = hasExtension ? download.ListsContain(url.extension()) : download.noExt == 1;
        if (!admitted)
            return false;
    }
    const ExtFilterGroup& exclusion = EffectiveExclusionFilter(app);
    if (exclusion.use == 1) {
        const bool refused = hasExtension ? exclusion.ListsContain(url.extension()) : exclusion.noExt == 1;
        if (refused)
            return false;
    }
    return true;
}

bool ProjectItem::AdmitsRange(const CUrl& start, const CUrl& link, const AppSettings& app) const
{
    switch (Effective(OptPilotArea, app)) {
    case 2:
        return true;
    case 1:
        return link.host() == start.host();
    default:
        if (link.host() != start.host())
            return false;
        if (link.scheme() == start.scheme())
            return link.url().starts_with(start.siteDirectory());
        if (!IsWebScheme(link.scheme()) || !IsWebScheme(start.scheme()))
            return false;
        // http and https of one host are one site, whatever ports each is
        // served on: a site that moved to HTTPS is still crawled as one.
        return link.url().substr(link.site().size()).starts_with(start.siteDirectory().substr(start.site().size()));
    }
}

bool ProjectItem::AdmitsRequisite(const CUrl& start, const CUrl& link, const AppSettings& app) const
{
    if (link.host() == start.host() && IsWebScheme(link.scheme()))
        return true;
    return Effective(OptRequisitesOffSite, app) == 1 || AdmitsRange(start, link, app);
}

ProjectItem* ProjectItem::root()
{
    ProjectItem* item = this;
    while (item->parent != nullptr)
        item = item->parent;
    return item;
}

const ProjectItem* ProjectItem::root() const
{
    return const_cast<ProjectItem*>(this)->root();
}

ProjectItem* AppendChild(ProjectItem& parent, std::unique_ptr<ProjectItem> owned, ProjectItem* last)
{
    ProjectItem* item = owned.release();
    item->parent = &parent;
    item->next = nullptr;
    if (parent.firstChild == nullptr) {
        item->previous = nullptr;
        parent.firstChild = item;
    } else {
        if (last == nullptr || last->parent != &parent)
            last = parent.firstChild;
        while (last->next != nullptr)
            last = last->next;
        last->next = item;
        item->previous = last;
    }
    return item;
}

std::unique_ptr<ProjectItem> Unlink(ProjectItem& item)
{
    if (item.previous != nullptr)
        item.previous->next = item.next;
    else if (item.parent != nullptr && item.parent->firstChild == &item)
        item.parent->firstChild = item.next;
    if (item.next != nullptr)
        item.next->previous = item.previous;
    const bool wasOwned = item.parent != nullptr;
    item.parent = item.next = item.previous = nullptr;
    // An item without parent belongs to whoever holds it already.
    return wasOwned ? std::unique_ptr<ProjectItem>(&item) : nullptr;
}

bool MoveTo(ProjectItem& item, ProjectItem& newParent)
{
    if (item.parent == nullptr || isInSubtree(&newParent, item) || newParent.kind == ItemRecord)
        return false;
    AppendChild(newParent, Unlink(item));
    return true;
}

void DestroySubtree(ProjectItem* item)
{
    if (item == nullptr)
        return;
    if (item->parent != nullptr)
        Unlink(*item).reset();
    else
        delete item;
}

std::string FolderPath(const ProjectItem& item)
{
    const ProjectItem* folder = item.kind == ItemRecord ? item.parent : &item;
    if (folder == nullptr)
        return {};
    std::vector<const std::string*> titles;
    for (const ProjectItem* p = folder; p != nullptr; p = p->parent)
        titles.push_back(&p->title);
    std::string path;
    for (auto it = titles.rbegin(); it != titles.rend(); ++it) {
        if (!path.empty() || it != titles.rbegin())
            path.push_back('/');
        path += **it;
    }
    return path;
}

namespace {

ProjectItem* findIn(ProjectItem& folder, const std::string& path, std::string_view folderPath, std::string_view url)
{
    for (ProjectItem* child = folder.firstChild; child != nullptr; child = child->next) {
        if (child->kind == ItemRecord) {
            if (path == folderPath && child->url == url)
                return child;
            continue;
        }
        std::string childPath = path + "/" + child->title;
        if (folderPath.starts_with(childPath)) {
            if (ProjectItem* found = findIn(*child, childPath, folderPath, url))
                return found;
        }
    }
    return nullptr;
}

void collectForbidden(const ProjectItem& item, std::vector<std::string>& out)
{
    for (const ProjectItem* child = item.firstChild; child != nullptr; child = child->next) {
        if (child->kind == ItemRecord) {
            if (child->EffectivePilotType() == PilotForbidden && !child->url.empty())
                out.push_back(child->url);
        } else {
            collectForbidden(*child, out);
        }
    }
}

} // namespace

ProjectItem* FindRecord(ProjectItem& root, std::string_view folderPath, std::string_view url)
{
    if (!folderPath.starts_with(root.title))
        return nullptr;
    return findIn(root, root.title, folderPath, url);
}

std::vector<std::string> ForbiddenPrefixes(const ProjectItem& root)
{
    std::vector<std::string> out;
    collectForbidden(root, out);
    return out;
}

bool IsForbiddenUrl(const std::vector<std::string>& prefixes, std::string_view url)
{
    for (const std::string& p : prefixes) {
        if (url.starts_with(p))
            return true;
    }
    return false;
}

} // namespace ormbrook
