// The resources of the built program: the manifest, the version block and the icon group, read
// from the executables the way Windows reads them. Both builds are checked when present: the
// win64 one beside this test program and the shipped i686 one of the win32-release preset.

#include "support/Text.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace tidewell {
namespace {

std::wstring ThisProgramFolder() {
    std::wstring path(MAX_PATH, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, &path[0], MAX_PATH);
    path.resize(length);
    return path.substr(0, path.find_last_of(L'\\') + 1);
}

bool Exists(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::string Narrow(const wchar_t* text) {
    return ToUtf8(std::u16string(reinterpret_cast<const char16_t*>(text)));
}

// The version block's string value, or "(missing)".
std::string VersionString(const std::vector<BYTE>& block, const wchar_t* name) {
    const std::wstring query = std::wstring(L"\\StringFileInfo\\080404B0\\") + name;
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), query.c_str(), &value, &length) || value == nullptr) {
        return "(missing)";
    }
    return Narrow(static_cast<const wchar_t*>(value));
}

#pragma pack(push, 2)
struct IconGroupEntry {
    BYTE width;
    BYTE height;
    BYTE colourCount;
    BYTE reserved;
    WORD planes;
    WORD bitCount;
    DWORD bytesInResource;
    WORD id;
};
struct IconGroupHeader {
    WORD reserved;
    WORD type;
    WORD count;
};
#pragma pack(pop)

// The image's DllCharacteristics, read from its optional header (the same offset in PE32 and
// PE32+), or 0 when the header cannot be read.
WORD ImageCharacteristics(const std::wstring& path) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return 0;
    }
    std::vector<BYTE> head(4096);
    DWORD read = 0;
    ReadFile(file, head.data(), static_cast<DWORD>(head.size()), &read, nullptr);
    CloseHandle(file);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(head.data());
    const size_t optional = static_cast<size_t>(dos->e_lfanew) + 4 + sizeof(IMAGE_FILE_HEADER);
    if (read < sizeof(IMAGE_DOS_HEADER) || optional + 72 > read) {
        return 0;
    }
    WORD characteristics = 0;
    std::memcpy(&characteristics, head.data() + optional + 70, sizeof(characteristics));
    return characteristics;
}

void CheckProgram(const std::wstring& path) {
    SCOPED_TRACE(Narrow(path.c_str()));

    // Terminal-server aware: on a Remote Desktop Session Host the system then gives the
    // program the real Windows folder, not a per-user copy of it.
    EXPECT_NE(ImageCharacteristics(path) & IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE, 0);

    // Version: 1.0.1.0 in numbers, a Chinese (PRC) Unicode block naming the product.
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), nullptr);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, block.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedLength = 0;
    ASSERT_TRUE(
        VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixedLength));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
    WORD* translation = nullptr;
    UINT translationLength = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translation), &translationLength));
    ASSERT_EQ(translationLength, 4u);
    EXPECT_EQ(translation[0], 0x0804);
    EXPECT_EQ(translation[1], 1200);
    EXPECT_EQ(VersionString(block, L"FileDescription"), "Tidewell");
    EXPECT_EQ(VersionString(block, L"ProductName"), "Tidewell");
    EXPECT_EQ(VersionString(block, L"FileVersion"), "1.0.1");
    EXPECT_EQ(VersionString(block, L"ProductVersion"), "1.0.1");

    const HMODULE module = LoadLibraryExW(
        path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module, nullptr) << GetLastError();

    // Manifest: administrator rights, common controls 6, Windows 7 to 10.
    const HRSRC manifestInfo = FindResourceW(module, MAKEINTRESOURCEW(1), RT_MANIFEST);
    ASSERT_NE(manifestInfo, nullptr);
    const auto* manifestBytes =
        static_cast<const char*>(LockResource(LoadResource(module, manifestInfo)));
    const std::string manifest(manifestBytes, SizeofResource(module, manifestInfo));
    for (const char* part : {
             "level=\"requireAdministrator\" uiAccess=\"false\"",
             "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
             "publicKeyToken=\"6595b64144ccf1df\"",
             "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", // Windows 7
             "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", // Windows 8
             "{1f676c76-80e1-4239-95bb-83d0f6d0da78}", // Windows 8.1
             "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}", // Windows 10
             "SMI/2005/WindowsSettings\">true</dpiAware>",
         }) {
        EXPECT_NE(manifest.find(part), std::string::npos) << part;
    }

    // Icon 201: nine sizes, each in 32-bit colour.
    const HRSRC groupInfo = FindResourceW(module, MAKEINTRESOURCEW(201), RT_GROUP_ICON);
    ASSERT_NE(groupInfo, nullptr);
    const auto* group = static_cast<const BYTE*>(LockResource(LoadResource(module, groupInfo)));
    const auto* header = reinterpret_cast<const IconGroupHeader*>(group);
    ASSERT_EQ(header->type, 1);
    ASSERT_EQ(header->count, 9);
    const auto* entries = reinterpret_cast<const IconGroupEntry*>(group + sizeof(IconGroupHeader));
    const int sizes[] = {16, 20, 24, 32, 40, 48, 64, 128, 256};
    for (int i = 0; i < 9; ++i) {
        // A width of 256 is stored as 0.
        EXPECT_EQ(entries[i].width == 0 ? 256 : entries[i].width, sizes[i]) << i;
        EXPECT_EQ(entries[i].height == 0 ? 256 : entries[i].height, sizes[i]) << i;
        EXPECT_EQ(entries[i].bitCount, 32) << i;
        EXPECT_NE(FindResourceW(module, MAKEINTRESOURCEW(entries[i].id), RT_ICON), nullptr) << i;
    }
    FreeLibrary(module);
}

