#include "windows/child_frame.h"
#include "windows/small_dialogs.h"

#include "crawl/mirror.h"
#include "crawl/project_item.h"
#include "crawl/saved_data_job.h"
#include "crawl/settings.h"
#include "pictures/picture_distribution.h"
#include "shell/headless_session.h"
#include "shell/slide_show_list.h"
#include "shell/timer_doc.h"
#include "windows/browser.h"
#include "windows/crawl_status.h"
#include "windows/item_properties.h"
#include "windows/project_session.h"
#include "windows/project_tree_model.h"
#include "windows/project_views.h"
#include "windows/tree_edits.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QItemSelectionModel>
#include <QMdiSubWindow>
#include <QMenu>
#include <QScrollArea>
#include <QSplitter>
#include <QTimerEvent>
#include <QVBoxLayout>

#include <utility>

namespace ormbrook {

const char kCloseRefusedWhileCrawling[] =
    "現在巡回を実行中です。\n巡回を終了させてからドキュメントを閉じて下さい。";
const char kEditRefusedWhileCrawling[] =
    "現在巡回を実行中です。\n巡回を終了させてから変更して下さい。";

CChildFrame::CChildFrame(DesktopContext& context, std::unique_ptr<ProjectSession> session, QWidget* parent)
    : QWidget(parent), context_(context), session_(std::move(session))
{
    status_ = std::make_unique<CrawlStatus>(*session_, context_.engine, context_.services);
    model_ = std::make_unique<ProjectTreeModel>(*session_, [this](const ProjectItem& item) { return MarksOf(item); });

    rows_ = new QSplitter(Qt::Vertical, this);
    columns_ = new QSplitter(Qt::Horizontal, rows_);
    linkView_ = new CLinkView(*model_, columns_);
    pageView_ = new CPageView(columns_);
    // The view scrolls when more slots than fit take their rows.
    auto* statScroll = new QScrollArea(rows_);
    statScroll->setFrameShape(QFrame::NoFrame);
    statScroll->setWidgetResizable(true);
    statScroll->setMinimumHeight(60);
    statView_ = new CDLStatView(*status_, statScroll);
    statScroll->setWidget(statView_);
    rows_->addWidget(columns_);
    rows_->addWidget(statScroll);
    rows_->setChildrenCollapsible(false);
    columns_->setChildrenCollapsible(false);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(rows_);
    setFocusProxy(linkView_);

    connect(linkView_->selectionModel(), &QItemSelectionModel::currentChanged, this, &CChildFrame::SelectionChanged);
    connect(linkView_, &CLinkView::contextMenuAt, this, &CChildFrame::TreeMenu);
    connect(pageView_, &CPageView::contextMenuAt, this, &CChildFrame::PageMenu);
    connect(model_.get(), &ProjectTreeModel::itemRenamed, this, [this] { MarkModified(); });
    connect(model_.get(), &ProjectTreeModel::dropRequested, this, &CChildFrame::DropItem);
    connect(model_.get(), &ProjectTreeModel::dropRefused, this, [] { QApplication::beep(); });
    connect(model_.get(), &ProjectTreeModel::filesListed, this, [this](ProjectItem* record) {
        if (reselect_.record == record) {
            const QModelIndex parent = model_->IndexOf(record);
            for (int r = 0; r < model_->rowCount(parent); ++r) {
                const QModelIndex row = model_->index(r, 0, parent);
                if (const StoredFile* file = model_->FileAt(row); file && file->url == reselect_.url) {
                    linkView_->setCurrentIndex(row);
                    break;
                }
            }
            reselect_ = {};
        }
        if (record == shownRecord_)
            ShowFilesOf(record);
    });
    connect(status_.get(), &CrawlStatus::crawlingChanged, this, [this](bool crawling) {
        model_->SetEditable(!crawling);
        // The views follow the mirror: once a second while files come, and
        // when the crawl or the saved-data job has ended.
        if (crawling) {
            filesRefresh_.start(kFilesRefreshMs, this);
        } else {
            filesRefresh_.stop();
            model_->RefreshFiles();
        }
        countersAtRefresh_.clear();
        Q_EMIT commandStateChanged();
    });
    connect(model_.get(), &ProjectTreeModel::filesReplacing, this, [this](ProjectItem* record) {
        // A file row that is current comes back once the new rows are in.
        const StoredFile* file = model_->FileAt(linkView_->currentIndex());
        if (file && model_->RecordAt(linkView_->currentIndex()) == record)
            reselect_ = {record, file->url};
    });
    connect(status_.get(), &CrawlStatus::stoppedByError, this, [this](const QString& reason) {
        Tell(QStringLiteral("書き込みができないため巡回を中断しました。\n%1\n\n"
                            "空きを作ってから巡回すると、中断したところから再開します。")
                 .arg(reason));
    });
    connect(status_.get(), &CrawlStatus::titleFound, this,
            [this](const QString& folder, const QString& url, const QString& title) {
        // The title is kept in the project file, and shown in the lists of
        // the record's timers and slide show.
        MarkModified();
        const std::string file = session_->filePath();
        if (!file.empty() && context_.timers && context_.slides) {
            const std::string f = folder.toStdString(), u = url.toStdString(), t = title.toStdString();
            if (context_.timers->SetItemTitle(file, f, u, t))
                context_.timers->Save(context_.listBase);
            if (context_.slides->SetItemTitle(file, f, u, t))
                context_.slides->Save(context_.listBase);
        }
        const ProjectItem* record =
            FindRecord(session_->document().Write().root(), folder.toStdString(), url.toStdString());
        if (record)
            model_->ItemChanged(record);
    });
    if (context_.pictures)
        connect(context_.pictures, &PictureDistribution::receiversChanged, this, &CChildFrame::commandStateChanged);

    // The project root and its folders open; URL items wait to be expanded.
    std::vector<QModelIndex> pending{model_->index(0, 0)};
    while (!pending.empty()) {
        const QModelIndex index = pending.back();
        pending.pop_back();
        const NodeKind kind = model_->KindAt(index);
        if (kind != NodeKind::Root && kind != NodeKind::Folder)
            continue;
        linkView_->expand(index);
        for (int r = 0; r < model_->rowCount(index); ++r)
            pending.push_back(model_->index(r, 0, index));
    }
    linkView_->setCurrentIndex(model_->index(0, 0));
    UpdateTitle();
    resize(720, 520);
}

CChildFrame::~CChildFrame() = default;

bool CChildFrame::crawling() const
{
    return status_->crawling();
}

ProjectItem* CChildFrame::selectedItem() const
{
    return model_->ItemAt(linkView_->currentIndex());
}

NodeKind CChildFrame::selectedKind() const
{
    return model_->KindAt(linkView_->currentIndex());
}

void CChildFrame::SelectItem(const ProjectItem* item)
{
    const QModelIndex index = model_->IndexOf(item);
    if (!index.isValid())
        return;
    linkView_->scrollTo(index);
    linkView_->setCurrentIndex(index);
}

void CChildFrame::UpdateTitle()
{
    setWindowTitle(QString::fromStdString(session_->title()) + QStringLiteral("[*]"));
    setWindowModified(session_->modified());
}

void CChildFrame::MarkModified()
{
    session_->SetModified(true);
    UpdateTitle();
    Q_EMIT modifiedChanged();
}

void CChildFrame::Tell(const QString& text, QMessageBox::Icon icon)
{
    if (context_.prompter)
        context_.prompter->Tell(this, text, icon);
}

unsigned CChildFrame::MarksOf(const ProjectItem& item) const
{
    unsigned marks = MarkNone;
    switch (item.EffectivePilotType()) {
    case PilotForbidden:
        marks |= MarkForbidden;
        break;
    case PilotSelected:
        marks |= MarkSelected;
        break;
    default:
        break;
    }
    const std::string file = session_->filePath();
    if (file.empty())
        return marks;
    const std::string folder = FolderPath(item);
    const std::string url = item.kind == ItemRecord ? item.url : std::string();
    if (context_.timers && context_.timers->FindItem(file, folder, url))
        marks |= MarkTimer;
    if (context_.slides) {
        auto lock = context_.slides->Lock();
        for (const SlideEntry& e : context_.slides->entries())
            if (e.file == file && e.folder == folder && e.url == url) {
                marks |= MarkSlideShow;
                break;
            }
    }
    return marks;
}

void CChildFrame::Refresh()
{
    model_->RootTitleChanged();
    linkView_->viewport()->update();
}

// ---- layout ----------------------------------------------------------------

SplitSizes CChildFrame::CurrentSplit() const
{
    SplitSizes s;
    const QList<int> r = rows_->sizes();
    const QList<int> c = columns_->sizes();
    if (r.size() == 2) {
        s.topHeight = r[0];
        s.bottomHeight = r[1];
    }
    if (c.size() == 2) {
        s.leftWidth = c[0];
        s.rightWidth = c[1];
    }
    return s;
}

void CChildFrame::ApplySplit(const SplitSizes& s)
{
    rows_->setSizes({s.topHeight, s.bottomHeight});
    columns_->setSizes({s.leftWidth, s.rightWidth});
}

void CChildFrame::timerEvent(QTimerEvent* event)
{
    if (event->timerId() != filesRefresh_.timerId())
        return QWidget::timerEvent(event);
    // Only when the crawl has got somewhere since the last look.
    const std::string counters = status_->model().CounterLine();
    if (counters == countersAtRefresh_)
        return;
    countersAtRefresh_ = counters;
    model_->RefreshFiles();
}

void CChildFrame::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!splitDone_) {
        splitDone_ = true;
        ApplySplit(InitialSplit(width(), height()));
    }
}

