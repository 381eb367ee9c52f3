#include "app/WindowLayout.h"

#include <algorithm>
#include <cstdint>

namespace tidewell {

int ScaleLength(int length, int dpi) {
    const int64_t product = static_cast<int64_t>(length) * dpi;
    const int64_t half = kBaseDpi / 2;
    return static_cast<int>(product >= 0 ? (product + half) / kBaseDpi
                                         : -((-product + half) / kBaseDpi));
}

ControlLayout LayoutControls(int width, int height, int dpi) {
    auto s = [dpi](int length) { return ScaleLength(length, dpi); };
    ControlLayout layout;
    // The header band stays free; the two groups stop shrinking at a minimum height while the
    // status row keeps following the bottom edge.
    layout.productTabs = {s(20), s(116), width - s(40), s(34)};
    layout.actionsGroup = {s(20), s(158), width - s(40), s(100)};
    layout.scanButton = {s(44), s(189), s(132), s(38)};
    layout.cleanButton = {s(194), s(189), s(148), s(38)};
    layout.oneClickButton = {s(360), s(189), s(240), s(38)};
    layout.resultsGroup = {s(20), s(272), width - s(40), std::max(height - s(320), s(90))};
    layout.resultTree = {s(30), s(297), width - s(60), std::max(height - s(356), s(50))};
    layout.statusLabel = {s(20), height - s(40), width - s(260), s(20)};
    layout.progressBar = {width - s(225), height - s(40), s(205), s(18)};
    return layout;
}

Extent MinimumClientSize(int dpi) {
    // Width: the one-click button ends at 600 and keeps the left margin of its group (24) to the
    // group's edge, which keeps 20 to the window's. Height: from 410 on the results group
    // shrinks with the window and ends 8 above the status row.
    return {ScaleLength(644, dpi), ScaleLength(410, dpi)};
}

Extent FirstWindowSize(int dpi) {
    return {ScaleLength(960, dpi), ScaleLength(720, dpi)};
}

Edges FitIntoArea(const Edges& window, const Edges& area) {
    const int width = std::min(window.right - window.left, area.right - area.left);
    const int height = std::min(window.bottom - window.top, area.bottom - area.top);
    const int left = std::clamp(window.left, area.left, area.right - width);
    const int top = std::clamp(window.top, area.top, area.bottom - height);
    return {left, top, left + width, top + height};
}

} // namespace tidewell
