#pragma once

// The machine around the program under test: seeding residues with tools/seeder, and reading
// back what a run changed or left (files, registry branches in either view, services,
// processes, the run log on the desktop and the backup folders under Documents).

#include "PrefixSupport.h"
#include "platform/win32/UniqueHandle.h"

#include <windows.h>

#include <shlobj.h>

#include <optional>
#include <set>
#include <string>
#include <vector>

namespace tidewell::e2e {

using prefix::BuildPath;
using prefix::Env;
using prefix::Fields;
using prefix::ReadBytes;
using prefix::RunSeeder;
using prefix::ScopedPendingRenames;
using prefix::SeederRun;
using prefix::SeedLock;
using prefix::ShellFolder;
using prefix::SplitLines;

// Seeds one product for the length of a test and clears it again at its end, however the test
// ends.
class SeededProduct {
public:
    explicit SeededProduct(const std::u16string& product);
    ~SeededProduct();
    SeededProduct(const SeededProduct&) = delete;
    SeededProduct& operator=(const SeededProduct&) = delete;
    const SeederRun& run() const { return run_; }

private:
    std::u16string product_;
    SeederRun run_;
};

// Files.
bool PathExists(const std::u16string& path);
// Names in a folder matching a pattern ("Tidewell日志_*.txt"), without "." and "..".
std::set<std::u16string> ListNames(const std::u16string& folder, const std::u16string& pattern);
// Every file and folder below a folder, as paths relative to it ("a", "a\b.txt").
std::set<std::u16string> ListTree(const std::u16string& folder);
void RemoveTree(const std::u16string& path);

// Registry.
struct RegistryPlace {
    HKEY root = nullptr;
    REGSAM view = 0;
    std::u16string rootName; // HKCU or HKLM
    std::u16string path;

    // As reg.exe names it in an export: "HKEY_CURRENT_USER\Software\X".
    std::u16string exportName() const;
};
// A registry item's location as the program shows it: "HKCU\Software\X [64位]".
std::optional<RegistryPlace> ParseRegistryLocation(const std::u16string& location);
bool KeyExists(const RegistryPlace& place);
// Every key below a key, as paths relative to it; empty when the key is missing.
std::set<std::u16string> ListKeys(HKEY root, REGSAM view, const std::u16string& path);
// Creates the key when it is missing.
bool WriteStringValue(HKEY root, REGSAM view, const std::u16string& path, const wchar_t* name,
                      const std::u16string& value);

// Services and processes.
// The service's current state (SERVICE_RUNNING ...), or nothing when it is not registered.
std::optional<DWORD> ServiceState(const std::u16string& name);
bool ProcessRunning(DWORD processId, const std::u16string& executableName);

// Text.
std::u16string DecodeUtf16Le(const std::string& bytes);

// The log files and backup folders that appear while a test runs; removed again at its end.
class RunOutputs {
public:
    RunOutputs();
    ~RunOutputs();
    RunOutputs(const RunOutputs&) = delete;
    RunOutputs& operator=(const RunOutputs&) = delete;

    std::u16string desktop() const { return desktop_; }
    std::u16string backupRoot() const { return backupRoot_; }
    std::vector<std::u16string> newLogs() const;          // full paths
    std::vector<std::u16string> newBackupFolders() const; // full paths

private:
    std::u16string desktop_;
    std::u16string backupRoot_;
    std::set<std::u16string> logsBefore_;
    std::set<std::u16string> foldersBefore_;
};

// A run log as WriteRunLog lays it out: BOM, title line, time line, empty line, body.
struct RunLogFile {
    std::u16string title;
    std::u16string timeLine;
    std::u16string body;
    std::string problem; // empty when the layout is right
};
RunLogFile ReadRunLog(const std::u16string& path);

// A .reg export as reg.exe writes it.
struct RegExport {
    bool hasBom = false;
    std::u16string header;  // the first line
    std::u16string keyLine; // the first "[...]" line
    std::u16string text;
};
RegExport ReadRegExport(const std::u16string& path);

} // namespace tidewell::e2e
