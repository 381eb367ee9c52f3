#include "platform/win32/Win32Platform.h"

#include "platform/SystemCodes.h"
#include "platform/win32/Wide.h"
#include "platform/win32/Win32Internal.h"

#include <tlhelp32.h>

#include <algorithm>

namespace tidewell {

using win32::AsWide;
using win32::AsWritableWide;
using win32::kQueueLookMilliseconds;
using win32::UniqueKernelHandle;

namespace {

// How often a job whose processes cannot be opened, or a tree that no job holds, is looked
// into again.
constexpr DWORD kJobPollMilliseconds = 100;

} // namespace

uint32_t Win32Platform::childProcessId(ChildId child) const {
    auto found = children_.find(child);
    return found == children_.end() ? 0 : found->second.processId;
}

// --- Child processes -----------------------------------------------------------------------------

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

// The token's user, copied out of its TOKEN_USER; empty when it cannot be read.
std::vector<BYTE> TokenUserBytes(HANDLE token) {
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<BYTE> bytes(size);
    if (size == 0 || !GetTokenInformation(token, TokenUser, bytes.data(), size, &size)) {
        return {};
    }
    return bytes;
}

bool SameUser(HANDLE token, HANDLE other) {
    const std::vector<BYTE> first = TokenUserBytes(token);
    const std::vector<BYTE> second = TokenUserBytes(other);
    return !first.empty() && !second.empty() &&
           EqualSid(reinterpret_cast<const TOKEN_USER*>(first.data())->User.Sid,
                    reinterpret_cast<const TOKEN_USER*>(second.data())->User.Sid);
}

struct ShellToken {
    DWORD error = ERROR_SUCCESS; // the code of the step that failed
    ShellTokenProblem problem = ShellTokenProblem::None;
};

// The user's own token, unelevated: that of the shell's process, duplicated as a primary token.
// Refused when the shell runs as another user (the administrator's name and password were
// typed into the elevation prompt: HKCU and AppData are then the administrator's, while the
// shell's token would uninstall for the logged-on user) or runs elevated itself (its token
// would give a user-writable command administrator rights).
ShellToken ShellUserToken(UniqueKernelHandle& primary) {
    ShellToken result;
    const auto fail = [&result](DWORD error) {
        result.error = error;
        result.problem = ShellTokenProblem::Unavailable;
        return result;
    };
    DWORD shellProcessId = 0;
    if (ShellWindow(shellProcessId) == nullptr) {
        return fail(ERROR_INVALID_WINDOW_HANDLE); // no shell runs on this desktop
    }
    UniqueKernelHandle process(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, shellProcessId));
    if (!process.valid()) {
        return fail(GetLastError());
    }
    UniqueKernelHandle token;
    if (!OpenProcessToken(process.get(), TOKEN_DUPLICATE | TOKEN_QUERY, token.receive())) {
        return fail(GetLastError());
    }
    UniqueKernelHandle own;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, own.receive())) {
        return fail(GetLastError());
    }
    if (!SameUser(token.get(), own.get())) {
        result.error = ERROR_ACCESS_DENIED;
        result.problem = ShellTokenProblem::OtherUser;
        return result;
    }
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    if (!GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof(elevation), &size)) {
        return fail(GetLastError());
    }
    if (elevation.TokenIsElevated != 0) {
        result.error = ERROR_ACCESS_DENIED;
        result.problem = ShellTokenProblem::Elevated;
        return result;
    }
    constexpr DWORD kAccess = TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_ASSIGN_PRIMARY |
                              TOKEN_ADJUST_DEFAULT | TOKEN_ADJUST_SESSIONID;
    if (!DuplicateTokenEx(token.get(), kAccess, nullptr, SecurityImpersonation, TokenPrimary,
                          primary.receive())) {
        return fail(GetLastError());
    }
    return result;
}

uint64_t CreationTime(HANDLE process) {
    FILETIME created{};
    FILETIME exited{};
    FILETIME kernel{};
    FILETIME user{};
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) {
        return 0;
    }
    return (uint64_t{created.dwHighDateTime} << 32) | created.dwLowDateTime;
}

