#include "support/Environment.h"
#include "platform/SystemCodes.h"
#include "platform/fake/FakePlatform.h"

#include <gtest/gtest.h>

namespace tidewell {
namespace {

TEST(EnvironmentTest, EnsureDirectoryCreatesOnlyWhatIsMissingFromTheTop) {
    FakePlatform machine;
    machine.addDirectory(u"D:\\");
    EXPECT_TRUE(EnsureDirectory(machine, u"D:\\a\\b\\c")) << machine.dump();
    const std::vector<std::u16string> expected = {
        u"createDirectory D:\\a", u"createDirectory D:\\a\\b", u"createDirectory D:\\a\\b\\c"};
    EXPECT_EQ(machine.journal, expected);
    EXPECT_TRUE(machine.isDirectory(u"D:\\a\\b\\c"));
    // Again: it is there, nothing more is created.
    EXPECT_TRUE(EnsureDirectory(machine, u"D:\\a\\b\\c"));
    EXPECT_EQ(machine.journal, expected);

    machine.failCall(FakeCall::CreateDirectory, codes::kAccessDenied, u"Locked\\New");
    EXPECT_FALSE(EnsureDirectory(machine, u"D:\\Locked\\New"));
    // A name taken by a file counts as "already exists": the caller finds out later.
    machine.addFile(u"C:\\Taken");
    EXPECT_TRUE(EnsureDirectory(machine, u"C:\\Taken"));
}

TEST(EnvironmentTest, UndefinedAndEmptyVariablesBothReadAsEmpty) {
    FakePlatform machine;
    machine.setEnvironment(u"EMPTY", u"");
    machine.setEnvironment(u"ORACLE_HOME", u"%SystemDrive%\\oracle");
    EXPECT_EQ(ReadEnvironmentVariable(machine, u"UNDEFINED"), u"");
    EXPECT_EQ(ReadEnvironmentVariable(machine, u"EMPTY"), u"");
    EXPECT_EQ(ReadEnvironmentVariable(machine, u"oracle_home"), u"%SystemDrive%\\oracle");
}

TEST(EnvironmentTest, ShellFolderIsEmptyWhenTheShellFails) {
    FakePlatform machine;
    machine.setShellFolderPath(ShellFolder::Desktop, u"C:\\Users\\u\\Desktop");
    EXPECT_EQ(ShellFolderPath(machine, ShellFolder::Desktop), u"C:\\Users\\u\\Desktop");
    EXPECT_EQ(ShellFolderPath(machine, ShellFolder::Documents), u"");
}

} // namespace
} // namespace tidewell
