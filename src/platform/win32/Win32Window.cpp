#include "platform/win32/Win32Platform.h"

#include "platform/win32/Wide.h"
#include "platform/win32/Win32Internal.h"

#include <algorithm>

namespace tidewell {

using win32::AsWide;
using win32::kQueueLookMilliseconds;

namespace {

// Paint messages dispatched per wake-up, so that a window that never validates cannot keep the
// wait from looking at the child.
constexpr int kMaxPaintsPerWake = 64;

UINT IconStyle(NoticeIcon icon) {
    switch (icon) {
    case NoticeIcon::Warning:
        return MB_ICONWARNING;
    case NoticeIcon::Error:
        return MB_ICONERROR;
    case NoticeIcon::Question:
        return MB_ICONQUESTION;
    case NoticeIcon::Information:
        break;
    }
    return MB_ICONINFORMATION;
}

} // namespace

UINT QuestionBoxStyle(NoticeIcon icon, bool yesIsDefault) {
    return MB_YESNO | IconStyle(icon) | (yesIsDefault ? MB_DEFBUTTON1 : MB_DEFBUTTON2);
}

UINT NoticeBoxStyle(NoticeIcon icon) {
    return MB_OK | IconStyle(icon);
}

Win32Platform::Win32Platform() = default;
Win32Platform::~Win32Platform() = default;

void Win32Platform::setOwnerWindow(HWND window) {
    owner_ = window;
}

// --- User interface ------------------------------------------------------------------------------

bool Win32Platform::askYesNo(const std::u16string& text, const std::u16string& title,
                             NoticeIcon icon, bool yesIsDefault) {
    return MessageBoxW(owner_, AsWide(text), AsWide(title), QuestionBoxStyle(icon, yesIsDefault)) ==
           IDYES;
}

void Win32Platform::showNotice(const std::u16string& text, const std::u16string& title,
                               NoticeIcon icon) {
    MessageBoxW(owner_, AsWide(text), AsWide(title), NoticeBoxStyle(icon));
}

void Win32Platform::setWaitCursor(bool waiting) {
    SetCursor(LoadCursorW(nullptr, waiting ? IDC_WAIT : IDC_ARROW));
}

void Win32Platform::repaintWindow() {
    if (owner_ != nullptr) {
        UpdateWindow(owner_);
    }
}

void Win32Platform::lookAtQueue() {
    const uint64_t now = GetTickCount64();
    if (now - lastLook_ >= kQueueLookMilliseconds) {
        handlePaintAndSentMessages(now);
    }
}

void Win32Platform::handlePaintAndSentMessages(uint64_t now) {
    if (lastLook_ != 0) {
        longestGap_ = std::max(longestGap_, now - lastLook_);
    }
    lastLook_ = now;
    MSG message;
    // Peeking for sent messages only hands every message sent from another thread to its
    // window procedure; nothing posted is taken.
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    for (int painted = 0;
         painted < kMaxPaintsPerWake &&
         PeekMessageW(&message, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE | PM_QS_PAINT);
         ++painted) {
        DispatchMessageW(&message);
    }
}

uint64_t Win32Platform::longestQueueGap() const {
    return lastLook_ == 0 ? 0 : std::max(longestGap_, GetTickCount64() - lastLook_);
}

void Win32Platform::resetQueueGap() {
    lastLook_ = GetTickCount64();
    longestGap_ = 0;
}

} // namespace tidewell
