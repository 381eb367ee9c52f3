#pragma once

// Helpers of the hostile-input tests on the real system: seeding through the long-path form so
// that names Windows would otherwise normalise (trailing dots and blanks) and paths past 260
// units are kept as written; registry values stored byte for byte; links and their removal
// through the Linux side where Wine cannot make or undo them from Win32; snapshots of every
// place a run could reach; readers for the run log and the registry backups.
#include "../native/FakeWorkflowWindow.h"
#include "PrefixSupport.h"
#include "RemovalWin32Support.h"

#include "platform/win32/UniqueHandle.h"
#include "platform/win32/Win32Platform.h"
#include "support/Text.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace tidewell::hostile {

using removaltest::CreateKey;
using removaltest::DeleteKey;
using removaltest::Erase;
using removaltest::ExistsVerbatim;
using removaltest::IsLink;
using removaltest::Key;
using removaltest::KeyExists;
using removaltest::ListFolder;
using removaltest::MakeDirectoryLink;
using removaltest::Narrow;
using removaltest::ScopedPendingRenames;
using removaltest::Utf16FileText;
using removaltest::Verbatim;
using removaltest::VerbatimAttributes;
using removaltest::WaitFor;
using win32::AsWide;
using win32::FromWide;

// --- Files ---------------------------------------------------------------------------------------

inline void MakeFolder(const std::u16string& path) {
    if (!CreateDirectoryW(AsWide(Verbatim(path)), nullptr)) {
        const DWORD error = GetLastError();
        EXPECT_EQ(error, static_cast<DWORD>(ERROR_ALREADY_EXISTS)) << Narrow(path);
    }
}

// Creates the folder and every missing folder above it.
inline void MakeFolders(const std::u16string& path) {
    for (size_t at = path.find(u'\\', 3); at != std::u16string::npos;
         at = path.find(u'\\', at + 1)) {
        CreateDirectoryW(AsWide(Verbatim(path.substr(0, at))), nullptr);
    }
    MakeFolder(path);
}