void CChildFrame::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (splitDone_)
        ApplySplit(ResizeSplit(width(), height(), CurrentSplit()));
}

// ---- selection and the file list -----------------------------------------

void CChildFrame::SelectionChanged()
{
    const QModelIndex index = linkView_->currentIndex();
    // A folder or the root leaves the list as it is.
    if (ProjectItem* record = model_->RecordAt(index)) {
        shownRecord_ = record;
        ShowFilesOf(record);
    }
    Q_EMIT commandStateChanged();
}

void CChildFrame::ShowFilesOf(ProjectItem* record)
{
    if (StoredFileList files = model_->FilesOf(record))
        pageView_->ShowFiles(std::move(files));
    // Otherwise the listing is under way and filesListed brings it.
}

// ---- commands ----------------------------------------------------------------

bool CChildFrame::RunCommand(CommandId id)
{
    switch (id) {
    case CmdFileSave:
        return !crawling() && Save(false);
    case CmdFileSaveAs:
        return !crawling() && Save(true);
    case CmdFileClose:
        // The window is the content of its MDI frame: closing the frame is
        // what ends the project (the frame asks this window first).
        if (auto* frame = qobject_cast<QMdiSubWindow*>(parentWidget()))
            return frame->close();
        return close();
    case CmdCrawl:
    case CmdSelectedCrawl:
        if (!status_->StartCrawl(id == CmdSelectedCrawl)) {
            if (!status_->errorText().empty())
                Tell(QString::fromStdString(status_->errorText()));
            return false;
        }
        return true;
    case CmdStop:
        status_->Stop();
        return true;
    case CmdResetCrawl:
        if (crawling())
            return false;
        if (!session_->ResetCrawlState()) {
            Tell(QString::fromStdString(session_->errorText()));
            return false;
        }
        return true;
    case CmdNewFolder:
        AddItem(true);
        return true;
    case CmdNewUrl:
        AddItem(false);
        return true;
    case CmdUrlFromBrowser:
        if (auto url = GetBrowserUrl())
            AddItem(false, *url);
        return true;
    case CmdDelete:
        DeleteItem();
        return true;
    case CmdDeleteSaved:
        SavedData(SavedDataDelete);
        return true;
    case CmdCopySaved:
        SavedData(SavedDataCopy);
        return true;
    case CmdMoveSaved:
        SavedData(SavedDataMove);
        return true;
    case CmdShowInBrowser:
        ShowSelectedInBrowser();
        return true;
    case CmdItemProperties:
        ItemProperties();
        return true;
    case CmdFailedUrls:
        ShowFailedUrls();
        return true;
    default:
        return false;
    }
}

