#pragma once

// Runs the scan and the two cleaning workflows on a machine with residues of all three products
// while one platform call fails with a code Windows gives for it, and checks what must hold
// whatever fails: nothing deleted from the registry without a backup, every processed item in
// the log and the summary, nothing touched outside the processed items.

#include "CatalogueMachine.h"
#include "FakeWorkflowWindow.h"

#include "clean/ProcessAndService.h"
#include "platform/SystemCodes.h"
#include "platform/fake/FakePlatform.h"
#include "platform/fake/FakeRegExport.h"
#include "support/RegFile.h"
#include "support/Text.h"
#include "uninstall/SilentUninstall.h"

#include <gtest/gtest.h>

#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace tidewell::fault_test {

using namespace catalogue_test;

const std::u16string kDocuments = u"C:\\Users\\lin\\Documents";
const std::u16string kDesktop = u"C:\\Users\\lin\\Desktop";
const std::u16string kStamp = u"20250307_091733";
const std::u16string kLogName = u"Tidewell日志_20250307_091733.txt";
const std::u16string kRegTool = u"C:\\Windows\\System32\\reg.exe";
const std::u16string kSystemMsiexec = u"\"C:\\Windows\\System32\\msiexec.exe\"";
// Folders outside every residue, reached from inside residue folders by directory links.
const std::u16string kProjects = u"C:\\Users\\lin\\Documents\\Projects";

// One platform call and the codes Windows gives when it fails.
struct FaultCase {
    FakeCall call;
    const char* name;
    std::vector<uint32_t> codes;
    bool oracleOnly = false; // only Oracle's scan finds environment values
};

inline const std::vector<FaultCase>& FaultCases() {
    static const std::vector<FaultCase> cases = {
        {FakeCall::FileAttributes, "FileAttributes", {2, 3, 5, 32, 87}},
        {FakeCall::ListDirectory, "ListDirectory", {2, 3, 5}},
        {FakeCall::SetFileAttributes, "SetFileAttributes", {2, 3, 5, 32, 87}},
        {FakeCall::DeleteFile, "DeleteFile", {2, 3, 5, 32, 87}},
        {FakeCall::RemoveDirectory, "RemoveDirectory", {2, 3, 5, 32, 145}},
        {FakeCall::DeleteAtRestart, "DeleteAtRestart", {2, 3, 5, 87}},
        {FakeCall::CreateDirectory, "CreateDirectory", {3, 5, 87, 183}},
        {FakeCall::WriteFile, "WriteFile", {3, 5, 32, 1460}},
        {FakeCall::FinalPath, "FinalPath", {2, 3, 5}},
        {FakeCall::AppendFile, "AppendFile", {5, 32, 112}},
        {FakeCall::ReadFile, "ReadFile", {2, 5, 32}},
        {FakeCall::EnvironmentVariable, "EnvironmentVariable", {203}},
        {FakeCall::ShellFolder, "ShellFolder", {5}},
        {FakeCall::WindowsDirectory, "WindowsDirectory", {5}},
        {FakeCall::SystemMessage, "SystemMessage", {317}},
        {FakeCall::OpenKeyForRead, "OpenKeyForRead", {2, 5}},
        {FakeCall::ListSubkeys, "ListSubkeys", {2, 5}},
        {FakeCall::ReadValues, "ReadValues", {2, 5}},
        {FakeCall::ListValues, "ListValues", {2, 5}},
        {FakeCall::DeleteTree, "DeleteTree", {2, 5}},
        {FakeCall::WriteValue, "WriteValue", {2, 5}, true},
        {FakeCall::DeleteValue, "DeleteValue", {2, 5}, true},
        {FakeCall::AnnounceEnvironmentChange, "AnnounceEnvironmentChange", {1460}, true},
        {FakeCall::ListProcesses, "ListProcesses", {5, 8}},
        {FakeCall::TerminateProcess, "TerminateProcess", {5, 87}},
        {FakeCall::ListServices, "ListServices", {5, 8}},
        {FakeCall::OpenServiceManager, "OpenServiceManager", {5, 1060, 1065}},
        {FakeCall::StopService, "StopService", {5, 1051, 1060, 1061}},
        {FakeCall::StartHidden, "StartHidden", {2, 3, 5, 193, 740}},
        {FakeCall::WaitForChild, "WaitForChild", {5, 6, 1460}},
    };
    return cases;
}

