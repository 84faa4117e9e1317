#pragma once
// "アイテムのプロパティ": the item's own options, its timer and its slide-show
// entry, on four pages. The dialog fills a plain value object; applying it
// to the project and the two lists is a function of its own.

#include "crawl/project_item.h"
#include "crawl/settings.h"
#include "shell/slide_show_list.h"
#include "shell/timer_doc.h"
#include "windows/settings_pages.h"

#include <QDialog>

#include <memory>

class QButtonGroup;
class QLabel;
class QLineEdit;
class QTabWidget;

namespace ormbrook {

class ProjectItem;
class ProjectSession;
class Prompter;
struct DesktopContext;

struct ItemPropertiesValues {
    std::string name;       // the folder's name or the item's URL
    int32_t pilotType = -1; // 巡回種別
    CrawlOptionValues crawl;
    ExtFilterGroup download;
    ExtFilterGroup exclusion;
    TimerSettings timer;
    SlideSettings slide;
};

// What the sheet starts from: the item's own values, its timer entry (or
// off and Monthly) and its slide-show entry (or off with the settings'
// answers).
ItemPropertiesValues LoadItemProperties(const DesktopContext& context, const ProjectSession& session,
                                        const ProjectItem& item);

// OK: the options with their bounds, the new name (a URL only when it
// parses), the crawl kind, the timer and the slide-show entry. False when
// nothing could be stored.
bool ApplyItemProperties(DesktopContext& context, ProjectSession& session, ProjectItem& item,
                         const ItemPropertiesValues& values);

class ItemPropertiesDialog : public QDialog {
    Q_OBJECT
public:
    ItemPropertiesDialog(const ItemPropertiesValues& values, const CrawlOptionValues& inheritedCrawl,
                         const ExtFilterGroup& inheritedDownload, const ExtFilterGroup& inheritedExclusion,
                         ItemKind kind, Prompter* prompter, QWidget* parent = nullptr);
    const ItemPropertiesValues& result() const { return result_; }
    void accept() override;

    QTabWidget* tabs() const { return tabs_; }
    QLineEdit* nameEdit() const { return name_; }
    // A record's: why the URL typed can't be crawled (hidden while it can).
    QLabel* urlNote() const { return urlNote_; }
    QButtonGroup* pilotGroup() const { return pilot_; }
    TimerFields* timer() const { return timer_; }
    SlideShowPage* slide() const { return slide_; }
    CrawlOptionsPage* crawl() const { return crawl_; }
    ExtFilterPage* download() const { return download_; }
    ExtFilterPage* exclusion() const { return exclusion_; }

private:
    ItemPropertiesValues result_;
    Prompter* prompter_;
    QTabWidget* tabs_;
    QLineEdit* name_;
    QLabel* urlNote_ = nullptr;
    QButtonGroup* pilot_;
    TimerFields* timer_;
    SlideShowPage* slide_;
    CrawlOptionsPage* crawl_;
    ExtFilterPage* download_;
    ExtFilterPage* exclusion_;
};

// The sheet for an item, filled from the item, what it inherits and its
// entries in the two lists.
std::unique_ptr<ItemPropertiesDialog> MakeItemPropertiesDialog(const DesktopContext& context,
                                                               const ProjectSession& session,
                                                               const ProjectItem& item, QWidget* parent);

} // namespace ormbrook
