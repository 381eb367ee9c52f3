// The guard against the spellings and settings a real machine has beyond the plain table: short
// (8.3) names on either side, and variables that are empty while the system's own record of its
// folders still names them.
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

TEST(ProtectedSpellingsTest, ShortNamesOfProtectedFoldersAreRefused) {
    FakePlatform machine;
    machine.setEnvironment(u"ProgramFiles", u"C:\\Program Files");
    machine.setEnvironment(u"TEMP", u"C:\\Users\\ADMINI~1\\AppData\\Local\\Temp");
    machine.addShortName(u"C:\\PROGRA~1", u"C:\\Program Files");
    machine.addShortName(u"C:\\Users\\ADMINI~1", u"C:\\Users\\Administrator");

    for (const char16_t* refused :
         {u"C:\\PROGRA~1", u"c:\\progra~1\\", u"C:\\Users\\Administrator\\AppData\\Local\\Temp",
          u"C:\\Users\\ADMINI~1\\AppData", u"C:\\Users\\Administrator\\AppData"}) {
        EXPECT_TRUE(IsProtectedLocation(machine, refused)) << Narrow(refused);
    }
    for (const char16_t* allowed :
         {u"C:\\PROGRA~1\\Oracle", u"C:\\Users\\Administrator\\AppData\\Local\\Temp\\ora123"}) {
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
