// The guard against the spellings and settings a real machine has beyond the plain table: short
// (8.3) names on either side, this machine's administrative shares, streams, and variables that are
// empty while the system's own record of its folders still names them.
#include "clean/ProtectedLocations.h"
#include "platform/fake/FakePlatform.h"

#include <gtest/gtest.h>

namespace tidewell {
namespace {

const std::u16string kVersionKey = u"Software\\Microsoft\\Windows\\CurrentVersion";
const std::u16string kProfileList = u"Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
constexpr uint32_t kExpandString = 2; // REG_EXPAND_SZ

std::string Narrow(const std::u16string& text) {
    return std::string(text.begin(), text.end());
}

TEST(ProtectedSpellingsTest, ShortNamesSharesAndStreamsOfProtectedFoldersAreRefused) {
    FakePlatform machine;
    machine.setEnvironment(u"ProgramFiles", u"C:\\Program Files");
    machine.setEnvironment(u"TEMP", u"C:\\Users\\ADMINI~1\\AppData\\Local\\Temp");
    machine.addShortName(u"C:\\PROGRA~1", u"C:\\Program Files");
    machine.addShortName(u"C:\\Users\\ADMINI~1", u"C:\\Users\\Administrator");

    for (const char16_t* refused : {u"C:\\PROGRA~1",
                                    u"c:\\progra~1\\",
                                    u"C:\\Users\\Administrator\\AppData\\Local\\Temp",
                                    u"C:\\Users\\ADMINI~1\\AppData",
                                    u"C:\\Users\\Administrator\\AppData",
                                    u"\\\\localhost\\C$\\Program Files",
                                    u"\\\\LOCALHOST.\\c$\\",
                                    u"\\\\127.0.0.1\\C$\\Windows",
                                    u"\\\\127.1\\C$\\Windows\\System32",
                                    u"\\\\2130706433\\C$\\Windows",
                                    u"\\\\0--1.ipv6-literal.net\\C$\\Windows",
                                    u"\\\\?\\UNC\\localhost\\C$\\Windows",
                                    u"\\\\.\\UNC\\127.0.0.1\\C$\\Program Files\\Oracle\\..",
                                    u"\\\\WORKSTATION\\C$\\Windows",
                                    u"\\\\workstation.corp.example\\D$",
                                    u"\\\\localhost\\ADMIN$",
                                    u"\\\\Workstation\\admin$\\System32",
                                    u"\\\\localhost\\Users\\Public\\Oracle",
                                    u"C:\\Windows::$INDEX_ALLOCATION",
                                    u"C:\\Program Files\\Oracle:stream",
                                    u"\\\\server\\share\\oracle::$DATA"}) {
        EXPECT_TRUE(IsProtectedLocation(machine, refused)) << Narrow(refused);
    }
    for (const char16_t* allowed :
         {u"C:\\PROGRA~1\\Oracle", u"C:\\Users\\Administrator\\AppData\\Local\\Temp\\ora123",
          u"\\\\localhost\\C$\\Program Files\\Oracle", u"\\\\otherhost\\C$\\Windows",
          u"\\\\128.0.0.1\\C$\\Windows"}) {
        EXPECT_FALSE(IsProtectedLocation(machine, allowed)) << Narrow(allowed);
    }
}

TEST(ProtectedSpellingsTest, FoldersTheSystemRecordsHoldWhenTheirVariablesAreEmpty) {
    FakePlatform machine;
    for (const char16_t* variable :
         {u"ProgramFiles", u"ProgramW6432", u"ProgramFiles(x86)", u"ProgramData", u"PUBLIC",
          u"USERPROFILE", u"ALLUSERSPROFILE"}) {
        machine.setEnvironment(variable, u"");
    }
    const char16_t* unprotected[] = {u"C:\\Program Files", u"C:\\Program Files (x86)",
                                     u"C:\\ProgramData", u"C:\\Users", u"C:\\Users\\Public"};
    for (const char16_t* folder : unprotected) {
        EXPECT_FALSE(IsProtectedLocation(machine, folder)) << "nothing names it yet";
    }

    machine.setStringValue(RegistryRoot::LocalMachine, RegistryView::Bits64, kVersionKey,
                           u"ProgramFilesDir", u"C:\\Program Files");
    machine.setStringValue(RegistryRoot::LocalMachine, RegistryView::Bits64, kVersionKey,
                           u"ProgramFilesDir (x86)", u"C:\\Program Files (x86)");
    machine.setStringValue(RegistryRoot::LocalMachine, RegistryView::Bits64, kProfileList,
                           u"ProfilesDirectory", u"%SystemDrive%\\Users", kExpandString);
    machine.setStringValue(RegistryRoot::LocalMachine, RegistryView::Bits64, kProfileList,
                           u"ProgramData", u"%SYSTEMDRIVE%\\ProgramData", kExpandString);
    machine.setStringValue(RegistryRoot::LocalMachine, RegistryView::Bits64, kProfileList,
                           u"Public", u"%SystemDrive%\\Users\\Public", kExpandString);
    for (const char16_t* folder : unprotected) {
        EXPECT_TRUE(IsProtectedLocation(machine, folder)) << Narrow(folder);
    }
    EXPECT_FALSE(IsProtectedLocation(machine, u"C:\\Program Files\\Oracle"));

    // A reference the guard cannot expand names no folder: nothing is refused because of it.
    machine.setStringValue(RegistryRoot::LocalMachine, RegistryView::Bits64, kProfileList,
                           u"ProfilesDirectory", u"%OtherDrive%\\Profiles", kExpandString);
    EXPECT_FALSE(IsProtectedLocation(machine, u"C:\\Profiles"));
    EXPECT_TRUE(IsProtectedLocation(machine, u"C:\\Users\\Public"));
}

} // namespace
} // namespace tidewell
