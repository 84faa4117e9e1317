#pragma once
// What the desktop program asks of the picture side: which receivers run
// (the enabling rules and check marks of its commands follow them), the
// commands that start and stop them, and the frames that receivers send to
// the main program's window. The desktop program owns one of these and
// never looks further into the picture side.

#include "platform/program_channel.h"

#include <QObject>

#include <functional>

namespace ormbrook {

class PictureDistribution : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~PictureDistribution() override = default;

    // A screen saver window exists (it outranks the other receivers).
    virtual bool saverRunning() const = 0;
    // A slide window exists ("小窓ON" is checked).
    virtual bool slideWindowRunning() const = 0;
    // The wallpaper changer is on ("壁紙チェンジャーON" is checked).
    virtual bool desktopMode() const = 0;
    // The changer was switched off and has not confirmed yet: its command is
    // disabled meanwhile.
    virtual bool desktopStopping() const = 0;

    virtual void ToggleSlideWindow() = 0;
    virtual void ToggleDesktopMode() = 0;
    // "ｽﾗｲﾄﾞｼｮｳ ﾘｾｯﾄ": forget the shown pictures and the pickup queue.
    virtual void ResetSlideShow() = 0;

    // A frame that arrived at the main program's window. Returns whether it
    // was the picture side's (a viewer started, a saver ended, the desktop
    // stopped, a picture shown, open the picture panel); `reply` is what the
    // window answers.
    virtual bool OnReceiverFrame(const ChannelFrame& frame, uint32_t& reply) = 0;

    // The program is about to close: the slide window is closed and the
    // changer switched off; `closeNow` runs once nothing is left to wait
    // for, at once or when the desktop has confirmed its stop.
    virtual void PrepareExit(std::function<void()> closeNow) = 0;

Q_SIGNALS:
    // A receiver came or went, or the changer's state moved: the commands'
    // enabling and check marks are to be computed again.
    void receiversChanged();
    // A viewer waits and there is no picture anywhere to show it (the
    // pickup folder and the slide-show list gave nothing).
    void nothingToShow();
};

// The picture side before it is switched on: no receiver runs and the
// commands do nothing.
class NoPictureDistribution : public PictureDistribution {
public:
    using PictureDistribution::PictureDistribution;
    bool saverRunning() const override { return false; }
    bool slideWindowRunning() const override { return false; }
    bool desktopMode() const override { return false; }
    bool desktopStopping() const override { return false; }
    void ToggleSlideWindow() override {}
    void ToggleDesktopMode() override {}
    void ResetSlideShow() override {}
    bool OnReceiverFrame(const ChannelFrame&, uint32_t&) override { return false; }
    void PrepareExit(std::function<void()> closeNow) override { closeNow(); }
};

} // namespace ormbrook
