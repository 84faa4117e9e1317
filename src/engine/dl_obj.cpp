#include "engine/dl_obj.h"

#include "common/messages.h"
#include "engine/conn_pool.h"
#include "engine/download_records.h"
#include "platform/file_calls.h"

#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <new>
#include <unistd.h>

namespace ormbrook {

namespace {
int32_t Clamp32(int64_t v) { return v > INT32_MAX ? INT32_MAX : int32_t(v); }

// The length as the status view wants it: -1 when the response gave none.
int32_t LengthForView(int64_t contentLength) { return contentLength == 0 ? -1 : Clamp32(contentLength); }

// The address to connect to: an IPv6 literal without the brackets its URL
// and its Host field keep.
std::string Connectable(std::string_view host)
{
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    return std::string(host);
}
} // namespace

std::unique_ptr<DLObj> DLObj::Create()
{
    std::unique_ptr<DLObj> obj(new (std::nothrow) DLObj);
    if (obj)
        obj->setObjectName(QStringLiteral("DLObj"));
    return obj;
}

DLObj::~DLObj()
{
    // The transfers go first: nothing may report into a half-destroyed slot.
    page_.reset();
    robots_.reset();
    CloseTemp();
    for (QueueEntry* e : attached_)
        if (e != item_)
            delete e;
}

bool DLObj::Prepare(QueueEntry* item, QPointer<QObject> statusWindow, QPointer<QObject> managerWindow, int16_t slot,
                    const std::string& directory)
{
    try {
        attached_.push_back(item);
        if (!pageUrl_.Parse(item->url)) {
            attached_.pop_back();
            return false;
        }
        // Assigned in place: the slot's path is the same download after download.
        char number[8];
        const auto written = std::to_chars(number, number + sizeof number, int(slot));
        tempPath_.assign(directory).append("tmp").append(number, written.ptr).append(".dat");
        page_ = std::make_unique<CHttpTransfer>(this);
        page_->GiveBodyBuffer(std::move(spareBody_));
        if (!chunk_)
            chunk_ = std::make_unique_for_overwrite<char[]>(CHttpTransfer::kBodyChunk);
    } catch (const std::bad_alloc&) {
        attached_.clear();
        page_.reset();
        robots_.reset();
        tempPath_.clear();
        return false;
    }
    item_ = item;
    writeError_ = 0;
    statusWindow_ = statusWindow;
    managerWindow_ = managerWindow;
    slot_ = slot;
    return true;
}

void DLObj::SetTimeouts(int total, int connection, int reply, int header, int data, int close)
{
    const int seconds[6] = {connection, reply, header, data, close, total};
    for (int i = 0; i < 6; ++i)
        durations_[i] = seconds[i] > 0 ? (seconds[i] > INT_MAX / 1000 ? INT_MAX : seconds[i] * 1000) : 0;
}

void DLObj::SetProxy(bool on, const std::string& name, uint16_t port)
{
    proxyOn_ = on;
    proxyName_ = name;
    proxyPort_ = port;
}

void DLObj::StartOn(CHttpTransfer* transfer, const CUrl& url, int kind)
{
    std::string host, uri, hostField;
    uint16_t port;
    const bool secure = url.scheme() == SchemeHttps;
    // HTTP/1.1 names the port beside the host when it is not the scheme's
    // own; HTTP/1.0 requests have always named the host alone.
    std::string origin(url.host());
    if (!http10_ && url.portNumber() != (secure ? 443 : 80))
        origin.append(1, ':').append(std::to_string(url.portNumber()));
    const std::string proxy = proxyOn_ ? proxyName_ + ":" + std::to_string(proxyPort_) : std::string();
    if (proxyOn_ && !secure) {
        host = proxyName_;
        port = proxyPort_;
        uri = url.url();
        hostField = origin;
    } else {
        host = Connectable(url.host());
        port = url.portNumber();
        uri = url.path();
        if (url.hasQuery())
            uri.append(1, '?').append(url.query());
        if (!http10_)
            hostField = origin;
    }
    const std::string key = CConnPool::Key(secure, std::string(url.host()), url.portNumber(), proxy);
    if (http10_ && hostField.empty() && host != url.host())
        hostField = url.host(); // the Host field of an IPv6 site keeps its brackets
    if (secure) {
        // Through a proxy, a tunnel to the server is asked for; inside it the
        // request is the one the server itself would get.
        TlsTarget tls;
        tls.serverName = host;
        tls.port = port;
        tls.verify = !acceptUnverified_;
        tls.context = tlsContext_;
        tls.offerH2 = !http10_; // HTTP/1.0 offers nothing, as it always has
        if (proxyOn_) {
            tls.tunnel = std::string(url.host()) + ":" + std::to_string(port);
            host = proxyName_;
            port = proxyPort_;
            hostField = origin;
        }
        transfer->SetTls(&tls);
    } else {
        transfer->SetTls(nullptr);
    }
    transfer->SetExchange(ExchangeForm{http10_, http10_ ? nullptr : pool_, key});
    if (kind == KindHead)
        transfer->Head(host, port, uri);
    else
        transfer->Get(host, port, uri, hostField);
}

bool DLObj::StartPage(int kind)
{
    if (!page_)
        return false;
    free_ = false;
    expiredTimer_ = 0;
    page_->header().SetField(HeaderAccept, "*/*");
    // Armed and announced before the start: a connection that fails at once
    // reports its end from inside the start, and the end must come last.
    Arm(TimerTotal);
    Arm(TimerConnection);
    PostMessage(statusWindow_, MsgStatusContacting, 0, std::make_unique<SlotUrlRecord>(slot_, pageUrl_.url()));
    StartOn(page_.get(), pageUrl_, kind);
    return true;
}

bool DLObj::StartRobots(int kind)
{
    if (!page_)
        return false;
    // Few downloads fetch a robots.txt first; their transfer is made then.
    if (!robots_) {
        try {
            robots_ = std::make_unique<CHttpTransfer>(this);
        } catch (const std::bad_alloc&) {
            return false;
        }
    }
    free_ = false;
    expiredTimer_ = 0;
    std::string text = item_->robotsUrl;
    if (text.empty())
        text.assign(pageUrl_.site()).append("/robots.txt"); // the server of the URL, port included
    const bool parsed = robotsUrl_.Parse(text);
    Arm(TimerTotal);
    Arm(TimerConnection);
    PostMessage(statusWindow_, MsgStatusContacting, 0,
                std::make_unique<SlotUrlRecord>(slot_, parsed ? robotsUrl_.url() : text));
    if (!parsed) {
        // Nothing to fetch: the robots.txt fetch failed.
        KillAllTimers();
        PostMessage(managerWindow_, MsgManagerRobotsDone, 0, std::make_unique<SlotResultRecord>(slot_, 3));
        return true;
    }
    StartOn(robots_.get(), robotsUrl_, kind);
    return true;
}

bool DLObj::Attach(QueueEntry* item)
{
    try {
        attached_.push_back(item);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

void DLObj::Cancel()
{
    if (free_)
        return;
    if (CHttpTransfer* t = Running())
        t->Abort(true);
}

void DLObj::Release()
{
    KillAllTimers();
    if (page_)
        spareBody_ = page_->TakeBodyBuffer();
    page_.reset();
    free_ = true;
    for (QueueEntry* e : attached_)
        if (e != item_)
            delete e;
    attached_.clear();
    item_ = nullptr;
    robots_.reset();
    CloseTemp();
    DropKeptBody();
    if (tempMayExist_ && !tempPath_.empty())
        ::unlink(tempPath_.c_str());
    tempMayExist_ = false;
}

std::string DLObj::failureText()
{
    CHttpTransfer* t = Running();
    return t ? t->failureText() : std::string();
}

std::string DLObj::failureCause()
{
    static const char* const kTimeoutNames[] = {"connection", "reply", "head", "data", "close", "total"};
    if (expiredTimer_ >= TimerConnection && expiredTimer_ <= TimerTotal)
        return std::string("time-out: ") + kTimeoutNames[expiredTimer_ - 1];
    CHttpTransfer* t = Running();
    return t ? t->failureCause() : std::string();
}

CHttpTransfer* DLObj::Running()
{
    if (!page_)
        return nullptr;
    return page_->mode() == CHttpTransfer::ModeNotStarted ? robots_.get() : page_.get();
}

void DLObj::Arm(int timer)
{
    if (durations_[timer - 1] > 0)
        SetTimer(timer, durations_[timer - 1]);
}

bool DLObj::OpenTemp(bool truncate)
{
    if (tempFd_ >= 0 && !truncate)
        return true;
    CloseTemp();
    // The name is fixed and the folder may be shared: whatever stands
    // there (a link to some other file, say) is taken away, and the file
    // made anew, never written through a link.
    int flags = O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW;
    if (truncate) {
        ::unlink(tempPath_.c_str());
        flags |= O_EXCL;
    }
    tempFd_ = ::open(tempPath_.c_str(), flags, 0644);
    if (tempFd_ >= 0)
        tempMayExist_ = true;
    else
        WriteFailed(errno);
    return tempFd_ >= 0;
}

void DLObj::CloseTemp()
{
    if (tempFd_ >= 0) {
        if (const int r = FileCalls::Current().Close(tempFd_); r != 0)
            WriteFailed(-r);
        tempFd_ = -1;
    }
}

void DLObj::WriteFailed(int err)
{
    DropKeptBody(); // the file and the copy would differ
    if (writeError_ != 0 || free_)
        return;
    writeError_ = err;
    // Ended from the message loop, not from inside the transfer that is
    // handing out the chunk.
    SetTimer(TimerWriteFailed, 0);
}

void DLObj::AppendChunk(const char* data, size_t count)
{
    // The file stays open for the job; every chunk is in the file when its
    // progress message goes out. A chunk that can't be written whole (no
    // space, a quota, an I/O error) fails the job: a file with a hole or a
    // cut-off end must never pass for the download.
    if (writeError_ != 0 || !OpenTemp(false))
        return;
    if (keepingBody_) {
        if (keptBody_.size() + count <= kKeptBodyLimit)
            keptBody_.append(data, count);
        else
            DropKeptBody();
    }
    if (const int err = WriteFully(tempFd_, data, count))
        WriteFailed(err);
}

void DLObj::DropKeptBody()
{
    keepingBody_ = false;
    std::string().swap(keptBody_);
}

std::optional<std::string> DLObj::TakeKeptBody()
{
    if (!keepingBody_)
        return std::nullopt;
    keepingBody_ = false;
    std::string body;
    body.swap(keptBody_);
    return body;
}

void DLObj::OnTransferEvent(CHttpTransfer* transfer, int code)
{
    if (transfer != Running())
        return;
    switch (code) {
    case CHttpTransfer::NoteConnected:
        Stop(TimerConnection);
        PostMessage(statusWindow_, MsgStatusConnected, 0, std::make_unique<SlotRecord>(slot_));
        Arm(TimerReply);
        break;
    case CHttpTransfer::NoteStatusLine:
        Stop(TimerReply);
        Arm(TimerHeader);
        break;
    case CHttpTransfer::NoteHead:
        Stop(TimerHeader);
        PostMessage(statusWindow_, MsgStatusHeadRead, 0,
                    std::make_unique<SlotLengthRecord>(slot_, LengthForView(transfer->contentLength())));
        switch (page_->mode()) {
        case CHttpTransfer::ModeGet:
            DropKeptBody();
            keepingBody_ = OpenTemp(true);
            Arm(TimerData);
            break;
        case CHttpTransfer::ModeNotStarted:
            Arm(TimerData);
            break;
        case CHttpTransfer::ModeHead:
            Arm(TimerClose);
            break;
        }
        break;
    case CHttpTransfer::NoteData: {
        Stop(TimerData);
        const size_t n = transfer->Read(chunk_.get(), CHttpTransfer::kBodyChunk);
        AppendChunk(chunk_.get(), n);
        PostMessage(statusWindow_, MsgStatusProgress, 0,
                    std::make_unique<SlotProgressRecord>(slot_, LengthForView(transfer->contentLength()),
                                                         Clamp32(transfer->progress())));
        Arm(TimerData);
        break;
    }
    case CHttpTransfer::NoteFinished: {
        CloseTemp();
        KillAllTimers();
        const int mode = page_->mode();
        const int16_t result = writeError_ != 0 ? int16_t(3) : int16_t(transfer->result());
        if (mode == CHttpTransfer::ModeNotStarted)
            PostMessage(managerWindow_, MsgManagerRobotsDone, 0, std::make_unique<SlotResultRecord>(slot_, result));
        else if (mode == CHttpTransfer::ModeGet)
            PostMessage(managerWindow_, MsgManagerPageDone, 0, std::make_unique<SlotResultRecord>(slot_, result));
        break;
    }
    default:
        break;
    }
}

void DLObj::OnTimer(int id)
{
    Stop(id);
    expiredTimer_ = id;
    // Every one of the six ends the job as aborted, the connection time-out
    // included: a connection not made in the time the user set is given up.
    // A temporary file that could not be written ends it too (as failed).
    if (CHttpTransfer* t = Running())
        t->Abort(true);
}

} // namespace ormbrook
