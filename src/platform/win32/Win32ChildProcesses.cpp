#include "platform/win32/Win32Platform.h"

#include "platform/SystemCodes.h"
#include "platform/win32/Wide.h"
#include "platform/win32/Win32Internal.h"

#include <tlhelp32.h>

#include <algorithm>

namespace tidewell {

using win32::AsWritableWide;
using win32::kQueueLookMilliseconds;
using win32::UniqueKernelHandle;

namespace {

// How often a job whose processes cannot be opened is looked into again.
constexpr DWORD kJobPollMilliseconds = 100;

} // namespace

uint32_t Win32Platform::childProcessId(ChildId child) const {
    auto found = children_.find(child);
    return found == children_.end() ? 0 : found->second.processId;
}

// --- Child processes -----------------------------------------------------------------------------

ChildStart Win32Platform::startHidden(const std::u16string& commandLine, ChildScope scope) {
    ChildStart start;
    // CreateProcessW may write into the command line while it parses it.
    std::u16string writable = commandLine;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    // A child that goes into a job starts suspended, so that nothing it starts escapes the job.
    const DWORD flags =
        CREATE_NO_WINDOW | (scope == ChildScope::ProcessTree ? CREATE_SUSPENDED : 0);
    if (!CreateProcessW(nullptr, AsWritableWide(writable), nullptr, nullptr, FALSE, flags, nullptr,
                        nullptr, &startup, &info)) {
        const DWORD error = GetLastError();
        start.error = error;
        return start;
    }
    return adoptChild(info, scope);
}

namespace {

// The window of the user's shell: the shell's desktop window, or else its taskbar (a shell such
// as Wine's desktop registers no desktop window). Never one of this program's own windows,
// whose token is the elevated one.
HWND ShellWindow(DWORD& shellProcessId) {
    for (const HWND window : {GetShellWindow(), FindWindowW(L"Shell_TrayWnd", nullptr)}) {
        shellProcessId = 0;
        if (window != nullptr && GetWindowThreadProcessId(window, &shellProcessId) != 0 &&
            shellProcessId != GetCurrentProcessId()) {
            return window;
        }
    }
    return nullptr;
}

// The user's own token, unelevated: that of the shell's process, duplicated as a primary token.
// 0, or the code of the step that failed.
DWORD ShellUserToken(UniqueKernelHandle& primary) {
    DWORD shellProcessId = 0;
    if (ShellWindow(shellProcessId) == nullptr) {
        return ERROR_INVALID_WINDOW_HANDLE; // no shell runs on this desktop
    }
    UniqueKernelHandle process(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, shellProcessId));
    if (!process.valid()) {
        return GetLastError();
    }
    UniqueKernelHandle token;
    if (!OpenProcessToken(process.get(), TOKEN_DUPLICATE, token.receive())) {
        return GetLastError();
    }
    constexpr DWORD kAccess = TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_ASSIGN_PRIMARY |
                              TOKEN_ADJUST_DEFAULT | TOKEN_ADJUST_SESSIONID;
    if (!DuplicateTokenEx(token.get(), kAccess, nullptr, SecurityImpersonation, TokenPrimary,
                          primary.receive())) {
        return GetLastError();
    }
    return ERROR_SUCCESS;
}

} // namespace

ChildStart Win32Platform::startHiddenAsShellUser(const std::u16string& commandLine,
                                                 ChildScope scope) {
    ChildStart start;
    UniqueKernelHandle token;
    if (const DWORD error = ShellUserToken(token)) {
        start.error = error;
        start.noShellToken = true;
        return start;
    }
    std::u16string writable = commandLine;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    const DWORD suspended = scope == ChildScope::ProcessTree ? CREATE_SUSPENDED : 0;
    BOOL started =
        CreateProcessWithTokenW(token.get(), 0, nullptr, AsWritableWide(writable),
                                CREATE_NO_WINDOW | suspended, nullptr, nullptr, &startup, &info);
    DWORD error = started ? ERROR_SUCCESS : GetLastError();
    if (!started && error == ERROR_INVALID_PARAMETER) {
        // CREATE_NO_WINDOW is not among the flags this call documents: where it is refused, a
        // console of its own, hidden, keeps a console uninstaller out of sight instead.
        writable = commandLine;
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = SW_HIDE;
        started = CreateProcessWithTokenW(token.get(), 0, nullptr, AsWritableWide(writable),
                                          CREATE_NEW_CONSOLE | suspended, nullptr, nullptr,
                                          &startup, &info);
        error = started ? ERROR_SUCCESS : GetLastError();
    }
    if (!started) {
        start.error = error;
        return start;
    }
    return adoptChild(info, scope);
}

ChildStart Win32Platform::adoptChild(const PROCESS_INFORMATION& info, ChildScope scope) {
    ChildStart start;
    const UniqueKernelHandle thread(info.hThread);
    UniqueKernelHandle process(info.hProcess);
    UniqueKernelHandle job;
    if (scope == ChildScope::ProcessTree) {
        // Without a job of its own (Windows 7 does not nest jobs, and this program may already
        // run in one) the child is waited for as a single process.
        job.reset(CreateJobObjectW(nullptr, nullptr));
        if (job.valid() && !AssignProcessToJobObject(job.get(), process.get())) {
            job.reset();
        }
        if (ResumeThread(thread.get()) == static_cast<DWORD>(-1)) {
            const DWORD error = GetLastError();
            TerminateProcess(process.get(), error);
            start.error = error;
            return start;
        }
    }
    start.child = nextChild_++;
    Child& child = children_[start.child];
    child.process = std::move(process);
    child.job = std::move(job);
    child.processId = info.dwProcessId;
    return start;
}

