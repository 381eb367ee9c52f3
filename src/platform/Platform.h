#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The one seam through which the logic reaches Windows. Everything above it speaks in these
// types; the Win32 implementation (platform/win32) and the in-memory machine (platform/fake)
// stand behind it. Calls that can fail return the system's error code beside their answer,
// 0 meaning success, so that callers never read a last-error value late.
namespace tidewell {

// The two predefined roots the program touches; None marks "not a registry item".
enum class RegistryRoot : uint32_t { None = 0, CurrentUser = 1, LocalMachine = 2 };

// The registry views, with the values of KEY_WOW64_64KEY and KEY_WOW64_32KEY so that they pass
// straight to the registry calls.
enum class RegistryView : uint32_t { None = 0, Bits64 = 0x0100, Bits32 = 0x0200 };

// Special folders by their CSIDL numbers.
enum class ShellFolder : int {
    Documents = 5,
    Desktop = 16,
    RoamingAppData = 26,
    LocalAppData = 28,
    Profile = 40,
};

struct FileAttributes {
    uint32_t error = 0; // 0 when the attributes could be read
    uint32_t bits = 0;
    bool exists() const { return error == 0; }
    bool isDirectory() const { return exists() && (bits & 0x10) != 0; }
};

struct DirectoryEntry {
    std::u16string name;
    uint32_t attributes = 0;
    uint64_t file = 0; // its index on the volume where the listing gives one; 0 otherwise
};

struct DirectoryListing {
    uint32_t error = 0; // 0 when the listing could be opened
    std::vector<DirectoryEntry> entries;
};

// Where an open reaches: the system's own name for the file or folder it opened.
struct FinalPath {
    uint32_t openError = 0; // opening the path failed with this code (2, 3: nothing there)
    uint32_t error = 0;     // the system could not name what it opened
    std::u16string path;    // "\\?\C:\..." or "\\?\UNC\server\share\..." when both are 0
};

// An entry opened by openEntry or openChild; 0 is none. Every one opened is closed once.
using EntryHandle = uint64_t;

// Which file or folder an open reached, the same however its path was spelled.
struct FileIdentity {
    uint32_t volume = 0; // the volume's serial number
    uint64_t file = 0;   // the entry's index on that volume
    bool operator==(const FileIdentity& other) const {
        return volume == other.volume && file == other.file;
    }
};

struct OpenedEntry {
    uint32_t error = 0; // 0 when it opened
    EntryHandle handle = 0;
    uint32_t attributes = 0; // read through the handle
    FileIdentity identity;
};

// Who can change what a folder holds.
enum class FolderWriters {
    AdministratorsOnly, // owned and writable by administrators, SYSTEM or TrustedInstaller only
    Others,             // some other account can create, write or delete in it or change it
    Unknown,            // its security could not be read
};

struct SubkeyListing {
    uint32_t error = 0; // 0 when the key could be opened
    std::vector<std::u16string> names;
};

struct RegistryValue {
    uint32_t error = 0; // 0 when the value exists and was read
    uint32_t type = 0;
    std::vector<uint8_t> data; // the stored bytes, exactly as many as the value holds
};

struct RegistryValues {
    uint32_t error = 0;                // 0 when the key could be opened
    std::vector<RegistryValue> values; // one per requested name, in request order
};

// One value of a key as enumeration gives it; the default value has the empty name.
struct NamedValue {
    std::u16string name;
    uint32_t type = 0;
    std::vector<uint8_t> data; // the stored bytes, exactly as many as the value holds
};

struct ValueListing {
    uint32_t error = 0;             // 0 when the key could be opened and every value read
    std::vector<NamedValue> values; // enumeration order
};

struct FileContents {
    uint32_t error = 0; // 0 when the whole file was read
    std::string bytes;
};

struct SubkeyValues {
    std::u16string name;
    RegistryValues values; // error: the subkey did not open
};

struct SubkeyValuesListing {
    uint32_t error = 0;                // 0 when the key could be opened
    std::vector<SubkeyValues> subkeys; // enumeration order
};

struct ProcessEntry {
    uint32_t id = 0;
    std::u16string executableName;     // file name only, in the letter case the system reports
    std::optional<uint32_t> sessionId; // the Windows session it runs in, when the system says
};

struct ProcessListing {
    uint32_t error = 0;
    std::vector<ProcessEntry> processes; // snapshot order
};

struct TerminateAttempt {
    uint32_t openError = 0;      // OpenProcess failed with this code (87: no such process)
    uint32_t terminateError = 0; // TerminateProcess failed with this code
};

struct ServiceEntry {
    std::u16string keyName;
    std::u16string displayName;
    uint32_t processId = 0; // the process the service runs in; 0 when it is not running
    // The command line the service manager starts (its configuration's binary path) as stored:
    // quoted or not, with arguments, "%SystemRoot%" references or the kernel's "\??\" and
    // "\SystemRoot\" forms (ProgramPathOf reads it). Empty when it cannot be read.
    std::u16string binaryPath;
};

struct ServiceListing {
    uint32_t error = 0;
    std::vector<ServiceEntry> services; // the manager's order
};

struct ServiceStopAttempt {
    uint32_t managerError = 0; // opening the service manager failed
    uint32_t serviceError = 0; // opening the service failed
    bool stopSent = false;     // a stop request was sent (status readable and not stopped)
    uint32_t controlError = 0; // the request was refused with this code
};

using ChildId = uint64_t;

// What the wait for a started child waits for.
enum class ChildScope {
    Process, // the started process
    // The started process and every process it starts: setup engines often hand their work to
    // a copy of themselves and exit at once. Where the system cannot give the child a job
    // object of its own (Windows 7 does not nest jobs), the child breaks away from this
    // program's job; where that is refused too, its descendants are followed by their parent
    // ids.
    ProcessTree,
};

// Why a child that was to run with the shell user's token was not started.
enum class ShellTokenProblem {
    None,
    Unavailable, // no shell runs, or its token could not be had: the start's error says why
    OtherUser,   // the shell runs as another user than this program (elevated with another
                 // account's name and password): its token would reach the wrong profile
    Elevated,    // the shell itself runs elevated: its token gives the child no fewer rights
};

struct ChildStart {
    uint32_t error = 0; // 0 when the child was started
    ChildId child = 0;
    ShellTokenProblem shellToken = ShellTokenProblem::None; // not None: nothing was started
};

enum class WaitEnd { Exited, TimedOut, Failed };

struct ChildWait {
    WaitEnd end = WaitEnd::Failed;
    uint32_t exitCode = 0; // valid when end is Exited
    uint32_t error = 0;    // valid when end is Failed
};

struct LocalTime {
    uint16_t year = 0;
    uint16_t month = 0;
    uint16_t day = 0;
    uint16_t hour = 0;
    uint16_t minute = 0;
    uint16_t second = 0;
};

enum class NoticeIcon { Information, Warning, Error, Question };

class Platform {
public:
    virtual ~Platform() = default;

