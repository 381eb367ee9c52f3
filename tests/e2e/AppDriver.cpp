#include "AppDriver.h"

#include "Machine.h"
#include "platform/win32/Wide.h"
#include "support/Text.h"

namespace tidewell::e2e {

using win32::AsWide;
using win32::AsWritableWide;
using win32::FromWide;

namespace {

constexpr DWORD kPollMs = 20;
constexpr UINT kAnswerTimeoutMs = 5000;

// The tree's item record and its text share one remote buffer.
constexpr size_t kTextOffset = 256;
constexpr int kTextUnits = 1024;
constexpr size_t kBufferSize = kTextOffset + kTextUnits * sizeof(wchar_t);

std::u16string ClassName(HWND window) {
    wchar_t name[64] = {};
    const int length = GetClassNameW(window, name, 64);
    return FromWide(name, length > 0 ? static_cast<size_t>(length) : 0);
}

// Under Wine the text of another process's window comes from the server without a message, so
// the status line can be read while the program is busy inside a workflow.
std::u16string WindowText(HWND window) {
    const int length = GetWindowTextLengthW(window);
    if (length <= 0) {
        return {};
    }
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    const int copied = GetWindowTextW(window, &text[0], length + 1);
    return FromWide(text.c_str(), copied > 0 ? static_cast<size_t>(copied) : 0);
}

struct WindowSearch {
    DWORD processId;
    const wchar_t* className;
    HWND owner;
    HWND found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<WindowSearch*>(context);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (processId != search->processId || !IsWindowVisible(window) ||
        ClassName(window) != FromWide(search->className)) {
        return TRUE;
    }
    if (search->owner != nullptr && GetWindow(window, GW_OWNER) != search->owner) {
        return TRUE;
    }
    search->found = window;
    return FALSE;
}

HWND FindTopLevel(DWORD processId, const wchar_t* className, HWND owner) {
    WindowSearch search = {processId, className, owner, nullptr};
    EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::string ErrorText(const char* what, DWORD error) {
    return std::string(what) + " (error " + std::to_string(error) + ")";
}

} // namespace

RemoteBuffer::RemoteBuffer(HANDLE process, size_t size)
    : process_(process),
      address_(VirtualAllocEx(process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE)) {}

RemoteBuffer::~RemoteBuffer() {
    if (address_ != nullptr) {
        VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
    }
}

bool RemoteBuffer::write(size_t offset, const void* data, size_t size) {
    SIZE_T written = 0;
    return WriteProcessMemory(process_, reinterpret_cast<void*>(at(offset)), data, size,
                              &written) &&
           written == size;
}

bool RemoteBuffer::read(size_t offset, void* data, size_t size) const {
    SIZE_T got = 0;
    return ReadProcessMemory(process_, reinterpret_cast<const void*>(at(offset)), data, size,
                             &got) &&
           got == size;
}

AppDriver::~AppDriver() {
    buffer_.reset();
    if (process_.valid() && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) {
        TerminateProcess(process_.get(), 1);
        WaitForSingleObject(process_.get(), 10000);
    }
}

std::u16string ProgramUnderTest() {
    // TIDEWELL_E2E_APP runs the tests against another build of the program (a Windows path).
    const std::u16string program = Env(u"TIDEWELL_E2E_APP");
    return program.empty() ? BuildPath(TIDEWELL_APP_PATH) : program;
}

std::string AppDriver::start(DWORD timeoutMs, std::u16string program) {
    if (program.empty()) {
        program = ProgramUnderTest();
    }
    std::u16string commandLine = u"\"" + program + u"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION info = {};
    // Started in C:\ and without inherited handles: ctest must not wait on our output pipe.
    if (!CreateProcessW(AsWide(program), AsWritableWide(commandLine), nullptr, nullptr, FALSE, 0,
                        nullptr, L"C:\\", &startup, &info)) {
        return ErrorText("tidewell.exe not started", GetLastError());
    }
    process_.reset(info.hProcess);
    CloseHandle(info.hThread);
    processId_ = info.dwProcessId;

    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        window_ = FindTopLevel(processId_, L"TidewellMain", nullptr);
        if (window_ != nullptr) {
            break;
        }
        if (GetTickCount64() > deadline) {
            return "no visible TidewellMain window within " + std::to_string(timeoutMs) + " ms";
        }
        // Waiting on the process is the poll delay, and notices an early exit.
        if (WaitForSingleObject(process_.get(), kPollMs) == WAIT_OBJECT_0) {
            DWORD code = 0;
            GetExitCodeProcess(process_.get(), &code);
            return "tidewell.exe exited with code " + std::to_string(code) + " before its window";
        }
    }
    buffer_ = std::make_unique<RemoteBuffer>(process_.get(), kBufferSize);
    if (!buffer_->valid()) {
        return ErrorText("no buffer inside tidewell.exe", GetLastError());
    }
    return {};
}

DWORD AppDriver::stop(DWORD timeoutMs) {
    if (!process_.valid()) {
        return ~0u;
    }
    buffer_.reset();
    PostMessageW(window_, WM_CLOSE, 0, 0);
    DWORD code = ~0u;
    if (WaitForSingleObject(process_.get(), timeoutMs) == WAIT_OBJECT_0) {
        GetExitCodeProcess(process_.get(), &code);
    } else {
        TerminateProcess(process_.get(), 1);
        WaitForSingleObject(process_.get(), 10000);
    }
    process_.reset();
    return code;
}

std::u16string AppDriver::text(int id) const {
    return WindowText(control(id));
}

int AppDriver::progress() const {
    DWORD_PTR position = 0;
    if (!SendMessageTimeoutW(control(kProgressBar), PBM_GETPOS, 0, 0, SMTO_NORMAL, kAnswerTimeoutMs,
                             &position)) {
        return -1;
    }
    return static_cast<int>(position);
}

bool AppDriver::waitForStatus(const std::function<bool(const std::u16string&)>& condition,
                              DWORD timeoutMs, std::u16string* last) const {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        const std::u16string seen = status();
        if (last != nullptr) {
            *last = seen;
        }
        if (condition(seen)) {
            return true;
        }
        if (GetTickCount64() > deadline ||
            WaitForSingleObject(process_.get(), kPollMs) == WAIT_OBJECT_0) {
            return false;
        }
    }
}

