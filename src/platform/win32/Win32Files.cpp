#include "platform/win32/Win32Platform.h"

#include "platform/SystemCodes.h"
#include "platform/win32/Wide.h"
#include "platform/win32/Win32Internal.h"

#include <aclapi.h>
#include <sddl.h>
#include <winternl.h>

#include <vector>

namespace tidewell {

using win32::AsWide;
using win32::FromWide;
using win32::kReadAttempts;
using win32::SystemPath;
using win32::UniqueFile;
using win32::UniqueFind;

namespace {

// The same join the logic uses: one backslash unless the directory already ends in one.
std::u16string JoinPattern(const std::u16string& directory) {
    if (directory.empty()) {
        return u"*";
    }
    return directory.back() == u'\\' ? directory + u"*" : directory + u"\\*";
}

DirectoryEntry EntryOf(const WIN32_FIND_DATAW& data) {
    return {FromWide(data.cFileName), data.dwFileAttributes};
}

// Writes every byte to the open file; the error code of a write that fails or stops.
DWORD WriteAll(HANDLE file, const std::string& bytes) {
    size_t written = 0;
    while (written < bytes.size()) {
        const size_t remaining = bytes.size() - written;
        const DWORD chunk = remaining > 0x40000000 ? 0x40000000 : static_cast<DWORD>(remaining);
        DWORD done = 0;
        if (!WriteFile(file, bytes.data() + written, chunk, &done, nullptr)) {
            const DWORD error = GetLastError();
            return error;
        }
        if (done == 0) {
            return ERROR_WRITE_FAULT;
        }
        written += done;
    }
    return ERROR_SUCCESS;
}

} // namespace

// --- Files ---------------------------------------------------------------------------------------

FileAttributes Win32Platform::fileAttributes(const std::u16string& path) {
    const DWORD bits = GetFileAttributesW(AsWide(SystemPath(path)));
    if (bits == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        return {error, 0};
    }
    return {0, bits};
}

DirectoryListing Win32Platform::listDirectory(const std::u16string& directory) {
    DirectoryListing listing;
    WIN32_FIND_DATAW data{};
    // The basic information level skips the short names nobody reads; large fetches cut the
    // round trips on big folders. Names and attributes come out as FindFirstFileW gives them.
    UniqueFind find(FindFirstFileExW(
        AsWide(JoinPattern(ExtendedLengthPath(directory, kPlainDirectoryLimit))), FindExInfoBasic,
        &data, FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH));
    if (!find.valid()) {
        const DWORD error = GetLastError();
        listing.error = error;
        return listing;
    }
    do {
        listing.entries.push_back(EntryOf(data));
        // A folder of a hundred thousand entries takes longer than a window may stay deaf.
        lookAtQueue();
    } while (FindNextFileW(find.get(), &data));
    return listing;
}

uint32_t Win32Platform::setFileAttributes(const std::u16string& path, uint32_t bits) {
    if (!SetFileAttributesW(AsWide(SystemPath(path)), bits)) {
        const DWORD error = GetLastError();
        return error;
    }
    return codes::kSuccess;
}

uint32_t Win32Platform::deleteFile(const std::u16string& path) {
    if (!DeleteFileW(AsWide(SystemPath(path)))) {
        const DWORD error = GetLastError();
        return error;
    }
    return codes::kSuccess;
}

uint32_t Win32Platform::removeDirectory(const std::u16string& path) {
    if (!RemoveDirectoryW(AsWide(SystemPath(path)))) {
        const DWORD error = GetLastError();
        return error;
    }
    return codes::kSuccess;
}

uint32_t Win32Platform::deleteAtRestart(const std::u16string& path) {
    if (!MoveFileExW(AsWide(SystemPath(path)), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
        const DWORD error = GetLastError();
        return error;
    }
    return codes::kSuccess;
}

uint32_t Win32Platform::createDirectory(const std::u16string& path) {
    if (!CreateDirectoryW(AsWide(ExtendedLengthPath(path, kPlainDirectoryLimit)), nullptr)) {
        const DWORD error = GetLastError();
        return error;
    }
    return codes::kSuccess;
}

uint32_t Win32Platform::writeFile(const std::u16string& path, const std::string& bytes) {
    UniqueFile file(CreateFileW(AsWide(SystemPath(path)), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        const DWORD error = GetLastError();
        return error;
    }
    return WriteAll(file.get(), bytes);
}

FinalPath Win32Platform::finalPath(const std::u16string& path) {
    FinalPath result;
    // No access is asked for: naming the object needs none, and backup semantics let a folder
    // be opened at all.
    UniqueFile file(CreateFileW(AsWide(SystemPath(path)), 0,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file.valid()) {
        const DWORD error = GetLastError();
        result.openError = error;
        return result;
    }
    std::vector<wchar_t> buffer(MAX_PATH);
    for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
        // The length without the terminator, or the size needed with it when it does not fit.
        const DWORD length =
            GetFinalPathNameByHandleW(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()),
                                      FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length == 0) {
            const DWORD error = GetLastError();
            result.error = error;
            return result;
        }
        if (length < buffer.size()) {
            result.path = FromWide(buffer.data(), length);
            return result;
        }
        buffer.resize(length);
    }
    result.error = ERROR_MORE_DATA;
    return result;
}

uint32_t Win32Platform::appendFile(const std::u16string& path, const std::string& bytes) {
    UniqueFile file(CreateFileW(AsWide(SystemPath(path)), FILE_APPEND_DATA, FILE_SHARE_READ,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        const DWORD error = GetLastError();
        return error;
    }
    if (const DWORD error = WriteAll(file.get(), bytes)) {
        return error;
    }
    // Through the system's cache to the disk: the entry must outlive a crash or a power cut.
    if (!FlushFileBuffers(file.get())) {
        const DWORD error = GetLastError();
        return error;
    }
    return codes::kSuccess;
}

FileContents Win32Platform::readFile(const std::u16string& path) {
    FileContents contents;
    UniqueFile file(CreateFileW(AsWide(SystemPath(path)), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        contents.error = GetLastError();
        return contents;
    }
    char buffer[64 * 1024];
    while (true) {
        DWORD done = 0;
        if (!ReadFile(file.get(), buffer, sizeof(buffer), &done, nullptr)) {
            contents.error = GetLastError();
            return contents;
        }
        if (done == 0) {
            break;
        }
        contents.bytes.append(buffer, done);
    }
    return contents;
}

// --- Files by handle -----------------------------------------------------------------------------

namespace {

// What a walk needs of an entry: its attributes and identity, listing a folder, resetting
// attributes, reading its security and deleting it.
constexpr DWORD kEntryAccess = DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES |
                               FILE_LIST_DIRECTORY | READ_CONTROL | SYNCHRONIZE;
// The rest, for an entry that cannot be deleted now: a folder that is some process's current
// folder is shared for reading and writing only, and must still be listed and emptied.
constexpr DWORD kKeepAccess = kEntryAccess & ~static_cast<DWORD>(DELETE);
// Enough to look at an entry that another program holds open without sharing it.
constexpr DWORD kLookAccess = FILE_READ_ATTRIBUTES | SYNCHRONIZE;

// An entry opened with the widest access its sharing allows: the first refusal says why it
// cannot be deleted through the handle.
struct WidestOpen {
    DWORD error = ERROR_SUCCESS;
    HANDLE handle = INVALID_HANDLE_VALUE;
    DWORD deleteError = ERROR_SUCCESS;
};

template <typename Open> WidestOpen OpenWidest(Open open) {
    WidestOpen opened;
    for (const DWORD access : {kEntryAccess, kKeepAccess, kLookAccess}) {
        opened.error = open(access, opened.handle);
        if (opened.error == ERROR_SUCCESS) {
            return opened;
        }
        if (opened.error != ERROR_SHARING_VIOLATION && opened.error != ERROR_ACCESS_DENIED) {
            return opened;
        }
        if (opened.deleteError == ERROR_SUCCESS) {
            opened.deleteError = opened.error;
        }
    }
    opened.error = opened.deleteError;
    return opened;
}

OpenedEntry FailedEntry(DWORD error) {
    OpenedEntry failed;
    failed.error = error;
    return failed;
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// NtCreateFile's options: open only, a reparse point as itself, backup rights where the
// account holds them, calls that wait for their result.
constexpr ULONG kFileOpen = 1;
constexpr ULONG kOpenReparsePoint = 0x00200000;
constexpr ULONG kOpenForBackupIntent = 0x00004000;
constexpr ULONG kSynchronousIo = 0x00000020;
constexpr ULONG kCaseInsensitive = 0x40;
// For the one-step deletion: refuse a folder, delete with the last handle.
constexpr ULONG kNonDirectoryFile = 0x00000040;
constexpr ULONG kDeleteOnClose = 0x00001000;

using NtCreateFileFunction = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES,
                                              PIO_STATUS_BLOCK, PLARGE_INTEGER, ULONG, ULONG, ULONG,
                                              ULONG, PVOID, ULONG);
using StatusToErrorFunction = ULONG(NTAPI*)(NTSTATUS);
using NtQueryInformationFileFunction = NTSTATUS(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG,
                                                        ULONG);
// FILE_INFORMATION_CLASS FileInternalInformation: the entry's index on its volume.
constexpr ULONG kFileInternalInformation = 6;

struct NtCalls {
    NtCreateFileFunction createFile = nullptr;
    StatusToErrorFunction statusToError = nullptr;
    NtQueryInformationFileFunction queryInformation = nullptr;
};

// ntdll is mapped into every process; its exports are looked up once.
const NtCalls& Nt() {
    static const NtCalls calls = [] {
        NtCalls found;
        if (HMODULE ntdll = GetModuleHandleW(L"ntdll.dll")) {
            found.createFile = reinterpret_cast<NtCreateFileFunction>(
                reinterpret_cast<void*>(GetProcAddress(ntdll, "NtCreateFile")));
            found.statusToError = reinterpret_cast<StatusToErrorFunction>(
                reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlNtStatusToDosError")));
            found.queryInformation = reinterpret_cast<NtQueryInformationFileFunction>(
                reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQueryInformationFile")));
        }
        return found;
    }();
    return calls;
}

// Opens name relative to the open folder, the entry itself and never what a link leads to; the
// Win32 error code on failure. options adds to NtCreateFile's.
DWORD OpenRelative(HANDLE folder, const std::u16string& name, DWORD access, HANDLE& opened,
                   ULONG options = 0) {
    const NtCalls& nt = Nt();
    if (nt.createFile == nullptr || nt.statusToError == nullptr) {
        return ERROR_PROC_NOT_FOUND;
    }
    if (name.size() * sizeof(wchar_t) > 0xFFFE) {
        return ERROR_FILENAME_EXCED_RANGE;
    }
    UNICODE_STRING objectName;
    objectName.Buffer = const_cast<PWSTR>(AsWide(name));
    objectName.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    objectName.MaximumLength = objectName.Length;
    OBJECT_ATTRIBUTES attributes{};
    attributes.Length = sizeof(attributes);
    attributes.RootDirectory = folder;
    attributes.ObjectName = &objectName;
    attributes.Attributes = kCaseInsensitive;
    IO_STATUS_BLOCK status{};
    const NTSTATUS result = nt.createFile(
        &opened, access, &attributes, &status, nullptr, 0, kShareAll, kFileOpen,
        kOpenReparsePoint | kOpenForBackupIntent | kSynchronousIo | options, nullptr, 0);
    if (result < 0) {
        opened = INVALID_HANDLE_VALUE;
        return nt.statusToError(result);
    }
    return ERROR_SUCCESS;
}

// Administrators, SYSTEM and TrustedInstaller: the accounts a folder may answer to.
bool IsAdministrative(PSID sid) {
    if (IsWellKnownSid(sid, WinBuiltinAdministratorsSid) ||
        IsWellKnownSid(sid, WinLocalSystemSid)) {
        return true;
    }
    static const std::vector<BYTE> trustedInstaller = [] {
        std::vector<BYTE> bytes;
        PSID parsed = nullptr;
        if (ConvertStringSidToSidW(
                L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464", &parsed)) {
            const BYTE* start = static_cast<const BYTE*>(parsed);
            bytes.assign(start, start + GetLengthSid(parsed));
            LocalFree(parsed);
        }
        return bytes;
    }();
    return !trustedInstaller.empty() &&
           EqualSid(sid, const_cast<BYTE*>(trustedInstaller.data())) != FALSE;
}

} // namespace

// The attributes and the index of an entry on a volume already known: two plain queries. The
// full GetFileInformationByHandle also asks for the volume's serial each time, which under Wine
// reads a file and made a walk several times slower.
DWORD QueryEntryOnVolume(HANDLE handle, OpenedEntry& opened) {
    FILE_BASIC_INFO basic;
    if (!GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof(basic))) {
        const DWORD error = GetLastError();
        return error;
    }
    const NtCalls& nt = Nt();
    if (nt.queryInformation == nullptr) {
        return ERROR_PROC_NOT_FOUND;
    }
    IO_STATUS_BLOCK status{};
    LARGE_INTEGER index{};
    const NTSTATUS result =
        nt.queryInformation(handle, &status, &index, sizeof(index), kFileInternalInformation);
    if (result < 0) {
        return nt.statusToError(result);
    }
    opened.attributes = basic.FileAttributes;
    opened.identity.file = static_cast<uint64_t>(index.QuadPart);
    return ERROR_SUCCESS;
}

OpenedEntry Win32Platform::adoptEntry(HANDLE handle, uint32_t deleteError,
                                      std::optional<uint32_t> volume) {
    OpenedEntry opened;
    UniqueFile file(handle);
    if (volume) {
        // Opened as itself, never through a link: on its parent's volume.
        const DWORD error = QueryEntryOnVolume(file.get(), opened);
        if (error != ERROR_SUCCESS) {
            opened.error = error;
            return opened;
        }
        opened.identity.volume = *volume;
    } else {
        BY_HANDLE_FILE_INFORMATION information;
        if (!GetFileInformationByHandle(file.get(), &information)) {
            const DWORD error = GetLastError();
            opened.error = error;
            return opened;
        }
        opened.attributes = information.dwFileAttributes;
        opened.identity.volume = information.dwVolumeSerialNumber;
        opened.identity.file =
            (static_cast<uint64_t>(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
    }
    opened.handle = nextEntry_++;
    entries_[opened.handle] = {std::move(file), deleteError, opened.identity.volume};
    return opened;
}

HANDLE Win32Platform::entryHandle(EntryHandle entry) const {
    auto found = entries_.find(entry);
    return found == entries_.end() ? INVALID_HANDLE_VALUE : found->second.handle.get();
}

OpenedEntry Win32Platform::openEntry(const std::u16string& path) {
    const std::u16string systemPath = SystemPath(path);
    const auto open = [&](DWORD access, HANDLE& handle) -> DWORD {
        handle = CreateFileW(AsWide(systemPath), access, kShareAll, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        return handle == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
    };
    const WidestOpen widest = OpenWidest(open);
    return widest.error != ERROR_SUCCESS ? FailedEntry(widest.error)
                                         : adoptEntry(widest.handle, widest.deleteError);
}

OpenedEntry Win32Platform::openChild(EntryHandle folder, const std::u16string& name) {
    auto found = entries_.find(folder);
    if (found == entries_.end()) {
        return FailedEntry(ERROR_INVALID_HANDLE);
    }
    HANDLE parent = found->second.handle.get();
    const uint32_t volume = found->second.volume;
    const auto open = [&](DWORD access, HANDLE& handle) {
        return OpenRelative(parent, name, access, handle);
    };
    const WidestOpen widest = OpenWidest(open);
    return widest.error != ERROR_SUCCESS ? FailedEntry(widest.error)
                                         : adoptEntry(widest.handle, widest.deleteError, volume);
}

DirectoryListing Win32Platform::listOpenFolder(EntryHandle folder) {
    DirectoryListing listing;
    HANDLE handle = entryHandle(folder);
    // 8-byte aligned, as the records in it are.
    std::vector<uint64_t> buffer(64 * 1024 / sizeof(uint64_t));
    while (true) {
        if (!GetFileInformationByHandleEx(handle, FileIdBothDirectoryInfo, buffer.data(),
                                          static_cast<DWORD>(buffer.size() * sizeof(uint64_t)))) {
            const DWORD error = GetLastError();
            if (error != ERROR_NO_MORE_FILES) {
                listing.error = error;
            }
            return listing;
        }
        const BYTE* record = reinterpret_cast<const BYTE*>(buffer.data());
        while (true) {
            const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(record);
            listing.entries.push_back(
                {FromWide(entry->FileName, entry->FileNameLength / sizeof(wchar_t)),
                 entry->FileAttributes, static_cast<uint64_t>(entry->FileId.QuadPart)});
            if (entry->NextEntryOffset == 0) {
                break;
            }
            record += entry->NextEntryOffset;
        }
    }
}

uint32_t Win32Platform::setOpenAttributes(EntryHandle entry, uint32_t bits) {
    FILE_BASIC_INFO basic{}; // times of 0 stay as they are
    basic.FileAttributes = bits;
    if (!SetFileInformationByHandle(entryHandle(entry), FileBasicInfo, &basic, sizeof(basic))) {
        const DWORD error = GetLastError();
        return error;
    }
    return codes::kSuccess;
}

uint32_t Win32Platform::deleteOpen(EntryHandle entry) {
    auto found = entries_.find(entry);
    if (found == entries_.end()) {
        return ERROR_INVALID_HANDLE;
    }
    if (found->second.deleteError != ERROR_SUCCESS) {
        return found->second.deleteError;
    }
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    if (!SetFileInformationByHandle(found->second.handle.get(), FileDispositionInfo, &disposition,
                                    sizeof(disposition))) {
        const DWORD error = GetLastError();
        return error;
    }
    return codes::kSuccess;
}

// Open and close, as DeleteFileW does: two calls to the system instead of the full open's five
// (open, two queries, disposition, close), which is most of a walk's time.
uint32_t Win32Platform::deleteChild(EntryHandle folder, const std::u16string& name) {
    HANDLE parent = entryHandle(folder);
    if (parent == INVALID_HANDLE_VALUE) {
        return ERROR_INVALID_HANDLE;
    }
    HANDLE handle = INVALID_HANDLE_VALUE;
    const DWORD error = OpenRelative(parent, name, DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                     handle, kNonDirectoryFile | kDeleteOnClose);
    if (error != ERROR_SUCCESS) {
        return error;
    }
    CloseHandle(handle);
    return codes::kSuccess;
}

FolderWriters Win32Platform::folderWriters(EntryHandle folder) {
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(entryHandle(folder), SE_FILE_OBJECT,
                        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                        &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
        return FolderWriters::Unknown;
    }
    win32::UniqueLocalMemory held(descriptor);
    // No access list at all lets everyone in.
    if (owner == nullptr || !IsAdministrative(owner) || dacl == nullptr) {
        return FolderWriters::Others;
    }
    // Rights that let an account put something else where the walk goes.
    constexpr ACCESS_MASK kChanging = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_WRITE_DATA |
                                      FILE_APPEND_DATA | DELETE | FILE_DELETE_CHILD | WRITE_DAC |
                                      WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
    for (DWORD index = 0; index < dacl->AceCount; ++index) {
        void* ace = nullptr;
        if (!GetAce(dacl, index, &ace)) {
            return FolderWriters::Unknown;
        }
        const auto* header = static_cast<const ACE_HEADER*>(ace);
        // Denials and entries only for what is created inside do not open this folder.
        if ((header->AceType != ACCESS_ALLOWED_ACE_TYPE &&
             header->AceType != ACCESS_ALLOWED_CALLBACK_ACE_TYPE) ||
            (header->AceFlags & INHERIT_ONLY_ACE) != 0) {
            continue;
        }
        const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
        PSID sid = const_cast<DWORD*>(&allowed->SidStart);
        if ((allowed->Mask & kChanging) != 0 && !IsAdministrative(sid)) {
            return FolderWriters::Others;
        }
    }
    return FolderWriters::AdministratorsOnly;
}

void Win32Platform::closeEntry(EntryHandle entry) {
    entries_.erase(entry);
}

} // namespace tidewell
