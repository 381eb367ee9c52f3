// Looks at the running Tidewell window from another process:
//
//   tidewell-probe.exe wait-window SECONDS       the window's frame and client area, once shown:
//                                                "frame L T R B client X Y W H" (screen pixels)
//   tidewell-probe.exe wait-status SECONDS WHAT  the status line, once it reports WHAT:
//                                                "switched" (a product tab was picked) or
//                                                "scanned" (a scan has finished)
//   tidewell-probe.exe status                    the status line now
//   tidewell-probe.exe title                     the window's title now
//   tidewell-probe.exe centre ID                 "X Y": the middle of the control with that id
//   tidewell-probe.exe tab-centre N              "X Y": the middle of product tab N (0 to 2)
//   tidewell-probe.exe close                     asks the window to close
//
// Output is UTF-8. Exit code 0 on success, 1 when the window or the text did not come in time,
// 2 on bad arguments.
#include <windows.h>

#include <string>
#include <vector>

namespace {

constexpr int kStatusId = 106;
constexpr int kProductTabsId = 107;
// The product tabs have a fixed size; the first starts two pixels inside the control.
constexpr int kTabWidth = 138;
constexpr int kTabHeight = 29;
constexpr int kTabInset = 2;

void Print(const std::wstring& text) {
    std::wstring line = text + L"\n";
    const int size = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), &bytes[0], size,
                        nullptr, nullptr);
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()),
              &written, nullptr);
}

HWND MainWindow() {
    const HWND window = FindWindowW(L"TidewellMain", nullptr);
    return window != nullptr && IsWindowVisible(window) ? window : nullptr;
}

std::wstring StatusText(HWND window) {
    const HWND status = GetDlgItem(window, kStatusId);
    if (status == nullptr) {
        return {};
    }
    const LRESULT length = SendMessageW(status, WM_GETTEXTLENGTH, 0, 0);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    SendMessageW(status, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]));
    text.resize(wcslen(text.c_str()));
    return text;
}

// Polls until `ready` holds or the seconds are up.
template <typename Ready> bool WaitFor(int seconds, Ready ready) {
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(seconds) * 1000;
    for (;;) {
        if (ready()) {
            return true;
        }
        if (GetTickCount64() >= deadline) {
            return false;
        }
        Sleep(100);
    }
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring command = argc > 1 ? argv[1] : L"";
    if (command == L"wait-window" && argc == 3) {
        HWND window = nullptr;
        if (!WaitFor(_wtoi(argv[2]), [&] { return (window = MainWindow()) != nullptr; })) {
            Print(L"no Tidewell window");
            return 1;
        }
        RECT frame;
        GetWindowRect(window, &frame);
        RECT client;
        GetClientRect(window, &client);
        POINT origin = {0, 0};
        ClientToScreen(window, &origin);
        Print(L"frame " + std::to_wstring(frame.left) + L" " + std::to_wstring(frame.top) + L" " +
              std::to_wstring(frame.right) + L" " + std::to_wstring(frame.bottom) + L" client " +
              std::to_wstring(origin.x) + L" " + std::to_wstring(origin.y) + L" " +
              std::to_wstring(client.right) + L" " + std::to_wstring(client.bottom));
        return 0;
    }
    if (command == L"wait-status" && argc == 4) {
        // The beginnings of the texts that report each event; they are named here, not on the
        // command line, so that no Chinese text has to cross the shell's locale.
        const std::wstring what = argv[3];
        std::vector<std::wstring> beginnings;
        if (what == L"switched") {
            beginnings = {L"已切换到 "};
        } else if (what == L"scanned") {
            beginnings = {L"扫描完成，共发现 ", L"未发现明确的 "};
        } else {
            Print(L"wait-status: WHAT is switched or scanned");
            return 2;
        }
        std::wstring text;
        const bool matched = WaitFor(_wtoi(argv[2]), [&] {
            const HWND window = MainWindow();
            text = window != nullptr ? StatusText(window) : L"";
            for (const std::wstring& beginning : beginnings) {
                if (text.rfind(beginning, 0) == 0) {
                    return true;
                }
            }
            return false;
        });
        Print(text);
        return matched ? 0 : 1;
    }
    if (command == L"status" && argc == 2) {
        const HWND window = MainWindow();
        if (window == nullptr) {
            return 1;
        }
        Print(StatusText(window));
        return 0;
    }
    if (command == L"title" && argc == 2) {
        const HWND window = MainWindow();
        if (window == nullptr) {
            return 1;
        }
        wchar_t title[256] = {};
        GetWindowTextW(window, title, 256);
        Print(title);
        return 0;
    }
    if ((command == L"centre" || command == L"tab-centre") && argc == 3) {
        const HWND window = MainWindow();
        const int number = _wtoi(argv[2]);
        const HWND control =
            window == nullptr ? nullptr
                              : GetDlgItem(window, command == L"centre" ? number : kProductTabsId);
        if (control == nullptr) {
            return 1;
        }
        RECT rect;
        GetWindowRect(control, &rect);
        POINT centre = {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
        if (command == L"tab-centre") {
            centre = {rect.left + kTabInset + kTabWidth * number + kTabWidth / 2,
                      rect.top + kTabInset + kTabHeight / 2};
        }
        Print(std::to_wstring(centre.x) + L" " + std::to_wstring(centre.y));
        return 0;
    }
    if (command == L"close" && argc == 2) {
        const HWND window = MainWindow();
        return window != nullptr && PostMessageW(window, WM_CLOSE, 0, 0) ? 0 : 1;
    }
    Print(L"usage: tidewell-probe.exe wait-window SECONDS | wait-status SECONDS switched|scanned | "
          L"status | title | centre ID | tab-centre N | close");
    return 2;
}
