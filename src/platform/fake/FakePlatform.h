#pragma once

#include "platform/Platform.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tidewell {

// Every call of the seam, for fault injection.
enum class FakeCall {
    FileAttributes,
    ListDirectory,
    SetFileAttributes,
    DeleteFile,
    RemoveDirectory,
    DeleteAtRestart,
    CreateDirectory,
    WriteFile,
    FinalPath,
    AppendFile,
    ReadFile,
    EnvironmentVariable,
    ShellFolder,
    WindowsDirectory,
    SystemMessage,
    OpenKeyForRead,
    ListSubkeys,
    ReadValues,
    ListValues,
    DeleteTree,
    WriteValue,
    DeleteValue,
    AnnounceEnvironmentChange,
    ListProcesses,
    TerminateProcess,
    ListServices,
    OpenServiceManager,
    StopService,
    StartHidden, // either way of starting
    ShellToken,  // the user's shell token, for startAsShellUser
    WaitForChild,
};

// What a fake child process does when it is started.
struct FakeChildBehaviour {
    uint32_t startError = 0;      // non-zero: the start fails with this code
    uint32_t exitCode = 0;        // the code it ends with
    uint32_t runMilliseconds = 0; // how long it runs; codes::kInfinite for ever
    // How long a copy of itself that it starts goes on working after it exited.
    uint32_t handOffMilliseconds = 0;
    std::function<void()> sideEffect; // what it does to the machine when its last process ends
};

// Whose the shell's process is, as startAsShellUser finds it.
enum class FakeShell {
    OwnUser,   // this program's user, unelevated: the token is used
    OtherUser, // elevated with another account's name and password
    Elevated,  // explorer restarted from an elevated Task Manager
    None,      // no shell runs on the desktop
};

// What the system allows a child meant to be waited for with everything it starts.
enum class FakeJobs {
    Nested,            // it goes into a job of its own
    AssignmentRefused, // this program already runs in a job and jobs do not nest (Windows 7)
    BreakawayRefused,  // that job does not let its children break away either
};

// How a started child's tree is followed.
enum class ChildTracking { None, Job, BreakawayAndJob, Descendants };

// A machine in memory that answers as Windows does where the logic depends on it: "." and ".."
// in listings, paths and registry names compared ignoring ASCII case, Windows' error codes, two
// registry views with HKEY_CURRENT_USER and non-Software branches shared between them, and
// Software\Wow6432Node as the 32-bit view seen from the 64-bit one. Any call can be made to
// fail with a chosen code, and dump() prints what the machine holds.
class FakePlatform : public Platform {
public:
    FakePlatform();
    ~FakePlatform() override;

    // --- Setting the machine up. Missing parents are created as plain directories.
    void addDirectory(const std::u16string& path);
    void addFile(const std::u16string& path, const std::string& contents = {},
                 uint32_t attributes = 0x20);
    // A junction or directory symbolic link: attributes directory + reparse point.
    void addDirectoryLink(const std::u16string& path, const std::u16string& target);
    void setAttributesDirectly(const std::u16string& path, uint32_t bits);
    // The file is held open without delete sharing: deletion fails with 32.
    void lockFile(const std::u16string& path);
    // Whether accounts other than administrators can change the folder (folderWriters).
    void setUserWritable(const std::u16string& path, bool writable);
    // Renames an entry as another program would, open handles following it: with a link then
    // added at the old path, a folder is swapped under a walk.
    void moveEntry(const std::u16string& from, const std::u16string& to);
    // Called at the start of every call on an open entry with the call it stands for
    // (FileAttributes: openChild; ListDirectory: listOpenFolder; SetFileAttributes; DeleteFile
    // or RemoveDirectory: deleteOpen; deleteChild makes the first and the last) and the entry's
    // path, so that a test can change the machine between two steps of a walk.
    std::function<void(FakeCall call, const std::u16string& path)> beforeEntryCall;
    void setEnvironment(const std::u16string& name, std::optional<std::u16string> value);
    void setShellFolderPath(ShellFolder folder, std::optional<std::u16string> path);
    void setWindowsDirectory(const std::u16string& path);
    // By default the Windows folder's System32.
    void setSystemDirectory(const std::u16string& path);
    // longPathName spells a path that starts with shortPath with longPath instead.
    void addShortName(const std::u16string& shortPath, const std::u16string& longPath);
    void setLocalTime(const LocalTime& time);
    void set64BitWindows(bool is64Bit);
    void setCurrentDirectory(const std::u16string& path);
    // What computerNames answers; by default a NetBIOS name and a DNS name of a domain.
    void setComputerNames(std::vector<std::u16string> names);

