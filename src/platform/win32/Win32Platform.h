#pragma once

#include "platform/Platform.h"
#include "platform/win32/UniqueHandle.h"

#include <windows.h>

#include <cstdint>
#include <map>

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

    std::optional<std::u16string> environmentVariable(const std::u16string& name) override;
    std::optional<std::u16string> shellFolder(ShellFolder folder) override;
    std::u16string windowsDirectory() override;
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

    ChildStart startHidden(const std::u16string& commandLine, ChildScope scope) override;
    ChildStart startHiddenAsShellUser(const std::u16string& commandLine, ChildScope scope) override;
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

private:
    struct Child {
        win32::UniqueKernelHandle process;
        win32::UniqueKernelHandle job; // invalid: the started process is waited for alone
        uint32_t processId = 0;
    };

    // Repaints and answers sent messages now; the time of the look goes into the gap record.
    void handlePaintAndSentMessages(uint64_t now);
    // Takes over a process started for the scope (suspended when it is to go into a job).
    ChildStart adoptChild(const PROCESS_INFORMATION& info, ChildScope scope);
    // Waits for the handle (none: for the time only), repainting meanwhile when asked.
    DWORD waitForHandle(HANDLE handle, DWORD timeoutMilliseconds, bool keepPainting, DWORD& error);

    HWND owner_ = nullptr;
    uint64_t lastLook_ = 0;
    uint64_t longestGap_ = 0;
    std::map<ChildId, Child> children_;
    ChildId nextChild_ = 1;
};

} // namespace tidewell