inline void PutFile(const std::u16string& path, const std::string& contents = "hostile") {
    win32::UniqueFile file(CreateFileW(AsWide(Verbatim(path)), GENERIC_WRITE, 0, nullptr,
                                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file.valid()) << Narrow(path) << ": " << GetLastError();
    DWORD written = 0;
    WriteFile(file.get(), contents.data(), static_cast<DWORD>(contents.size()), &written, nullptr);
}

inline std::string ReadWhole(const std::u16string& path) {
    return removaltest::ReadBytes(Verbatim(path));
}

// --- Registry --------------------------------------------------------------------------------

// Stores `size` bytes of `bytes` as the value; the bytes after them stay in the source buffer,
// so that nothing zero follows the data there (Wine adds a terminator to string data when the
// unit after it happens to be zero).
inline LONG SetRawValue(const Key& key, const std::u16string& name, DWORD type,
                        const std::vector<uint8_t>& bytes, size_t size) {
    HKEY handle = nullptr;
    LONG status = RegOpenKeyExW(key.root, AsWide(key.path), 0, KEY_SET_VALUE | key.view, &handle);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    status = RegSetValueExW(handle, AsWide(name), 0, type, bytes.data(), static_cast<DWORD>(size));
    RegCloseKey(handle);
    return status;
}

// UTF-16 bytes of the text, then `padding` (what follows the data in the source buffer).
inline std::vector<uint8_t> TextBytes(const std::u16string& text, const std::string& padding) {
    std::vector<uint8_t> bytes;
    for (char16_t unit : text) {
        bytes.push_back(static_cast<uint8_t>(unit & 0xFF));
        bytes.push_back(static_cast<uint8_t>(unit >> 8));
    }
    bytes.insert(bytes.end(), padding.begin(), padding.end());
    return bytes;
}

inline LONG SetText(const Key& key, const std::u16string& name, const std::u16string& text) {
    const std::vector<uint8_t> bytes = TextBytes(text + u'\0', {});
    return SetRawValue(key, name, REG_SZ, bytes, bytes.size());
}

// --- Snapshots -------------------------------------------------------------------------------

// Folded full paths of files, folders and keys.
using Snapshot = std::set<std::u16string>;

// Every entry below the folder, reached verbatim; links are recorded, never entered.
inline void AddFiles(Snapshot& snapshot, const std::u16string& folder, bool recursive = true) {
    for (const auto& entry : ListFolder(folder)) {
        const std::u16string path = folder + u"\\" + entry.first;
        snapshot.insert(ToLower(path));
        if (recursive && (entry.second & FILE_ATTRIBUTE_DIRECTORY) && !IsLink(entry.second)) {
            AddFiles(snapshot, path);
        }
    }
}

// Both folded: whether `path` is `top` or lies below it.
inline bool Within(const std::u16string& path, const std::u16string& top) {
    return path == top || (path.size() > top.size() && path.compare(0, top.size(), top) == 0 &&
                           (top.back() == u'\\' || path[top.size()] == u'\\'));
}

// Whether the snapshot walks below a key: not into the class registrations and the 32-bit
// copy (most of the hive, which nothing of a run reaches), and below Software\Microsoft only
// along the way to the uninstall list. Everything else under Software is walked whole.
inline bool Walked(const std::u16string& lowerPath) {
    const std::u16string microsoft = u"software\\microsoft";
    const std::u16string uninstall = microsoft + u"\\windows\\currentversion\\uninstall";
    if (lowerPath == u"software\\classes" || lowerPath == u"software\\wow6432node") {
        return false;
    }
    if (!Within(lowerPath, microsoft)) {
        return true;
    }
    return Within(lowerPath, uninstall) || Within(uninstall, lowerPath);
}

// Keys as "hkcu\software\...", "hklm64\software\...", "hklm32\software\..."; every child of a
// walked key is recorded.
inline void AddKeys(Snapshot& snapshot, HKEY root, REGSAM view, const std::u16string& path,
                    const std::u16string& label) {
    HKEY handle = nullptr;
    if (RegOpenKeyExW(root, AsWide(path), 0, KEY_READ | view, &handle) != ERROR_SUCCESS) {
        return;
    }
    std::vector<std::u16string> names;
    // Some keys (the performance texts) fail every index and never say there are no more.
    int failuresInARow = 0;
    for (DWORD index = 0; failuresInARow < 16; ++index) {
        wchar_t name[512];
        DWORD length = 512;
        const LONG status =
            RegEnumKeyExW(handle, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) {
            break;
        }
        failuresInARow = status == ERROR_SUCCESS ? 0 : failuresInARow + 1;
        if (status == ERROR_SUCCESS) {
            names.push_back(FromWide(name, length));
        }
    }
    RegCloseKey(handle);
    for (const auto& name : names) {
        const std::u16string child = path + u"\\" + name;
        snapshot.insert(ToLower(label + u"\\" + child));
        if (Walked(ToLower(child))) {
            AddKeys(snapshot, root, view, child, label);
        }
    }
}

inline Snapshot RegistrySnapshot() {
    Snapshot snapshot;
    AddKeys(snapshot, HKEY_CURRENT_USER, KEY_WOW64_64KEY, u"Software", u"HKCU");
    AddKeys(snapshot, HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, u"Software", u"HKLM64");
    AddKeys(snapshot, HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, u"Software", u"HKLM32");
    return snapshot;
}

inline std::vector<std::u16string> Vanished(const Snapshot& before, const Snapshot& after) {
    std::vector<std::u16string> gone;
    for (const auto& path : before) {
        if (after.count(path) == 0) {
            gone.push_back(path);
        }
    }
    return gone;
}

// The snapshot label of a registry item's key.
inline std::u16string KeyLabel(RegistryRoot root, RegistryView view) {
    if (root == RegistryRoot::CurrentUser) {
        return u"HKCU";
    }
    return view == RegistryView::Bits64 ? u"HKLM64" : u"HKLM32";
}

// --- The run log and the backups -------------------------------------------------------------

struct LogEntry {
    bool success = false;
    std::u16string title;
    std::u16string location;
    std::u16string message;
};

struct RunLogText {
    bool found = false;
    std::u16string title;
    std::vector<std::u16string> processLines;
    std::vector<std::u16string> uninstallLines;
    std::vector<LogEntry> entries;
    std::vector<LogEntry> left; // "[保留]" entries of a one-click run: what it left, and why
    std::u16string backupFolder;
    std::vector<std::u16string> stray; // lines that fit no shape
};

inline bool TakePrefix(const std::u16string& line, const std::u16string& prefix,
                       std::u16string& rest) {
    if (line.compare(0, prefix.size(), prefix) != 0) {
        return false;
    }
    rest = line.substr(prefix.size());
    return true;
}

// Reads a run log: the title, the time line and an empty line, then the body. Item entries are
// three lines (mark and title, two blanks and the location, two blanks and the message); the
// last line names the backup folder.
inline RunLogText ReadRunLog(const std::u16string& path, const std::u16string& successMark,
                             const std::u16string& failureMark) {
    RunLogText log;
    const std::string bytes = ReadWhole(path);
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") != 0) {
        return log;
    }
    log.found = true;
    const std::u16string text = FromUtf8(bytes.substr(3));
    const std::vector<std::u16string> lines = prefix::SplitLines(text);
    if (lines.size() < 3 || lines[1].compare(0, 3, u"时间：") != 0 || !lines[2].empty()) {
        log.found = false;
        return log;
    }
    log.title = lines[0];
    for (size_t i = 3; i < lines.size(); ++i) {
        const std::u16string& line = lines[i];
        std::u16string rest;
        const bool success = TakePrefix(line, successMark, rest);
        if ((success || TakePrefix(line, failureMark, rest)) && i + 2 < lines.size() &&
            lines[i + 1].compare(0, 2, u"  ") == 0 && lines[i + 2].compare(0, 2, u"  ") == 0) {
            log.entries.push_back({success, rest, lines[i + 1].substr(2), lines[i + 2].substr(2)});
            i += 2;
        } else if (TakePrefix(line, u"[保留] ", rest) && i + 2 < lines.size() &&
                   lines[i + 1].compare(0, 2, u"  ") == 0 &&
                   lines[i + 2].compare(0, 2, u"  ") == 0) {
            log.left.push_back({false, rest, lines[i + 1].substr(2), lines[i + 2].substr(2)});
            i += 2;
        } else if (TakePrefix(line, u"[结束进程] ", rest)) {
            log.processLines.push_back(rest);
        } else if (TakePrefix(line, u"[卸载成功] ", rest) ||
                   TakePrefix(line, u"[卸载失败] ", rest)) {
            log.uninstallLines.push_back(line);
        } else if (TakePrefix(line, u"注册表备份：", rest)) {
            log.backupFolder = rest;
        } else if (!line.empty()) {
            log.stray.push_back(line);
        }
    }
    return log;
}