FailedUrlsDialog* CChildFrame::failedUrlsDialog() const
{
    return failedUrls_;
}

void CChildFrame::ShowFailedUrls()
{
    // One list per project, open beside the window while the crawl goes on.
    if (!failedUrls_) {
        failedUrls_ = new FailedUrlsDialog(*status_, this);
        failedUrls_->setAttribute(Qt::WA_DeleteOnClose);
    }
    failedUrls_->show();
    failedUrls_->raise();
    failedUrls_->activateWindow();
}

bool CChildFrame::Save(bool askName)
{
    std::string path = session_->filePath();
    if (askName || path.empty()) {
        const QString start = QString::fromStdString(
            path.empty() ? TrailingSlash(context_.settings->values().MirrorDir) + session_->title() + ".prj" : path);
        std::optional<QString> chosen = context_.prompter ? context_.prompter->AskSaveProject(this, start)
                                                          : std::nullopt;
        if (!chosen)
            return false;
        path = chosen->toStdString();
    }
    const std::string oldPath = session_->filePath();
    if (!session_->Save(path)) {
        Tell(QString::fromStdString(session_->errorText()), QMessageBox::Critical);
        return false;
    }
    // Saved, but the mirror could not follow the new name: say where it is.
    if (!session_->errorText().empty())
        Tell(QString::fromStdString(session_->errorText()));
    // The stored files now lie under the new name.
    model_->RefreshFiles();
    model_->RootTitleChanged();
    UpdateTitle();
    Q_EMIT modifiedChanged();
    return true;
}

