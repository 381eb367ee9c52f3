#include "clean/FileRemoval.h"
#include "platform/SystemCodes.h"
#include "platform/fake/FakePlatform.h"
#include "support/Text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace tidewell {
namespace {

std::string Show(const std::vector<std::u16string>& journal) {
    std::string shown;
    for (const auto& entry : journal) {
        shown += ToUtf8(entry) + "\n";
    }
    return shown;
}

// Attributes are reset only on entries that carry read-only, hidden or system, right before
// their deletion; every other entry costs no reset call.
TEST(RemovalCallsTest, OnlyBlockingAttributesAreReset) {
    const std::u16string top = u"C:\\Program Files\\Oracle";
    FakePlatform machine;
    machine.addFile(top + u"\\plain.txt");
    machine.addFile(top + u"\\ro.txt", "x", codes::kAttributeReadOnly);
    machine.addFile(top + u"\\hidden.txt", "x", codes::kAttributeHidden | 0x20);
    machine.addFile(top + u"\\system.dll", "x", codes::kAttributeSystem);
    machine.addDirectory(top + u"\\Plain Folder");
    machine.addFile(top + u"\\Plain Folder\\inner.dat");
    machine.addDirectory(top + u"\\Hidden Folder");
    machine.setAttributesDirectly(top + u"\\Hidden Folder", 0x10 | codes::kAttributeHidden);

    const ActionResult result = RemoveDirectoryTree(machine, top);
    EXPECT_TRUE(result.success) << ToUtf8(result.message) << "\n" << machine.dump();
    EXPECT_EQ(result.message, u"目录已删除");
    EXPECT_FALSE(machine.exists(top));

    std::vector<std::u16string> resets;
    for (size_t i = 0; i < machine.journal.size(); ++i) {
        const std::u16string& entry = machine.journal[i];
        if (entry.rfind(u"setFileAttributes ", 0) != 0) {
            continue;
        }
        const std::u16string path = entry.substr(18);
        resets.push_back(path);
        ASSERT_LT(i + 1, machine.journal.size());
        const std::u16string& next = machine.journal[i + 1];
        EXPECT_TRUE(next == u"deleteFile " + path || next == u"removeDirectory " + path)
            << Show(machine.journal);
    }
    std::sort(resets.begin(), resets.end());
    const std::vector<std::u16string> expected = {top + u"\\Hidden Folder", top + u"\\hidden.txt",
                                                  top + u"\\ro.txt", top + u"\\system.dll"};
    EXPECT_EQ(resets, expected) << Show(machine.journal);

    // A missing file costs no call; a single read-only file, and a plain one.
    machine.addFile(u"C:\\Data\\ro.log", "x", codes::kAttributeReadOnly);
    machine.addFile(u"C:\\Data\\plain.log");
    machine.journal.clear();
    EXPECT_EQ(RemoveFile(machine, u"C:\\Data\\gone.log").message, u"文件已不存在");
    EXPECT_EQ(RemoveFile(machine, u"C:\\Data\\ro.log").message, u"文件已删除");
    EXPECT_EQ(RemoveFile(machine, u"C:\\Data\\plain.log").message, u"文件已删除");
    const std::vector<std::u16string> calls = {u"setFileAttributes C:\\Data\\ro.log",
                                               u"deleteFile C:\\Data\\ro.log",
                                               u"deleteFile C:\\Data\\plain.log"};
    EXPECT_EQ(machine.journal, calls) << Show(machine.journal);
}

} // namespace
} // namespace tidewell