bool AppDriver::waitForStatusText(const std::u16string& expected, DWORD timeoutMs,
                                  std::u16string* last) const {
    return waitForStatus([&](const std::u16string& seen) { return seen == expected; }, timeoutMs,
                         last);
}

bool AppDriver::selectProductTab(int index) {
    // TCM_SETCURFOCUS on a tab control without buttons selects the tab and notifies the
    // parent with TCN_SELCHANGING and TCN_SELCHANGE, as a click does; TCM_SETCURSEL does not.
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(control(kProductTabs), TCM_SETCURFOCUS, static_cast<WPARAM>(index), 0,
                             SMTO_NORMAL, kAnswerTimeoutMs, &result)) {
        return false;
    }
    DWORD_PTR selected = 0;
    return SendMessageTimeoutW(control(kProductTabs), TCM_GETCURSEL, 0, 0, SMTO_NORMAL,
                               kAnswerTimeoutMs, &selected) &&
           static_cast<int>(selected) == index;
}

void AppDriver::press(int buttonId) {
    PostMessageW(window_, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED),
                 reinterpret_cast<LPARAM>(control(buttonId)));
}

std::optional<MessageBoxSeen> AppDriver::waitForMessageBox(DWORD timeoutMs) const {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        const HWND box = FindTopLevel(processId_, L"#32770", window_);
        if (box != nullptr) {
            MessageBoxSeen seen;
            seen.handle = box;
            seen.title = WindowText(box);
            seen.text = WindowText(GetDlgItem(box, 0xFFFF));
            seen.hasYesNo = GetDlgItem(box, IDYES) != nullptr && GetDlgItem(box, IDNO) != nullptr;
            seen.hasOk = GetDlgItem(box, IDOK) != nullptr;
            return seen;
        }
        if (GetTickCount64() > deadline ||
            WaitForSingleObject(process_.get(), kPollMs) == WAIT_OBJECT_0) {
            return std::nullopt;
        }
    }
}

bool AppDriver::answer(const MessageBoxSeen& box, int buttonId, DWORD timeoutMs) {
    const HWND button = GetDlgItem(box.handle, buttonId);
    if (button == nullptr) {
        return false;
    }
    // Posted: the box's owner thread ends its modal loop and goes on with the workflow.
    PostMessageW(box.handle, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED),
                 reinterpret_cast<LPARAM>(button));
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (IsWindow(box.handle)) {
        if (GetTickCount64() > deadline) {
            return false;
        }
        WaitForSingleObject(process_.get(), kPollMs);
    }
    return true;
}

LRESULT AppDriver::sendToTree(UINT message, WPARAM wParam, LPARAM lParam, bool* answered) {
    DWORD_PTR result = 0;
    const bool ok = SendMessageTimeoutW(control(kResultTree), message, wParam, lParam, SMTO_NORMAL,
                                        kAnswerTimeoutMs, &result) != 0;
    if (answered != nullptr) {
        *answered = ok;
    }
    return static_cast<LRESULT>(result);
}