// The processes of a snapshot that may belong to the tree: its members and those whose parent
// id is a member's, with their creation times. A process that cannot be opened cannot be
// waited for either, and is left out.
std::vector<ProcessBirth> TreeSnapshot(const std::vector<ProcessBirth>& tree) {
    std::vector<ProcessBirth> snapshot;
    const UniqueKernelHandle list(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!list.valid() || list.get() == INVALID_HANDLE_VALUE) {
        return snapshot;
    }
    const auto inTree = [&tree](DWORD id) {
        for (const ProcessBirth& member : tree) {
            if (member.id == id) {
                return true;
            }
        }
        return false;
    };
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(list.get(), &entry); more;
         more = Process32NextW(list.get(), &entry)) {
        if (!inTree(entry.th32ProcessID) && !inTree(entry.th32ParentProcessID)) {
            continue;
        }
        const UniqueKernelHandle process(
            OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
        const uint64_t created = process.valid() ? CreationTime(process.get()) : 0;
        if (created != 0) {
            snapshot.push_back({entry.th32ProcessID, entry.th32ParentProcessID, created});
        }
    }
    return snapshot;
}

// Opens a member of the tree that still runs, for waiting on it; false when none does.
bool OpenRunningMember(const std::vector<ProcessBirth>& tree, UniqueKernelHandle& member) {
    for (const ProcessBirth& process : tree) {
        member.reset(
            OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process.id));
        // The id may belong to a later process by now: it must be the member itself.
        if (member.valid() && CreationTime(member.get()) == process.created &&
            WaitForSingleObject(member.get(), 0) == WAIT_TIMEOUT) {
            return true;
        }
    }
    member.reset();
    return false;
}

} // namespace

BOOL Win32Platform::createChildProcess(const std::u16string& application,
                                       std::u16string& commandLine, HANDLE token, DWORD flags,
                                       PROCESS_INFORMATION& info) {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    const wchar_t* program = application.empty() ? nullptr : AsWide(application);
    if (token == nullptr) {
        return CreateProcessW(program, AsWritableWide(commandLine), nullptr, nullptr, FALSE,
                              CREATE_NO_WINDOW | flags, nullptr, nullptr, &startup, &info);
    }
    // No CREATE_NO_WINDOW and no show-window flag: a per-user uninstaller's questions must be
    // seen, not wait unseen behind the program.
    return CreateProcessWithTokenW(token, 0, program, AsWritableWide(commandLine), flags, nullptr,
                                   nullptr, &startup, &info);
}

BOOL Win32Platform::assignToJob(HANDLE job, HANDLE process) {
    return AssignProcessToJobObject(job, process);
}

ChildStart Win32Platform::startHidden(const std::u16string& application,
                                      const std::u16string& commandLine, ChildScope scope) {
    return launch(application, commandLine, scope, nullptr);
}

ChildStart Win32Platform::startAsShellUser(const std::u16string& application,
                                           const std::u16string& commandLine, ChildScope scope) {
    ChildStart start;
    UniqueKernelHandle token;
    const ShellToken shell = ShellUserToken(token);
    if (shell.problem != ShellTokenProblem::None) {
        start.error = shell.error;
        start.shellToken = shell.problem;
        return start;
    }
    return launch(application, commandLine, scope, token.get());
}

namespace {

// A process started suspended, or the code of its failed start.
struct Suspended {
    DWORD error = ERROR_SUCCESS;
    UniqueKernelHandle thread;
    UniqueKernelHandle process;
    DWORD processId = 0;
};

} // namespace