TEST(AppResourcesTest, BuiltProgramsCarryManifestVersionAndIcon) {
    const std::wstring folder = ThisProgramFolder(); // <build>\tests\windows\ .
    const std::wstring sibling = folder + L"..\\..\\src\\app\\tidewell.exe";
    ASSERT_TRUE(Exists(sibling)) << "the program of this build is missing";
    CheckProgram(sibling);

    // TIDEWELL_RELEASE_EXE names another release program (a Windows path).
    std::wstring release = folder + L"..\\..\\..\\win32-release\\src\\app\\tidewell.exe";
    wchar_t named[MAX_PATH] = {};
    if (GetEnvironmentVariableW(L"TIDEWELL_RELEASE_EXE", named, MAX_PATH) > 0) {
        release = named;
    }
    if (Exists(release)) {
        CheckProgram(release);
    } else {
        std::printf("note: no win32-release build beside this one; its program was not checked\n");
    }
}

TEST(AppResourcesTest, ProgramShowsItsIconAtTheHeaderSize) {
    const std::wstring path = ThisProgramFolder() + L"..\\..\\src\\app\\tidewell.exe";
    const HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
    // The header draws the icon at 64 x 64: an image of that size exists, so nothing is scaled.
    for (int size : {16, 32, 64}) {
        const HICON icon = static_cast<HICON>(
            LoadImageW(module, MAKEINTRESOURCEW(201), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
        ASSERT_NE(icon, nullptr) << size;
        ICONINFO info = {};
        ASSERT_TRUE(GetIconInfo(icon, &info));
        BITMAP bitmap = {};
        GetObjectW(info.hbmColor, sizeof(bitmap), &bitmap);
        EXPECT_EQ(bitmap.bmWidth, size);
        EXPECT_EQ(bitmap.bmBitsPixel, 32) << size;
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
        DestroyIcon(icon);
    }
    FreeLibrary(module);
}

struct WindowOfProcess {
    DWORD processId = 0;
    HWND window = nullptr;
    static BOOL CALLBACK visit(HWND window, LPARAM self) {
        auto* search = reinterpret_cast<WindowOfProcess*>(self);
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        wchar_t className[32] = {};
        GetClassNameW(window, className, 32);
        if (owner == search->processId && lstrcmpW(className, L"TidewellMain") == 0) {
            search->window = window;
            return FALSE;
        }
        return TRUE;
    }
};

// A msimg32.dll beside the program, as in a download folder, is never loaded: not as an import
// before wWinMain, and not by a later load either.
TEST(AppResourcesTest, LibraryPlantedBesideTheProgramIsNotLoaded) {
    const std::wstring build = ThisProgramFolder();
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + L"tidewell-planted\\";
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring program = folder + L"tidewell.exe";
    const std::wstring marker = folder + L"msimg32.dll.loaded";
    DeleteFileW(marker.c_str());
    ASSERT_TRUE(
        CopyFileW((build + L"..\\..\\src\\app\\tidewell.exe").c_str(), program.c_str(), FALSE));
    ASSERT_TRUE(CopyFileW((build + L"planted\\msimg32.dll").c_str(),
                          (folder + L"msimg32.dll").c_str(), FALSE));

    // Wine prefers its own msimg32 to one beside the program; Windows, for a library that is
    // not a known one, takes the program's folder first. The child is told to do the same.
    wchar_t overrides[512] = {};
    const DWORD overridesLength = GetEnvironmentVariableW(L"WINEDLLOVERRIDES", overrides, 480);
    const std::wstring planted =
        (overridesLength > 0 ? std::wstring(overrides) + L";" : std::wstring()) + L"msimg32=n,b";
    SetEnvironmentVariableW(L"WINEDLLOVERRIDES", planted.c_str());
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started = {};
    std::wstring commandLine = L"\"" + program + L"\"";
    ASSERT_TRUE(CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0,
                               nullptr, folder.c_str(), &startup, &started));
    SetEnvironmentVariableW(L"WINEDLLOVERRIDES", overridesLength > 0 ? overrides : nullptr);
    WindowOfProcess search;
    search.processId = started.dwProcessId;
    const ULONGLONG deadline = GetTickCount64() + 30000;
    while (search.window == nullptr && GetTickCount64() < deadline &&
           WaitForSingleObject(started.hProcess, 100) == WAIT_TIMEOUT) {
        EnumWindows(&WindowOfProcess::visit, reinterpret_cast<LPARAM>(&search));
    }
    EXPECT_NE(search.window, nullptr) << "the copied program did not show its window";
    EXPECT_FALSE(Exists(marker)) << "the planted library was loaded";
    if (search.window != nullptr) {
        PostMessageW(search.window, WM_CLOSE, 0, 0);
    }
    if (WaitForSingleObject(started.hProcess, 10000) != WAIT_OBJECT_0) {
        TerminateProcess(started.hProcess, 1);
        WaitForSingleObject(started.hProcess, 5000);
    }
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    for (const wchar_t* name : {L"tidewell.exe", L"msimg32.dll", L"msimg32.dll.loaded"}) {
        DeleteFileW((folder + name).c_str());
    }
    RemoveDirectoryW(folder.c_str());
}

} // namespace
} // namespace tidewell