// A path as the machine resolves it: relative ones against its current folder, C:\.
inline std::u16string Absolute(const std::u16string& path) {
    return path.size() >= 2 && path[1] == u':' ? path : JoinPath(u"C:\\", path);
}

// Whether path is the location itself or lies below it.
inline bool Within(const std::u16string& path, const std::u16string& location) {
    if (location.empty()) {
        return false;
    }
    const std::u16string folded = ToLower(path);
    const std::u16string base = ToLower(location);
    return folded == base ||
           (folded.size() > base.size() && folded.compare(0, base.size(), base) == 0 &&
            (base.back() == u'\\' || folded[base.size()] == u'\\'));
}

// The uninstall records the machine holds for the one-click runs, by the command each carries.
struct Uninstaller {
    RegistryRoot root;
    RegistryView view;
    std::u16string subkey;
    std::u16string programFile; // what the uninstaller removes besides its record
};

// The run of one export child, as the harness saw it.
struct ExportRun {
    std::u16string key;        // HKLM\... or HKCU\...
    std::u16string viewSwitch; // /reg:64 or /reg:32
    std::u16string file;
    size_t startedAt = 0; // journal size when it started
    bool ended = false;   // its wait said it exited
    size_t endedAt = 0;   // journal size when it ended
    uint32_t exitCode = 1;
};

// The window of the workflows, keeping copies of what they were handed.
class RecordingWindow : public FakeWorkflowWindow {
public:
    explicit RecordingWindow(Platform& platform) : FakeWorkflowWindow(platform) {
        scan.showItems = [this] {
            ++scansShown;
            std::vector<ResidueItem> copy;
            for (const auto& item : scan.items) {
                copy.push_back(*item);
            }
            shownScans.push_back(copy);
        };
    }

    std::vector<ResidueItem*> checkedItems() override {
        std::vector<ResidueItem*> selected = FakeWorkflowWindow::checkedItems();
        for (const ResidueItem* item : selected) {
            handedOut.push_back(*item);
        }
        return selected;
    }

    std::vector<ResidueItem> handedOut;               // the selection, in the order given
    std::vector<std::vector<ResidueItem>> shownScans; // the items of every scan shown
};

