#include "viewers/transition.h"

#include <chrono>
#include <thread>

namespace ormbrook {

namespace {

class SteadyClock : public TransitionClock {
public:
    int64_t NowUs() override
    {
        return std::chrono::duration_cast<std::chrono::microseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
    void SleepUntilUs(int64_t deadline) override
    {
        std::this_thread::sleep_until(std::chrono::steady_clock::time_point(std::chrono::microseconds(deadline)));
    }
};

// The four shapes every effect is made of, on columns or on rows.
bool Raster(bool column, int n, const std::function<bool(const Strip*, int)>& step)
{
    for (int i = 0; i < n; ++i) {
        const Strip s {column, i};
        if (!step(&s, 1))
            return false;
    }
    return true;
}

bool RasterOpen(bool column, int n, const std::function<bool(const Strip*, int)>& step)
{
    int low = n / 2;
    int high = n - low;
    while (low >= 0) {
        const Strip s[2] = {{column, low}, {column, high}};
        if (!step(s, 2))
            return false;
        ++high;
        --low;
    }
    return true;
}

bool RasterClose(bool column, int n, const std::function<bool(const Strip*, int)>& step)
{
    const int half = n / 2;
    int high = n;
    for (int i = 0; i <= half; ++i, --high) {
        const Strip s[2] = {{column, i}, {column, high}};
        if (!step(s, 2))
            return false;
    }
    return true;
}

bool Cross(bool column, int n, const std::function<bool(const Strip*, int)>& step)
{
    int high = n % 2 == 0 ? n - 1 : n;
    for (int i = 0; i < n; i += 2, high -= 2) {
        const Strip s[2] = {{column, i}, {column, high}};
        if (!step(s, 2))
            return false;
    }
    return true;
}

bool Wiper(bool column, int n, const std::function<bool(const Strip*, int)>& step)
{
    for (int i = 0; i < n; i += 2) {
        const Strip s {column, i};
        if (!step(&s, 1))
            return false;
    }
    int high = n % 2 == 0 ? n - 1 : n;
    for (int i = 0; i < (n + 1) / 2; ++i, high -= 2) {
        const Strip s {column, high};
        if (!step(&s, 1))
            return false;
    }
    return true;
}

} // namespace

TransitionClock& SystemTransitionClock()
{
    static SteadyClock clock;
    return clock;
}

int ResolveDrawType(int drawType, uint64_t clockMs)
{
    if (drawType == DrawRandom)
        drawType = int(clockMs % 10) + 1;
    if (drawType < DrawNoEffect || drawType > DrawWiperV || drawType == DrawRandom)
        return DrawRasterH;
    return drawType;
}

void ForEachStep(int effect, int width, int height, const std::function<bool(const Strip*, int count)>& step)
{
    switch (effect) {
    case DrawCrossH: Cross(true, width, step); break;
    case DrawCrossV: Cross(false, height, step); break;
    case DrawRasterH: Raster(true, width, step); break;
    case DrawRasterV: Raster(false, height, step); break;
    case DrawRasterCloseH: RasterClose(true, width, step); break;
    case DrawRasterCloseV: RasterClose(false, height, step); break;
    case DrawRasterOpenH: RasterOpen(true, width, step); break;
    case DrawRasterOpenV: RasterOpen(false, height, step); break;
    case DrawWiperH: Wiper(true, width, step); break;
    case DrawWiperV: Wiper(false, height, step); break;
    default: break;
    }
}

std::vector<std::vector<Strip>> EffectSteps(int effect, int width, int height)
{
    std::vector<std::vector<Strip>> steps;
    ForEachStep(effect, width, height, [&](const Strip* strips, int count) {
        steps.emplace_back(strips, strips + count);
        return true;
    });
    return steps;
}

int RunTransition(TransitionTarget& target, int drawType, int width, int height, int drawSpeed,
                  const std::atomic<bool>& abort, TransitionClock& clock)
{
    const int effect = ResolveDrawType(drawType, clock.MilliClock());
    const QRect area(0, 0, width, height);
    if (effect == DrawNoEffect) {
        if (!abort.load(std::memory_order_relaxed))
            target.CopyRect(area);
        return effect;
    }
    const int64_t stepUs = int64_t(drawSpeed > 0 ? drawSpeed : 0) * 1000;
    int64_t deadline = 0;
    bool first = true;
    ForEachStep(effect, width, height, [&](const Strip* strips, int count) {
        // A step lasts at least drawSpeed from its start; the wait comes
        // before the next step, so the last one is not followed by a pause.
        if (!first && stepUs > 0)
            clock.SleepUntilUs(deadline);
        if (abort.load(std::memory_order_relaxed))
            return false;
        first = false;
        deadline = clock.NowUs() + stepUs;
        for (int i = 0; i < count; ++i) {
            const QRect strip = strips[i].column ? QRect(strips[i].index, 0, 1, height)
                                                 : QRect(0, strips[i].index, width, 1);
            const QRect inside = strip.intersected(area);
            if (!inside.isEmpty())
                target.CopyRect(inside);
        }
        return true;
    });
    return effect;
}

} // namespace ormbrook
