#pragma once
// The picture cycle on the main program's side. A timer starts one worker
// per cycle; the worker takes the next picture (or the previous one, when
// the picture panel steps back), decodes it into the shared block and tells
// the receivers; the next cycle is armed once every receiver told has
// answered. A screen saver outranks the other two receivers: while one
// runs, only it is sent pictures.
//
// A receiver that never answers would stop the cycle for good. Here a
// receiver program counts as having answered when its connection closes
// (its window went away) and is given up on after a silence longer than the
// picture's transition could take (kReceiverPatienceMs more than its steps
// at its step time); the receivers of this program answer even when they
// cannot read the block. So the cycle goes on as long as a receiver exists.
// A receiver given up on still owes its answer: that late answer is not
// taken for the answer to a later picture.

#include "common/messages.h"
#include "pictures/picture_distribution.h"
#include "pictures/pickup_queue.h"
#include "platform/shared_block.h"

#include <QBasicTimer>
#include <QPointer>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace ormbrook {

class ConnectionWatch;

// How the cycle reaches the receiver programs: by their windows' channels in
// the program, by fakes in tests.
class ReceiverLinks {
public:
    enum Program { Saver, SlideWindow };
    struct Delivery {
        uint32_t handle = 0; // the receiver's window (its process id)
        int fd = -1;         // a held connection that ends with the window, or -1
    };

    virtual ~ReceiverLinks() = default;
    // Whether that program's window exists now. Any thread.
    virtual bool Exists(Program program) = 0;
    // Sends the new-picture notification (wParam 3, lParam the main window)
    // and waits for the receipt; nothing when it was not delivered. Called
    // by the worker.
    virtual std::optional<Delivery> NotifyNewPicture(Program program, uint32_t mainWindow) = 0;
    // WM_CLOSE to the slide window, sent.
    virtual void CloseSlideWindow() = 0;
    // Starts the slide-window program; false when it could not be started.
    virtual bool StartSlideWindow() = 0;
    // A slide window this program started that has not come up yet.
    virtual bool SlideWindowStarting() = 0;
};

// The desktop as the third receiver (the wallpaper changer's back end). It
// answers through the cycle's Deliver, as a receiver program would through
// the main window: MsgPictureShown with kDesktopHandle, MsgDesktopStopped.
class DesktopReceiver {
public:
    virtual ~DesktopReceiver() = default;
    virtual void Start() = 0;
    // The desktop display stops; "stopped" follows when it has.
    virtual void Stop() = 0;
    // A block is ready under kPictureBlockName; "shown" follows. Called by
    // the cycle's worker.
    virtual void ShowPicture(uint32_t mainWindow) = 0;
};

// The desktop's handle in the answers: no process has it.
constexpr uint32_t kDesktopHandle = 0x7FFFFFFF;
// How long a notified receiver may stay silent beyond its transition's
// steps: decoding, composing and the copies themselves.
constexpr int kReceiverPatienceMs = 30000;
// What one transition step may take beyond its step time (the strips'
// copies on a slow display).
constexpr int kStepSlackMs = 4;
// The failure path's retry.
constexpr int kRetryMs = 1000;

enum class ShowMode { Automatic = 0, Next = 1, Previous = 2 };

// What the cycle needs besides the queue and the receivers.
struct PictureCycleSetup {
    // The slide-show list's BuildPictureSources: adds the sources in order.
    std::function<void(const std::function<void(const PickupEntry&)>&)> buildSources;
    // The main window's handle in the frames it sends (its process id).
    uint32_t mainWindow = 0;
    // Runs the picture panel modally; the panel steps with PanelNext and
    // PanelPrevious. Nothing: the panel is not offered.
    std::function<void()> runPanel;
    // How long a notified receiver may stay silent beyond the transition.
    int patienceMs = kReceiverPatienceMs;
    // The longest side of any screen, in pixels: a transition has at most
    // one step per column or row of the view it draws on.
    int largestViewSide = 3840;
};

class PictureCycle : public PictureDistribution, public PictureReceiverQuery {
    Q_OBJECT
public:
    PictureCycle(CPickupQueue& queue, ReceiverLinks& links, DesktopReceiver* desktop, PictureCycleSetup setup,
                 QObject* parent = nullptr);
    ~PictureCycle() override;

    // PictureDistribution
    bool saverRunning() const override;
    bool slideWindowRunning() const override;
    bool desktopMode() const override { return desktopMode_; }
    bool desktopStopping() const override { return desktopStopping_; }
    void ToggleSlideWindow() override;
    void ToggleDesktopMode() override;
    void ResetSlideShow() override;
    bool OnReceiverFrame(const ChannelFrame& frame, uint32_t& reply) override;
    void PrepareExit(std::function<void()> closeNow) override;