// A machine with residues of every product, the registry tool, and uninstallers that succeed
// and take their records (and their main program file) with them.
class FaultMachine {
public:
    explicit FaultMachine(ProductKind product) {
        SeedAllProducts(machine);
        machine.setShellFolderPath(ShellFolder::Documents, kDocuments);
        machine.setShellFolderPath(ShellFolder::Desktop, kDesktop);
        machine.addDirectory(kDocuments);
        machine.addDirectory(kDesktop);
        machine.setWindowsDirectory(u"C:\\Windows");
        machine.addFile(kRegTool);
        machine.addFile(u"C:\\Windows\\System32\\msiexec.exe");
        machine.setLocalTime({2025, 3, 7, 9, 17, 33});

        // Folders with content, read-only files, nested branches.
        machine.addFile(kProgramFiles + u"\\Autodesk\\AutoCAD 2024\\Support\\acad.cuix", "x",
                        codes::kAttributeReadOnly);
        machine.addFile(kProgramData + u"\\Autodesk\\AutoCAD 2024\\R24.3\\chs\\Plotters\\a.pc3");
        machine.addFile(kLocal + u"\\SOLIDWORKS\\SOLIDWORKS 2023\\swxJRNL.swj");
        machine.addFile(kRoaming + u"\\SOLIDWORKS\\swx.cfg", "x", codes::kAttributeHidden);
        machine.addFile(kRoaming + u"\\Oracle\\SQL Developer\\product.conf", "x",
                        codes::kAttributeReadOnly);
        machine.addFile(kLocal + u"\\Oracle\\cache\\c.dat");
        machine.addFile(kTemp + u"\\XSolidWorksTmp\\x.tmp");
        machine.addFile(kTemp + u"\\OraInstall2024-05-06_10-11-12AM\\oui.log");
        machine.addKey(kHKCU, k64, u"Software\\Autodesk\\AutoCAD\\R24.3\\ACAD-7101:804\\Profiles");
        machine.addKey(kHKLM, k64, u"Software\\SolidWorks\\SOLIDWORKS 2023\\Security");
        machine.addKey(kHKLM, k64, u"Software\\Oracle\\KEY_OraDB19Home1\\ODP.NET");

        // Files held open (deletion at restart) and processes of another user (refused with 5),
        // so that the failure paths and their messages are reached too.
        machine.lockFile(kProgramData + u"\\Autodesk\\AutoCAD 2024\\R24.3\\chs\\acad.cfg");
        machine.lockFile(kLocal + u"\\SOLIDWORKS\\SOLIDWORKS 2023\\swxJRNL.swj");
        machine.lockFile(kLocal + u"\\Oracle\\cache\\c.dat");
        machine.addProcess(4400, u"acadlt.exe");
        machine.protectProcess(4400, codes::kAccessDenied);
        machine.protectProcess(5120, codes::kAccessDenied);
        machine.protectProcess(6002, codes::kAccessDenied);
        machine.protectProcess(7002, codes::kAccessDenied);

        // Links inside residue folders to folders that are not residues.
        machine.addFile(kProjects + u"\\plan.dwg");
        machine.addFile(kProjects + u"\\part.sldprt");
        machine.addDirectoryLink(kRoaming + u"\\Autodesk\\AutoCAD 2024\\Projects", kProjects);
        machine.addDirectoryLink(kLocal + u"\\SOLIDWORKS\\Projects", kProjects);
        machine.addDirectoryLink(kLocal + u"\\Oracle\\Projects", kProjects);

        // Oracle's environment: a value and a Path entry into a removed home, beside what stays.
        machine.setStringValue(kHKLM, k64, kMachineEnvironment, u"ORACLE_HOME",
                               u"C:\\app\\gone\\product\\12.2.0\\client_1");
        machine.setStringValue(
            kHKCU, k64, u"Environment", u"Path",
            u"%USERPROFILE%\\bin;C:\\app\\gone\\product\\12.2.0\\client_1\\bin;C:\\Tools",
            codes::kRegExpandSz);

        // Every product record has a command, so each product reaches its residue removal.
        machine.setStringValue(
            kHKLM, k32, kUninstall + u"\\OraClient19Home1_32bit", u"UninstallString",
            u"C:\\app\\client\\product\\19.0.0\\client_1\\deinstall\\deinstall.exe");
        addUninstaller(
            u"\"C:\\ProgramData\\Package Cache\\acad\\test-uninstaller.exe\" --exit-code 0", kHKLM,
            k64, u"{28B89EEF-6101-0409-2102-CF3F3A09B77D}",
            kProgramFiles + u"\\Autodesk\\AutoCAD 2024\\acad.exe");
        addUninstaller(kSystemMsiexec + u" /X{0D5A8F2B-2F2A-4E4A-9D2C-0A4B8C5E6F70} /qn /norestart",
                       kHKLM, k32, u"AutoCAD Performance Feedback Tool", {});
        // Its REG_EXPAND_SZ command runs with %ProgramData% expanded.
        addUninstaller(kProgramData + u"\\Package Cache\\langpack\\test-uninstaller.exe", kHKCU,
                       k64, u"AutoCAD 2024 Language Pack", {});
        addUninstaller(u"\"C:\\Program Files\\Common Files\\SOLIDWORKS Installation "
                       u"Manager\\sldIM.exe\" /uninstall",
                       kHKLM, k64, u"{B3DA8D13-2023-0500-0000-6E3A7C2E9F10}",
                       kProgramFiles + u"\\SOLIDWORKS Corp\\SOLIDWORKS\\SLDWORKS.exe");
        addUninstaller(kSystemMsiexec + u" /X{0F6C4E1A-2023-0000-0000-7D9A1B3C5E70} /qn /norestart",
                       kHKLM, k32, u"{0F6C4E1A-2023-0000-0000-7D9A1B3C5E70}", {});
        addUninstaller(u"C:\\app\\lin\\product\\19.0.0\\dbhome_1\\deinstall\\deinstall.bat", kHKLM,
                       k64, u"Oracle_OraDB19Home1", kOracleHome + u"\\bin\\oracle.exe");
        addUninstaller(u"C:\\app\\client\\product\\19.0.0\\client_1\\deinstall\\deinstall.exe",
                       kHKLM, k32, u"OraClient19Home1_32bit", {});
        addUninstaller(u"C:\\sqldeveloper\\remove.exe", kHKCU, k64, u"SQL Developer 23.1", {});

        installExportWatch();
        window.scan.product = product;
    }