namespace {

// What a look into a child's job found.
enum class JobLook { Empty, Member, Unopenable };

// Opens a process that is still in the job, for waiting on it.
JobLook OpenJobMember(HANDLE job, UniqueKernelHandle& member) {
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting{};
    if (!QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &accounting,
                                   sizeof(accounting), nullptr) ||
        accounting.ActiveProcesses == 0) {
        // A job that cannot be read is no reason to wait longer than for the started process.
        return JobLook::Empty;
    }
    const DWORD room = accounting.ActiveProcesses + 16;
    std::vector<ULONG_PTR> buffer(2 + room); // the list's two counts, then the ids
    auto* list = reinterpret_cast<JOBOBJECT_BASIC_PROCESS_ID_LIST*>(buffer.data());
    if (!QueryInformationJobObject(job, JobObjectBasicProcessIdList, list,
                                   static_cast<DWORD>(buffer.size() * sizeof(ULONG_PTR)),
                                   nullptr) &&
        GetLastError() != ERROR_MORE_DATA) {
        return JobLook::Empty;
    }
    for (DWORD i = 0; i < list->NumberOfProcessIdsInList && i < room; ++i) {
        member.reset(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                                 static_cast<DWORD>(list->ProcessIdList[i])));
        // The id may have been reused since the list was taken: it must be the job's process.
        BOOL inJob = FALSE;
        if (member.valid() && IsProcessInJob(member.get(), job, &inJob) && inJob) {
            return JobLook::Member;
        }
    }
    member.reset();
    return JobLook::Unopenable;
}

} // namespace

// Waits up to timeoutMilliseconds for the handle (none: only for the time to pass). With
// keepPainting, paint and sent messages are handled at least every look interval; clicks and
// keys wait for the caller. Returns WAIT_OBJECT_0, WAIT_TIMEOUT, or WAIT_FAILED with the wait's
// code in error.
DWORD Win32Platform::waitForHandle(HANDLE handle, DWORD timeoutMilliseconds, bool keepPainting,
                                   DWORD& error) {
    const DWORD count = handle != nullptr ? 1 : 0;
    DWORD result = WAIT_FAILED;
    if (!keepPainting) {
        if (count == 0) {
            Sleep(timeoutMilliseconds);
            return WAIT_TIMEOUT;
        }
        result = WaitForSingleObject(handle, timeoutMilliseconds);
        error = GetLastError();
        return result;
    }
    const ULONGLONG started = GetTickCount64();
    for (;;) {
        handlePaintAndSentMessages(GetTickCount64());
        DWORD remaining = kQueueLookMilliseconds;
        if (timeoutMilliseconds != codes::kInfinite) {
            const ULONGLONG elapsed = GetTickCount64() - started;
            remaining = elapsed >= timeoutMilliseconds
                            ? 0
                            : static_cast<DWORD>(timeoutMilliseconds - elapsed);
            remaining = std::min<DWORD>(remaining, kQueueLookMilliseconds);
        }
        result =
            MsgWaitForMultipleObjects(count, &handle, FALSE, remaining, QS_PAINT | QS_SENDMESSAGE);
        error = GetLastError();
        const bool limitReached = result == WAIT_TIMEOUT &&
                                  timeoutMilliseconds != codes::kInfinite &&
                                  GetTickCount64() - started >= timeoutMilliseconds;
        if (result != WAIT_OBJECT_0 + count && (result != WAIT_TIMEOUT || limitReached)) {
            return result;
        }
    }
}

ChildWait Win32Platform::waitForChild(ChildId id, uint32_t timeoutMilliseconds, bool keepPainting) {
    ChildWait wait;
    auto found = children_.find(id);
    if (found == children_.end()) {
        wait.error = ERROR_INVALID_HANDLE;
        return wait;
    }
    HANDLE process = found->second.process.get();
    HANDLE job = found->second.job.get();
    const ULONGLONG started = GetTickCount64();
    const auto remaining = [&]() -> DWORD {
        if (timeoutMilliseconds == codes::kInfinite) {
            return INFINITE;
        }
        const ULONGLONG elapsed = GetTickCount64() - started;
        return elapsed >= timeoutMilliseconds ? 0
                                              : static_cast<DWORD>(timeoutMilliseconds - elapsed);
    };
    DWORD waitError = ERROR_SUCCESS;
    DWORD result = waitForHandle(process, timeoutMilliseconds, keepPainting, waitError);
    // The started process may have handed its work to processes it started: the child has
    // ended when its job holds none. Each is waited for in turn; one that cannot be opened is
    // looked for again a moment later.
    while (result == WAIT_OBJECT_0 && job != nullptr) {
        UniqueKernelHandle member;
        const JobLook look = OpenJobMember(job, member);
        if (look == JobLook::Empty) {
            break;
        }
        if (look == JobLook::Member) {
            result = waitForHandle(member.get(), remaining(), keepPainting, waitError);
        } else {
            const DWORD left = remaining();
            result = waitForHandle(nullptr, std::min<DWORD>(left, kJobPollMilliseconds),
                                   keepPainting, waitError);
            result = result == WAIT_TIMEOUT && left > kJobPollMilliseconds ? WAIT_OBJECT_0 : result;
        }
    }
    if (result == WAIT_OBJECT_0) {
        DWORD exitCode = 0;
        GetExitCodeProcess(process, &exitCode);
        wait.end = WaitEnd::Exited;
        wait.exitCode = exitCode;
    } else if (result == WAIT_TIMEOUT) {
        wait.end = WaitEnd::TimedOut;
    } else {
        wait.error = waitError;
    }
    return wait;
}

void Win32Platform::releaseChild(ChildId child) {
    children_.erase(child);
}

} // namespace tidewell