bool CChildFrame::AskBeforeClose()
{
    if (crawling())
        return false;
    saveAnswered_ = QuerySave();
    return saveAnswered_;
}

bool CChildFrame::QuerySave()
{
    if (!session_->modified())
        return true;
    const QString text = QStringLiteral("%1 への変更を保存しますか?").arg(QString::fromStdString(session_->title()));
    switch (context_.prompter ? context_.prompter->AskYesNoCancel(this, text) : QMessageBox::No) {
    case QMessageBox::Yes:
        return Save(false);
    case QMessageBox::No:
        return true;
    default:
        return false;
    }
}

void CChildFrame::closeEvent(QCloseEvent* event)
{
    if (crawling()) {
        Tell(QString::fromUtf8(kCloseRefusedWhileCrawling));
        event->ignore();
        return;
    }
    const bool answered = std::exchange(saveAnswered_, false);
    if (!answered && !QuerySave()) {
        event->ignore();
        return;
    }
    event->accept();
}

bool CChildFrame::RefusedWhileCrawling()
{
    // A timer crawl may have started while a dialog of this project was
    // open: what the dialog asked for is not done under the crawl's feet.
    if (!crawling())
        return false;
    Tell(QString::fromUtf8(kEditRefusedWhileCrawling));
    return true;
}

void CChildFrame::AddItem(bool folder, std::optional<std::string> text)
{
    ProjectItem* parent = selectedItem();
    if (!parent || parent->kind == ItemRecord || crawling())
        return;
    if (!text) {
        std::optional<QString> typed = context_.prompter ? context_.prompter->AskItemName(this, !folder) : std::nullopt;
        if (!typed || RefusedWhileCrawling())
            return;
        text = typed->toStdString();
    }
    ProjectItem* added = AddChildItem(*parent, folder ? NewItemKind::Folder : NewItemKind::Url, *text);
    if (!added) {
        QApplication::beep();
        return;
    }
    model_->ItemAdded(added);
    linkView_->expand(model_->IndexOf(parent));
    SelectItem(added);
    MarkModified();
}

void CChildFrame::DeleteItem()
{
    ProjectItem* item = selectedItem();
    if (!item || item->kind == ItemRoot || crawling())
        return;
    if (!context_.prompter
        || !context_.prompter->AskOkCancel(this, QStringLiteral("保存されているデータも削除しますか？"),
                                          QMessageBox::Question)
        || RefusedWhileCrawling())
        return;
    // The item leaves the tree once its files are gone: the job walks them
    // from the item's place.
    const bool started = status_->StartSavedData(SavedDataDelete, item, {}, [this, item] {
        if (context_.timers && context_.slides)
            RemoveItemSchedules(*context_.timers, *context_.slides, session_->filePath(), *item);
        for (const ProjectItem* up = shownRecord_; up; up = up->parent)
            if (up == item) {
                shownRecord_ = nullptr;
                pageView_->ShowFiles(nullptr);
                break;
            }
        model_->RemoveItem(item);
        std::unique_ptr<ProjectItem> gone = Unlink(*item);
        gone.reset();
        MarkModified();
        Q_EMIT commandStateChanged();
    });
    if (!started && !status_->errorText().empty())
        Tell(QString::fromStdString(status_->errorText()));
}

void CChildFrame::SavedData(int kind)
{
    ProjectItem* item = selectedItem();
    if (!item || crawling() || !context_.prompter)
        return;
    std::string destination;
    if (kind == SavedDataDelete) {
        if (!context_.prompter->AskOkCancel(this, QStringLiteral("データを削除してよろしいですか？"),
                                            QMessageBox::Question))
            return;
    } else {
        std::optional<QString> dir = context_.prompter->AskDirectory(
            this, QStringLiteral("コピー先の選択"), QString::fromStdString(context_.settings->values().MirrorDir));
        if (!dir)
            return;
        destination = TrailingSlash(dir->toStdString());
        ForwardSlashes(destination);
    }
    if (RefusedWhileCrawling())
        return;
    const std::string refusal = SavedDataOperation::Refusal(session_->Mirror(), *item, kind, destination);
    if (!refusal.empty()) {
        Tell(QString::fromStdString(refusal));
        return;
    }
    if (!status_->StartSavedData(kind, item, destination) && !status_->errorText().empty())
        Tell(QString::fromStdString(status_->errorText()));
}