    // --- Files. The logic passes plain paths; the implementation hands each to the system in
    // the form that reaches it, "\\?\" where it is too long (ExtendedLengthPath.h).
    virtual FileAttributes fileAttributes(const std::u16string& path) = 0;
    // Lists directory\* : "." and ".." included, in the file system's order. Entries read before
    // a failure to step on are kept.
    virtual DirectoryListing listDirectory(const std::u16string& directory) = 0;
    virtual uint32_t setFileAttributes(const std::u16string& path, uint32_t bits) = 0;
    virtual uint32_t deleteFile(const std::u16string& path) = 0;
    // Removes an empty directory, or a directory link without touching its target.
    virtual uint32_t removeDirectory(const std::u16string& path) = 0;
    // Registers the path for deletion at the next restart (MOVEFILE_DELAY_UNTIL_REBOOT).
    virtual uint32_t deleteAtRestart(const std::u16string& path) = 0;
    virtual uint32_t createDirectory(const std::u16string& path) = 0;
    // Creates or replaces the file and writes the bytes: the code of the creation or of a write
    // that failed (disk full, say).
    virtual uint32_t writeFile(const std::u16string& path, const std::string& bytes) = 0;
    // Opens the path as any call would, following links at every level and the last one too,
    // and asks the system where it really is (GetFinalPathNameByHandleW): long names, the
    // letter case on disk, the drive or share the links lead to.
    virtual FinalPath finalPath(const std::u16string& path) = 0;
    // Adds the bytes at the end of an existing file and flushes them to the disk before it
    // returns, so that they survive a crash of the program or of the system right after.
    virtual uint32_t appendFile(const std::u16string& path, const std::string& bytes) = 0;
    virtual FileContents readFile(const std::u16string& path) = 0;