ChildStart Win32Platform::launch(const std::u16string& application,
                                 const std::u16string& commandLine, ChildScope scope,
                                 HANDLE token) {
    const auto startOnce = [&](DWORD flags) {
        Suspended started;
        // CreateProcessW may write into the command line while it parses it.
        std::u16string writable = commandLine;
        PROCESS_INFORMATION info{};
        if (!createChildProcess(application, writable, token, flags, info)) {
            const DWORD error = GetLastError();
            started.error = error;
            return started;
        }
        started.thread.reset(info.hThread);
        started.process.reset(info.hProcess);
        started.processId = info.dwProcessId;
        return started;
    };
    const auto failed = [](DWORD error) {
        ChildStart start;
        start.error = error;
        return start;
    };
    if (scope == ChildScope::Process) {
        Suspended started = startOnce(0);
        if (started.error != ERROR_SUCCESS) {
            return failed(started.error);
        }
        return adopt(std::move(started.process), nullptr, started.processId, {}, false);
    }

    // A child that goes into a job starts suspended, so that nothing it starts escapes the job.
    Suspended started = startOnce(CREATE_SUSPENDED);
    if (started.error != ERROR_SUCCESS) {
        return failed(started.error);
    }
    UniqueKernelHandle job(CreateJobObjectW(nullptr, nullptr));
    if (!job.valid()) {
        return adopt(std::move(started.process), started.thread.get(), started.processId, {}, true);
    }
    if (assignToJob(job.get(), started.process.get())) {
        return adopt(std::move(started.process), started.thread.get(), started.processId,
                     std::move(job), false);
    }
    // This program already runs in a job, and Windows 7 does not nest them: start the child
    // again outside that job. The first one was never resumed, so it has done nothing.
    TerminateProcess(started.process.get(), ERROR_ACCESS_DENIED);
    Suspended apart = startOnce(CREATE_SUSPENDED | CREATE_BREAKAWAY_FROM_JOB);
    if (apart.error == ERROR_SUCCESS) {
        const bool assigned = assignToJob(job.get(), apart.process.get()) != FALSE;
        return adopt(std::move(apart.process), apart.thread.get(), apart.processId,
                     assigned ? std::move(job) : UniqueKernelHandle(), !assigned);
    }
    // The job lets no child break away: its descendants are followed by their parent ids.
    started = startOnce(CREATE_SUSPENDED);
    if (started.error != ERROR_SUCCESS) {
        return failed(started.error);
    }
    return adopt(std::move(started.process), started.thread.get(), started.processId, {}, true);
}

ChildStart Win32Platform::adopt(UniqueKernelHandle process, HANDLE suspendedThread, DWORD processId,
                                UniqueKernelHandle job, bool followTree) {
    ChildStart start;
    // Taken before it runs: nothing it starts can be older.
    const uint64_t created = followTree ? CreationTime(process.get()) : 0;
    if (suspendedThread != nullptr && ResumeThread(suspendedThread) == static_cast<DWORD>(-1)) {
        const DWORD error = GetLastError();
        TerminateProcess(process.get(), error);
        start.error = error;
        return start;
    }
    start.child = nextChild_++;
    Child& child = children_[start.child];
    child.process = std::move(process);
    child.job = std::move(job);
    child.processId = processId;
    if (followTree) {
        child.tree.push_back({processId, 0, created});
    }
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
    Child& child = found->second;
    HANDLE process = child.process.get();
    HANDLE job = child.job.get();
    const ULONGLONG started = GetTickCount64();
    const auto remaining = [&]() -> DWORD {
        if (timeoutMilliseconds == codes::kInfinite) {
            return INFINITE;
        }
        const ULONGLONG elapsed = GetTickCount64() - started;
        return elapsed >= timeoutMilliseconds ? 0
                                              : static_cast<DWORD>(timeoutMilliseconds - elapsed);
    };
    // A wait in short slices: WAIT_OBJECT_0 also when the slice ran out before the limit, so
    // that the caller looks again.
    const auto waitSlice = [&](HANDLE handle, DWORD& error) {
        const DWORD left = remaining();
        const DWORD result =
            waitForHandle(handle, std::min<DWORD>(left, kJobPollMilliseconds), keepPainting, error);
        return result == WAIT_TIMEOUT && left > kJobPollMilliseconds ? WAIT_OBJECT_0 : result;
    };
    DWORD waitError = ERROR_SUCCESS;
    DWORD result = WAIT_OBJECT_0;
    if (!child.tree.empty()) {
        // No job holds the child: its processes are found by their parent ids, looked for
        // while they run, so that a copy that starts another and exits is not missed.
        for (;;) {
            AddDescendants(child.tree, TreeSnapshot(child.tree));
            UniqueKernelHandle member;
            if (WaitForSingleObject(process, 0) == WAIT_TIMEOUT) {
                result = waitSlice(process, waitError);
            } else if (OpenRunningMember(child.tree, member)) {
                result = waitSlice(member.get(), waitError);
            } else {
                result = WAIT_OBJECT_0;
                break;
            }
            if (result != WAIT_OBJECT_0) {
                break;
            }
        }
    } else {
        result = waitForHandle(process, timeoutMilliseconds, keepPainting, waitError);
    }
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
            result = waitSlice(nullptr, waitError);
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
