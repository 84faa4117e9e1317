#pragma once
// ProjectItem: one node of a project tree (the project root, a folder or a
// start-URL record) with its crawl and display options. An option of -1 is
// not set here and is inherited: the effective value walks up to the root
// and then to the application settings.
//
// The tree owns its items: a parent destroys its children.

#include "crawl/settings.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace ormbrook {

class CUrl;

enum ItemKind : uint8_t {
    ItemRecord = 0,  // "Record"
    ItemFolder = 1,  // "Folder"
    ItemRoot = 2,    // "ProjectDefault"
};

enum PilotTypeValue : int32_t {
    PilotNormal = 0,
    PilotForbidden = 1,  // covers the whole subtree
    PilotSelected = 2,
};

// The single-valued options, inherited one by one. MinPicSize is two of them.
enum ItemOption : int {
    OptBGColor,
    OptMUDrawType,
    OptMUDrawSpeed,
    OptIMGSW,
    OptMinPicWidth,
    OptMinPicHeight,
    OptPilotArea,
    OptRenewalType,
    OptNoCache,
    OptConnectionTimeout,
    OptReplyRcvTimeout,
    OptCtlRcvTimeout,
    OptDataRcvTimeout,
    OptCloseTimeout,
    OptDLTotalTimeout,
    OptDLoadRetry,
    OptGraphMax,
    OptLocalizeLink,
    OptUseHttp10,
    OptRequisitesOffSite,
    kItemOptionCount
};

class ProjectItem {
public:
    explicit ProjectItem(ItemKind kind);
    ~ProjectItem();
    ProjectItem(const ProjectItem&) = delete;
    ProjectItem& operator=(const ProjectItem&) = delete;

    static std::unique_ptr<ProjectItem> NewRoot(std::string title = {});
    static std::unique_ptr<ProjectItem> NewFolder(std::string name);
    static std::unique_ptr<ProjectItem> NewRecord(std::string url);

    ItemKind kind;
    ProjectItem* next = nullptr;
    ProjectItem* previous = nullptr;
    ProjectItem* firstChild = nullptr;
    ProjectItem* parent = nullptr;
    std::string url;       // record: canonical start URL
    std::string title;     // record: page title; folder: its name; root: project name
    std::string localName; // record: kept and written back unchanged

    int32_t BGColor = -1; // red bits 0-7, green 8-15, blue 16-23
    int32_t MUDrawType = -1;
    int32_t MUDrawSpeed = -1;
    int32_t IMGSW = -1;
    int32_t MinPicWidth = -1;
    int32_t MinPicHeight = -1;
    int32_t PilotArea = -1;
    int32_t RenewalType = -1;
    int32_t NoCache = -1;
    int32_t ConnectionTimeout = -1;
    int32_t ReplyRcvTimeout = -1;
    int32_t CtlRcvTimeout = -1;
    int32_t DataRcvTimeout = -1;
    int32_t CloseTimeout = -1;
    int32_t DLTotalTimeout = -1;
    int32_t DLoadRetry = -1;
    int32_t GraphMax = -1;
    int32_t PilotType = -1;
    int32_t LocalizeLink = -1;
    int32_t UseHttp10 = -1;
    int32_t RequisitesOffSite = -1; // 0/1: a stored page's requisites come from other sites too
    ExtFilterGroup downloadFilter;  // UseExtFilter, DLNoExt, ExtHtml ... ExtOthers
    ExtFilterGroup exclusionFilter; // UseUVExtFilter, NotDLNoExt, UVExtHtml ... UVExtOthers

    int32_t& option(ItemOption o);
    int32_t option(ItemOption o) const;

    // Effective values.
    int32_t Effective(ItemOption o, const AppSettings& app) const;
    int32_t EffectivePilotType() const;
    const ExtFilterGroup& EffectiveDownloadFilter(const AppSettings& app) const;
    const ExtFilterGroup& EffectiveExclusionFilter(const AppSettings& app) const;

    int32_t EffectiveGraphMax(const AppSettings& app) const { return Effective(OptGraphMax, app); }
    int32_t EffectivePilotArea(const AppSettings& app) const { return Effective(OptPilotArea, app); }
    int32_t EffectiveRenewalType(const AppSettings& app) const { return Effective(OptRenewalType, app); }
    int32_t EffectiveLocalizeLink(const AppSettings& app) const { return Effective(OptLocalizeLink, app); }

    // Refused (false, unchanged) when an ancestor makes this item Forbidden
    // and the new value is not Forbidden.
    bool SetPilotType(int32_t value);

    // Whether the URL passes this item's download and exclusion filters.
    bool AdmitsExtension(const CUrl& url, const AppSettings& app) const;
    // Whether a found link lies within this item's crawl range around its
    // start URL.
    bool AdmitsRange(const CUrl& start, const CUrl& link, const AppSettings& app) const;
    // Whether a file a page needs to look as it does may be fetched: within
    // the range, anywhere on the start URL's site (any scheme and port of its
    // host), or anywhere at all with RequisitesOffSite.
    bool AdmitsRequisite(const CUrl& start, const CUrl& link, const AppSettings& app) const;

    ProjectItem* root();
    const ProjectItem* root() const;
};

// Tree editing. AppendChild takes ownership and returns the item; Unlink
// hands ownership back to the caller. MoveTo refuses to move an item into
// its own subtree.
// `last`, when given, must be the parent's current last child; it spares the
// walk along the siblings when a long list is built in order.
ProjectItem* AppendChild(ProjectItem& parent, std::unique_ptr<ProjectItem> item, ProjectItem* last = nullptr);
std::unique_ptr<ProjectItem> Unlink(ProjectItem& item);
bool MoveTo(ProjectItem& item, ProjectItem& newParent);
void DestroySubtree(ProjectItem* item);

// "Project/Folder/Sub": the titles from the root down; a record gives the
// path of its parent.
std::string FolderPath(const ProjectItem& item);

// The record with this folder path and URL, or nullptr when it was deleted
// or moved since the path was taken.
ProjectItem* FindRecord(ProjectItem& root, std::string_view folderPath, std::string_view url);

// URLs of every record that is effectively Forbidden.
std::vector<std::string> ForbiddenPrefixes(const ProjectItem& root);
bool IsForbiddenUrl(const std::vector<std::string>& prefixes, std::string_view url);

} // namespace ormbrook
