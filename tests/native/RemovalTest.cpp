#include "clean/FileRemoval.h"
#include "platform/ExtendedLengthPath.h"
#include "platform/SystemCodes.h"
#include "platform/fake/FakePlatform.h"
#include "support/Text.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace tidewell {
namespace {

const std::u16string kPartly = u"部分内容无法删除：";

// A machine whose system texts are chosen by the test.
class WordyMachine : public FakePlatform {
public:
    std::optional<std::u16string> text;
    std::optional<std::u16string> systemMessage(uint32_t) override { return text; }
};

TEST(SystemErrorTextTest, DropsOnlyTrailingLineBreaks) {
    struct Case {
        std::optional<std::u16string> system;
        std::u16string expected;
    };
    const Case cases[] = {
        {u"Access is denied.\r\n", u"Access is denied."},
        {u"拒绝访问。\r\n", u"拒绝访问。"},
        {u"Two breaks.\r\n\r\n", u"Two breaks."},
        {u"Reversed\n\r", u"Reversed"},
        {u"Spaces stay. \r\n", u"Spaces stay. "},
        {u"\r\nInner\r\nbreaks stay", u"\r\nInner\r\nbreaks stay"},
        {std::nullopt, u"未知错误"},
        {u"", u"未知错误"},
    };
    WordyMachine machine;
    for (const Case& c : cases) {
        machine.text = c.system;
        EXPECT_EQ(SystemErrorText(machine, 5), c.expected) << ToUtf8(c.expected);
    }

    FakePlatform plain;
    EXPECT_EQ(SystemErrorText(plain, codes::kSharingViolation),
              u"The process cannot access the file because it is being used by another process.");
    EXPECT_EQ(SystemErrorText(plain, 4242), u"未知错误");
}

TEST(RemoveFileTest, EveryRowOfTheResultTable) {
    const std::u16string path = u"C:\\Program Files\\Autodesk\\acad.exe";
    struct Case {
        const char* name;
        std::function<void(FakePlatform&)> prepare;
        bool success;
        bool rebootPending;
        std::u16string message;
        bool gone;
    };
    const Case cases[] = {
        {"missing", [](FakePlatform&) {}, true, false, u"文件已不存在", true},
        {"plain", [&](FakePlatform& m) { m.addFile(path); }, true, false, u"文件已删除", true},
        {"read-only hidden system", [&](FakePlatform& m) { m.addFile(path, "x", 0x7); }, true,
         false, u"文件已删除", true},
        {"locked",
         [&](FakePlatform& m) {
             m.addFile(path);
             m.lockFile(path);
         },
         true, true, u"文件将在重启后删除", false},
        {"locked, registration refused",
         [&](FakePlatform& m) {
             m.addFile(path);
             m.lockFile(path);
             m.failCall(FakeCall::DeleteAtRestart, codes::kAccessDenied);
         },
         false, false, u"Access is denied.", false},
        {"locked, registration refused with a code the system has no text for",
         [&](FakePlatform& m) {
             m.addFile(path);
             m.lockFile(path);
             m.failCall(FakeCall::DeleteAtRestart, 4242);
         },
         false, false, u"未知错误", false},
        {"attributes unreadable: a failure, not gone",
         [&](FakePlatform& m) {
             m.addFile(path);
             m.failCall(FakeCall::FileAttributes, codes::kAccessDenied);
         },
         false, false, u"Access is denied.", false},
        {"path not found: gone",
         [&](FakePlatform& m) { m.failCall(FakeCall::FileAttributes, codes::kPathNotFound); }, true,
         false, u"文件已不存在", true},
    };
    for (const Case& c : cases) {
        FakePlatform machine;
        c.prepare(machine);
        const ActionResult result = RemoveFile(machine, path);
        EXPECT_EQ(result.success, c.success) << c.name << "\n" << machine.dump();
        EXPECT_EQ(result.rebootPending, c.rebootPending) << c.name;
        EXPECT_EQ(result.message, c.message) << c.name << ": " << ToUtf8(result.message);
        EXPECT_EQ(!machine.exists(path), c.gone) << c.name << "\n" << machine.dump();
        const bool registered = !machine.pendingDeletions.empty();
        EXPECT_EQ(registered, c.rebootPending) << c.name;
    }
}

TEST(RemoveDirectoryTreeTest, MissingPathAndPlainFileCountAsGone) {
    FakePlatform machine;
    machine.addFile(u"C:\\Oracle\\readme.txt");
    for (const std::u16string path : {u"C:\\Nowhere", u"C:\\Oracle\\readme.txt"}) {
        const ActionResult result = RemoveDirectoryTree(machine, path);
        EXPECT_TRUE(result.success);
        EXPECT_FALSE(result.rebootPending);
        EXPECT_EQ(result.message, u"目录已不存在");
    }
    EXPECT_TRUE(machine.exists(u"C:\\Oracle\\readme.txt"));
    EXPECT_TRUE(machine.journal.empty()) << machine.dump();
}

// Depth first, children before their directory; attributes are reset only where read-only,
// hidden or system would block the deletion, right before it.
TEST(RemoveDirectoryTreeTest, RemovesDepthFirstChildrenBeforeTheirDirectory) {
    FakePlatform machine;
    const std::u16string top = u"C:\\Program Files\\SOLIDWORKS Corp";
    machine.addFile(top + u"\\a.dll", "", codes::kAttributeArchive);
    machine.addFile(top + u"\\.config", "", codes::kAttributeHidden | codes::kAttributeArchive);
    machine.addFile(top + u"\\..odd");
    machine.addFile(top + u"\\sub\\deep\\x.bin", "", codes::kAttributeSystem);
    machine.addFile(top + u"\\sub\\y.bin", "", codes::kAttributeReadOnly);
    machine.addDirectory(top + u"\\sub\\empty");
    machine.setAttributesDirectly(top + u"\\sub\\empty",
                                  codes::kAttributeDirectory | codes::kAttributeReadOnly);
    machine.addDirectory(top + u"\\sub\\hidden");
    machine.setAttributesDirectly(top + u"\\sub\\hidden",
                                  codes::kAttributeDirectory | codes::kAttributeHidden);
    machine.addFile(top + u"\\z.txt");

    const ActionResult result = RemoveDirectoryTree(machine, top);

    EXPECT_TRUE(result.success) << machine.dump();
    EXPECT_FALSE(result.rebootPending);
    EXPECT_EQ(result.message, u"目录已删除");
    EXPECT_FALSE(machine.exists(top));
    // The fake lists in name order; every subdirectory is finished before the next sibling.
    const std::u16string reset = u"setFileAttributes " + top;
    const std::u16string file = u"deleteFile " + top;
    const std::u16string folder = u"removeDirectory " + top;
    const std::vector<std::u16string> expected = {
        file + u"\\..odd",
        reset + u"\\.config",
        file + u"\\.config",
        file + u"\\a.dll",
        reset + u"\\sub\\deep\\x.bin",
        file + u"\\sub\\deep\\x.bin",
        folder + u"\\sub\\deep",
        reset + u"\\sub\\empty",
        folder + u"\\sub\\empty",
        reset + u"\\sub\\hidden",
        folder + u"\\sub\\hidden",
        reset + u"\\sub\\y.bin",
        file + u"\\sub\\y.bin",
        folder + u"\\sub",
        file + u"\\z.txt",
        folder,
    };
    EXPECT_EQ(machine.journal, expected) << machine.dump();
    // The window gets a look at its queue for each of the ten entries walked.
    EXPECT_EQ(machine.queueLooks, 10);

    // A single file: nothing for a missing one; a reset only for a read-only one.
    machine.addFile(u"C:\\Data\\ro.log", "x", codes::kAttributeReadOnly);
    machine.addFile(u"C:\\Data\\plain.log");
    machine.journal.clear();
    EXPECT_EQ(RemoveFile(machine, u"C:\\Data\\gone.log").message, u"文件已不存在");
    EXPECT_EQ(RemoveFile(machine, u"C:\\Data\\ro.log").message, u"文件已删除");
    EXPECT_EQ(RemoveFile(machine, u"C:\\Data\\plain.log").message, u"文件已删除");
    EXPECT_EQ(machine.journal, (std::vector<std::u16string>{u"setFileAttributes C:\\Data\\ro.log",
                                                            u"deleteFile C:\\Data\\ro.log",
                                                            u"deleteFile C:\\Data\\plain.log"}));
}

TEST(RemoveDirectoryTreeTest, LockedFileDeepInsideIsRegisteredWithEveryDirectoryAbove) {
    FakePlatform machine;
    const std::u16string top = u"C:\\Program Files\\Autodesk\\AutoCAD 2024";
    machine.addFile(top + u"\\acad.exe");
    machine.addFile(top + u"\\Support\\Fonts\\locked.shx");
    machine.addFile(top + u"\\Support\\Fonts\\free.shx");
    machine.addFile(top + u"\\Support\\other.dat");
    machine.lockFile(top + u"\\Support\\Fonts\\locked.shx");

    const ActionResult result = RemoveDirectoryTree(machine, top);

    EXPECT_TRUE(result.success) << machine.dump();
    EXPECT_TRUE(result.rebootPending);
    EXPECT_EQ(result.message, u"部分内容将在重启后删除");
    // Windows carries registrations out in order: a directory must come after its content.
    const std::vector<std::u16string> expected = {
        top + u"\\Support\\Fonts\\locked.shx", top + u"\\Support\\Fonts", top + u"\\Support", top};
    EXPECT_EQ(machine.pendingDeletions, expected);
    EXPECT_EQ(machine.treeBelow(top),
              std::vector<std::u16string>({top + u"\\Support", top + u"\\Support\\Fonts",
                                           top + u"\\Support\\Fonts\\locked.shx"}));
}

// Kept locations stay with all below them, however spelled; only whole names compare.
TEST(RemoveDirectoryTreeTest, KeptLocationsAndTheFoldersLeadingToThemStay) {
    FakePlatform machine;
    const std::u16string top = u"C:\\Program Files\\Oracle";
    const std::u16string inventory = top + u"\\Inventory";
    const std::u16string deep = top + u"\\product\\19c\\network\\admin";
    machine.addFile(inventory + u"\\ContentsXML\\inventory.xml", "x", codes::kAttributeReadOnly);
    machine.addFile(top + u"\\Inventory2\\other.xml");
    machine.addFile(deep + u"\\tnsnames.ora");
    machine.addFile(top + u"\\product\\19c\\bin\\oracle.exe");
    machine.lockFile(top + u"\\product\\19c\\bin\\oracle.exe");
    machine.addFile(top + u"\\readme.txt");

    const ActionResult result = RemoveDirectoryTree(
        machine, top,
        {u"c:/program files/ORACLE/inventory/", deep, u"C:\\Elsewhere", u"4312", top + u"\\Inv"});

    EXPECT_TRUE(result.success) << machine.dump();
    EXPECT_TRUE(result.rebootPending);
    EXPECT_EQ(result.message, u"其余内容将在重启后删除，保留未清理的项目：c:/program files/ORACLE/"
                              u"inventory/；" +
                                  deep);
    EXPECT_TRUE(machine.exists(inventory + u"\\ContentsXML\\inventory.xml"));
    EXPECT_TRUE(machine.exists(deep + u"\\tnsnames.ora"));
    EXPECT_FALSE(machine.exists(top + u"\\Inventory2"));
    EXPECT_FALSE(machine.exists(top + u"\\readme.txt"));
    // Neither a kept entry nor a folder on the way to one is reset or registered.
    for (const std::u16string& change : machine.journal) {
        EXPECT_EQ(change.find(u"Inventory\\"), std::u16string::npos) << ToUtf8(change);
    }
    EXPECT_EQ(machine.pendingDeletions,
              std::vector<std::u16string>(
                  {top + u"\\product\\19c\\bin\\oracle.exe", top + u"\\product\\19c\\bin"}));

    // Nothing locked: the other contents go now. A kept location equal to the tree keeps it all.
    machine.addFile(inventory + u"\\extra.txt");
    EXPECT_EQ(RemoveDirectoryTree(machine, inventory, {inventory + u"\\ContentsXML"}).message,
              u"目录内容已删除，保留未清理的项目：" + inventory + u"\\ContentsXML");
    EXPECT_FALSE(machine.exists(inventory + u"\\extra.txt"));
    machine.journal.clear();
    const ActionResult same = RemoveDirectoryTree(machine, inventory, {inventory + u"\\"});
    EXPECT_TRUE(same.success);
    EXPECT_EQ(same.message, u"目录未删除：此目录也是未清理的项目");
    EXPECT_TRUE(machine.journal.empty()) << machine.dump();

    // Known by what it is, not by its spelling: a short name keeps it too, and a kept location
    // that is the tree itself under another name keeps the whole tree.
    const std::u16string client = top + u"\\product\\12.2.0\\client_1";
    machine.addFile(client + u"\\bin\\oci.dll");
    machine.addFile(top + u"\\product\\12.2.0\\other.txt");
    machine.addFile(top + u"\\product\\12.2.0\\tnslsnr.exe");
    machine.addShortName(u"C:\\PROGRA~1", u"C:\\Program Files");
    const std::u16string shortClient = u"C:\\PROGRA~1\\Oracle\\product\\12.2.0\\client_1";
    const std::u16string shortProgram = u"C:\\PROGRA~1\\Oracle\\product\\12.2.0\\tnslsnr.exe";
    EXPECT_EQ(RemoveDirectoryTree(machine, top + u"\\product", {shortClient, shortProgram}).message,
              u"其余内容将在重启后删除，保留未清理的项目：" + shortClient + u"；" +
                  shortProgram); // oracle.exe is still locked
    EXPECT_TRUE(machine.exists(client + u"\\bin\\oci.dll")) << machine.dump();
    EXPECT_TRUE(machine.exists(top + u"\\product\\12.2.0\\tnslsnr.exe"));
    EXPECT_FALSE(machine.exists(top + u"\\product\\12.2.0\\other.txt"));
    EXPECT_EQ(
        RemoveDirectoryTree(machine, client, {u"C:\\PROGRA~1\\Oracle\\product\\12.2.0\\CLIENT_1"})
            .message,
        u"目录未删除：此目录也是未清理的项目");
}

TEST(RemoveDirectoryTreeTest, EveryRowOfTheResultTable) {
    const std::u16string top = u"D:\\Oracle";
    struct Case {
        const char* name;
        std::function<void(FakePlatform&)> prepare;
        bool success;
        bool rebootPending;
        std::u16string message; // for failures: the text after the prefix
        std::vector<std::u16string> registered;
        std::vector<std::u16string> left; // below the directory afterwards
    };
    const std::vector<std::u16string> none, onlyTop{top}, binAndTop{top + u"\\bin", top};
    // A failed entry does not stop the walk: its siblings and what follows still go.
    const std::vector<std::u16string> stuck{top + u"\\bin", top + u"\\bin\\oci.dll"};
    const Case cases[] = {
        {"empty directory", [&](FakePlatform& m) { m.addDirectory(top); }, true, false,
         u"目录已删除", none, none},
        {"directory that cannot be removed now is registered",
         [&](FakePlatform& m) {
             m.addDirectory(top);
             m.failCall(FakeCall::RemoveDirectory, codes::kSharingViolation, u"D:\\Oracle");
         },
         true, true, u"部分内容将在重启后删除", onlyTop, none},
        {"directory neither removed nor registered",
         [&](FakePlatform& m) {
             m.addFile(top + u"\\a.txt");
             m.failCall(FakeCall::RemoveDirectory, codes::kSharingViolation, u"D:\\Oracle");
             m.failCall(FakeCall::DeleteAtRestart, codes::kAccessDenied, u"D:\\Oracle");
         },
         false, false, u"Access is denied.", none, none},
        {"a file neither deleted nor registered: nothing above it is registered",
         [&](FakePlatform& m) {
             m.addFile(top + u"\\bin\\oci.dll");
             m.addFile(top + u"\\bin\\sqlplus.exe");
             m.addFile(top + u"\\readme.txt");
             m.lockFile(top + u"\\bin\\oci.dll");
             m.failCall(FakeCall::DeleteAtRestart, codes::kAccessDenied, u"oci.dll");
         },
         false, false, u"Access is denied.", none, stuck},
        {"nothing can be registered: the first failure is reported",
         [&](FakePlatform& m) {
             m.addFile(top + u"\\bin\\oci.dll");
             m.lockFile(top + u"\\bin\\oci.dll");
             m.failCall(FakeCall::DeleteAtRestart, codes::kAccessDenied);
         },
         false, false, u"Access is denied.", none, stuck},
        {"an entry that cannot be opened stays, a failure",
         [&](FakePlatform& m) {
             m.addFile(top + u"\\a.txt");
             m.failCall(FakeCall::FileAttributes, codes::kAccessDenied, u"a.txt");
         },
         false,
         false,
         u"Access is denied.",
         none,
         {top + u"\\a.txt"}},
        {"a listing that fails part-way: the folder is not emptied, not registered",
         [&](FakePlatform& m) {
             m.addFile(top + u"\\a.txt");
             m.failCall(FakeCall::ListDirectory, codes::kAccessDenied);
         },
         false,
         false,
         u"无法列出目录内容，目录未能清空：" + top,
         none,
         {top + u"\\a.txt"}},
        {"a folder still not empty with nothing registered below it: a failure",
         [&](FakePlatform& m) {
             m.addFile(top + u"\\a.txt");
             m.beforeEntryCall = [&](FakeCall call, const std::u16string& path) {
                 if (call == FakeCall::DeleteFile && path == top + u"\\a.txt") {
                     m.addFile(top + u"\\late.txt"); // written after the listing
                 }
             };
         },
         false,
         false,
         u"目录未能清空：" + top,
         none,
         {top + u"\\late.txt"}},
        {"a locked file under a folder ordinary users can change is not registered",
         [&](FakePlatform& m) {
             m.addFile(top + u"\\bin\\oci.dll");
             m.lockFile(top + u"\\bin\\oci.dll");
             m.setUserWritable(top + u"\\bin", true);
         },
         false, false,
         u"文件正在使用，且所在目录允许普通用户修改，为安全起见未登记重启后删除：" + top +
             u"\\bin\\oci.dll",
         none, stuck},
        {"only the folders from the item down count: a user-writable parent of the item does not",
         [&](FakePlatform& m) {
             m.addFile(top + u"\\bin\\oci.dll");
             m.lockFile(top + u"\\bin\\oci.dll");
             m.setUserWritable(u"D:\\", true);
         },
         true,
         true,
         u"部分内容将在重启后删除",
         {top + u"\\bin\\oci.dll", top + u"\\bin", top},
         stuck},
    };
    for (const Case& c : cases) {
        FakePlatform machine;
        c.prepare(machine);
        const ActionResult result = RemoveDirectoryTree(machine, top);
        EXPECT_EQ(result.success, c.success) << c.name << "\n" << machine.dump();
        EXPECT_EQ(result.rebootPending, c.rebootPending) << c.name;
        const std::u16string expected = c.success ? c.message : kPartly + c.message;
        EXPECT_EQ(result.message, expected) << c.name << ": " << ToUtf8(result.message);
        EXPECT_EQ(machine.pendingDeletions, c.registered) << c.name << "\n" << machine.dump();
        EXPECT_EQ(machine.treeBelow(top), c.left) << c.name << "\n" << machine.dump();
    }
}

TEST(ExtendedLengthPathTest, OnlyPathsTooLongOrNamedWithATrailingDotTakeTheLongForm) {
    const std::u16string names = u"\\" + std::u16string(250, u'n');
    const std::u16string full = u"C:\\Oracle" + names; // 260 units
    const std::u16string prefix = u"\\\\?\\";
    struct Case {
        std::u16string path;
        size_t limit;
        std::u16string expected;
    };
    const Case cases[] = {
        {u"C:\\Oracle\\bin", kPlainPathLimit, u"C:\\Oracle\\bin"},
        {full.substr(0, 259), kPlainPathLimit, full.substr(0, 259)},
        {full, kPlainPathLimit, prefix + full},
        {full.substr(0, 247), kPlainDirectoryLimit, full.substr(0, 247)},
        {full.substr(0, 248), kPlainDirectoryLimit, prefix + full.substr(0, 248)},
        {u"\\\\db01\\share" + names, kPlainPathLimit, prefix + u"UNC\\db01\\share" + names},
        {u"c:/Oracle//bin/" + names.substr(1) + u"/", kPlainPathLimit,
         prefix + u"c:\\Oracle\\bin" + names + u"\\"},
        {prefix + full, kPlainPathLimit, prefix + full},
        {u"Oracle" + names + names, kPlainPathLimit, u"Oracle" + names + names},
        {u"C:\\Oracle\\..\\x" + names, kPlainPathLimit, u"C:\\Oracle\\..\\x" + names},
        {u"C:\\T\\ora.\\a ", kPlainPathLimit, prefix + u"C:\\T\\ora.\\a "},
        {u"C:/T/ora.", kPlainPathLimit, u"C:/T/ora."},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ExtendedLengthPath(c.path, c.limit), c.expected) << ToUtf8(c.path);
    }
}

