#pragma once

// Drives the real tidewell.exe from another process, as a person at the screen would: it finds
// the main window by its class, switches product tabs, presses buttons, answers message boxes,
// reads the status line, and reads and changes the result tree. The tree's item messages carry
// pointers, so they go through a buffer allocated inside the program's own address space.

#include "platform/win32/UniqueHandle.h"

#include <windows.h>

#include <commctrl.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tidewell::e2e {

constexpr int kScanButton = 101;
constexpr int kCleanButton = 102;
constexpr int kOneClickButton = 103;
constexpr int kResultTree = 104;
constexpr int kProgressBar = 105;
constexpr int kStatusLine = 106;
constexpr int kProductTabs = 107;
constexpr UINT kCheckChangedMessage = WM_APP + 1;

// One node of the result tree, read in pre-order.
struct TreeNode {
    HTREEITEM handle = nullptr;
    size_t parent = SIZE_MAX; // index of the parent in the same list; SIZE_MAX for the root
    int depth = 0;            // 0 root, 1 category, then path nodes and leaves
    std::u16string text;
    int stateImage = 0; // 1 unchecked, 2 checked
    bool leaf = false;  // a node that links to an item
    // Leaves only, from the status line the program shows when the leaf is selected:
    // "[" risk "] " location " — " note.
    std::u16string risk;
    std::u16string location;
    std::u16string note;
    std::u16string category; // the category node's text without its count

    bool checked() const { return stateImage == 2; }
};

// A message box owned by the main window.
struct MessageBoxSeen {
    HWND handle = nullptr;
    std::u16string title;
    std::u16string text;
    bool hasYesNo = false;
    bool hasOk = false;
};

// Memory inside the program under test, released with it.
class RemoteBuffer {
public:
    RemoteBuffer(HANDLE process, size_t size);
    ~RemoteBuffer();
    RemoteBuffer(const RemoteBuffer&) = delete;
    RemoteBuffer& operator=(const RemoteBuffer&) = delete;

    bool valid() const { return address_ != nullptr; }
    uintptr_t at(size_t offset) const { return reinterpret_cast<uintptr_t>(address_) + offset; }
    bool write(size_t offset, const void* data, size_t size);
    bool read(size_t offset, void* data, size_t size) const;

private:
    HANDLE process_;
    void* address_ = nullptr;
};

// The program under test. The test owns the process: the destructor ends it if it still runs.
// The program the tests drive: this build's, or TIDEWELL_E2E_APP's.
std::u16string ProgramUnderTest();

class AppDriver {
public:
    AppDriver() = default;
    ~AppDriver();
    AppDriver(const AppDriver&) = delete;
    AppDriver& operator=(const AppDriver&) = delete;

    // Starts the program (or the copy of it at `program`, a Windows path) and waits until its
    // main window is shown. An explanation on failure.
    std::string start(DWORD timeoutMs = 30000, std::u16string program = {});
    // Ends the program (the main window is closed first; a modal box keeps it from closing,
    // so then it is terminated). Returns the exit code, or ~0u when it had to be terminated.
    DWORD stop(DWORD timeoutMs = 10000);

    DWORD processId() const { return processId_; }
    HWND window() const { return window_; }
    HWND control(int id) const { return GetDlgItem(window_, id); }
    std::u16string text(int id) const;
    std::u16string status() const { return text(kStatusLine); }
    bool enabled(int id) const { return IsWindowEnabled(control(id)) != FALSE; }
    // The progress bar's position, or -1 when the program does not answer in time.
    int progress() const;

    // Polls the status line until it satisfies the condition; the last text seen is kept.
    bool waitForStatus(const std::function<bool(const std::u16string&)>& condition, DWORD timeoutMs,
                       std::u16string* last = nullptr) const;
    bool waitForStatusText(const std::u16string& expected, DWORD timeoutMs,
                           std::u16string* last = nullptr) const;

    // Selects a product tab as a click would: the program hears TCN_SELCHANGE.
    bool selectProductTab(int index);
    // Presses a button. Posted, since the workflows behind them open modal boxes and run long.
    void press(int buttonId);

    // Waits for a message box owned by the main window.
    std::optional<MessageBoxSeen> waitForMessageBox(DWORD timeoutMs) const;
    // Answers it with IDYES, IDNO or IDOK and waits until it is gone.
    bool answer(const MessageBoxSeen& box, int buttonId, DWORD timeoutMs = 10000);

    // The whole tree in pre-order. With locations, every leaf is selected once so that the
    // status line gives its risk, location and note (this changes the status line).
    std::vector<TreeNode> readTree(bool withLocations);
    // Sets the check box of a node and tells the program, as the tree view does after a click.
    bool setChecked(HTREEITEM node, bool checked);

private:
    bool readItem(HTREEITEM node, std::u16string& text, int& stateImage, LPARAM& link);
    // Reads the node, its following siblings and everything below them, in pre-order.
    bool readSiblings(HTREEITEM first, size_t parent, int depth, std::vector<TreeNode>& nodes);
    LRESULT sendToTree(UINT message, WPARAM wParam, LPARAM lParam, bool* answered = nullptr);

    win32::UniqueKernelHandle process_;
    DWORD processId_ = 0;
    HWND window_ = nullptr;
    std::unique_ptr<RemoteBuffer> buffer_;
};

// Splits the status text of a selected leaf into risk, location and note.
bool ParseLeafStatus(const std::u16string& status, TreeNode& node);

} // namespace tidewell::e2e