bool AppDriver::readItem(HTREEITEM node, std::u16string& text, int& stateImage, LPARAM& link) {
    TVITEMW item = {};
    item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_STATE | TVIF_HANDLE;
    item.hItem = node;
    item.stateMask = TVIS_STATEIMAGEMASK;
    item.pszText = reinterpret_cast<LPWSTR>(buffer_->at(kTextOffset));
    item.cchTextMax = kTextUnits;
    const wchar_t nothing = L'\0';
    bool answered = false;
    if (!buffer_->write(0, &item, sizeof(item)) ||
        !buffer_->write(kTextOffset, &nothing, sizeof(nothing)) ||
        !sendToTree(TVM_GETITEMW, 0, static_cast<LPARAM>(buffer_->at(0)), &answered) || !answered ||
        !buffer_->read(0, &item, sizeof(item))) {
        return false;
    }
    std::wstring units(kTextUnits, L'\0');
    if (!buffer_->read(kTextOffset, &units[0], units.size() * sizeof(wchar_t))) {
        return false;
    }
    units[kTextUnits - 1] = L'\0';
    text = FromWide(units.c_str());
    stateImage = static_cast<int>((item.state & TVIS_STATEIMAGEMASK) >> 12);
    link = item.lParam;
    return true;
}

bool AppDriver::readSiblings(HTREEITEM first, size_t parent, int depth,
                             std::vector<TreeNode>& nodes) {
    for (HTREEITEM item = first; item != nullptr;
         item = reinterpret_cast<HTREEITEM>(
             sendToTree(TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(item)))) {
        TreeNode node;
        node.handle = item;
        node.parent = parent;
        node.depth = depth;
        LPARAM link = 0;
        if (!readItem(item, node.text, node.stateImage, link)) {
            return false;
        }
        node.leaf = link != 0;
        // A category's text ends with its count: "临时文件（2 个项目）".
        if (depth == 1) {
            node.category = node.text.substr(0, node.text.rfind(u'（'));
        } else if (depth > 1) {
            node.category = nodes[parent].category;
        }
        nodes.push_back(node);
        const auto child = reinterpret_cast<HTREEITEM>(
            sendToTree(TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(item)));
        if (!readSiblings(child, nodes.size() - 1, depth + 1, nodes)) {
            return false;
        }
    }
    return true;
}

std::vector<TreeNode> AppDriver::readTree(bool withLocations) {
    std::vector<TreeNode> nodes;
    const auto root = reinterpret_cast<HTREEITEM>(sendToTree(TVM_GETNEXTITEM, TVGN_ROOT, 0));
    if (!readSiblings(root, SIZE_MAX, 0, nodes)) {
        return {};
    }
    if (withLocations && !nodes.empty()) {
        // A group node leaves the status line alone; every leaf then differs from the one
        // selected before it, so each selection is announced.
        sendToTree(TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(nodes[0].handle));
        for (TreeNode& node : nodes) {
            if (node.leaf) {
                sendToTree(TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(node.handle));
                ParseLeafStatus(status(), node);
            }
        }
    }
    return nodes;
}

bool AppDriver::setChecked(HTREEITEM node, bool checked) {
    TVITEMW item = {};
    item.mask = TVIF_STATE | TVIF_HANDLE;
    item.hItem = node;
    item.state = INDEXTOSTATEIMAGEMASK(checked ? 2 : 1);
    item.stateMask = TVIS_STATEIMAGEMASK;
    bool answered = false;
    if (!buffer_->write(0, &item, sizeof(item)) ||
        !sendToTree(TVM_SETITEMW, 0, static_cast<LPARAM>(buffer_->at(0)), &answered) || !answered) {
        return false;
    }
    return PostMessageW(window_, kCheckChangedMessage, 0, reinterpret_cast<LPARAM>(node)) != 0;
}

bool ParseLeafStatus(const std::u16string& status, TreeNode& node) {
    const std::u16string separator = u" — ";
    const size_t close = status.find(u"] ");
    const size_t dash = status.find(separator);
    if (status.empty() || status[0] != u'[' || close == std::u16string::npos ||
        dash == std::u16string::npos || dash < close) {
        return false;
    }
    node.risk = status.substr(1, close - 1);
    node.location = status.substr(close + 2, dash - close - 2);
    node.note = status.substr(dash + separator.size());
    return true;
}

} // namespace tidewell::e2e