// The fake holds plain paths to Windows' limits, and the platform hands it the long form: a
// 300-unit path deep in a residue folder, and a tree 16,000 folders deep within the 32,767 units
// such a path may have, go as a shallow tree does.
TEST(RemoveDirectoryTreeTest, LongPathsAndDeepTreesGoAsShallowOnes) {
    FakePlatform machine;
    const std::u16string top = u"C:\\ProgramData\\Oracle";
    const std::u16string names = std::u16string(130, u'a') + u"\\" + std::u16string(130, u'b');
    const std::u16string file = top + u"\\" + names + u"\\listener.ora"; // 305 units
    machine.addFile(file, "x", codes::kAttributeReadOnly);
    // Plain forms too long for the call, which the program itself never passes: relative, or
    // with a ".." that only the plain form resolves.
    machine.setCurrentDirectory(top);
    EXPECT_EQ(machine.fileAttributes(names).error, codes::kPathNotFound);
    EXPECT_EQ(machine.createDirectory(names + u"\\new"), codes::kFilenameExcedRange);
    EXPECT_EQ(machine.deleteFile(top + u"\\..\\Oracle\\" + names + u"\\listener.ora"),
              codes::kPathNotFound);
    EXPECT_TRUE(machine.fileAttributes(file).exists());

    ActionResult result = RemoveDirectoryTree(machine, top);
    EXPECT_EQ(result.message, u"目录已删除") << machine.dump();
    EXPECT_FALSE(machine.exists(top));
    EXPECT_EQ(std::count(machine.journal.begin(), machine.journal.end(), u"deleteFile " + file), 1);

    std::u16string bottom = top;
    for (int level = 0; level < 16000; ++level) {
        bottom += u"\\d";
    }
    machine.addFile(bottom + u"\\f.txt");
    machine.journalling = false; // 16,000 removals of paths of up to 32,000 units
    result = RemoveDirectoryTree(machine, top);
    EXPECT_TRUE(result.success);
    EXPECT_EQ(result.message, u"目录已删除");
    EXPECT_FALSE(machine.exists(top));
}

