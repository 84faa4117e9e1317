#pragma once
// One download slot of a download manager: fetches one URL (after the
// site's robots.txt when asked) into the temporary file "tmp<slot>.dat"
// under six time-outs, and reports progress and the outcome by message.

#include "common/queue_entry.h"
#include "common/url.h"
#include "engine/http_transfer.h"
#include "platform/message_target.h"

#include <QPointer>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ormbrook {

class DLObj : public MessageTarget, public TransferListener {
    Q_OBJECT
public:
    enum Timer : int {
        TimerConnection = 1,
        TimerReply = 2,
        TimerHeader = 3,
        TimerData = 4,
        TimerClose = 5,
        TimerTotal = 6,
        TimerWriteFailed = 7, // ends the job soon after its temporary file could not be written
    };
    enum Kind : int {
        KindGet = 0,
        KindHead = 1,
    };

    // Creates the slot on the calling thread (the engine thread).
    static std::unique_ptr<DLObj> Create();
    ~DLObj() override;

    // For a new job. `item` stays the caller's. False (nothing kept) when
    // memory runs out or the item's URL does not parse.
    bool Prepare(QueueEntry* item, QPointer<QObject> statusWindow, QPointer<QObject> managerWindow, int16_t slot,
                 const std::string& directory);
    // Seconds; 0 means no limit.
    void SetTimeouts(int total, int connection, int reply, int header, int data, int close);
    // The application's proxy settings at the time of the request.
    void SetProxy(bool on, const std::string& name, uint16_t port);
    // Whether a server whose certificate does not verify is still fetched
    // from (off by default).
    void SetAcceptUnverified(bool accept) { acceptUnverified_ = accept; }
    // HTTP/1.0 as this program has always spoken it (one request per
    // connection), or HTTP/1.1 on connections kept in `pool` (null: none is
    // kept). HTTP/1.0 until told otherwise.
    void SetExchange(bool http10, CConnPool* pool)
    {
        http10_ = http10;
        pool_ = pool;
    }
    bool http10() const { return http10_; }
    // The TLS context https requests use (null: the process's own).
    void SetTlsContext(CTlsContext* context) { tlsContext_ = context; }
    // Why the running transfer's connection failed, when that has a text of
    // its own ("certificate: ..."); else empty.
    std::string failureText();
    // Why it failed, whatever the cause: a time-out ("time-out: reply"), the
    // text above, the server's answer or the socket's error.
    std::string failureCause();
    bool StartPage(int kind);
    bool StartRobots(int kind);
    // Another entry for the same URL; the slot owns it from here and frees
    // it at Release.
    bool Attach(QueueEntry* item);
    void Cancel();
    void Release();

    bool free() const { return free_; }
    int16_t slot() const { return slot_; }
    const std::string& tempPath() const { return tempPath_; }
    QueueEntry* item() const { return item_; }
    const std::vector<QueueEntry*>& attached() const { return attached_; }
    const CUrl& pageUrl() const { return pageUrl_; }
    const CUrl& robotsUrl() const { return robotsUrl_; }
    // The page transfer, whose header the manager fills before StartPage.
    CHttpTransfer* page() { return page_.get(); }
    CHttpTransfer* robots() { return robots_.get(); }
    int timeout(int timer) const { return durations_[timer - 1]; }
    // The errno of the first write to the temporary file that failed (no
    // space, quota, ...), 0 when every write went through. A job with one
    // ends as failed: its file is not whole.
    int writeError() const { return writeError_; }

    void OnTransferEvent(CHttpTransfer* transfer, int code) override;

    // The page's body as it went into the temporary file, kept in memory
    // when it was no larger than kKeptBodyLimit and every write succeeded:
    // the links of a page just fetched are read from here, not from disk.
    // Taking it leaves nothing behind.
    static constexpr size_t kKeptBodyLimit = 1024 * 1024;
    // The temporary file went into the mirror: Release has nothing to remove.
    void TemporaryTaken() { tempMayExist_ = false; }
    std::optional<std::string> TakeKeptBody();

protected:
    void OnTimer(int id) override;

private:
    DLObj() = default;
    CHttpTransfer* Running();
    void Arm(int timer);
    void Stop(int timer) { KillTimer(timer); }
    // Starts `transfer` on `url` as the proxy settings say.
    void StartOn(CHttpTransfer* transfer, const CUrl& url, int kind);
    bool OpenTemp(bool truncate);
    void CloseTemp();
    void AppendChunk(const char* data, size_t count);
    // The temporary file can't be written whole: the job is to end as failed.
    void WriteFailed(int err);
    void DropKeptBody();

    int16_t slot_ = 0;
    bool free_ = true;
    QPointer<QObject> statusWindow_;
    QPointer<QObject> managerWindow_;
    QueueEntry* item_ = nullptr;
    std::vector<QueueEntry*> attached_;
    CUrl pageUrl_;
    CUrl robotsUrl_;
    std::string tempPath_;
    std::unique_ptr<CHttpTransfer> page_;
    std::unique_ptr<CHttpTransfer> robots_;
    std::unique_ptr<char[]> chunk_;
    std::unique_ptr<char[]> spareBody_; // the last page transfer's buffer
    int tempFd_ = -1;
    bool tempMayExist_ = false;
    int writeError_ = 0;
    std::string keptBody_;
    bool keepingBody_ = false;
    int durations_[6] = {};
    int expiredTimer_ = 0; // the time-out that ended the job, if one did
    bool acceptUnverified_ = false;
    bool http10_ = true;
    CConnPool* pool_ = nullptr;
    CTlsContext* tlsContext_ = nullptr;
    bool proxyOn_ = false;
    std::string proxyName_;
    uint16_t proxyPort_ = 0;
};

} // namespace ormbrook
