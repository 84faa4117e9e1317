#pragma once
// The status view's side of a crawl, without its pixels: it asks the engine
// thread for crawls and saved-data jobs of one project, receives the
// progress messages, and keeps what the view draws. While a crawl or a job
// runs the project counts as crawling: the commands that edit the tree are
// off and the project window refuses to close.
//
// A crawl of thousands of pages sends tens of thousands of messages; the
// view is told of changes at most once per kRedrawMs, never per message.

#include "engine/status_view_model.h"
#include "platform/message_target.h"
#include "windows/crawl_request.h"

#include <functional>
#include <string>

namespace ormbrook {

class CWSThread;
class ProjectSession;

class CrawlStatus : public MessageTarget {
    Q_OBJECT
public:
    static constexpr int kRedrawMs = 40;

    enum class Mode { None, Normal, Selected, Timer, SavedData };

    // engine and services are read when a crawl starts: the engine thread
    // may start after the project opened.
    CrawlStatus(ProjectSession& session, CWSThread* const& engine, const CrawlServices& services,
                QObject* parent = nullptr);
    ~CrawlStatus() override;

    bool crawling() const { return mode_ != Mode::None; }
    Mode mode() const { return mode_; }
    // The saved-data job (SavedDataKind) whose counters the model holds, or
    // -1 when they are a crawl's; kept after the job ends.
    int countedJob() const { return countedJob_; }
    const StatusViewModel& model() const { return model_; }
    const std::string& errorText() const { return errorText_; }
    // The item the last crawl covered ("P/News/http://site/"), or empty
    // for the whole project; kept after the crawl ends.
    const std::string& crawledItem() const { return crawledItem_; }

    // "巡回実行" (selected false) and "選択巡回実行" (true). False when the
    // project crawls already or its work lists can't be opened.
    bool StartCrawl(bool selected);
    // A due timer: the crawl covers `item` and its subtree. Dropped (false)
    // while the project crawls.
    bool StartTimerCrawl(ProjectItem* item, bool selected);
    // Deletes (0), copies (1) or moves (2) the item's saved files on the
    // engine thread; `after` runs on this thread once the job is over.
    bool StartSavedData(int kind, ProjectItem* item, const std::string& destination,
                        std::function<void()> after = {});
    // "巡回中断".
    void Stop();

Q_SIGNALS:
    // The rows or counters changed (coalesced).
    void changed();
    void crawlingChanged(bool crawling);
    // The crawl stops because the mirror's file system took no more (the
    // path and the system's reason); the next crawl resumes.
    void stoppedByError(const QString& reason);
    // A record's page told its title.
    void titleFound(const QString& folderPath, const QString& recordUrl, const QString& title);
    // A crawl or a saved-data job has ended, in `mode`; `stopped` when it
    // was stopped before its end.
    void ended(CrawlStatus::Mode mode, bool stopped);

protected:
    void OnMessage(uint32_t message, uintptr_t wParam, std::unique_ptr<MessageRecord> record) override;
    void OnTimer(int id) override;

private:
    bool Begin(Mode mode, uint8_t startKind, ProjectItem* startItem);
    void Touch();
    void Over();

    ProjectSession& session_;
    CWSThread* const& engine_;
    const CrawlServices& services_;
    StatusViewModel model_;
    Mode mode_ = Mode::None;
    QPointer<QObject> manager_;
    bool stopAsked_ = false;
    // The saved-data job the manager is to run, once it exists.
    int jobKind_ = 0;
    int countedJob_ = -1;
    ProjectItem* jobItem_ = nullptr;
    std::string jobDestination_;
    std::function<void()> after_;
    std::string errorText_;
    std::string crawledItem_;
    bool stoppedByError_ = false;
    bool dirty_ = false;
};

} // namespace ormbrook