TEST(RemoveDirectoryTreeTest, DirectoryLinksAreRemovedAsLinksAndNeverEntered) {
    FakePlatform machine;
    const std::u16string top = u"C:\\ProgramData\\Autodesk";
    const std::u16string target = u"E:\\Shared\\Content";
    machine.addFile(target + u"\\keep.dwg");
    machine.addFile(top + u"\\own.txt");
    machine.addDirectoryLink(top + u"\\Content", target);

    const ActionResult result = RemoveDirectoryTree(machine, top);

    EXPECT_TRUE(result.success) << machine.dump();
    EXPECT_EQ(result.message, u"目录已删除");
    EXPECT_FALSE(machine.exists(top));
    EXPECT_TRUE(machine.exists(target + u"\\keep.dwg")) << machine.dump();
    for (const auto& change : machine.journal) {
        EXPECT_EQ(change.find(u"E:\\"), std::u16string::npos) << ToUtf8(change);
    }

    // A link given as the tree itself goes as a link too.
    machine.addDirectoryLink(u"C:\\Autodesk", target);
    EXPECT_EQ(RemoveDirectoryTree(machine, u"C:\\Autodesk").message, u"目录已删除");
    EXPECT_FALSE(machine.exists(u"C:\\Autodesk"));
    EXPECT_TRUE(machine.exists(target + u"\\keep.dwg")) << machine.dump();

    // A file by its listing that is a link to a folder when it is opened: the one-step deletion
    // refuses it, and it goes as a link.
    machine.addFile(u"C:\\Data\\a.dll");
    bool swapped = false;
    machine.beforeEntryCall = [&](FakeCall call, const std::u16string& path) {
        if (!swapped && call == FakeCall::FileAttributes && path == u"C:\\Data\\a.dll") {
            swapped = true;
            machine.moveEntry(path, u"C:\\Users\\mallory\\a.dll");
            machine.addDirectoryLink(path, target);
        }
    };
    EXPECT_EQ(RemoveDirectoryTree(machine, u"C:\\Data").message, u"目录已删除");
    EXPECT_TRUE(swapped);
    EXPECT_FALSE(machine.exists(u"C:\\Data"));
    EXPECT_TRUE(machine.exists(target + u"\\keep.dwg")) << machine.dump();
}