    void addKey(RegistryRoot root, RegistryView view, const std::u16string& path);
    void setValue(RegistryRoot root, RegistryView view, const std::u16string& path,
                  const std::u16string& name, uint32_t type, const std::vector<uint8_t>& data);
    // REG_SZ (or the given string type) stored with its terminating zero, as Windows stores it.
    void setStringValue(RegistryRoot root, RegistryView view, const std::u16string& path,
                        const std::u16string& name, const std::u16string& text, uint32_t type = 1);

    // Processes run in this program's session (1) unless told otherwise.
    void addProcess(uint32_t id, const std::u16string& executableName,
                    std::optional<uint32_t> sessionId = 1u);
    // Opening the process fails with this code (5: another user's or a protected process).
    void protectProcess(uint32_t id, uint32_t openError);
    // processId: the process the service runs in while it is not stopped; binaryPath: its
    // configured command line, as the service manager stores it.
    void addService(const std::u16string& keyName, const std::u16string& displayName,
                    uint32_t state, uint32_t processId = 0, const std::u16string& binaryPath = {});

    // Decides what a started command line does; by default a child that cannot be found (2).
    void onChild(std::function<FakeChildBehaviour(const std::u16string& commandLine)> handler);

    // Answers for the next questions, in order; with none queued the answer is No.
    void queueAnswers(std::initializer_list<bool> answers);

    // Makes `call` fail with `code` when its path, name or command line contains `match`
    // (ASCII case ignored; empty matches everything), `times` times (negative: for ever).
    void failCall(FakeCall call, uint32_t code, const std::u16string& match = {}, int times = -1);
    void clearFailures();

    // --- Looking at the machine.
    bool exists(const std::u16string& path) const;
    bool isDirectory(const std::u16string& path) const;
    std::optional<std::string> fileContents(const std::u16string& path) const;
    std::optional<uint32_t> attributesOf(const std::u16string& path) const;
    bool keyExists(RegistryRoot root, RegistryView view, const std::u16string& path) const;
    bool processRunning(uint32_t id) const;
    std::optional<uint32_t> serviceState(const std::u16string& keyName) const;
    // Everything below the directory, sorted, as full paths (the directory itself excluded).
    std::vector<std::u16string> treeBelow(const std::u16string& path) const;
    std::string dump() const;

    struct Message {
        std::u16string text;
        std::u16string title;
        NoticeIcon icon = NoticeIcon::Information;
        bool question = false;
        bool yesIsDefault = false;
        bool answer = false;
    };
    std::vector<Message> messages;
    std::vector<std::u16string> pendingDeletions;  // restart registrations, in order
    std::vector<std::u16string> childCommandLines; // every start, in order
    struct ChildStartRecord {
        std::u16string commandLine;
        ChildScope scope;
        bool asShellUser;           // with the shell's token rather than the program's
        std::u16string application; // the full path it was started by; empty: its first token
        ChildTracking tracking = ChildTracking::None;
    };
    std::vector<ChildStartRecord> childStarts; // every start with how it was asked for
    std::vector<bool> cursorChanges;           // true: wait cursor
    int repaintCount = 0;
    int queueLooks = 0; // calls of lookAtQueue
    // Every call that changed the machine: "deleteFile C:\x", "deleteTree HKLM\...", ...
    std::vector<std::u16string> journal;
    bool journalling = true; // off for a tree so deep that its record would not fit in memory
    uint64_t elapsedMilliseconds = 0; // advanced by waits on children
    uint32_t uninstallerQuestionMilliseconds = 30 * 60 * 1000;
    FakeShell shell = FakeShell::OwnUser;
    FakeJobs jobs = FakeJobs::Nested;
    int injectedFailures = 0;                       // failures handed out by failCall
    std::vector<uint32_t> environmentAnnouncements; // the time limit of each announcement

