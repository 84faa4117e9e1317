#include "pictures/picture_cycle.h"

#include "common/picture_block.h"
#include "pictures/jpeg_decode.h"
#include "platform/program_channel.h"

#include <QCoreApplication>
#include <QTimer>
#include <QTimerEvent>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <future>
#include <limits>
#include <unistd.h>

namespace ormbrook {

namespace {

bool FileExists(const std::string& path)
{
    std::error_code ec;
    return !path.empty() && std::filesystem::is_regular_file(path, ec);
}

// The longest a receiver may take to show a picture: every effect but the
// plain copy has at most one step per column or row, and a step lasts its
// step time and the copies.
int PatienceFor(int drawType, int drawSpeed, int baseMs, int largestSide)
{
    const long long steps = drawType == 0 ? 0 : largestSide + 1LL;
    const long long ms = baseMs + steps * (std::max(drawSpeed, 0) + kStepSlackMs);
    return int(std::min<long long>(ms, std::numeric_limits<int>::max()));
}

} // namespace

PictureCycle::PictureCycle(CPickupQueue& queue, ReceiverLinks& links, DesktopReceiver* desktop,
                           PictureCycleSetup setup, QObject* parent)
    : PictureDistribution(parent), queue_(queue), links_(links), desktop_(desktop), setup_(std::move(setup))
{
}

PictureCycle::~PictureCycle()
{
    quitting_ = true;
    OpenGate();
    JoinWorker();
    DropWatches();
    ClosePictureBlock();
}

bool PictureCycle::SaverExists() const
{
    return links_.Exists(ReceiverLinks::Saver);
}

bool PictureCycle::SlideExists() const
{
    if (slideClosing_) {
        if (links_.Exists(ReceiverLinks::SlideWindow))
            return false;
        slideClosing_ = false;
    }
    return links_.Exists(ReceiverLinks::SlideWindow) || links_.SlideWindowStarting();
}

bool PictureCycle::saverRunning() const
{
    return SaverExists();
}

bool PictureCycle::slideWindowRunning() const
{
    return SlideExists();
}

bool PictureCycle::AnyReceiverRunning()
{
    return desktopMode_ || links_.Exists(ReceiverLinks::Saver) || links_.Exists(ReceiverLinks::SlideWindow);
}

std::string PictureCycle::currentPicture() const
{
    std::lock_guard lock(currentMutex_);
    return currentPicture_;
}

void PictureCycle::SetCurrentPicture(const std::string& path)
{
    std::lock_guard lock(currentMutex_);
    currentPicture_ = path;
}

// --- the advance gate -------------------------------------------------------

void PictureCycle::OpenGate()
{
    {
        std::lock_guard lock(gateMutex_);
        gateOpen_ = true;
    }
    gateChanged_.notify_all();
}

void PictureCycle::CloseGate()
{
    std::lock_guard lock(gateMutex_);
    gateOpen_ = false;
}

bool PictureCycle::GateOpen()
{
    std::lock_guard lock(gateMutex_);
    return gateOpen_;
}

// --- the timer ----------------------------------------------------------------

void PictureCycle::ArmCycleTimer()
{
    armedMs_ = panelOpen_ ? 0 : cycleInterval_.load();
    timer_.start(armedMs_, this);
}

void PictureCycle::KillCycleTimer()
{
    timer_.stop();
    waitingForSources_ = false;
}

void PictureCycle::timerEvent(QTimerEvent* event)
{
    if (event->timerId() == timer_.timerId()) {
        OnCycleTimer();
        return;
    }
    for (int i = 0; i < kPendingCount; ++i) {
        if (event->timerId() == patience_[i].timerId()) {
            // Silent for too long: given up on, as if it had answered. Its
            // answer may still come; it belongs to this cycle.
            patience_[i].stop();
            {
                std::lock_guard lock(mutex_);
                if (pending_[i] && handles_[i] != 0 && Pending(i) != PendingDesktop)
                    ++owedAnswers_[handles_[i]];
            }
            ReceiverDone(Pending(i));
            return;
        }
    }
    QObject::timerEvent(event);
}

void PictureCycle::QueueGrew()
{
    QMetaObject::invokeMethod(this, [this] {
        if (waitingForSources_ && timer_.isActive())
            ArmCycleTimer();
    }, Qt::QueuedConnection);
}

void PictureCycle::OnCycleTimer()
{
    KillCycleTimer();
    if (quitting_)
        return;
    // A cycle still under way re-arms the timer when it ends; two at once
    // would share one block.
    if (busy_)
        return;
    if (queue_.IsQueueEmpty()) {
        if (setup_.buildSources)
            queue_.RefillQueue(setup_.buildSources);
        if (queue_.IsQueueEmpty()) {
            // Said once, when the viewer starts waiting, not every retry.
            if (!toldNothing_) {
                toldNothing_ = true;
                Q_EMIT nothingToShow();
            }
            cycleInterval_ = 1;
            // Nothing to show anywhere: rather than refilling every
            // millisecond, look again when something is added, or after the
            // retry (the slide-show list may have been changed).
            waitingForSources_ = true;
            armedMs_ = kRetryMs;
            timer_.start(kRetryMs, this);
            return;
        }
    }
    JoinWorker();
    busy_ = true;
    toldNothing_ = false;
    {
        std::lock_guard lock(mutex_);
        workerDone_ = false;
    }
    std::promise<void> started;
    std::future<void> startedFuture = started.get_future();
    worker_ = std::thread([this, &started] {
        started.set_value();
        Worker();
    });
    startedFuture.wait();
}

void PictureCycle::JoinWorker()
{
    if (worker_.joinable())
        worker_.join();
}

// --- the worker -----------------------------------------------------------------

void PictureCycle::Worker()
{
    ShowMode mode;
    {
        std::unique_lock lock(gateMutex_);
        gateChanged_.wait(lock, [this] { return gateOpen_ || quitting_; });
        // The mode that let the worker through is the one it works in, even
        // if the panel closes meanwhile.
        mode = showMode_.load();
        if (mode != ShowMode::Automatic)
            gateOpen_ = false;
    }
    if (quitting_) {
        FailCycle();
        return;
    }
    const bool manual = mode != ShowMode::Automatic;

    std::optional<PickupEntry> entry = mode == ShowMode::Previous ? queue_.PreviousPicture() : queue_.NextPicture();
    if (!entry || !FileExists(entry->path)) {
        FailCycle();
        return;
    }
    // Decoded straight into the block, made once the picture's size is
    // known: the block is the only copy of the picture.
    const PictureBlockTexts texts {entry->caption, entry->path, entry->folder, entry->pageUrl};
    PictureBlockHeader header;
    header.bgColor = entry->bgColor;
    header.drawType = manual ? 0 : entry->drawType;
    header.drawSpeed = entry->drawSpeed;
    SharedBlock block;
    const bool decoded = DecodeJpegInto(entry->path, [&](size_t dibBytes) -> uint8_t* {
        const size_t size = PictureBlockSize(texts, dibBytes);
        if (size == 0 || !block.Create(kPictureBlockName, size))
            return nullptr;
        const size_t at = WritePictureBlockHead(block.data(), block.size(), header, texts);
        return at == 0 ? nullptr : block.data() + at;
    });
    if (!decoded) {
        block.Close();
        FailCycle();
        return;
    }
    cycleInterval_ = entry->interval * 1000;
    patienceMs_ = PatienceFor(header.drawType, header.drawSpeed, setup_.patienceMs, setup_.largestViewSide);

    {
        std::lock_guard lock(mutex_);
        block_ = std::move(block);
        blockMissing_ = false;
    }
    SetCurrentPicture(entry->path);
    queue_.AddToHistory(*entry);

    bool anyDelivered = false;
    NotifyReceivers(anyDelivered);

    bool answered;
    {
        std::lock_guard lock(mutex_);
        notifying_ = false;
        workerDone_ = true;
        earlyAnswers_.clear();
        answered = std::none_of(std::begin(pending_), std::end(pending_), [](bool p) { return p; });
    }
    if (answered) {
        if (!anyDelivered)
            cycleInterval_ = kRetryMs;
        // The main window answers itself, as a receiver would.
        Deliver({MsgPictureShown, 0, 0, {}});
    }
}

void PictureCycle::NotifyReceivers(bool& anyDelivered)
{
    // Every flag is set before the first notification goes, so that an early
    // answer never finds the cycle looking finished.
    const bool saver = links_.Exists(ReceiverLinks::Saver);
    const bool slide = !saver && links_.Exists(ReceiverLinks::SlideWindow);
    const bool desktop = !saver && desktopMode_ && desktop_;
    {
        std::lock_guard lock(mutex_);
        notifying_ = true;
        pending_[PendingSaver] = saver;
        pending_[PendingSlide] = slide;
        pending_[PendingDesktop] = desktop;
        handles_[PendingDesktop] = kDesktopHandle;
    }

    auto tell = [&](ReceiverLinks::Program program, Pending which) {
        const std::optional<ReceiverLinks::Delivery> delivery =
            links_.NotifyNewPicture(program, setup_.mainWindow);
        std::lock_guard lock(mutex_);
        if (!delivery) {
            // Nobody took it: nobody will answer.
            pending_[which] = false;
            return;
        }
        anyDelivered = true;
        handles_[which] = delivery->handle;
        auto early = std::find(earlyAnswers_.begin(), earlyAnswers_.end(), delivery->handle);
        if (early != earlyAnswers_.end()) {
            earlyAnswers_.erase(early);
            pending_[which] = false;
        }
        if (pending_[which] && delivery->fd >= 0) {
            const int fd = delivery->fd;
            QMetaObject::invokeMethod(this, [this, which, fd] { WatchReceiver(which, fd); }, Qt::QueuedConnection);
        } else if (delivery->fd >= 0) {
            ::close(delivery->fd);
        }
    };
    if (saver)
        tell(ReceiverLinks::Saver, PendingSaver);
    if (slide)
        tell(ReceiverLinks::SlideWindow, PendingSlide);
    if (desktop) {
        anyDelivered = true;
        desktop_->ShowPicture(setup_.mainWindow);
    }
}

void PictureCycle::FailCycle()
{
    {
        std::lock_guard lock(mutex_);
        blockMissing_ = true;
        workerDone_ = true;
    }
    cycleInterval_ = kRetryMs;
    Deliver({MsgPictureShown, 0, 0, {}});
}

// --- answers ------------------------------------------------------------------

void PictureCycle::Deliver(const ChannelFrame& frame)
{
    QMetaObject::invokeMethod(this, [this, frame] {
        uint32_t reply = 0;
        OnReceiverFrame(frame, reply);
    }, Qt::QueuedConnection);
}

bool PictureCycle::OnReceiverFrame(const ChannelFrame& frame, uint32_t& reply)
{
    reply = 0;
    switch (frame.message) {
    case MsgPictureShown:
        OnPictureShown(frame.lParam);
        return true;
    case MsgViewerStarted:
        OnViewerStarted(frame.lParam);
        return true;
    case MsgSaverEnded:
        OnSaverEnded();
        return true;
    case MsgDesktopStopped:
        OnDesktopStopped();
        return true;
    case MsgOpenPicturePanel:
        // The panel runs modally; not inside the channel's handler.
        QTimer::singleShot(0, this, [this] { OpenPicturePanel(); });
        return true;
    case MsgOfferPicture | kFrameCarriesText: {
        // A crawl of another process stored a picture.
        auto entry = DecodePickupRecord(frame.text);
        if (entry && entry->IsFileEntry() && AnyReceiverRunning() && queue_.AddEntry(*entry) >= 0)
            QueueGrew();
        return true;
    }
    default:
        return false;
    }
}

void PictureCycle::OnPictureShown(uint32_t receiver)
{
    {
        std::lock_guard lock(mutex_);
        auto owed = owedAnswers_.find(receiver);
        if (receiver != 0 && owed != owedAnswers_.end()) {
            // The late answer to a picture it was given up on.
            if (--owed->second == 0)
                owedAnswers_.erase(owed);
            return;
        }
        bool matched = false;
        if (receiver != 0) {
            for (int i = 0; i < kPendingCount; ++i) {
                if (pending_[i] && handles_[i] == receiver) {
                    pending_[i] = false;
                    matched = true;
                }
            }
            // The worker is still learning who it told.
            if (!matched && notifying_)
                earlyAnswers_.push_back(receiver);
        }
    }
    CompleteIfAnswered();
}

void PictureCycle::ReceiverDone(Pending which)
{
    {
        std::lock_guard lock(mutex_);
        pending_[which] = false;
    }
    CompleteIfAnswered();
}

void PictureCycle::CompleteIfAnswered()
{
    {
        std::lock_guard lock(mutex_);
        if (!workerDone_ || notifying_
            || std::any_of(std::begin(pending_), std::end(pending_), [](bool p) { return p; }))
            return;
    }
    // A stray answer after the cycle ended changes nothing.
    if (!busy_)
        return;
    DropWatches();
    ClosePictureBlock();
    JoinWorker();
    busy_ = false;
    if (!quitting_ && (SaverExists() || SlideExists() || desktopMode_))
        ArmCycleTimer();
    Q_EMIT cycleEnded();
}

void PictureCycle::WatchReceiver(Pending which, int fd)
{
    {
        std::lock_guard lock(mutex_);
        if (!pending_[which]) {
            ::close(fd);
            return;
        }
    }
    watches_[which] = std::make_unique<ConnectionWatch>(fd);
    connect(watches_[which].get(), &ConnectionWatch::closed, this, [this, which] {
        // Its window is gone: whatever it owed will never come.
        {
            std::lock_guard lock(mutex_);
            owedAnswers_.erase(handles_[which]);
        }
        ReceiverDone(which);
    });
    patience_[which].start(patienceMs_.load(), this);
}

void PictureCycle::DropWatches()
{
    for (int i = 0; i < kPendingCount; ++i) {
        patience_[i].stop();
        watches_[i].reset();
    }
}

void PictureCycle::ClosePictureBlock()
{
    std::lock_guard lock(mutex_);
    if (!blockMissing_)
        block_.Close();
    blockMissing_ = true;
}

// --- starting and stopping receivers ---------------------------------------------

void PictureCycle::ToggleSlideWindow()
{
    if (!slideClosing_ && links_.Exists(ReceiverLinks::SlideWindow)) {
        if (!desktopMode_ && !SaverExists()) {
            KillCycleTimer();
            SetCurrentPicture({});
        }
        slideClosing_ = true;
        patience_[PendingSlide].stop();
        watches_[PendingSlide].reset();
        links_.CloseSlideWindow();
        // It will not answer any more; a cycle that only waited for it ends
        // (once its worker is done: it may still wait at the gate).
        bool wasPending;
        {
            std::lock_guard lock(mutex_);
            wasPending = pending_[PendingSlide];
            owedAnswers_.erase(handles_[PendingSlide]);
        }
        if (wasPending)
            ReceiverDone(PendingSlide);
    } else {
        // Only one slide window: one that is coming up counts.
        if (!slideClosing_ && links_.SlideWindowStarting())
            return;
        slideClosing_ = false;
        if (!links_.StartSlideWindow())
            return;
        if (!desktopMode_ && !SaverExists() && !busy_)
            ArmCycleTimer();
    }
    Q_EMIT receiversChanged();
}

void PictureCycle::OnViewerStarted(uint32_t saver)
{
    {
        std::lock_guard lock(mutex_);
        handles_[PendingSaver] = saver;
    }
    if (!desktopMode_ && !SlideExists() && !busy_)
        ArmCycleTimer();
    Q_EMIT receiversChanged();
}

void PictureCycle::OnSaverEnded()
{
    if (!SlideExists() && !desktopMode_) {
        KillCycleTimer();
        SetCurrentPicture({});
    }
    bool wasPending;
    {
        std::lock_guard lock(mutex_);
        wasPending = pending_[PendingSaver];
    }
    if (wasPending) {
        patience_[PendingSaver].stop();
        watches_[PendingSaver].reset();
        ReceiverDone(PendingSaver);
    }
    Q_EMIT receiversChanged();
}

void PictureCycle::ToggleDesktopMode()
{
    if (!desktop_)
        return;
    if (desktopMode_) {
        if (!SaverExists() && !SlideExists()) {
            KillCycleTimer();
            SetCurrentPicture({});
        }
        desktop_->Stop();
        desktopStopping_ = true;
        desktopMode_ = false;
    } else {
        if (desktopStopping_)
            return;
        desktop_->Start();
        desktopMode_ = true;
        if (!SaverExists() && !SlideExists() && !busy_)
            ArmCycleTimer();
    }
    Q_EMIT receiversChanged();
}

void PictureCycle::OnDesktopStopped()
{
    desktopStopping_ = false;
    bool wasPending;
    {
        std::lock_guard lock(mutex_);
        wasPending = pending_[PendingDesktop];
    }
    if (wasPending)
        ReceiverDone(PendingDesktop);
    Q_EMIT receiversChanged();
    if (closeNow_) {
        auto closeNow = std::move(closeNow_);
        closeNow_ = nullptr;
        closeNow();
    }
}

void PictureCycle::ResetSlideShow()
{
    // The history has no lock of its own: only while no cycle can run.
    if (busy_ || AnyReceiverRunning())
        return;
    queue_.ClearPictures();
    SetCurrentPicture({});
}

void PictureCycle::PrepareExit(std::function<void()> closeNow)
{
    if (!slideClosing_ && links_.Exists(ReceiverLinks::SlideWindow))
        ToggleSlideWindow();
    if (desktopMode_) {
        closeNow_ = std::move(closeNow);
        ToggleDesktopMode();
        return;
    }
    closeNow();
}

// --- the picture panel ----------------------------------------------------------

void PictureCycle::OpenPicturePanel()
{
    if (!setup_.runPanel || panelOpen_ || !GateOpen())
        return;
    CloseGate();
    panelOpen_ = true;
    if (timer_.isActive())
        ArmCycleTimer();
    setup_.runPanel();
    panelOpen_ = false;
    showMode_ = ShowMode::Automatic;
    OpenGate();
}

void PictureCycle::PanelNext()
{
    showMode_ = ShowMode::Next;
    OpenGate();
}

void PictureCycle::PanelPrevious()
{
    showMode_ = ShowMode::Previous;
    OpenGate();
}

} // namespace ormbrook
