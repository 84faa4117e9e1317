#include "windows/item_properties.h"

#include "crawl/project_item.h"
#include "windows/desktop_context.h"
#include "windows/small_dialogs.h"
#include "windows/project_session.h"
#include "windows/tree_edits.h"

#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QVBoxLayout>

namespace ormbrook {

namespace {

CrawlOptionValues OwnCrawlOptions(const ProjectItem& i)
{
    return {i.GraphMax,
            i.PilotArea,
            i.RenewalType,
            {i.ConnectionTimeout, i.ReplyRcvTimeout, i.CtlRcvTimeout, i.DataRcvTimeout, i.CloseTimeout,
             i.DLTotalTimeout},
            i.NoCache,
            i.DLoadRetry,
            i.LocalizeLink,
            i.UseHttp10,
            i.RequisitesOffSite};
}

// What each -1 of the item stands for: its parent's effective values, or
// the application's above the root.
CrawlOptionValues InheritedCrawlOptions(const ProjectItem& item, const AppSettings& app)
{
    if (!item.parent)
        return EffectiveCrawlOptions(app);
    const ProjectItem& p = *item.parent;
    return {p.Effective(OptGraphMax, app),
            p.Effective(OptPilotArea, app),
            p.Effective(OptRenewalType, app),
            {p.Effective(OptConnectionTimeout, app), p.Effective(OptReplyRcvTimeout, app),
             p.Effective(OptCtlRcvTimeout, app), p.Effective(OptDataRcvTimeout, app),
             p.Effective(OptCloseTimeout, app), p.Effective(OptDLTotalTimeout, app)},
            p.Effective(OptNoCache, app),
            p.Effective(OptDLoadRetry, app),
            p.Effective(OptLocalizeLink, app),
            p.Effective(OptUseHttp10, app),
            p.Effective(OptRequisitesOffSite, app)};
}

std::string ItemUrl(const ProjectItem& item)
{
    return item.kind == ItemRecord ? item.url : std::string();
}

} // namespace

ItemPropertiesValues LoadItemProperties(const DesktopContext& context, const ProjectSession& session,
                                        const ProjectItem& item)
{
    ItemPropertiesValues v;
    v.name = item.kind == ItemRecord ? item.url : item.title;
    v.pilotType = item.PilotType == -1 ? 0 : item.PilotType;
    v.crawl = OwnCrawlOptions(item);
    v.download = item.downloadFilter;
    v.exclusion = item.exclusionFilter;

    const std::string file = session.filePath();
    const std::string folder = FolderPath(item);
    const std::string url = ItemUrl(item);
    v.timer = TimerSettings{};
    v.timer.kind = TimerMonthly;
    if (const TimerEntry* t = context.timers ? context.timers->FindItem(file, folder, url) : nullptr) {
        v.timer.enabled = true;
        v.timer.kind = t->kind;
        v.timer.day = t->kind == TimerMonthly ? t->day : 1;
        v.timer.weekday = t->weekday;
        v.timer.hour = t->hour;
        v.timer.minute = t->minute;
        v.timer.intervalMinutes = t->kind == TimerInterval ? t->intervalMinutes : 10;
        v.timer.selected = t->selected != 0;
    }

    const AppSettings& app = *context.settings;
    v.slide.enabled = false;
    v.slide.effect = app.MUDrawType();
    v.slide.speed = app.MUDrawSpeed();
    v.slide.backColor = app.BGColor();
    v.slide.minWidth = app.MinPicWidth();
    v.slide.minHeight = app.MinPicHeight();
    v.slide.showImgTags = app.IMGSW() != 0;
    v.slide.interval = app.PicChgInterval();
    if (context.slides) {
        auto lock = context.slides->Lock();
        for (const SlideEntry& e : context.slides->entries())
            if (e.file == file && e.folder == folder && e.url == url) {
                v.slide = {true, e.effect, e.speed, e.backColor, e.minWidth, e.minHeight, e.showImgTags != 0,
                           e.interval};
                break;
            }
    }
    return v;
}

bool ApplyItemProperties(DesktopContext& context, ProjectSession& session, ProjectItem& item,
                         const ItemPropertiesValues& values)
{
    const AppSettings& app = *context.settings;
    const std::string file = session.filePath();
    const std::string oldFolder = FolderPath(item);
    const std::string oldUrl = ItemUrl(item);

    CrawlOptionValues crawl = values.crawl;
    BoundCrawlOptions(crawl);
    item.GraphMax = crawl.linkMax;
    item.PilotArea = crawl.pilotArea;
    item.RenewalType = crawl.renewalType;
    item.ConnectionTimeout = crawl.timeouts[0];
    item.ReplyRcvTimeout = crawl.timeouts[1];
    item.CtlRcvTimeout = crawl.timeouts[2];
    item.DataRcvTimeout = crawl.timeouts[3];
    item.CloseTimeout = crawl.timeouts[4];
    item.DLTotalTimeout = crawl.timeouts[5];
    item.NoCache = crawl.noCache;
    item.DLoadRetry = crawl.retry;
    item.LocalizeLink = crawl.localizeLink;
    item.UseHttp10 = crawl.useHttp10;
    item.RequisitesOffSite = crawl.requisitesOffSite;
    item.downloadFilter = values.download;
    item.exclusionFilter = values.exclusion;

    // A renamed item's schedules follow it: the old entries go.
    if (item.kind != ItemRoot && RenameItem(item, values.name) && !file.empty()) {
        std::erase_if(context.timers->entries(), [&](const TimerEntry& t) {
            return t.file == file && t.folder == oldFolder && t.url == oldUrl;
        });
        auto lock = context.slides->Lock();
        std::erase_if(context.slides->entries(), [&](const SlideEntry& s) {
            return s.file == file && s.folder == oldFolder && s.url == oldUrl;
        });
    }
    // Refused (left as it is) under an item that forbids crawling.
    item.SetPilotType(values.pilotType);

    // An unsaved project has no file the schedules could name.
    if (file.empty())
        return true;
    const std::string folder = FolderPath(item);
    const std::string url = ItemUrl(item);
    bool ok = true;
    if (context.timers)
        ok = context.timers->SetItemTimer(file, folder, url, values.timer) && ok;
    if (context.slides)
        ok = context.slides->SetItemSlideShow(file, folder, url, item.Effective(OptGraphMax, app), values.slide)
             && ok;
    return ok;
}

ItemPropertiesDialog::ItemPropertiesDialog(const ItemPropertiesValues& values, const CrawlOptionValues& inheritedCrawl,
                                           const ExtFilterGroup& inheritedDownload,
                                           const ExtFilterGroup& inheritedExclusion, ItemKind kind, Prompter* prompter,
                                           QWidget* parent)
    : QDialog(parent), result_(values), prompter_(prompter)
{
    setWindowTitle(QStringLiteral("アイテムのプロパティ"));
    tabs_ = new QTabWidget(this);
    tabs_->setUsesScrollButtons(false);

    auto* first = new QWidget(tabs_);
    auto* firstLayout = new QVBoxLayout(first);
    auto* nameForm = new QFormLayout;
    name_ = new QLineEdit(QString::fromStdString(values.name), first);
    name_->setEnabled(kind != ItemRoot);
    nameForm->addRow(QStringLiteral("URL またはフォルダ名"), name_);
    if (kind == ItemRecord) {
        urlNote_ = MakeUrlNote(name_, first);
        nameForm->addRow(QString(), urlNote_);
    }
    firstLayout->addLayout(nameForm);
    auto* row = new QHBoxLayout;
    auto* timerBox = new QGroupBox(QStringLiteral("タイマー"), first);
    auto* timerLayout = new QVBoxLayout(timerBox);
    timer_ = new TimerFields(true, timerBox);
    timer_->Load(values.timer);
    timerLayout->addWidget(timer_);
    row->addWidget(timerBox, 1);
    auto* kindBox = new QGroupBox(QStringLiteral("巡回種別"), first);
    auto* kindLayout = new QVBoxLayout(kindBox);
    pilot_ = new QButtonGroup(kindBox);
    const char* kinds[] = {"デフォルト", "巡回禁止", "選択巡回有効"};
    for (int i = 0; i < 3; ++i) {
        auto* radio = new QRadioButton(QString::fromUtf8(kinds[i]), kindBox);
        pilot_->addButton(radio, i);
        kindLayout->addWidget(radio);
    }
    kindLayout->addStretch();
    if (QAbstractButton* b = pilot_->button(values.pilotType < 0 ? 0 : values.pilotType))
        b->setChecked(true);
    row->addWidget(kindBox);
    firstLayout->addLayout(row);
    slide_ = new SlideShowPage(SlideShowPage::ItemBox, first);
    slide_->Load(values.slide);
    firstLayout->addWidget(slide_);
    tabs_->addTab(first, QStringLiteral("ﾀｲﾏｰ,ｽﾗｲﾄﾞｼｮｳ他"));

    crawl_ = new CrawlOptionsPage(tabs_);
    crawl_->Load(values.crawl, inheritedCrawl);
    tabs_->addTab(crawl_, QStringLiteral("巡回"));
    download_ = new ExtFilterPage(false, tabs_);
    download_->Load(values.download, inheritedDownload);
    tabs_->addTab(download_, QStringLiteral("ﾀﾞｳﾝﾛｰﾄﾞするﾌｧｲﾙの拡張子"));
    exclusion_ = new ExtFilterPage(true, tabs_);
    exclusion_->Load(values.exclusion, inheritedExclusion);
    tabs_->addTab(exclusion_, QStringLiteral("ﾀﾞｳﾝﾛｰﾄﾞしないﾌｧｲﾙの拡張子"));

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("OK"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("キャンセル"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

void ItemPropertiesDialog::accept()
{
    ItemPropertiesValues v = result_;
    auto fail = [this](int tab) {
        tabs_->setCurrentIndex(tab);
        if (prompter_)
            prompter_->Tell(this, QString::fromUtf8(kIntegerPrompt), QMessageBox::Warning);
    };
    v.name = name_->text().trimmed().toStdString();
    // A URL typed wrong is said, and stays to be mended, rather than be
    // dropped for the old one. One that came so from the project file may
    // stay as it is.
    if (urlNote_ && v.name != result_.name) {
        if (std::optional<QString> note = CannotCrawlNote(name_->text())) {
            tabs_->setCurrentIndex(0);
            name_->setFocus();
            if (prompter_)
                prompter_->Tell(this, *note, QMessageBox::Warning);
            return;
        }
    }
    v.pilotType = pilot_->checkedId() >= 0 ? pilot_->checkedId() : 0;
    std::optional<TimerSettings> timer = timer_->Store();
    if (!timer)
        return fail(0);
    v.timer = *timer;
    std::optional<SlideSettings> slide = slide_->Store();
    if (!slide)
        return fail(0);
    v.slide = *slide;
    std::optional<CrawlOptionValues> crawl = crawl_->Store();
    if (!crawl)
        return fail(1);
    v.crawl = *crawl;
    v.download = download_->Store();
    v.exclusion = exclusion_->Store();
    result_ = v;
    QDialog::accept();
}

std::unique_ptr<ItemPropertiesDialog> MakeItemPropertiesDialog(const DesktopContext& context,
                                                               const ProjectSession& session,
                                                               const ProjectItem& item, QWidget* parent)
{
    const AppSettings& app = *context.settings;
    const ItemPropertiesValues values = LoadItemProperties(context, session, item);
    const ExtFilterGroup& download =
        item.parent ? item.parent->EffectiveDownloadFilter(app) : app.DownloadFilter();
    const ExtFilterGroup& exclusion =
        item.parent ? item.parent->EffectiveExclusionFilter(app) : app.ExclusionFilter();
    return std::make_unique<ItemPropertiesDialog>(values, InheritedCrawlOptions(item, app), download, exclusion,
                                                  item.kind, context.prompter, parent);
}


} // namespace ormbrook