    // The scan the user ran before pressing a workflow's button, then a clean slate of records.
    void scanFirst() {
        window.scan.runScan();
        window.shownScans.clear();
        window.scansShown = 0;
        machine.journal.clear();
        machine.childCommandLines.clear();
        machine.messages.clear();
        exports.clear();
        uninstallerChanges.clear();
    }

    void inject(const FaultCase& fault, uint32_t code, int times) {
        machine.failCall(fault.call, code, {}, times);
        faultsBefore = machine.injectedFailures;
    }

    int faultsInjected() const { return machine.injectedFailures - faultsBefore; }

    std::u16string backupFolder() const {
        return JoinPath(JoinPath(kDocuments, u"TidewellBackup"), kStamp);
    }
    // Where the backup folder and the log go when the shell cannot name the user's folders:
    // relative paths, which the machine resolves against its current folder.
    std::u16string relativeBackupFolder() const { return u"C:\\TidewellBackup\\" + kStamp; }

    std::optional<std::u16string> logText() const {
        for (const std::u16string& folder : {kDesktop, std::u16string(u"C:\\")}) {
            const auto bytes = machine.fileContents(JoinPath(folder, kLogName));
            if (bytes) {
                return FromUtf8(bytes->substr(3));
            }
        }
        return std::nullopt;
    }

    FakePlatform machine;
    RecordingWindow window{machine};
    std::map<std::u16string, Uninstaller> uninstallers; // by the command line that runs
    std::vector<std::shared_ptr<ExportRun>> exports;
    std::set<size_t> uninstallerChanges; // journal positions the uninstallers wrote
    int faultsBefore = 0;

private:
    void addUninstaller(const std::u16string& command, RegistryRoot root, RegistryView view,
                        const std::u16string& subkey, const std::u16string& programFile) {
        uninstallers[command] = {root, view, subkey, programFile};
    }

    FakeChildBehaviour runUninstaller(const std::u16string& commandLine) {
        FakeChildBehaviour behaviour;
        const auto found = uninstallers.find(commandLine);
        if (found == uninstallers.end()) {
            behaviour.startError = codes::kFileNotFound;
            return behaviour;
        }
        const Uninstaller target = found->second;
        const std::u16string record = kUninstall + u"\\" + target.subkey;
        behaviour.runMilliseconds = 30000;
        // A product already gone (its record shared by both views, say) says so.
        behaviour.exitCode = machine.keyExists(target.root, target.view, record)
                                 ? codes::kSuccess
                                 : codes::kUnknownProduct;
        behaviour.sideEffect = [this, target] {
            const size_t before = machine.journal.size();
            machine.deleteTree(target.root, target.view, kUninstall, target.subkey);
            if (!target.programFile.empty()) {
                machine.deleteFile(target.programFile);
            }
            for (size_t i = before; i < machine.journal.size(); ++i) {
                uninstallerChanges.insert(i);
            }
        };
        return behaviour;
    }

