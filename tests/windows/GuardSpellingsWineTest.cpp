// The guard on the real system: short (8.3) spellings of the protected folders, the machine's
// own administrative shares and streams of them (which Wine cannot open, so only the guard's
// reading of them is checked here), and the
// program and data folders when the variables that name them are emptied.
#include "PrefixSupport.h"
#include "clean/ProtectedLocations.h"
#include "platform/win32/Wide.h"
#include "platform/win32/Win32Platform.h"
#include "support/Text.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <shlobj.h>

namespace tidewell {
namespace {

using prefix::Env;
using prefix::ScopedVariable;
using prefix::ShellFolder;
using win32::AsWide;
using win32::FromWide;

TEST(GuardSpellingsWineTest, ShortNamesSharesAndStreamsOfProtectedFoldersAreRefused) {
    Win32Platform platform;
    wchar_t computer[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD computerLength = MAX_COMPUTERNAME_LENGTH + 1;
    ASSERT_TRUE(GetComputerNameW(computer, &computerLength));
    int shortened = 0;
    for (const std::u16string& folder :
         {Env(u"ProgramW6432"), Env(u"ProgramFiles(x86)"), Env(u"ProgramData"), Env(u"TEMP"),
          Env(u"USERPROFILE"), ShellFolder(CSIDL_PERSONAL), ShellFolder(CSIDL_LOCAL_APPDATA)}) {
        ASSERT_FALSE(folder.empty());
        wchar_t shortName[MAX_PATH] = {};
        const DWORD length = GetShortPathNameW(AsWide(folder), shortName, MAX_PATH);
        ASSERT_GT(length, 0u) << ToUtf8(folder);
        const std::u16string spelling = FromWide(shortName, length);
        shortened += spelling != folder ? 1 : 0;
        const std::u16string onShare = folder.substr(0, 1) + u"$" + folder.substr(2);
        for (const std::u16string& refused :
             {spelling, u"\\\\localhost\\" + onShare, u"\\\\127.0.0.1\\" + onShare,
              u"\\\\?\\UNC\\localhost\\" + onShare,
              u"\\\\" + FromWide(computer, computerLength) + u"\\" + onShare,
              folder + u"::$INDEX_ALLOCATION"}) {
            EXPECT_TRUE(IsProtectedLocation(platform, refused))
                << ToUtf8(refused) << " for " << ToUtf8(folder);
        }
    }
    EXPECT_GT(shortened, 0) << "no folder has a short name of its own here";
    wchar_t shortPrograms[MAX_PATH] = {};
    const DWORD length = GetShortPathNameW(AsWide(Env(u"ProgramW6432")), shortPrograms, MAX_PATH);
    EXPECT_FALSE(
        IsProtectedLocation(platform, FromWide(shortPrograms, length) + u"\\TidewellNotThere"));
}

TEST(GuardSpellingsWineTest, ProgramAndDataFoldersStayProtectedWhenTheirVariablesAreEmpty) {
    Win32Platform platform;
    const std::u16string programs = Env(u"ProgramW6432");
    const std::u16string programs86 = Env(u"ProgramFiles(x86)");
    const std::u16string data = Env(u"ProgramData");
    const std::u16string users = Env(u"PUBLIC").substr(0, Env(u"PUBLIC").rfind(u'\\'));
    ASSERT_FALSE(programs.empty() || programs86.empty() || data.empty() || users.empty());

    ScopedVariable emptied[] = {
        {u"ProgramFiles", u""}, {u"ProgramW6432", u""},    {u"ProgramFiles(x86)", u""},
        {u"ProgramData", u""},  {u"ALLUSERSPROFILE", u""}, {u"PUBLIC", u""},
    };
    for (const std::u16string& folder : {programs, programs86, data, users}) {
        EXPECT_TRUE(IsProtectedLocation(platform, folder)) << ToUtf8(folder);
    }
    EXPECT_FALSE(IsProtectedLocation(platform, programs + u"\\Oracle"));
}

} // namespace
} // namespace tidewell
