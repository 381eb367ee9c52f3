// The Windows side of scripts/bench.sh: seeds the registry of the heavy machine, and measures
// the scan against its floor, one tree removal, a child command, and the result tree.
//
//   tidewell-bench paths
//   tidewell-bench seed-registry FIRST COUNT
//   tidewell-bench scan REPETITIONS
//   tidewell-bench remove PATH
//   tidewell-bench run REPETITIONS COMMAND-LINE
//   tidewell-bench tree ITEMS REPETITIONS

#include "BenchSupport.h"
#include "ScanFloor.h"

#include "app/MainWindow.h"
#include "app/ResultTreeRules.h"
#include "catalogue/ScanCollector.h"
#include "clean/FileRemoval.h"
#include "platform/win32/Wide.h"
#include "platform/win32/Win32Platform.h"
#include "support/Text.h"

#include <windows.h>

#include <commctrl.h>
#include <shlobj.h>

#include <cstdio>
#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

namespace tidewell::bench {

namespace {

std::string Utf8(const std::wstring& text) {
    return ToUtf8(std::u16string(text.begin(), text.end()));
}

std::string Number(size_t value) {
    return std::to_string(value);
}

std::wstring Environment(const wchar_t* name) {
    wchar_t value[1024];
    const DWORD length = GetEnvironmentVariableW(name, value, 1024);
    return length > 0 && length < 1024 ? std::wstring(value, length) : std::wstring();
}

std::wstring ShellFolder(int folder) {
    wchar_t path[MAX_PATH] = {};
    return SUCCEEDED(SHGetFolderPathW(nullptr, folder, nullptr, SHGFP_TYPE_CURRENT, path))
               ? std::wstring(path)
               : std::wstring();
}

// Where the heavy machine's files go; the script creates them from the Linux side.
int Paths() {
    Report("temp", Utf8(Environment(L"TEMP")));
    Report("program_files", Utf8(Environment(L"ProgramW6432")));
    Report("program_files_x86", Utf8(Environment(L"ProgramFiles(x86)")));
    Report("program_data", Utf8(Environment(L"ProgramData")));
    Report("local_app_data", Utf8(ShellFolder(CSIDL_LOCAL_APPDATA)));
    Report("roaming_app_data", Utf8(ShellFolder(CSIDL_APPDATA)));
    return 0;
}

bool SetText(HKEY key, const wchar_t* name, const std::wstring& text) {
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

// Uninstall records FIRST .. FIRST+COUNT-1 under HKLM in both views and under HKCU (which both
// views share): one in a hundred is an AutoCAD record, the rest other software. Also the two
// AutoCAD branches, so that the scan finds them.
int SeedRegistry(unsigned first, unsigned count) {
    struct Target {
        HKEY root;
        REGSAM view;
    };
    const Target targets[] = {{HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY},
                              {HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY},
                              {HKEY_CURRENT_USER, KEY_WOW64_64KEY}};
    for (const Target& target : targets) {
        HKEY branch = nullptr;
        if (RegCreateKeyExW(target.root, L"Software\\Autodesk\\AutoCAD\\R24.3", 0, nullptr, 0,
                            KEY_WRITE | target.view, nullptr, &branch, nullptr) != ERROR_SUCCESS) {
            std::fprintf(stderr, "seed-registry: cannot create the AutoCAD branch\n");
            return 1;
        }
        RegCloseKey(branch);
        HKEY list = nullptr;
        if (RegCreateKeyExW(target.root, L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
                            0, nullptr, 0, KEY_WRITE | target.view, nullptr, &list,
                            nullptr) != ERROR_SUCCESS) {
            std::fprintf(stderr, "seed-registry: cannot open the uninstall list\n");
            return 1;
        }
        for (unsigned index = first; index < first + count; ++index) {
            wchar_t name[64];
            std::swprintf(name, 64, L"{BE7C%04X-0000-4000-8000-%012X}", index % 0x10000, index);
            HKEY record = nullptr;
            if (RegCreateKeyExW(list, name, 0, nullptr, 0, KEY_WRITE | target.view, nullptr,
                                &record, nullptr) != ERROR_SUCCESS) {
                std::fprintf(stderr, "seed-registry: cannot create record %u\n", index);
                RegCloseKey(list);
                return 1;
            }
            const bool autocad = index % 100 == 7;
            const std::wstring number = std::to_wstring(index);
            const std::wstring displayName = autocad ? L"AutoCAD 2024 Language Pack " + number
                                                     : L"Contoso Utility Suite " + number;
            bool written =
                SetText(record, L"DisplayName", displayName) &&
                SetText(record, L"DisplayVersion", L"24.3." + number) &&
                SetText(record, L"Publisher", autocad ? L"Autodesk" : L"Contoso") &&
                SetText(record, L"UninstallString", std::wstring(L"MsiExec.exe /X") + name);
            if (index % 3 == 0) {
                written = written && SetText(record, L"QuietUninstallString",
                                             std::wstring(L"MsiExec.exe /qn /X") + name);
            }
            RegCloseKey(record);
            if (!written) {
                std::fprintf(stderr, "seed-registry: cannot write record %u\n", index);
                RegCloseKey(list);
                return 1;
            }
        }
        RegCloseKey(list);
    }
    return 0;
}

// The real scan and its floor, alternately, so that both meet the same caches.
int Scan(int repetitions) {
    Win32Platform platform;
    std::vector<double> floorTimes;
    std::vector<double> scanTimes;
    FloorCounts counts;
    size_t items = 0;
    uint64_t longestGap = 0; // between two looks at the window's queue, over every scan
    for (int repetition = 0; repetition < repetitions; ++repetition) {
        Stopwatch floorClock;
        counts = ScanFloor();
        floorTimes.push_back(floorClock.milliseconds());

        Stopwatch scanClock;
        platform.resetQueueGap();
        ScanCollector collector(platform, ProductKind::AutoCAD);
        const ItemList found = collector.collect();
        scanTimes.push_back(scanClock.milliseconds());
        longestGap = std::max(longestGap, platform.longestQueueGap());
        items = found.size();
        Note("scan " + std::to_string(repetition + 1) + ": floor " +
             std::to_string(floorTimes.back()) + " ms, Tidewell " +
             std::to_string(scanTimes.back()) + " ms");
    }
    // Where the time goes, scanner by scanner, once.
    {
        const char* const parts[] = {"processes", "services", "folders", "registry"};
        void (*const floorParts[])(FloorCounts&) = {FloorProcesses, FloorServices, FloorFolders,
                                                    FloorRegistry};
        ScanCollector collector(platform, ProductKind::AutoCAD);
        void (ScanCollector::*const scanParts[])() = {
            &ScanCollector::scanProcesses, &ScanCollector::scanServices,
            &ScanCollector::scanFolders, &ScanCollector::scanRegistry};
        for (int part = 0; part < 4; ++part) {
            FloorCounts ignored;
            Stopwatch floorClock;
            floorParts[part](ignored);
            const double floorTime = floorClock.milliseconds();
            Stopwatch scanClock;
            (collector.*scanParts[part])();
            Note(std::string(parts[part]) + ": floor " + std::to_string(floorTime) +
                 " ms, Tidewell " + std::to_string(scanClock.milliseconds()) + " ms");
        }
    }
    Report("scan_floor_ms", Median(floorTimes));
    Report("scan_tidewell_ms", Median(scanTimes));
    Report("scan_items", Number(items));
    Report("scan_longest_queue_gap_ms", Number(longestGap));
    Report("floor_items", Number(counts.items()));
    Report("temp_entries", Number(counts.tempEntries));
    Report("vendor_entries", Number(counts.vendorEntries));
    Report("records", Number(counts.records));
    return items == counts.items() ? 0 : 1;
}

int Remove(const std::wstring& path) {
    Win32Platform platform;
    Stopwatch clock;
    platform.resetQueueGap();
    const ActionResult result =
        RemoveDirectoryTree(platform, std::u16string(path.begin(), path.end()));
    Report("remove_ms", clock.milliseconds());
    Report("remove_longest_queue_gap_ms", Number(platform.longestQueueGap()));
    Report("remove_message", ToUtf8(result.message));
    return result.success && !result.rebootPending ? 0 : 1;
}

// Starts the command line and waits for it; the median time from start to exit.
int Run(int repetitions, const std::wstring& commandLine) {
    std::vector<double> times;
    for (int repetition = 0; repetition < repetitions; ++repetition) {
        std::wstring text = commandLine;
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION process = {};
        Stopwatch clock;
        if (!CreateProcessW(nullptr, &text[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                            nullptr, &startup, &process)) {
            std::fprintf(stderr, "run: cannot start the command (%lu)\n", GetLastError());
            return 1;
        }
        WaitForSingleObject(process.hProcess, INFINITE);
        times.push_back(clock.milliseconds());
        DWORD exitCode = 0;
        GetExitCodeProcess(process.hProcess, &exitCode);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        if (exitCode != 0) {
            std::fprintf(stderr, "run: the command exited with %lu\n", exitCode);
            return 1;
        }
    }
    Report("run_ms", Median(times));
    return 0;
}

void PumpQueued() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message != WM_QUIT) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

// The real main window, shown, with its tree rebuilt from `count` items several times.
int Tree(size_t count, int repetitions) {
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS |
                                                           ICC_TREEVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    if (RegisterMainWindowClass(instance, nullptr, nullptr) == 0) {
        std::fprintf(stderr, "tree: cannot register the window class\n");
        return 1;
    }
    Win32Platform platform;
    MainWindow app(instance, platform);
    const HWND window = CreateMainWindow(app);
    if (window == nullptr) {
        std::fprintf(stderr, "tree: cannot create the main window\n");
        return 1;
    }
    platform.setOwnerWindow(window);
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);
    PumpQueued();

    std::vector<double> buildTimes;
    std::vector<double> paintTimes;
    std::vector<double> emptyTimes;
    size_t nodes = 0;
    uint64_t longestTreeGap = 0;
    for (int repetition = 0; repetition < repetitions; ++repetition) {
        // As a scan run does: the tree lets go of the old items before they are replaced.
        Stopwatch emptyClock;
        app.emptyTree();
        emptyTimes.push_back(emptyClock.milliseconds());
        app.items = SyntheticItems(count);
        PumpQueued();

        Stopwatch buildClock;
        platform.resetQueueGap();
        app.populateTree();
        buildTimes.push_back(buildClock.milliseconds());
        longestTreeGap = std::max(longestTreeGap, platform.longestQueueGap());
        Stopwatch paintClock;
        UpdateWindow(window);
        paintTimes.push_back(paintClock.milliseconds());
        PumpQueued();
        nodes = static_cast<size_t>(SendMessageW(app.resultTree, TVM_GETCOUNT, 0, 0));
        Note("tree " + std::to_string(count) + " items, " + std::to_string(repetition + 1) +
             ": build " + std::to_string(buildTimes.back()) + " ms, paint " +
             std::to_string(paintTimes.back()) + " ms, empty " + std::to_string(emptyTimes.back()) +
             " ms");
    }
    // The tree must hold what the plan says: one node per planned node, one checked leaf per
    // item checked by default.
    const size_t checked = app.checkedItems().size();
    const size_t planned = PlanResultTree(app.items, app.product).size();
    const size_t preChecked = static_cast<size_t>(
        std::count_if(app.items.begin(), app.items.end(), [](const auto& item) {
            return item->checked;
        }));
    Report("tree_build_ms", Median(buildTimes));
    Report("tree_paint_ms", Median(paintTimes));
    Report("tree_empty_ms", Median(emptyTimes));
    Report("tree_nodes", Number(nodes));
    Report("tree_longest_queue_gap_ms", Number(longestTreeGap));
    Report("tree_checked", Number(checked));
    Report("tree_planned_nodes", Number(planned));
    Report("tree_prechecked", Number(preChecked));
    DestroyWindow(window);
    PumpQueued();
    return nodes == planned && checked == preChecked ? 0 : 1;
}

int Usage() {
    std::fprintf(stderr, "usage: tidewell-bench paths | seed-registry FIRST COUNT | scan REPS | "
                         "remove PATH | run REPS COMMAND-LINE | tree ITEMS REPS\n");
    return 2;
}

} // namespace

} // namespace tidewell::bench

int wmain(int argc, wchar_t** argv) {
    using namespace tidewell::bench;
    if (argc < 2) {
        return Usage();
    }
    const std::wstring command = argv[1];
    if (command == L"paths" && argc == 2) {
        return Paths();
    }
    if (command == L"seed-registry" && argc == 4) {
        return SeedRegistry(static_cast<unsigned>(_wtoi(argv[2])),
                            static_cast<unsigned>(_wtoi(argv[3])));
    }
    if (command == L"scan" && argc == 3) {
        return Scan(_wtoi(argv[2]));
    }
    if (command == L"remove" && argc == 3) {
        return Remove(argv[2]);
    }
    if (command == L"run" && argc == 4) {
        return Run(_wtoi(argv[2]), argv[3]);
    }
    if (command == L"tree" && argc == 4) {
        return Tree(static_cast<size_t>(_wtoi(argv[2])), _wtoi(argv[3]));
    }
    return Usage();
}