void CChildFrame::DropItem(ProjectItem* item, ProjectItem* target)
{
    if (crawling() || !CanDrop(*item, *target) || !context_.prompter) {
        QApplication::beep();
        return;
    }
    std::optional<int> choice = context_.prompter->AskMirrorFiles(this);
    if (!choice || RefusedWhileCrawling())
        return;
    auto after = [this, item, target] { MoveItemNow(item, target); };
    int kind = -1;
    std::string destination;
    switch (*choice) {
    case 1:
        kind = SavedDataCopy;
        break;
    case 2:
        kind = SavedDataMove;
        break;
    case 3:
        kind = SavedDataDelete;
        break;
    default:
        MoveItemNow(item, target);
        return;
    }
    if (kind != SavedDataDelete)
        destination = MovedFilesDestination(session_->Mirror(), *item, *target);
    const std::string refusal = SavedDataOperation::Refusal(session_->Mirror(), *item, kind, destination);
    if (!refusal.empty()) {
        Tell(QString::fromStdString(refusal));
        return;
    }
    if (!status_->StartSavedData(kind, item, destination, after) && !status_->errorText().empty())
        Tell(QString::fromStdString(status_->errorText()));
}

void CChildFrame::MoveItemNow(ProjectItem* item, ProjectItem* target)
{
    if (!MoveTo(*item, *target))
        return;
    model_->Rebuild();
    std::vector<QModelIndex> pending{model_->index(0, 0)};
    while (!pending.empty()) {
        const QModelIndex index = pending.back();
        pending.pop_back();
        const NodeKind kind = model_->KindAt(index);
        if (kind != NodeKind::Root && kind != NodeKind::Folder)
            continue;
        linkView_->expand(index);
        for (int r = 0; r < model_->rowCount(index); ++r)
            pending.push_back(model_->index(r, 0, index));
    }
    SelectItem(item);
    MarkModified();
}

void CChildFrame::ShowSelectedInBrowser()
{
    const QModelIndex index = linkView_->currentIndex();
    if (const StoredFile* file = model_->FileAt(index)) {
        if (file->complete())
            OpenInBrowser(file->path);
        return;
    }
    ProjectItem* record = model_->RecordAt(index);
    if (!record)
        return;
    // Only a complete stored copy is shown.
    if (std::optional<std::string> path = session_->Mirror().ExistingFile(record->url, FolderPath(*record)))
        OpenInBrowser(*path);
}

void CChildFrame::ShowFileInBrowser()
{
    const StoredFile* file = pageView_->listModel().FileAt(pageView_->currentIndex());
    if (file && file->complete() && !crawling())
        OpenInBrowser(file->path);
}

void CChildFrame::OpenInBrowser(const std::string& path)
{
    if (!ShowInBrowser(path))
        Tell(QStringLiteral("ブラウザを起動できませんでした。\n%1").arg(QString::fromStdString(path)));
}

void CChildFrame::ItemProperties()
{
    ProjectItem* item = selectedItem();
    if (!item || crawling())
        return;
    std::unique_ptr<ItemPropertiesDialog> dialog = MakeItemPropertiesDialog(context_, *session_, *item, this);
    if (dialog->exec() != QDialog::Accepted || RefusedWhileCrawling())
        return;
    ApplyItemProperties(context_, *session_, *item, dialog->result());
    model_->ItemChanged(item);
    MarkModified();
}

void CChildFrame::TreeMenu(const QPoint& globalPos)
{
    QMenu menu(this);
    const CommandState state{.projectOpen = true, .node = selectedKind(), .crawling = crawling()};
    for (CommandId id : {CmdShowInBrowser, CmdItemProperties}) {
        const CommandInfo* info = FindCommand(id);
        QAction* action = menu.addAction(QString::fromUtf8(info->menuText.data(), int(info->menuText.size())));
        action->setEnabled(CommandEnabled(id, state));
        connect(action, &QAction::triggered, this, [this, id] { RunCommand(id); });
    }
    menu.exec(globalPos);
}

void CChildFrame::PageMenu(const QPoint& globalPos)
{
    QMenu menu(this);
    const CommandInfo* info = FindCommand(CmdShowInBrowser);
    QAction* action = menu.addAction(QString::fromUtf8(info->menuText.data(), int(info->menuText.size())));
    action->setEnabled(!crawling());
    connect(action, &QAction::triggered, this, &CChildFrame::ShowFileInBrowser);
    menu.exec(globalPos);
}

bool CChildFrame::TimerCrawl(const TimerEntry& entry)
{
    const std::string path = entry.url.empty() ? entry.folder : entry.folder + "/" + entry.url;
    ProjectItem* item = FindItemByPath(session_->document().Write().root(), path);
    if (!item)
        return false;
    return status_->StartTimerCrawl(item, entry.selected != 0);
}

} // namespace ormbrook
