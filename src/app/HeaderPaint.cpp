#include "app/MainWindow.h"

#include <iterator>

namespace tidewell {

namespace {

struct PenTraits {
    using Type = HPEN;
    static Type invalid() { return nullptr; }
    static void close(Type pen) { DeleteObject(pen); }
};

// At 96 DPI; scaled like every other length.
constexpr int kHeaderHeight = 104;
constexpr int kHeaderLineY = 103;
constexpr int kIconX = 24;
constexpr int kIconY = 20;
constexpr int kIconSize = 64;

constexpr wchar_t kTitle[] = L"Tidewell";
constexpr wchar_t kSubtitle[] = L"AutoCAD · SolidWorks · Oracle  扫描、卸载与残留清理";

TRIVERTEX Vertex(LONG x, LONG y, BYTE red, BYTE green, BYTE blue) {
    TRIVERTEX vertex = {};
    vertex.x = x;
    vertex.y = y;
    vertex.Red = static_cast<COLOR16>(red << 8);
    vertex.Green = static_cast<COLOR16>(green << 8);
    vertex.Blue = static_cast<COLOR16>(blue << 8);
    vertex.Alpha = 0;
    return vertex;
}

} // namespace

void MainWindow::paintHeader() {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT client;
    GetClientRect(window, &client);

    FillRect(dc, &client, backgroundBrush.get());

    TRIVERTEX band[2] = {Vertex(0, 0, 244, 250, 255),
                         Vertex(client.right, scaled(kHeaderHeight), 181, 213, 241)};
    GRADIENT_RECT bandRect = {0, 1};
    // gdi32's own entry of GradientFill: msimg32, which forwards to it, is not one of the
    // system's known libraries, so importing it would load a copy lying beside the program.
    GdiGradientFill(dc, band, 2, &bandRect, 1, GRADIENT_FILL_RECT_V);

    {
        const win32::UniqueHandle<PenTraits> pen(CreatePen(PS_SOLID, 1, RGB(137, 177, 211)));
        const HGDIOBJ previous = SelectObject(dc, pen.get());
        MoveToEx(dc, 0, scaled(kHeaderLineY), nullptr);
        LineTo(dc, client.right, scaled(kHeaderLineY));
        SelectObject(dc, previous);
    }

    if (headerIcon.valid()) {
        DrawIconEx(dc, scaled(kIconX), scaled(kIconY), headerIcon.get(), scaled(kIconSize),
                   scaled(kIconSize), 0, nullptr, DI_NORMAL);
    }

    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(18, 69, 116));
    SelectObject(dc, titleFont.get());
    TextOutW(dc, scaled(101), scaled(23), kTitle, static_cast<int>(std::size(kTitle) - 1));
    SetTextColor(dc, RGB(48, 91, 130));
    SelectObject(dc, bodyFont.get());
    TextOutW(dc, scaled(104), scaled(65), kSubtitle, static_cast<int>(std::size(kSubtitle) - 1));
    // The DC goes back to the system with it; the previous font is not restored.
    EndPaint(window, &paint);
}

} // namespace tidewell