    // --- Files by handle, for removals that nothing can redirect. An open takes the entry
    // itself, a link as the link and never what it leads to, with the rights to read and reset
    // its attributes, list it, read its security and delete it. An entry held open without
    // delete sharing is opened without the right to delete; deleting it then fails with the
    // code that open met (32).
    virtual OpenedEntry openEntry(const std::u16string& path) = 0;
    // The entry of that name in the open folder, opened relative to the folder's handle, so
    // that whatever the folder's path names by now does not matter.
    virtual OpenedEntry openChild(EntryHandle folder, const std::u16string& name) = 0;
    // The open folder's entries, "." and ".." as the system gives them. error: the code of a
    // step that failed before the end was reached; the entries read before it are kept.
    virtual DirectoryListing listOpenFolder(EntryHandle folder) = 0;
    virtual uint32_t setOpenAttributes(EntryHandle entry, uint32_t bits) = 0;
    // Marks the open entry for deletion: it goes when it is closed. A folder must be empty
    // (145); a link goes as a link.
    virtual uint32_t deleteOpen(EntryHandle entry) = 0;
    // Deletes the entry of that name in the open folder in one step, opened relative to the
    // folder as itself (a link as the link) and only if it is not a folder: the quick way for
    // what the listing showed as an ordinary file. A read-only file, a folder and a file in use
    // are refused and stay as they were.
    virtual uint32_t deleteChild(EntryHandle folder, const std::u16string& name) = 0;
    virtual FolderWriters folderWriters(EntryHandle folder) = 0;
    virtual void closeEntry(EntryHandle entry) = 0;

    // --- Environment and system folders.
    // The value as stored, or nothing when the variable is not defined.
    virtual std::optional<std::u16string> environmentVariable(const std::u16string& name) = 0;
    // The folder's current path, or nothing when the shell cannot tell it.
    virtual std::optional<std::u16string> shellFolder(ShellFolder folder) = 0;
    // The system's Windows folder (the shared one, also on a terminal server, where each user
    // has a Windows folder of their own); empty when it cannot be read.
    virtual std::u16string windowsDirectory() = 0;
    // The system folder as this program sees it (a 32-bit program on 64-bit Windows reaches
    // SysWOW64 through it); empty when it cannot be read.
    virtual std::u16string systemDirectory() = 0;
    // The path with its short (8.3) names spelled out, "C:\PROGRA~1" as "C:\Program Files"; the
    // path unchanged when the system cannot resolve it (it does not exist, say).
    virtual std::u16string longPathName(const std::u16string& path) { return path; }
    // The names this computer answers to on the network: its NetBIOS name, its DNS host name
    // and its full DNS name, those it has.
    virtual std::vector<std::u16string> computerNames() = 0;
    virtual LocalTime localTime() = 0;
    // The system's message for an error code as it gives it (line breaks included), or nothing.
    virtual std::optional<std::u16string> systemMessage(uint32_t code) = 0;

    // --- Registry. Every call names its root and view.
    // True when the program runs on 64-bit Windows (as a 64-bit process or under WOW64).
    virtual bool runsOn64BitWindows() = 0;
    // Opens the key for reading and closes it again: 0 when it opens.
    virtual uint32_t openKeyForRead(RegistryRoot root, RegistryView view,
                                    const std::u16string& path) = 0;
    // Subkey names in enumeration order; names that do not fit 512 units are passed over.
    virtual SubkeyListing listSubkeys(RegistryRoot root, RegistryView view,
                                      const std::u16string& path) = 0;
    // Reads the named values of one key, opening it once.
    virtual RegistryValues readValues(RegistryRoot root, RegistryView view,
                                      const std::u16string& path,
                                      const std::vector<std::u16string>& names) = 0;
    // Every value of the key with its name, type and bytes.
    virtual ValueListing listValues(RegistryRoot root, RegistryView view,
                                    const std::u16string& path) = 0;
    // The named values of every subkey of the key, as listSubkeys and readValues of each subkey
    // give them. An implementation may open each subkey under the open key instead of by its
    // whole path, which costs less in the 32-bit view.
    virtual SubkeyValuesListing readSubkeyValues(RegistryRoot root, RegistryView view,
                                                 const std::u16string& path,
                                                 const std::vector<std::u16string>& names) {
        SubkeyValuesListing result;
        SubkeyListing listing = listSubkeys(root, view, path);
        result.error = listing.error;
        for (std::u16string& name : listing.names) {
            RegistryValues values = readValues(root, view, path + u"\\" + name, names);
            result.subkeys.push_back({std::move(name), std::move(values)});
        }
        return result;
    }
    // Opens the existing key for setting values and stores the value with this type and these
    // bytes exactly (RegSetValueExW): 0, or the open's or the write's code.
    virtual uint32_t writeValue(RegistryRoot root, RegistryView view, const std::u16string& path,
                                const std::u16string& name, uint32_t type,
                                const std::vector<uint8_t>& data) = 0;
    // Opens the key for setting values and deletes the one value: 0, or the open's or the
    // deletion's code (2 when the key or the value is not there).
    virtual uint32_t deleteValue(RegistryRoot root, RegistryView view, const std::u16string& path,
                                 const std::u16string& name) = 0;
    // Tells the running programs that the environment in the registry changed (WM_SETTINGCHANGE
    // with "Environment" to every top-level window), giving each at most timeoutMilliseconds and
    // passing over hung ones: 0 when every window answered in time, else the system's code.
    virtual uint32_t announceEnvironmentChange(uint32_t timeoutMilliseconds) = 0;
    // Opens parentPath (empty: the root itself) for deletion and deletes its subkey leaf with
    // everything below it. Returns the open's code, or else the deletion's.
    virtual uint32_t deleteTree(RegistryRoot root, RegistryView view,
                                const std::u16string& parentPath, const std::u16string& leaf) = 0;

