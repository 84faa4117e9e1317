#pragma once
// DLManager: runs one crawl on the engine thread. It owns the download
// slots (MaxDownloads of them, five unless set), drives the crawl as a chain of messages it posts to itself (one
// step per message), counts what is still outstanding so that the crawl
// ends exactly once, and reports to the status view. The decisions of the
// crawl are the CrawlDriver's.

#include "crawl/crawl_driver.h"
#include "crawl/picture_sink.h"
#include "common/messages.h"
#include "engine/dialup_connector.h"
#include "engine/download_records.h"
#include "engine/conn_pool.h"
#include "engine/dl_obj.h"
#include "platform/message_target.h"

#include <array>
#include <memory>

namespace ormbrook {

struct CrawlProject;
class SavedDataOperation;

// MsgManagerSavedDataJob: a delete (0), copy (1) or move (2) of the files
// saved for an item, run instead of a crawl.
struct SavedDataJobRecord : MessageRecord {
    int kind = 0;
    ProjectItem* item = nullptr;
    std::string destination;
};

// MsgEngineCreateManager: what a status view asks the engine thread for.
struct CrawlRequestRecord : MessageRecord {
    QPointer<QObject> statusWindow;
    CrawlProject* project = nullptr;
    const AppSettings* settings = nullptr;
    // When set, `settings` points into it and the manager keeps it: a copy
    // taken for this crawl, which the settings sheet cannot change under it.
    std::shared_ptr<const AppSettings> settingsCopy;
    DialupConnector* dialup = nullptr;   // null: no dial-up
    uint8_t startKind = 0;               // 1: selected items only
    ProjectItem* startItem = nullptr;    // a partial crawl starts here
    std::shared_ptr<CrawlPictureSink> pictures; // null: stored pictures go nowhere
};

// MsgStatusManager: the manager that runs the crawl, and how many slots
// (downloads at a time) it has.
struct ManagerRecord : MessageRecord {
    explicit ManagerRecord(QPointer<QObject> m, int s = 5) : manager(std::move(m)), slots(s) {}
    QPointer<QObject> manager;
    int slots;
};

// MsgStatusCurrentUrl.
struct TextRecord : MessageRecord {
    explicit TextRecord(std::string t) : text(std::move(t)) {}
    std::string text;
};

// MsgStatusSlotDone.
struct SlotDoneRecord : MessageRecord {
    SlotDoneRecord(int16_t s, bool ok) : slot(s), success(ok) {}
    int16_t slot;
    bool success;
    // Why a download failed, when that has a text of its own
    // ("certificate: ..."); empty otherwise.
    std::string reason;
    // Why it failed, in every case ("404 Not Found", "time-out: reply").
    std::string cause;
};

// MsgStatusTitle: a record's page told its title (the views show it).
constexpr uint32_t MsgStatusTitle = WM_USER + 29;

// MsgStatusStoppedByError (a TextRecord): the file system could take no
// more, and the crawl stops as the stop command stops it. The text names
// what could not be written and why. MsgStatusCrawlOver follows.
constexpr uint32_t MsgStatusStoppedByError = WM_USER + 12;
struct TitleRecord : MessageRecord {
    std::string folderPath;
    std::string recordUrl;
    std::string title;
};

class DLManager : public MessageTarget, private CrawlHost {
public:
    enum State { Starting = 1, Crawling = 2, Closing = 3, Done = 4 };
    static constexpr int kDefaultSlots = 5;
    static constexpr int kMaxSlots = 16;
    // How long one localise message works on pages before it yields.
    static constexpr int kLocaliseSliceMs = 10;
    // How long the queues' changes may wait in memory before they are
    // written (what a crash of the process can lose).
    static constexpr int kQueueWriteMs = 20;

    explicit DLManager(const CrawlRequestRecord& request);
    ~DLManager() override;

    State state() const { return state_; }
    int freeSlots() const { return freeSlots_; }
    int slotCount() const { return slotCount_; }
    int pendingPosts() const { return pendingPosts_; }

protected:
    void OnMessage(uint32_t message, uintptr_t wParam, std::unique_ptr<MessageRecord> record) override;
    void OnTimer(int id) override;

private:
    void HandleMessage(uint32_t message, uintptr_t wParam, std::unique_ptr<MessageRecord> record);
    void Start();
    void BeginCrawl();
    void TakeMirrorNaming();
    void Stop();
    // Stops the crawl because the file system can take no more; the status
    // view is told why. Once.
    void StopForError(const std::string& reason);
    // The driver met such a failure: the crawl stops.
    void StopOnStorageFailure();
    void DispatchStep();
    void ClosingStep();
    void PageOutcomeOf(int slot, int result);
    void RobotsOutcomeOf(int slot, int result);
    void EndSlot(int slot, int pageResult, const std::string& cause = {});
    void StartPageOn(DLObj& slot);
    void Finish();
    void Post(uint32_t message);
    void BeginSavedDataJob(const SavedDataJobRecord& request);
    void SavedDataStep(uint32_t message);

    // CrawlHost
    int BusySlotFor(std::string_view urlKey, std::string_view folderPath) const override;
    bool BusyWithHost(std::string_view host, std::string_view folderPath) const override;
    bool RunningDownloads() const override { return freeSlots_ < slotCount_; }
    void Attach(int slot, QueueEntry entry) override;
    bool StartDownload(const DownloadRequest& request) override;
    void Report(uint32_t message, const std::string& text) override;
    void TitleFound(const std::string& folderPath, const std::string& recordUrl, const std::string& title) override;
    void PictureStored(const QueueEntry& entry, const std::string& localPath) override;

    QPointer<QObject> statusWindow_;
    // Counter messages come by the ten thousand (every repeated link counts):
    // they are summed here and posted as one message per counter, the count
    // in wParam, before any other message to the status window (PostStatus),
    // or once a counter has gathered kCountBatch.
    static constexpr uint32_t kCountBatch = 64;
    std::array<uint32_t, 6> pendingCounts_{};
    void FlushCounts();
    // Every message but a counter goes to the status window this way.
    void PostStatus(uint32_t message, std::unique_ptr<MessageRecord> record = nullptr);
    CrawlProject& project_;
    std::shared_ptr<const AppSettings> settingsCopy_;
    const AppSettings& settings_;
    DialupConnector* dialup_;
    bool selectedOnly_;
    ProjectItem* startItem_;
    std::shared_ptr<CrawlPictureSink> pictures_;
    CrawlDriver driver_;

    // Made before the slots, so that it outlives their transfers.
    std::unique_ptr<CConnPool> pool_;
    int slotCount_ = kDefaultSlots;
    std::vector<std::unique_ptr<DLObj>> slots_;
    // The entry each busy slot works for; the slot borrows it.
    std::vector<std::unique_ptr<QueueEntry>> items_;
    std::vector<std::string> referrers_;
    int freeSlots_ = kDefaultSlots;
    int pendingPosts_ = 0;
    bool stopRequested_ = false;
    State state_ = Starting;
    bool dialled_ = false;
    bool finished_ = false;
    std::unique_ptr<SavedDataOperation> job_;
};

// The engine thread's handling of MsgEngineCreateManager: makes a manager
// for the request and tells the status view about it.
void CreateManagerFor(std::unique_ptr<MessageRecord> record);

} // namespace ormbrook
