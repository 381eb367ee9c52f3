// Checks of the throwaway prefix that scripts/wine/with-prefix.sh prepares for the Windows
// tests. Each one fails when a step of that preparation is missing; on Windows itself they skip.
#include "RemovalWin32Support.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <shlobj.h>

#include <string>

namespace {

using tidewell::removaltest::RunningUnderWine;

std::string Narrow(const std::wstring& text) {
    return tidewell::removaltest::Narrow(tidewell::win32::FromWide(text.c_str()));
}

class WinePrefixTest : public testing::Test {
protected:
    void SetUp() override {
        if (!RunningUnderWine()) {
            GTEST_SKIP() << "not running under Wine";
        }
    }
};

// Wine links these folders to $HOME; the harness replaces the links by folders of the prefix,
// so logs and backups that tests write stay inside it.
TEST_F(WinePrefixTest, DesktopAndDocumentsAreRealFoldersOnDriveC) {
    const struct {
        int folder;
        const char* name;
    } cases[] = {
        {CSIDL_DESKTOPDIRECTORY, "desktop"},
        {CSIDL_PERSONAL, "documents"},
        {CSIDL_MYMUSIC, "music"},
    };
    for (const auto& c : cases) {
        wchar_t path[MAX_PATH] = {};
        ASSERT_EQ(S_OK, SHGetFolderPathW(nullptr, c.folder, nullptr, SHGFP_TYPE_CURRENT, path))
            << c.name;
        const std::wstring folder = path;
        EXPECT_EQ(0u, folder.rfind(L"C:\\", 0)) << c.name << ": " << Narrow(folder);
        const DWORD attributes = GetFileAttributesW(path);
        ASSERT_NE(INVALID_FILE_ATTRIBUTES, attributes) << c.name << ": " << GetLastError();
        EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY) << c.name;
        EXPECT_FALSE(attributes & FILE_ATTRIBUTE_REPARSE_POINT)
            << c.name << " is still a link out of the prefix: " << Narrow(folder);
    }
}

// The Chinese interface needs its UI faces substituted by an installed CJK font; without the
// substitution Wine falls back to a font that has no glyphs for these characters.
TEST_F(WinePrefixTest, UiFacesHaveChineseGlyphs) {
    const wchar_t* faces[] = {L"Segoe UI", L"Microsoft YaHei UI"};
    const std::wstring text = L"程序文件残留";
    HDC dc = CreateCompatibleDC(nullptr);
    ASSERT_NE(nullptr, dc);
    for (const wchar_t* face : faces) {
        HFONT font = CreateFontW(-16, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                 OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                 DEFAULT_PITCH, face);
        ASSERT_NE(nullptr, font) << Narrow(face);
        HGDIOBJ previous = SelectObject(dc, font);
        WORD glyphs[16] = {};
        const DWORD count = GetGlyphIndicesW(dc, text.c_str(), static_cast<int>(text.size()),
                                             glyphs, GGI_MARK_NONEXISTING_GLYPHS);
        EXPECT_EQ(text.size(), count) << Narrow(face);
        for (size_t i = 0; i < text.size() && i < count; ++i) {
            EXPECT_NE(0xFFFF, glyphs[i]) << Narrow(face) << ": no glyph for character " << i;
        }
        SelectObject(dc, previous);
        DeleteObject(font);
    }
    DeleteDC(dc);
}

// Windows need a display (without one CreateWindowExW fails with 1400); screenshots and
// synthetic clicks assume the 1024x768 desktop.
TEST_F(WinePrefixTest, WindowsOpenOnA1024By768Desktop) {
    HWND window = CreateWindowExW(0, L"STATIC", L"冒烟测试", WS_POPUP, 0, 0, 200, 100, nullptr,
                                  nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(nullptr, window) << GetLastError();
    EXPECT_EQ(1024, GetSystemMetrics(SM_CXSCREEN));
    EXPECT_EQ(768, GetSystemMetrics(SM_CYSCREEN));
    EXPECT_TRUE(DestroyWindow(window));
}

// The emulator starts every test program in C:\, so a relative path can never reach the source
// or build tree through drive Z:.
TEST_F(WinePrefixTest, TestsStartOnDriveC) {
    wchar_t directory[MAX_PATH] = {};
    ASSERT_NE(0u, GetCurrentDirectoryW(MAX_PATH, directory));
    EXPECT_EQ(0u, std::wstring(directory).rfind(L"C:\\", 0)) << Narrow(directory);
}

} // namespace
