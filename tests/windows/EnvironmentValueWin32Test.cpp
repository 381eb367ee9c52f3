// Oracle's environment values in the user's real environment: found by the scan, removed with a
// backup of the value, and brought back by the restore note's command.
#include "RemovalWin32Support.h"
#include "catalogue/ScanCollector.h"
#include "clean/CleanItem.h"
#include "platform/SystemCodes.h"
#include "platform/win32/Win32Platform.h"
#include "support/ChildProcess.h"
#include "support/RunLog.h"
#include "support/Text.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace tidewell {
namespace {

using namespace removaltest;

const std::u16string kEnvironment = u"Environment";
constexpr RegistryRoot kUser = RegistryRoot::CurrentUser;
constexpr RegistryView k64 = RegistryView::Bits64;

std::vector<uint8_t> Bytes(const std::u16string& text) {
    std::vector<uint8_t> bytes;
    for (char16_t unit : text) {
        bytes.push_back(static_cast<uint8_t>(unit & 0xFF));
        bytes.push_back(static_cast<uint8_t>(unit >> 8));
    }
    return bytes;
}

class EnvironmentValueWin32Test : public ::testing::Test {
protected:
    void SetUp() override {
        // Whatever the prefix's user had is put back afterwards.
        saved = platform.readValues(kUser, k64, kEnvironment, {u"ORACLE_HOME", u"Path"});
        backupFolder = CreateBackupFolder(platform);
        ASSERT_TRUE(Exists(backupFolder)) << Narrow(backupFolder);
    }
    void TearDown() override {
        const char16_t* names[] = {u"ORACLE_HOME", u"Path"};
        for (size_t i = 0; i < 2; ++i) {
            platform.deleteValue(kUser, k64, kEnvironment, names[i]);
            if (saved.error == codes::kSuccess && saved.values[i].error == codes::kSuccess) {
                platform.writeValue(kUser, k64, kEnvironment, names[i], saved.values[i].type,
                                    saved.values[i].data);
            }
        }
    }

    Win32Platform platform;
    RegistryValues saved;
    std::u16string backupFolder;
};

TEST_F(EnvironmentValueWin32Test, DeadValueAndPathEntryRemovedAndRestoredByTheNote) {
    const std::u16string home =
        u"C:\\tidewell-gone-" + Decimal(GetTickCount64()) + u"\\oracle\\product\\12.2.0\\client_1";
    const std::vector<uint8_t> homeBytes = Bytes(home + std::u16string(1, u'\0'));
    const std::u16string path = u"C:\\keep;" + home + u"\\bin;;%SystemRoot%\\system32";
    const std::vector<uint8_t> pathBytes = Bytes(path + std::u16string(1, u'\0'));
    ASSERT_EQ(
        platform.writeValue(kUser, k64, kEnvironment, u"ORACLE_HOME", codes::kRegSz, homeBytes),
        codes::kSuccess);
    ASSERT_EQ(
        platform.writeValue(kUser, k64, kEnvironment, u"Path", codes::kRegExpandSz, pathBytes),
        codes::kSuccess);

    ScanCollector collector(platform, ProductKind::Oracle);
    collector.scanOracleRecords();
    std::vector<const ResidueItem*> found;
    for (const auto& item : collector.items) {
        if (item->kind == ItemKind::EnvironmentValue && item->registryRoot == kUser) {
            found.push_back(item.get());
        }
    }
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0]->title, u"ORACLE_HOME（用户）");
    EXPECT_EQ(found[1]->title, u"Path（用户）：" + home + u"\\bin");
    std::vector<RestoreEntry> restores;
    for (const ResidueItem* item : found) {
        EXPECT_TRUE(item->checked) << Narrow(item->title);
        const ActionResult result = CleanItem(platform, backupFolder, *item);
        EXPECT_TRUE(result.success) << Narrow(result.message);
        NoteRestore(platform, backupFolder, *item, result, restores);
    }
    RegistryValues after = platform.readValues(kUser, k64, kEnvironment, {u"ORACLE_HOME", u"Path"});
    EXPECT_EQ(after.values[0].error, codes::kFileNotFound);
    EXPECT_EQ(after.values[1].type, codes::kRegExpandSz);
    EXPECT_EQ(after.values[1].data,
              Bytes(u"C:\\keep;;%SystemRoot%\\system32" + std::u16string(1, u'\0')));

    // The note's commands, in its order, as pasted into a command prompt.
    const std::string note = ReadBytes(backupFolder + u"\\恢复说明.txt");
    size_t commands = 0;
    for (size_t at = note.find("reg import "); at != std::string::npos;
         at = note.find("reg import ", at + 1)) {
        const std::u16string command = FromUtf8(note.substr(at, note.find("\r\n", at) - at));
        uint32_t exitCode = 1;
        ASSERT_TRUE(RunProcessAndWait(platform, u"cmd.exe /c " + command, exitCode, 60000).ended);
        EXPECT_EQ(exitCode, 0u) << Narrow(command);
        ++commands;
    }
    EXPECT_EQ(commands, 2u);
    after = platform.readValues(kUser, k64, kEnvironment, {u"ORACLE_HOME", u"Path"});
    EXPECT_EQ(after.values[0].type, codes::kRegSz);
    EXPECT_EQ(after.values[0].data, homeBytes);
    EXPECT_EQ(after.values[1].type, codes::kRegExpandSz);
    EXPECT_EQ(after.values[1].data, pathBytes);
}

} // namespace
} // namespace tidewell
