#include "windows/window_layout.h"

#include <algorithm>

#include <cstdio>

namespace ormbrook {

SplitSizes InitialSplit(int clientWidth, int clientHeight)
{
    SplitSizes s;
    s.topHeight = clientHeight * 2 / 3;
    s.bottomHeight = clientHeight - s.topHeight;
    s.leftWidth = clientWidth / 2;
    s.rightWidth = clientWidth - s.leftWidth;
    return s;
}

SplitSizes ResizeSplit(int clientWidth, int clientHeight, const SplitSizes& current)
{
    SplitSizes s = current;
    s.leftWidth = clientWidth / 2;
    s.rightWidth = clientWidth - s.leftWidth;
    if (clientHeight - kStatusViewHeight > 50) {
        s.topHeight = clientHeight - kStatusViewHeight;
        s.bottomHeight = kStatusViewHeight;
    }
    return s;
}

std::string FormatWindowPos(const WindowPlacement& p)
{
    char text[160];
    std::snprintf(text, sizeof text, "%i:%i:%i:%i:%i:%i:%i:%i:%i:%i", p.flags, p.showCommand, p.minX, p.minY,
                  p.maxX, p.maxY, p.left, p.top, p.right, p.bottom);
    return text;
}

std::optional<WindowPlacement> ParseWindowPos(const std::string& text)
{
    WindowPlacement p;
    int used = 0;
    const int n = std::sscanf(text.c_str(), "%i:%i:%i:%i:%i:%i:%i:%i:%i:%i%n", &p.flags, &p.showCommand, &p.minX,
                              &p.minY, &p.maxX, &p.maxY, &p.left, &p.top, &p.right, &p.bottom, &used);
    if (n != 10 || static_cast<size_t>(used) != text.size())
        return std::nullopt;
    if (p.right <= p.left || p.bottom <= p.top)
        return std::nullopt;
    return p;
}

ScreenRect FirstMainWindowPlace(const ScreenRect& available, int width, int height)
{
    width = std::min(width, available.width);
    height = std::min(height, available.height);
    ScreenRect place{available.left + (available.width - width) / 2, available.top + (available.height - height) / 2,
                     width, height};
    const int slideRight = available.left + available.width / 5 + 8;
    const int slideBottom = available.top + available.height / 5 + 8;
    if (place.left >= slideRight || place.top >= slideBottom)
        return place;
    const int room = available.left + available.width - slideRight;
    if (room < 640)
        return place;
    place.width = std::min(width, room);
    place.left = slideRight + (room - place.width) / 2;
    return place;
}

ScreenRect NewProjectWindowPlace(int areaWidth, int areaHeight, int openWindows)
{
    constexpr int kStep = 24;
    constexpr int kSmallest[2] = {640, 420};
    const int step = kStep * (openWindows % 6);
    const int width = std::max(std::min(kSmallest[0], areaWidth), areaWidth - step);
    const int height = std::max(std::min(kSmallest[1], areaHeight), areaHeight - step);
    return {std::max(0, std::min(step, areaWidth - width)), std::max(0, std::min(step, areaHeight - height)), width,
            height};
}

} // namespace ormbrook
