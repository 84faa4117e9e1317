#include "windows/window_layout.h"

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

} // namespace ormbrook