    // --- Platform.
    FileAttributes fileAttributes(const std::u16string& path) override;
    DirectoryListing listDirectory(const std::u16string& directory) override;
    uint32_t setFileAttributes(const std::u16string& path, uint32_t bits) override;
    uint32_t deleteFile(const std::u16string& path) override;
    uint32_t removeDirectory(const std::u16string& path) override;
    uint32_t deleteAtRestart(const std::u16string& path) override;
    uint32_t createDirectory(const std::u16string& path) override;
    uint32_t writeFile(const std::u16string& path, const std::string& bytes) override;
    FinalPath finalPath(const std::u16string& path) override;
    uint32_t appendFile(const std::u16string& path, const std::string& bytes) override;
    FileContents readFile(const std::u16string& path) override;
    // Fault injection and journal as for the path calls they stand for: an open as
    // FileAttributes, a listing as ListDirectory (it then ends after "." and ".."), a reset as
    // SetFileAttributes, a deletion as DeleteFile or RemoveDirectory.
    OpenedEntry openEntry(const std::u16string& path) override;
    OpenedEntry openChild(EntryHandle folder, const std::u16string& name) override;
    DirectoryListing listOpenFolder(EntryHandle folder) override;
    uint32_t setOpenAttributes(EntryHandle entry, uint32_t bits) override;
    uint32_t deleteOpen(EntryHandle entry) override;
    uint32_t deleteChild(EntryHandle folder, const std::u16string& name) override;
    FolderWriters folderWriters(EntryHandle folder) override;
    void closeEntry(EntryHandle entry) override;
    size_t openEntryCount() const { return openEntries_.size(); }
    std::optional<std::u16string> environmentVariable(const std::u16string& name) override;
    std::optional<std::u16string> shellFolder(ShellFolder folder) override;
    std::u16string windowsDirectory() override;
    std::u16string systemDirectory() override;
    std::u16string longPathName(const std::u16string& path) override;
    std::vector<std::u16string> computerNames() override;
    LocalTime localTime() override;
    std::optional<std::u16string> systemMessage(uint32_t code) override;
    bool runsOn64BitWindows() override;
    uint32_t openKeyForRead(RegistryRoot root, RegistryView view,
                            const std::u16string& path) override;
    SubkeyListing listSubkeys(RegistryRoot root, RegistryView view,
                              const std::u16string& path) override;
    RegistryValues readValues(RegistryRoot root, RegistryView view, const std::u16string& path,
                              const std::vector<std::u16string>& names) override;
    ValueListing listValues(RegistryRoot root, RegistryView view,
                            const std::u16string& path) override;
    uint32_t writeValue(RegistryRoot root, RegistryView view, const std::u16string& path,
                        const std::u16string& name, uint32_t type,
                        const std::vector<uint8_t>& data) override;
    uint32_t deleteValue(RegistryRoot root, RegistryView view, const std::u16string& path,
                         const std::u16string& name) override;
    uint32_t announceEnvironmentChange(uint32_t timeoutMilliseconds) override;
    uint32_t deleteTree(RegistryRoot root, RegistryView view, const std::u16string& parentPath,
                        const std::u16string& leaf) override;
    ProcessListing listProcesses() override;
    std::optional<uint32_t> currentSessionId() override { return 1u; }
    TerminateAttempt terminateProcess(uint32_t processId, uint32_t waitMilliseconds) override;
    ServiceListing listServices() override;
    ServiceStopAttempt stopService(const std::u16string& keyName) override;
    ChildStart startHidden(const std::u16string& application, const std::u16string& commandLine,
                           ChildScope scope) override;
    ChildStart startAsShellUser(const std::u16string& application,
                                const std::u16string& commandLine, ChildScope scope) override;
    ChildWait waitForChild(ChildId child, uint32_t timeoutMilliseconds, bool keepPainting) override;
    void releaseChild(ChildId child) override;
    uint32_t uninstallerQuestionInterval() override { return uninstallerQuestionMilliseconds; }
    bool askYesNo(const std::u16string& text, const std::u16string& title, NoticeIcon icon,
                  bool yesIsDefault) override;
    void showNotice(const std::u16string& text, const std::u16string& title,
                    NoticeIcon icon) override;
    void setWaitCursor(bool waiting) override;
    void repaintWindow() override;
    void lookAtQueue() override { ++queueLooks; }

private:
    struct FileNode;
    struct KeyNode;
    struct Failure {
        FakeCall call;
        uint32_t code;
        std::u16string match;
        int remaining;
    };
    struct Child {
        FakeChildBehaviour behaviour;
        ChildScope scope = ChildScope::Process;
        uint64_t processLeft = 0; // milliseconds; UINT64_MAX: for ever
        uint64_t treeLeft = 0;    // until the started process and its copy have ended
        bool ended = false;
    };