    // Wraps the child handler so that every export child's start and end are recorded. The
    // fake tool writes its file when it ends and exits 0 whether the write worked or not; the
    // real one writes while it runs and exits 1 when it cannot. So the file is written here, at
    // the start, and a failed write makes the exit code 1.
    void installExportWatch() {
        FakeChildHandler inner = FakeRegExport(machine, [this](const std::u16string& commandLine) {
            return runUninstaller(commandLine);
        });
        machine.onChild([this, inner](const std::u16string& commandLine) {
            const size_t before = machine.journal.size();
            FakeChildBehaviour behaviour = inner(commandLine);
            const std::vector<std::u16string> arguments = SplitCommandLine(commandLine);
            if (arguments.size() < 6 || ToLower(arguments[1]) != u"export" ||
                behaviour.startError != 0) {
                return behaviour;
            }
            auto run = std::make_shared<ExportRun>();
            run->key = arguments[2];
            run->file = arguments[3];
            run->viewSwitch = ToLower(arguments[5]);
            run->startedAt = before;
            if (behaviour.sideEffect) {
                behaviour.sideEffect();
                const bool written =
                    machine.journal.size() > before &&
                    ToLower(machine.journal.back()) == ToLower(u"writeFile " + Absolute(run->file));
                behaviour.exitCode = written ? behaviour.exitCode : 1;
            }
            run->exitCode = behaviour.exitCode;
            exports.push_back(run);
            behaviour.sideEffect = [this, run] {
                run->ended = true;
                run->endedAt = machine.journal.size();
            };
            return behaviour;
        });
    }
};

// --- Checks -----------------------------------------------------------------------------------

inline std::u16string JournalPath(const std::u16string& change) {
    return change.substr(change.find(u' ') + 1);
}

inline std::u16string RegistryLocation(const ResidueItem& item) {
    return rootPrefix(item.registryRoot) + item.registryPath + viewSuffix(item.registryView);
}

// The branch an export names, as the journal writes deletions: "HKLM\\Software\\X [32位]". A
// 64-bit export of Software\\WOW6432Node\\... is the 32-bit view's branch.
inline std::u16string ExportedBranch(const std::u16string& key, const std::u16string& viewSwitch) {
    const std::u16string node = u"hklm\\software\\wow6432node\\";
    const bool bits64 = ToLower(viewSwitch) == u"/reg:64";
    if (bits64 && ToLower(key).rfind(node, 0) == 0) {
        return key.substr(0, 14) + key.substr(node.size()) + u" [32位]";
    }
    return key + (bits64 ? u" [64位]" : u" [32位]");
}

inline bool IsRegistryKind(ItemKind kind) {
    return kind == ItemKind::RegistryKey || kind == ItemKind::InstallRecord;
}

// Every branch deletion that is not an uninstaller's own was preceded by an export of that
// branch, in its view, that ended with 0 and wrote its file.
inline ::testing::AssertionResult EveryDeletionWasBackedUp(const FaultMachine& run) {
    const auto& journal = run.machine.journal;
    for (size_t i = 0; i < journal.size(); ++i) {
        if (journal[i].rfind(u"deleteTree ", 0) != 0 || run.uninstallerChanges.count(i) != 0) {
            continue;
        }
        const std::u16string deleted = JournalPath(journal[i]);
        bool backedUp = false;
        for (const auto& exported : run.exports) {
            if (ToLower(ExportedBranch(exported->key, exported->viewSwitch)) != ToLower(deleted) ||
                exported->startedAt > i || !exported->ended || exported->endedAt > i ||
                exported->exitCode != 0) {
                continue;
            }
            // The tool's file, written between its start and the deletion, and still there.
            bool written = false;
            for (size_t w = exported->startedAt; w < i; ++w) {
                written = written ||
                          ToLower(journal[w]) == ToLower(u"writeFile " + Absolute(exported->file));
            }
            backedUp = backedUp || (written && run.machine.exists(exported->file));
        }
        if (!backedUp) {
            return ::testing::AssertionFailure()
                   << "deleted without a finished export: " << ToUtf8(journal[i]);
        }
    }
    return ::testing::AssertionSuccess();
}