    // --- Processes and services.
    virtual ProcessListing listProcesses() = 0;
    // The Windows session this program runs in, when the system says.
    virtual std::optional<uint32_t> currentSessionId() = 0;
    // Opens the process (SYNCHRONIZE | PROCESS_TERMINATE), ends it with exit code 0 and waits up
    // to waitMilliseconds for it to go; the wait's outcome is not reported.
    virtual TerminateAttempt terminateProcess(uint32_t processId, uint32_t waitMilliseconds) = 0;
    // Win32 services (own and shared process) in every state.
    virtual ServiceListing listServices() = 0;
    // Opens the service for stop and query and sends one stop request unless its status cannot
    // be read or says it is stopped. Never waits, never deletes the service.
    virtual ServiceStopAttempt stopService(const std::u16string& keyName) = 0;

    // --- Child processes. A started child must be released once. application is the program's
    // full path; empty, the command line's first token names it, found as the system finds it.
    // Starts the program with no console window and no show-window flag.
    virtual ChildStart startHidden(const std::u16string& application,
                                   const std::u16string& commandLine, ChildScope scope) = 0;
    // Starts it with the user's own rights: the token of the user's shell (the process of the
    // shell's desktop window), duplicated as a primary token, and only when the shell runs as
    // this program's user and unelevated. Its windows show as it asks: an uninstaller's
    // question must not wait unseen.
    virtual ChildStart startAsShellUser(const std::u16string& application,
                                        const std::u16string& commandLine, ChildScope scope) = 0;
    // Waits up to timeoutMilliseconds (codes::kInfinite: no limit) for the child's scope to end;
    // the exit code is the started process's. With keepPainting the main window goes on
    // repainting meanwhile; other input stays queued.
    virtual ChildWait waitForChild(ChildId child, uint32_t timeoutMilliseconds,
                                   bool keepPainting) = 0;
    // Closes the program's handles; a child still running goes on on its own.
    virtual void releaseChild(ChildId child) = 0;
    // How long an uninstaller is waited for before the user is asked whether to keep waiting.
    virtual uint32_t uninstallerQuestionInterval() { return 30 * 60 * 1000; }

    // --- User interface services of the main window.
    // A modal question owned by the main window. True for Yes.
    virtual bool askYesNo(const std::u16string& text, const std::u16string& title, NoticeIcon icon,
                          bool yesIsDefault) = 0;
    virtual void showNotice(const std::u16string& text, const std::u16string& title,
                            NoticeIcon icon) = 0;
    virtual void setWaitCursor(bool waiting) = 0;
    virtual void repaintWindow() = 0;
    // Long loops call this between steps (per listed or removed entry, per tree node). It is
    // cheap: the real system looks at the main window's queue only when some tens of
    // milliseconds have passed since its last look, and then lets the window repaint and answer
    // the messages sent to it, so that Windows never takes the program for hung. Input stays
    // queued.
    virtual void lookAtQueue() {}
};

} // namespace tidewell
