#pragma once

#include "platform/Platform.h"
#include "platform/ProcessTree.h"
#include "platform/win32/UniqueHandle.h"

#include <windows.h>

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

namespace tidewell {

// MessageBoxW styles: a Yes/No question with its icon and default button, and an OK notice.
UINT QuestionBoxStyle(NoticeIcon icon, bool yesIsDefault);
UINT NoticeBoxStyle(NoticeIcon icon);

// The seam on the real system. Only the start-up code names this class.
class Win32Platform : public Platform {
public:
    Win32Platform();
    ~Win32Platform() override;
    Win32Platform(const Win32Platform&) = delete;
    Win32Platform& operator=(const Win32Platform&) = delete;

    // The main window: owner of message boxes and the window repainted during waits.
    void setOwnerWindow(HWND window);
    // The process id of a started child, or 0 when the id is unknown.
    uint32_t childProcessId(ChildId child) const;

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
    OpenedEntry openEntry(const std::u16string& path) override;
    OpenedEntry openChild(EntryHandle folder, const std::u16string& name) override;
    DirectoryListing listOpenFolder(EntryHandle folder) override;
    uint32_t setOpenAttributes(EntryHandle entry, uint32_t bits) override;
    uint32_t deleteOpen(EntryHandle entry) override;
    uint32_t deleteChild(EntryHandle folder, const std::u16string& name) override;
    FolderWriters folderWriters(EntryHandle folder) override;
    void closeEntry(EntryHandle entry) override;

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
    SubkeyValuesListing readSubkeyValues(RegistryRoot root, RegistryView view,
                                         const std::u16string& path,
                                         const std::vector<std::u16string>& names) override;
    uint32_t writeValue(RegistryRoot root, RegistryView view, const std::u16string& path,
                        const std::u16string& name, uint32_t type,
                        const std::vector<uint8_t>& data) override;
    uint32_t deleteValue(RegistryRoot root, RegistryView view, const std::u16string& path,
                         const std::u16string& name) override;
    uint32_t announceEnvironmentChange(uint32_t timeoutMilliseconds) override;
    uint32_t deleteTree(RegistryRoot root, RegistryView view, const std::u16string& parentPath,
                        const std::u16string& leaf) override;

    ProcessListing listProcesses() override;
    std::optional<uint32_t> currentSessionId() override;
    TerminateAttempt terminateProcess(uint32_t processId, uint32_t waitMilliseconds) override;
    ServiceListing listServices() override;
    ServiceStopAttempt stopService(const std::u16string& keyName) override;

    ChildStart startHidden(const std::u16string& application, const std::u16string& commandLine,
                           ChildScope scope) override;
    ChildStart startAsShellUser(const std::u16string& application,
                                const std::u16string& commandLine, ChildScope scope) override;
    ChildWait waitForChild(ChildId child, uint32_t timeoutMilliseconds, bool keepPainting) override;
    void releaseChild(ChildId child) override;

    bool askYesNo(const std::u16string& text, const std::u16string& title, NoticeIcon icon,
                  bool yesIsDefault) override;
    void showNotice(const std::u16string& text, const std::u16string& title,
                    NoticeIcon icon) override;
    void setWaitCursor(bool waiting) override;
    void repaintWindow() override;
    void lookAtQueue() override;

    // The longest time in milliseconds between two looks at the queue since resetQueueGap, the
    // time since the last look included.
    uint64_t longestQueueGap() const;
    void resetQueueGap();

protected:
    // Starts one process: CreateProcessW without a console window, or CreateProcessWithTokenW
    // with the token (nullptr: none) and the window as the program asks. A test may refuse what
    // a system refuses to a program that already runs in a job.
    virtual BOOL createChildProcess(const std::u16string& application, std::u16string& commandLine,
                                    HANDLE token, DWORD flags, PROCESS_INFORMATION& info);
    virtual BOOL assignToJob(HANDLE job, HANDLE process);

private:
    struct OpenFile {
        win32::UniqueFile handle;
        uint32_t deleteError = 0; // opened without the right to delete: why
        uint32_t volume = 0;      // the serial of the volume it lies on
    };
    // Takes over a handle just opened; the entry with its attributes and identity. An entry
    // opened inside a folder lies on the folder's volume, which need not be asked again.
    OpenedEntry adoptEntry(HANDLE handle, uint32_t deleteError,
                           std::optional<uint32_t> volume = std::nullopt);
    HANDLE entryHandle(EntryHandle entry) const;

    struct Child {
        win32::UniqueKernelHandle process;
        win32::UniqueKernelHandle job; // invalid: no job holds the child
        uint32_t processId = 0;
        // Without a job, for a process tree: the started process and what it started so far,
        // found by their parent ids.
        std::vector<ProcessBirth> tree;
    };

    // Repaints and answers sent messages now; the time of the look goes into the gap record.
    void handlePaintAndSentMessages(uint64_t now);
    // Starts the child for its scope: into a job of its own, out of this program's job into
    // one, or followed by parent ids.
    ChildStart launch(const std::u16string& application, const std::u16string& commandLine,
                      ChildScope scope, HANDLE token);
    // Takes over a started process, resuming it when it was started suspended.
    ChildStart adopt(win32::UniqueKernelHandle process, HANDLE suspendedThread, DWORD processId,
                     win32::UniqueKernelHandle job, bool followTree);
    // Waits for the handle (none: for the time only), repainting meanwhile when asked.
    DWORD waitForHandle(HANDLE handle, DWORD timeoutMilliseconds, bool keepPainting, DWORD& error);

    HWND owner_ = nullptr;
    uint64_t lastLook_ = 0;
    uint64_t longestGap_ = 0;
    std::map<EntryHandle, OpenFile> entries_;
    EntryHandle nextEntry_ = 1;
    std::map<ChildId, Child> children_;
    ChildId nextChild_ = 1;
};

} // namespace tidewell