// An environment value as the journal names its changes: "HKCU\\Environment\\Path".
inline std::u16string EnvironmentValuePath(const ResidueItem& item) {
    return rootPrefix(item.registryRoot) + item.registryPath + u"\\" + item.valueName;
}

// Every change of an environment value was preceded, since the value's previous change, by a
// backup file in the backup folder that is still there and holds that value.
inline ::testing::AssertionResult EveryValueChangeWasBackedUp(const FaultMachine& run) {
    const auto& journal = run.machine.journal;
    size_t since = 0;
    for (size_t i = 0; i < journal.size(); ++i) {
        if (journal[i].rfind(u"writeValue ", 0) != 0 && journal[i].rfind(u"deleteValue ", 0) != 0) {
            continue;
        }
        const std::u16string changed = JournalPath(journal[i]);
        const std::u16string key = changed.substr(0, changed.rfind(u'\\'));
        const std::u16string name = changed.substr(changed.rfind(u'\\') + 1);
        bool backedUp = false;
        for (size_t w = since; w < i && !backedUp; ++w) {
            const std::u16string written = JournalPath(journal[w]);
            if (journal[w].rfind(u"writeFile ", 0) != 0 ||
                !(Within(written, run.backupFolder()) ||
                  Within(written, run.relativeBackupFolder()))) {
                continue;
            }
            const std::optional<std::string> bytes = run.machine.fileContents(written);
            const RegFile file = bytes ? ParseRegFile(*bytes) : RegFile{};
            for (const RegFileKey& section : file.keys) {
                const bool sameKey =
                    ToLower(section.name).find(ToLower(key.substr(5))) != std::u16string::npos;
                for (const RegFileValue& value : section.values) {
                    backedUp = backedUp || (sameKey && ToLower(value.name) == ToLower(name));
                }
            }
        }
        if (!backedUp) {
            return ::testing::AssertionFailure()
                   << "changed without a backup: " << ToUtf8(journal[i]);
        }
        since = i + 1;
    }
    return ::testing::AssertionSuccess();
}

