#include "platform/win32/Win32Platform.h"

#include "platform/SystemCodes.h"
#include "platform/win32/Wide.h"
#include "platform/win32/Win32Internal.h"

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
    // Failures after the creation go unreported, as the log writer expects.
    WriteAll(file.get(), bytes);
    return codes::kSuccess;
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

} // namespace tidewell
