#pragma once
// The receiver programs as the main program reaches them: through their
// windows' channels, and the slide window started from beside the running
// executable.

#include "pictures/picture_cycle.h"

#include <QProcessEnvironment>

#include <chrono>
#include <string>
#include <sys/types.h>

namespace ormbrook {

// How long a receiver may take to take a notification: it starts a worker
// and answers at once.
constexpr int kNotifyTimeoutMs = 2000;
// How long a slide window that was started may take to come up.
constexpr int kSlideStartMs = 10000;

class ChannelReceiverLinks : public ReceiverLinks {
public:
    // slideWindowProgram: the slide window's executable; empty for "qrysw"
    // beside this program.
    explicit ChannelReceiverLinks(std::string slideWindowProgram = {});

    // The environment the slide window starts in (tests point it at their
    // own display and folders).
    void SetEnvironment(const QProcessEnvironment& environment) { environment_ = environment; }

    bool Exists(Program program) override;
    std::optional<Delivery> NotifyNewPicture(Program program, uint32_t mainWindow) override;
    void CloseSlideWindow() override;
    bool StartSlideWindow() override;
    bool SlideWindowStarting() override;

private:
    std::string program_;
    QProcessEnvironment environment_;
    pid_t started_ = 0;
    std::chrono::steady_clock::time_point startedAt_;
};

} // namespace ormbrook