// Every change is inside a processed item, the backup folder, the log, or an uninstaller's
// own doing.
inline ::testing::AssertionResult
NothingOutsideTouched(const FaultMachine& run, const std::vector<ResidueItem>& processed,
                      const std::vector<std::u16string>& uninstallCommands,
                      bool relativeFoldersAllowed) {
    std::vector<std::u16string> backupFolders{run.backupFolder()};
    std::vector<std::u16string> logs{JoinPath(kDesktop, kLogName)};
    if (relativeFoldersAllowed) {
        backupFolders.push_back(run.relativeBackupFolder());
        logs.push_back(JoinPath(u"C:\\", kLogName));
    }
    const auto& journal = run.machine.journal;
    for (size_t i = 0; i < journal.size(); ++i) {
        if (run.uninstallerChanges.count(i) != 0) {
            continue;
        }
        const std::u16string& change = journal[i];
        const std::u16string operation = change.substr(0, change.find(u' '));
        const std::u16string subject = JournalPath(change);
        bool allowed = false;
        if (operation == u"createDirectory") {
            // The backup folder and its parent, TidewellBackup.
            for (const auto& folder : backupFolders) {
                const std::u16string parent = folder.substr(0, folder.rfind(u'\\'));
                allowed = allowed || ToLower(subject) == ToLower(folder) ||
                          ToLower(subject) == ToLower(parent);
            }
        } else if (operation == u"writeFile" || operation == u"appendFile") {
            for (const auto& log : logs) {
                allowed = allowed || ToLower(subject) == ToLower(log);
            }
            for (const auto& folder : backupFolders) {
                const bool backup =
                    subject.size() > 4 && ToLower(subject.substr(subject.size() - 4)) == u".reg";
                allowed =
                    allowed ||
                    (operation == u"writeFile" && Within(subject, folder) &&
                     ToLower(subject) != ToLower(folder) &&
                     (backup || ToLower(subject) == ToLower(JoinPath(folder, u"恢复说明.txt"))));
            }
        } else if (operation == u"startHidden") {
            const std::vector<std::u16string> arguments = SplitCommandLine(subject);
            if (arguments.size() >= 6 && ToLower(arguments[1]) == u"export") {
                for (const auto& item : processed) {
                    allowed = allowed || (IsRegistryKind(item.kind) &&
                                          ToLower(ExportedBranch(arguments[2], arguments[5])) ==
                                              ToLower(RegistryLocation(item)));
                }
            }
            for (const auto& command : uninstallCommands) {
                allowed = allowed || subject == command;
            }
        } else if (operation == u"writeValue" || operation == u"deleteValue") {
            for (const auto& item : processed) {
                allowed = allowed || (item.kind == ItemKind::EnvironmentValue &&
                                      ToLower(subject) == ToLower(EnvironmentValuePath(item)));
            }
        } else if (operation == u"deleteTree") {
            for (const auto& item : processed) {
                allowed = allowed || (IsRegistryKind(item.kind) &&
                                      ToLower(subject) == ToLower(RegistryLocation(item)));
            }
        } else if (operation == u"terminateProcess") {
            for (const auto& item : processed) {
                allowed = allowed || (item.kind == ItemKind::Process &&
                                      subject.substr(0, subject.find(u' ')) ==
                                          ToDecimal(ParseProcessId(item.location)));
            }
        } else if (operation == u"stopService") {
            for (const auto& item : processed) {
                allowed = allowed || (item.kind == ItemKind::Service &&
                                      ToLower(subject) == ToLower(item.location));
            }
        } else {
            // setFileAttributes, deleteFile, removeDirectory, deleteAtRestart.
            for (const auto& item : processed) {
                allowed =
                    allowed || ((item.kind == ItemKind::Directory || item.kind == ItemKind::File) &&
                                Within(subject, item.location));
            }
        }
        if (!allowed) {
            return ::testing::AssertionFailure()
                   << "outside the processed items: " << ToUtf8(change);
        }
    }
    // What the links in residue folders lead to is still there.
    if (!run.machine.exists(kProjects + u"\\plan.dwg") ||
        !run.machine.exists(kProjects + u"\\part.sldprt")) {
        return ::testing::AssertionFailure() << "a link's target lost its files";
    }
    return ::testing::AssertionSuccess();
}

// The log's entries: lines that start with one of the marks, as (mark, title, location).
struct LogEntry {
    std::u16string mark;
    std::u16string title;
    std::u16string location;
};