    uint32_t injected(FakeCall call, const std::u16string& subject);
    ChildStart start(const std::u16string& application, const std::u16string& commandLine,
                     ChildScope scope, bool asShellUser);
    void record(std::u16string change) {
        if (journalling) {
            journal.push_back(std::move(change));
        }
    }
    struct WalkedName {
        size_t end; // where the name ends in walkedPath_
        FileNode* node;
    };
    std::u16string absolute(const std::u16string& path) const;
    FileNode* driveOf(const std::u16string& full, size_t& cursor) const;
    FileNode* walkNames(const std::u16string& full, size_t cursor, FileNode* node,
                        std::vector<WalkedName>* walked) const;
    FileNode* findNode(const std::u16string& path) const;
    FileNode* ensureDirectoryChain(const std::u16string& path);
    uint32_t missingCode(const std::u16string& path) const;
    struct Reached {
        std::u16string path; // the stored path the call reaches
        uint32_t error;      // not 0: the call fails with it (injected, or the plain form too long)
    };
    Reached reach(FakeCall call, const std::u16string& path, size_t limit, uint32_t tooLong);
    uint32_t fileChangeRefused(const FileNode* node, const std::u16string& path) const;
    void eraseNode(FileNode* node);
    struct OpenState {
        FileNode* node;
        std::u16string path; // as it was opened
        bool deleting = false;
    };
    OpenedEntry openNode(FileNode* node, std::u16string path);
    OpenState* openState(EntryHandle entry, FakeCall call);
    std::u16string keyStore(RegistryRoot root, RegistryView view, const std::u16string& path,
                            std::u16string& relative) const;
    KeyNode* findKey(RegistryRoot root, RegistryView view, const std::u16string& path) const;
    const KeyNode* keyForRead(FakeCall call, RegistryRoot root, RegistryView view,
                              const std::u16string& path, uint32_t& error);
    KeyNode* ensureKey(RegistryRoot root, RegistryView view, const std::u16string& path);

    std::map<std::u16string, std::unique_ptr<FileNode>> drives_; // folded "c:" -> root
    std::map<std::u16string, std::unique_ptr<KeyNode>> stores_;  // store name -> root key
    std::map<std::u16string, std::u16string> environment_;       // folded name -> value
    std::map<int, std::u16string> shellFolders_;
    std::u16string windowsDirectory_ = u"C:\\Windows";
    std::optional<std::u16string> systemDirectory_;
    std::vector<std::pair<std::u16string, std::u16string>> shortNames_; // short -> long
    std::u16string currentDirectory_ = u"C:\\";
    std::vector<std::u16string> computerNames_ = {u"WORKSTATION", u"Workstation",
                                                  u"Workstation.corp.example"};
    LocalTime now_{2025, 3, 7, 9, 17, 33};
    bool is64BitWindows_ = true;
    std::vector<ProcessEntry> processes_;
    std::map<uint32_t, uint32_t> protectedProcesses_;
    struct Service {
        ServiceEntry names;
        uint32_t state;
    };
    std::vector<Service> services_;
    std::function<FakeChildBehaviour(const std::u16string&)> childHandler_;
    std::map<ChildId, Child> children_;
    ChildId nextChild_ = 1;
    std::deque<bool> answers_;
    std::vector<Failure> failures_;
    std::map<EntryHandle, OpenState> openEntries_;
    EntryHandle nextEntry_ = 1;
    uint64_t nextFileId_ = 0;
    // The last path findNode resolved, with the node reached after each of its names.
    mutable std::u16string walkedPath_;
    mutable std::vector<WalkedName> walked_;
};

} // namespace tidewell