    // PictureReceiverQuery: any thread.
    bool AnyReceiverRunning() override;

    // A frame for the main window from any thread of this program (the
    // desktop back end answers this way); handled on the cycle's thread.
    void Deliver(const ChannelFrame& frame);
    // Something was added to the pickup queue: a cycle waiting for sources
    // goes at once. Any thread.
    void QueueGrew();

    // The panel's steps (the panel runs inside runPanel).
    void PanelNext();
    void PanelPrevious();
    bool panelOpen() const { return panelOpen_; }

    // The path shown last; empty when the cycle stopped.
    std::string currentPicture() const;
    CPickupQueue& queue() { return queue_; }

    // For tests and the benchmark: the interval the timer was armed with
    // (-1 when it is not armed), and a tick without waiting for the timer.
    int armedInterval() const { return timer_.isActive() ? armedMs_ : -1; }
    void TickNow() { OnCycleTimer(); }
    bool cycleBusy() const { return busy_; }

Q_SIGNALS:
    // A cycle is over: its block is closed (or none was made).
    void cycleEnded();

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    enum Pending { PendingSaver, PendingSlide, PendingDesktop, kPendingCount };

    void ArmCycleTimer();
    void KillCycleTimer();
    void OnCycleTimer();
    void Worker();
    void FailCycle();
    void NotifyReceivers(bool& anyDelivered);
    void OnPictureShown(uint32_t receiver);
    void OnViewerStarted(uint32_t saver);
    void OnSaverEnded();
    void OnDesktopStopped();
    void OpenPicturePanel();
    // Clears one pending flag (a receiver answered, went or was given up).
    void ReceiverDone(Pending which);
    // Ends the cycle when nothing is pending any more.
    void CompleteIfAnswered();
    void WatchReceiver(Pending which, int fd);
    void DropWatches();
    void ClosePictureBlock();
    void SetCurrentPicture(const std::string& path);
    bool SaverExists() const;
    bool SlideExists() const;
    void JoinWorker();
    void OpenGate();
    void CloseGate();
    bool GateOpen();

    CPickupQueue& queue_;
    ReceiverLinks& links_;
    DesktopReceiver* desktop_;
    PictureCycleSetup setup_;

    QBasicTimer timer_;
    int armedMs_ = -1;
    std::atomic<int> cycleInterval_ {kRetryMs};
    // The queue was empty even after a refill: the next tick waits for
    // something to be added (or for the retry) instead of spinning.
    bool waitingForSources_ = false;
    // nothingToShow was said since the last picture.
    bool toldNothing_ = false;
    std::atomic<ShowMode> showMode_ {ShowMode::Automatic};
    bool panelOpen_ = false;
    std::atomic<bool> desktopMode_ {false};
    bool desktopStopping_ = false;
    // WM_CLOSE went to the slide window; it no longer counts.
    mutable bool slideClosing_ = false;
    std::function<void()> closeNow_; // set while exit waits for the desktop
    std::atomic<bool> quitting_ {false};

    // The advance gate: open lets the worker take the next picture.
    std::mutex gateMutex_;
    std::condition_variable gateChanged_;
    bool gateOpen_ = true;

    std::thread worker_;
    bool busy_ = false; // a cycle runs: from its worker's start to its end

    // Shared by the worker and this thread.
    mutable std::mutex mutex_;
    bool pending_[kPendingCount] = {};
    bool notifying_ = false;
    // The cycle's worker has told everyone it will tell (or failed): only
    // then may the cycle end and the worker be joined.
    bool workerDone_ = true;
    bool blockMissing_ = true;
    SharedBlock block_;
    uint32_t handles_[kPendingCount] = {};
    // Answers that came before the worker knew who had been told.
    std::vector<uint32_t> earlyAnswers_;
    // Receivers given up on, by handle: the answers they still owe.
    std::map<uint32_t, int> owedAnswers_;
    // This cycle's patience: the base and the picture's transition.
    std::atomic<int> patienceMs_ {kReceiverPatienceMs};

    mutable std::mutex currentMutex_;
    std::string currentPicture_;

    // Per pending receiver: the watch on its connection and its patience.
    std::unique_ptr<ConnectionWatch> watches_[kPendingCount];
    QBasicTimer patience_[kPendingCount];
};

} // namespace ormbrook
