#pragma once

// Where the main window's parts go, decided without the window. Every length is given for a
// screen of 96 dots per inch and scaled to the system's setting, so that the window looks the
// same, only sharper, at 125, 150 or 200 %.
namespace tidewell {

constexpr int kBaseDpi = 96;

// length × dpi / 96, rounded half away from zero (what MulDiv gives).
int ScaleLength(int length, int dpi);

struct Box {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool operator==(const Box& other) const {
        return x == other.x && y == other.y && width == other.width && height == other.height;
    }
};

// The controls for a client area of width × height, in the order they are placed.
struct ControlLayout {
    Box productTabs;
    Box actionsGroup;
    Box scanButton;
    Box cleanButton;
    Box oneClickButton;
    Box resultsGroup;
    Box resultTree;
    Box statusLabel;
    Box progressBar;
};

ControlLayout LayoutControls(int width, int height, int dpi);

struct Extent {
    int width = 0;
    int height = 0;
};

// The smallest client area at which no control overlaps another or sticks out of its group:
// the buttons fit their group, the tree its group and the status row stays below it.
Extent MinimumClientSize(int dpi);

// The first outer size of the window, before it is fitted to the screen.
Extent FirstWindowSize(int dpi);

struct Edges {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    bool operator==(const Edges& other) const {
        return left == other.left && top == other.top && right == other.right &&
               bottom == other.bottom;
    }
};

// The window moved and, where it is larger, cut to lie wholly inside the area (the work area of
// its monitor, without the taskbar).
Edges FitIntoArea(const Edges& window, const Edges& area);

} // namespace tidewell