// The log's lines, without their CR LF.
inline std::vector<std::u16string> LogLines(const std::u16string& log) {
    std::vector<std::u16string> lines;
    size_t start = 0;
    while (start <= log.size()) {
        size_t end = log.find(u"\r\n", start);
        end = end == std::u16string::npos ? log.size() : end;
        lines.push_back(log.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

inline std::vector<LogEntry> LogEntries(const std::u16string& log,
                                        const std::vector<std::u16string>& marks) {
    const std::vector<std::u16string> lines = LogLines(log);
    std::vector<LogEntry> entries;
    for (size_t i = 0; i < lines.size(); ++i) {
        for (const auto& mark : marks) {
            if (lines[i].rfind(mark, 0) == 0) {
                LogEntry entry{mark, lines[i].substr(mark.size()), {}};
                if (i + 1 < lines.size() && lines[i + 1].rfind(u"  ", 0) == 0) {
                    entry.location = lines[i + 1].substr(2);
                }
                entries.push_back(entry);
            }
        }
    }
    return entries;
}

inline size_t CountMark(const std::vector<LogEntry>& entries, const std::u16string& mark) {
    size_t count = 0;
    for (const auto& entry : entries) {
        count += entry.mark == mark ? 1 : 0;
    }
    return count;
}

// Each processed item has its own entry (title and location) among the entries with the marks.
inline ::testing::AssertionResult EachItemLogged(const std::vector<ResidueItem>& processed,
                                                 std::vector<LogEntry> entries) {
    if (entries.size() != processed.size()) {
        return ::testing::AssertionFailure()
               << entries.size() << " log entries for " << processed.size() << " processed items";
    }
    for (const auto& item : processed) {
        bool found = false;
        for (auto entry = entries.begin(); entry != entries.end(); ++entry) {
            if (entry->title == item.title && entry->location == item.location) {
                entries.erase(entry);
                found = true;
                break;
            }
        }
        if (!found) {
            return ::testing::AssertionFailure()
                   << "no log entry for " << ToUtf8(item.title) << " | " << ToUtf8(item.location);
        }
    }
    return ::testing::AssertionSuccess();
}

// The number right after `before` in the text.
inline bool NumberAfter(const std::u16string& text, const std::u16string& before, size_t& value) {
    const size_t at = text.find(before);
    size_t position = at == std::u16string::npos ? text.size() : at + before.size();
    const size_t start = position;
    value = 0;
    while (position < text.size() && text[position] >= u'0' && text[position] <= u'9') {
        value = value * 10 + (text[position++] - u'0');
    }
    return position > start;
}

// The two numbers of a summary such as "清理完成：成功 7，失败 0".
inline bool SummaryNumbers(const std::u16string& text, const std::u16string& before,
                           const std::u16string& middle, size_t& first, size_t& second) {
    return NumberAfter(text, before, first) &&
           NumberAfter(text, before + ToDecimal(static_cast<int64_t>(first)) + middle, second);
}

// How many runs had a fault handed out, and by which calls.
struct Tally {
    int runs = 0;
    int runsWithFaults = 0;
    std::map<std::string, int> faultsByCall;

    void add(const FaultCase& fault, int handedOut) {
        ++runs;
        runsWithFaults += handedOut > 0 ? 1 : 0;
        faultsByCall[fault.name] += handedOut;
    }

    // The calls the workflow never made, so that their faults never fired.
    std::string unreached() const {
        std::string names;
        for (const auto& [name, count] : faultsByCall) {
            if (count == 0) {
                names += (names.empty() ? "" : ", ") + name;
            }
        }
        return names.empty() ? "none" : names;
    }
};

inline std::string Describe(const FaultCase& fault, uint32_t code, int times, ProductKind product) {
    return std::string(fault.name) + " fails with " + std::to_string(code) +
           (times < 0 ? ", every call" : ", first call only") + ", product " +
           ToUtf8(productName(product));
}

// Runs body(run, inject) on a fresh machine for every fault case, code and mode (every call
// fails, or only the first); inject() hands the fault to the machine when the body is ready.
template <typename Body> Tally ForEachFault(ProductKind product, Body body) {
    Tally tally;
    for (const FaultCase& fault : FaultCases()) {
        if (fault.oracleOnly && product != ProductKind::Oracle) {
            continue;
        }
        for (uint32_t code : fault.codes) {
            for (int times : {-1, 1}) {
                SCOPED_TRACE(Describe(fault, code, times, product));
                FaultMachine run(product);
                body(run, fault, [&] { run.inject(fault, code, times); });
                tally.add(fault, run.faultsInjected());
            }
        }
    }
    int handedOut = 0;
    for (const auto& entry : tally.faultsByCall) {
        handedOut += entry.second;
    }
    // The figures a review of the safety work quotes.
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::cout << "[ faults   ] " << test->test_suite_name() << "." << test->name() << ": "
              << tally.runs << " runs, " << tally.runsWithFaults << " with a fault, " << handedOut
              << " faults handed out\n";
    return tally;
}

inline std::string ProductParamName(const ::testing::TestParamInfo<ProductKind>& info) {
    return ToUtf8(productName(info.param));
}

#define TIDEWELL_FAULT_PRODUCTS(suite)                                                             \
    INSTANTIATE_TEST_SUITE_P(                                                                      \
        Products, suite,                                                                           \
        ::testing::Values(ProductKind::AutoCAD, ProductKind::SolidWorks, ProductKind::Oracle),     \
        ProductParamName)

} // namespace tidewell::fault_test