// The key headers of every .reg file in the folder, folded: "[hkey_local_machine\software\x]".
inline std::set<std::u16string> BackupHeaders(const std::u16string& folder) {
    std::set<std::u16string> headers;
    for (const auto& entry : ListFolder(folder)) {
        for (const auto& line : prefix::SplitLines(Utf16FileText(folder + u"\\" + entry.first))) {
            if (!line.empty() && line.front() == u'[' && line.back() == u']') {
                headers.insert(ToLower(line));
            }
        }
    }
    return headers;
}

// The header reg.exe writes for a key of the snapshot ("hkcu\software\x" and so on).
inline std::u16string HeaderOf(const std::u16string& snapshotKey) {
    const size_t separator = snapshotKey.find(u'\\');
    const std::u16string label = snapshotKey.substr(0, separator);
    const std::u16string root = label == u"hkcu" ? u"hkey_current_user" : u"hkey_local_machine";
    return u"[" + root + snapshotKey.substr(separator) + u"]";
}

// --- The program's surroundings --------------------------------------------------------------

// The real system, with the message boxes answered Yes and recorded instead of shown.
class AnsweringPlatform : public Win32Platform {
public:
    struct Box {
        std::u16string title;
        std::u16string text;
    };

    bool askYesNo(const std::u16string& text, const std::u16string& title, NoticeIcon,
                  bool) override {
        questions.push_back({title, text});
        return true;
    }
    void showNotice(const std::u16string& text, const std::u16string& title, NoticeIcon) override {
        notices.push_back({title, text});
    }

    // The path a final message ends with: the log file.
    std::u16string lastNoticePath() const {
        if (notices.empty()) {
            return {};
        }
        const std::u16string& text = notices.back().text;
        const size_t lineBreak = text.rfind(u"\r\n");
        return lineBreak == std::u16string::npos ? std::u16string() : text.substr(lineBreak + 2);
    }

    // Under Wine the shell runs elevated, as everything does, and its token is refused (the
    // token checks are tested on the fake): the per-user record's command runs all the same.
    ChildStart startAsShellUser(const std::u16string& application,
                                const std::u16string& commandLine, ChildScope scope) override {
        return startHidden(application, commandLine, scope);
    }

    std::vector<Box> questions;
    std::vector<Box> notices;
};

using prefix::ScopedVariable;

class ScopedCurrentFolder {
public:
    explicit ScopedCurrentFolder(const std::u16string& folder) {
        wchar_t old[MAX_PATH] = {};
        old_ = FromWide(old, GetCurrentDirectoryW(MAX_PATH, old));
        SetCurrentDirectoryW(AsWide(folder));
    }
    ~ScopedCurrentFolder() { SetCurrentDirectoryW(AsWide(old_)); }
    ScopedCurrentFolder(const ScopedCurrentFolder&) = delete;
    ScopedCurrentFolder& operator=(const ScopedCurrentFolder&) = delete;

private:
    std::u16string old_;
};

using prefix::SeedLock;

} // namespace tidewell::hostile
