#pragma once
// The transitions from one picture to the next. The new frame is composed
// off screen; an effect then moves it onto the screen one-pixel strip after
// another, each step at least drawSpeed milliseconds long (the time the
// copies took counts towards it). Copying a strip is two copies of the same
// rectangle: the next frame to the shown frame, the shown frame to the
// window; the target does both.

#include <QRect>

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

namespace ormbrook {

enum DrawType : int {
    DrawNoEffect = 0,
    DrawRandom = 1,
    DrawCrossH = 2,
    DrawCrossV = 3,
    DrawRasterH = 4,
    DrawRasterV = 5,
    DrawRasterCloseH = 6,
    DrawRasterCloseV = 7,
    DrawRasterOpenH = 8,
    DrawRasterOpenV = 9,
    DrawWiperH = 10,
    DrawWiperV = 11,
};

// The effect drawn: "Random" takes (clock mod 10) + 1, so WiperV never comes
// at random; any value outside the table, and the 1 drawn, give RasterH.
int ResolveDrawType(int drawType, uint64_t clockMs);

// A column (width 1, full height) or a row (full width, height 1).
struct Strip {
    bool column = true;
    int index = 0;
    bool operator==(const Strip&) const = default;
};

// Calls `step` with each step's strips in copy order until it returns false.
// Strips may lie just outside the area (column W, row H). NoEffect has no
// steps.
void ForEachStep(int effect, int width, int height, const std::function<bool(const Strip*, int count)>& step);
std::vector<std::vector<Strip>> EffectSteps(int effect, int width, int height);

class TransitionTarget {
public:
    virtual ~TransitionTarget() = default;
    // Next frame to shown frame to window, for a rectangle inside the area.
    virtual void CopyRect(const QRect& rect) = 0;
};

class TransitionClock {
public:
    virtual ~TransitionClock() = default;
    virtual int64_t NowUs() = 0;
    virtual void SleepUntilUs(int64_t deadline) = 0;
    virtual uint64_t MilliClock() { return uint64_t(NowUs() / 1000); }
};

// The steady clock and real sleeps.
TransitionClock& SystemTransitionClock();

// Runs the effect over the area (0, 0, width, height). Stops before a step
// when `abort` is set. Returns the effect that was drawn.
int RunTransition(TransitionTarget& target, int drawType, int width, int height, int drawSpeed,
                  const std::atomic<bool>& abort, TransitionClock& clock = SystemTransitionClock());

} // namespace ormbrook
