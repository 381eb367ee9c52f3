#include "support/ProgramPath.h"
#include "platform/fake/FakePlatform.h"
#include "support/Text.h"

#include <gtest/gtest.h>

namespace tidewell {
namespace {

const std::u16string kOracleExe = u"C:\\Program Files\\Oracle\\dbhome_2\\bin\\ORACLE.EXE";

// Each spelling the service manager and the uninstall list use for a program.
TEST(ProgramPathTest, EverySpellingNamesTheProgram) {
    FakePlatform machine;
    machine.setWindowsDirectory(u"C:\\Windows");
    machine.setEnvironment(u"SystemRoot", u"C:\\Windows");
    machine.setEnvironment(u"ORACLE_BASE", u"C:\\Program Files\\Oracle");
    machine.addShortName(u"C:\\PROGRA~1", u"C:\\Program Files");
    const struct {
        std::u16string commandLine;
        std::u16string program;
    } cases[] = {
        {u"\"" + kOracleExe + u"\" XE", kOracleExe},
        {u"  \"" + kOracleExe + u"\"", kOracleExe},
        {kOracleExe + u" XE", kOracleExe}, // unquoted, with blanks: ends after ".exe"
        {kOracleExe, kOracleExe},
        {u"%ORACLE_BASE%\\dbhome_2\\bin\\ORACLE.EXE XE", kOracleExe},
        {u"\\??\\" + kOracleExe, kOracleExe},
        {u"\\\\?\\" + kOracleExe, kOracleExe},
        {u"C:\\PROGRA~1\\Oracle\\dbhome_2\\bin\\ORACLE.EXE XE", kOracleExe},
        {u"%SystemRoot%\\System32\\svchost.exe -k netsvcs", u"C:\\Windows\\System32\\svchost.exe"},
        {u"\\SystemRoot\\System32\\drivers\\oradrv.sys",
         u"C:\\Windows\\System32\\drivers\\oradrv.sys"},
        {u"System32\\drivers\\oradrv.sys", u"C:\\Windows\\System32\\drivers\\oradrv.sys"},
        {u"\\??\\UNC\\server\\share\\svc.exe", u"\\\\server\\share\\svc.exe"},
        {u"C:\\tools\\agent -run", u"C:\\tools\\agent"}, // no ".exe": up to the first blank
        // Nothing absolute: no place to compare.
        {u"MsiExec.exe /X{AC-2024}", u""},
        {u"%NOT_SET%\\bin\\x.exe", u""},
        {u"", u""},
        {u"\"unclosed", u""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ToUtf8(ProgramPathOf(machine, c.commandLine)), ToUtf8(c.program))
            << ToUtf8(c.commandLine);
    }
}

// Whole names, folded as the removal folds them.
TEST(ProgramPathTest, AtOrBelowComparesWholeNames) {
    const struct {
        const char16_t* path;
        const char16_t* folder;
        bool below;
    } cases[] = {
        {u"C:\\Program Files\\Oracle\\bin\\oracle.exe", u"c:\\program files\\ORACLE", true},
        {u"C:\\Program Files\\Oracle", u"C:\\Program Files\\Oracle\\", true},
        {u"C:/Program Files/Oracle/x", u"C:\\Program Files\\Oracle", true},
        {u"C:\\x", u"C:\\", true},
        {u"C:\\Program Files\\Oracle2\\x", u"C:\\Program Files\\Oracle", false},
        {u"C:\\Program Files", u"C:\\Program Files\\Oracle", false},
        {u"C:\\x", u"", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PathIsAtOrBelow(c.path, c.folder), c.below)
            << ToUtf8(c.path) << " in " << ToUtf8(c.folder);
    }
    EXPECT_EQ(ToUtf8(ParentFolder(u"C:\\a\\b.exe")), "C:\\a");
    EXPECT_EQ(ToUtf8(ParentFolder(u"C:\\b.exe")), "C:\\");
    EXPECT_EQ(ToUtf8(ParentFolder(u"b.exe")), "");
}

} // namespace
} // namespace tidewell