TEST(RemoveDirectoryTreeTest, LinkThatStaysIsAFailureAndNothingIsRegistered) {
    FakePlatform machine;
    const std::u16string top = u"C:\\ProgramData\\Autodesk";
    machine.addFile(u"E:\\Shared\\keep.dwg");
    machine.addDirectoryLink(top + u"\\Content", u"E:\\Shared");
    machine.failCall(FakeCall::RemoveDirectory, codes::kAccessDenied, u"Content");

    const ActionResult result = RemoveDirectoryTree(machine, top);

    EXPECT_FALSE(result.success);
    // Neither the link nor the folder that holds it (which could not go with it) is registered.
    EXPECT_FALSE(result.rebootPending);
    EXPECT_EQ(result.message, kPartly + u"Access is denied.");
    EXPECT_TRUE(machine.pendingDeletions.empty());
    EXPECT_TRUE(machine.exists(u"E:\\Shared\\keep.dwg"));
}

// A folder swapped for a link at any step of the walk leads the deletion nowhere: what was
// opened is what is deleted, and the link's target stays whole.
TEST(RemoveDirectoryTreeTest, AFolderSwappedForALinkDuringTheWalkRedirectsNothing) {
    const std::u16string top = u"C:\\ProgramData\\Oracle";
    const std::u16string sub = top + u"\\sub";
    const std::u16string target = u"C:\\Windows\\System32";
    struct Case {
        const char* name;
        FakeCall step; // the call before which the folder is swapped
        std::u16string at;
        bool success;
        std::u16string message;
    };
    const Case cases[] = {
        {"between its check and its listing", FakeCall::ListDirectory, sub, false,
         kPartly + u"目录未能清空：" + top},
        {"between the listing of its parent and its opening", FakeCall::FileAttributes, sub, true,
         u"目录已删除"},
        {"between the listing of a file in it and the file's deletion in one step",
         FakeCall::FileAttributes, sub + u"\\kernel32.dll", false,
         kPartly + u"目录未能清空：" + top},
        {"between the opening of a file in it and the file's deletion", FakeCall::DeleteFile,
         sub + u"\\kernel32.dll", false, kPartly + u"目录未能清空：" + top},
        {"between its emptying and its deletion", FakeCall::RemoveDirectory, sub, false,
         kPartly + u"目录未能清空：" + top},
    };
    for (const Case& c : cases) {
        FakePlatform machine;
        machine.addFile(target + u"\\kernel32.dll");
        machine.addFile(target + u"\\drivers\\disk.sys");
        machine.addFile(sub + u"\\kernel32.dll");
        machine.addFile(sub + u"\\drivers\\disk.sys");
        bool swapped = false;
        machine.beforeEntryCall = [&](FakeCall call, const std::u16string& path) {
            if (!swapped && call == c.step && path == c.at) {
                swapped = true;
                machine.moveEntry(sub, u"C:\\Users\\mallory\\moved");
                machine.addDirectoryLink(sub, target);
            }
        };
        const ActionResult result = RemoveDirectoryTree(machine, top);
        EXPECT_TRUE(swapped) << c.name;
        EXPECT_EQ(result.success, c.success) << c.name << "\n" << machine.dump();
        EXPECT_EQ(result.message, c.message) << c.name << ": " << ToUtf8(result.message);
        EXPECT_EQ(
            machine.treeBelow(target),
            std::vector<std::u16string>({target + u"\\drivers", target + u"\\drivers\\disk.sys",
                                         target + u"\\kernel32.dll"}))
            << c.name << "\n"
            << machine.dump();
        EXPECT_TRUE(machine.pendingDeletions.empty()) << c.name;
        EXPECT_EQ(machine.openEntryCount(), 0u) << c.name;
    }
}

} // namespace
} // namespace tidewell
