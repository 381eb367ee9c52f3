// What Oracle records of itself and the catalogue reads: the inventory named by inst_loc, the
// homes of its KEY_* keys, its environment values and Path entries, and their removal.

#include "CatalogueMachine.h"
#include "FakeWorkflowWindow.h"
#include "WorkflowMachine.h"

#include "catalogue/ScanCollector.h"
#include "clean/CleanSelected.h"
#include "clean/EnvironmentRemoval.h"
#include "support/PathList.h"
#include "support/RegFile.h"
#include "uninstall/OneClickUninstall.h"

#include <gtest/gtest.h>

namespace tidewell {
namespace {

using namespace catalogue_test;

const std::u16string kOracleKey = u"SOFTWARE\\ORACLE";
const std::u16string kUserEnvironment = u"Environment";
const std::u16string kGoneHome = u"C:\\app\\oracle\\product\\12.2.0\\client_1";
const std::u16string kLiveHome = u"D:\\clients\\ora19";

std::vector<const ResidueItem*> InCategory(const ItemList& items, const std::u16string& category) {
    std::vector<const ResidueItem*> found;
    for (const auto& item : items) {
        if (item->category == category) {
            found.push_back(item.get());
        }
    }
    return found;
}

ItemList ScanOracle(FakePlatform& machine) {
    ScanCollector collector(machine, ProductKind::Oracle);
    collector.scanFolders();
    collector.scanOracleRecords();
    return collector.takeItems();
}

// --- The inventory -------------------------------------------------------------------------

TEST(OracleInventoryTest, WhereInstLocSaysItIs) {
    const std::u16string inventoryNote = u"Oracle Universal Installer 产品清单（注册表 inst_loc "
                                         u"所指位置），多个 Oracle Home 可能共用。";
    struct Case {
        const char* what;
        RegistryView view;
        std::u16string value;
        uint32_t type;
        std::u16string expected; // the 共享安装组件 item's location, empty for none
        std::u16string note;
    };
    const Case cases[] = {
        {"beside the 32-bit client", k32, kProgramFilesX86 + u"\\Oracle\\Inventory", codes::kRegSz,
         kProgramFilesX86 + u"\\Oracle\\Inventory", inventoryNote},
        {"outside every default folder, trailing separator", k64, u"D:\\oraInventory\\",
         codes::kRegSz, u"D:\\oraInventory", inventoryNote},
        {"the default folder: the row's item", k64, kProgramFiles + u"\\Oracle\\Inventory",
         codes::kRegSz, kProgramFiles + u"\\Oracle\\Inventory",
         u"Oracle Universal Installer 产品清单，多个 Oracle Home 可能共用。"},
        {"a folder that is not there", k64, u"D:\\gone\\oraInventory", codes::kRegSz, u"", u""},
        {"not text", k64, u"D:\\oraInventory", codes::kRegMultiSz, u"", u""},
    };
    for (const Case& c : cases) {
        FakePlatform machine;
        SetWindowsFolders(machine);
        machine.addDirectory(kProgramFilesX86 + u"\\Oracle\\Inventory\\ContentsXML");
        machine.addDirectory(u"D:\\oraInventory");
        if (c.value == kProgramFiles + u"\\Oracle\\Inventory") {
            machine.addDirectory(c.value);
        }
        machine.setStringValue(kHKLM, c.view, kOracleKey, u"inst_loc", c.value, c.type);
        const ItemList items = ScanOracle(machine);
        const std::vector<const ResidueItem*> shared = InCategory(items, u"共享安装组件");
        if (c.expected.empty()) {
            EXPECT_TRUE(shared.empty()) << c.what;
            continue;
        }
        ASSERT_EQ(shared.size(), 1u) << c.what;
        EXPECT_EQ(Describe(*shared[0]),
                  Describe(Folder(u"共享安装组件", c.expected, RiskLevel::HighRisk, false, c.note)))
            << c.what;
    }
}

// The checked 32-bit program folder goes; the inventory inside it stays with its files.
TEST(OracleInventoryTest, CleanOfTheFolderAroundItKeepsIt) {
    FakePlatform machine;
    PrepareWorkflowMachine(machine);
    machine.onChild(FakeRegExport(machine));
    const std::u16string x86 = u"C:\\Program Files (x86)\\Oracle";
    machine.addFile(x86 + u"\\odac\\bin\\oci.dll");
    machine.addFile(x86 + u"\\Inventory\\ContentsXML\\inventory.xml");
    machine.setStringValue(kHKLM, k32, kOracleKey, u"inst_loc", x86 + u"\\Inventory");
    FakeWorkflowWindow window(machine);
    window.scan.product = ProductKind::Oracle;
    window.scan.runScan();
    machine.queueAnswers({true});
    CleanSelected(machine, window);
    EXPECT_FALSE(machine.exists(x86 + u"\\odac")) << machine.dump();
    EXPECT_TRUE(machine.exists(x86 + u"\\Inventory\\ContentsXML\\inventory.xml")) << machine.dump();
}

// --- Registered homes ------------------------------------------------------------------------

TEST(OracleHomesTest, HomesOfTheKeyKeys) {
    FakePlatform machine;
    SetWindowsFolders(machine);
    machine.setEnvironment(u"ORACLE_HOME", kOracleHome);
    machine.addDirectory(kOracleHome);
    machine.addDirectory(kLiveHome);
    machine.addDirectory(u"D:\\odp");
    // One home outside the default folders, one that ORACLE_HOME already names, one gone, and a
    // key that is no home key.
    const std::u16string client = kOracleKey + u"\\KEY_OraClient19Home1_32bit";
    machine.setStringValue(kHKLM, k32, client, u"ORACLE_HOME", kLiveHome + u"\\");
    machine.setStringValue(kHKLM, k32, client, u"ORACLE_HOME_NAME", u"OraClient19Home1_32bit");
    machine.setStringValue(kHKLM, k64, kOracleKey + u"\\KEY_OraDB19Home1", u"ORACLE_HOME",
                           kOracleHome);
    machine.setStringValue(kHKLM, k64, kOracleKey + u"\\KEY_OraDB12Home1", u"ORACLE_HOME",
                           kGoneHome);
    machine.setStringValue(kHKLM, k64, kOracleKey + u"\\ODP.NET", u"ORACLE_HOME", u"D:\\odp");

    const ItemList items = ScanOracle(machine);
    const std::vector<const ResidueItem*> homes = InCategory(items, u"Oracle 主目录");
    ASSERT_EQ(homes.size(), 1u);
    EXPECT_EQ(Describe(*homes[0]),
              Describe(Folder(u"Oracle 主目录", kLiveHome, RiskLevel::HighRisk, false,
                              u"Oracle 在注册表 HKLM\\SOFTWARE\\ORACLE\\KEY_OraClient19Home1_32bit "
                              u"[32位] 中登记的主目录“OraClient19Home1_32bit”；可能仍在使用，因此"
                              u"默认不选。")));
    EXPECT_EQ(InCategory(items, u"环境变量目录").size(), 1u);
    EXPECT_TRUE(LeftByOneClick(*homes[0]));
}

// --- Environment values ------------------------------------------------------------------------

ResidueItem Value(RegistryRoot root, const std::u16string& name, const std::u16string& entry,
                  RiskLevel risk, const std::u16string& note) {
    ResidueItem item;
    const bool user = root == kHKCU;
    item.category = u"环境变量";
    item.kind = ItemKind::EnvironmentValue;
    item.registryRoot = root;
    item.registryView = k64;
    item.registryPath = user ? kUserEnvironment : kMachineEnvironment;
    item.valueName = name;
    item.pathEntry = entry;
    const std::u16string scope = user ? u"（用户）" : u"（系统）";
    item.title = name + scope + (entry.empty() ? u"" : u"：" + entry);
    item.location =
        rootPrefix(root) + item.registryPath + u"\\" + name + (entry.empty() ? u"" : u"：" + entry);
    item.risk = risk;
    item.checked = risk == RiskLevel::Safe;
    item.note = note;
    return item;
}

std::string DescribeValue(const ResidueItem& item) {
    return Describe(item) + " | value=" + ToUtf8(item.valueName) +
           " | entry=" + ToUtf8(item.pathEntry);
}

TEST(EnvironmentScanTest, OracleValuesAndWhereTheyPoint) {
    struct Case {
        const char* what;
        RegistryRoot root;
        std::u16string name;
        std::u16string value;
        RiskLevel risk; // NeedsConfirm for a folder that may be in use
        std::u16string note;
    };
    const std::u16string kept =
        u"；其他程序可能仍在使用此 Oracle 目录，因此默认不选。删除前自动备份。";
    const Case cases[] = {
        {"a home that is gone", kHKLM, u"ORACLE_HOME", kGoneHome + u"\\", RiskLevel::Safe,
         u"指向的目录已不存在：" + kGoneHome + u"。删除前自动备份。"},
        {"a home that is there", kHKCU, u"ORACLE_HOME", kLiveHome, RiskLevel::NeedsConfirm,
         u"指向 " + kLiveHome + kept},
        {"a reference that resolves to a gone folder", kHKLM, u"TNS_ADMIN",
         u"%ORA_ROOT%\\network\\admin", RiskLevel::Safe,
         u"指向的目录已不存在：C:\\oracle\\network\\admin。删除前自动备份。"},
        {"a reference nobody defines", kHKCU, u"ORACLE_BASE", u"%NOWHERE%\\oracle",
         RiskLevel::NeedsConfirm, u"指向 %NOWHERE%\\oracle" + kept},
        {"a relative folder", kHKCU, u"ORACLE_BASE", u"oracle", RiskLevel::NeedsConfirm,
         u"指向 oracle" + kept},
        {"the instance name names no folder", kHKLM, u"oracle_sid", u"ORCL",
         RiskLevel::NeedsConfirm,
         u"Oracle 默认实例名“ORCL”；无法确定是否仍在使用，因此默认不选。删除前自动备份。"},
        {"a value of another program", kHKLM, u"JAVA_HOME", kGoneHome, RiskLevel::Safe, u""},
        // A drive root makes no Path entry Oracle's.
        {"a whole drive", kHKLM, u"ORACLE_BASE", u"C:\\", RiskLevel::NeedsConfirm,
         u"指向 C:\\" + kept},
    };
    for (const Case& c : cases) {
        FakePlatform machine;
        machine.addDirectory(kLiveHome);
        machine.setEnvironment(u"ORA_ROOT", u"C:\\oracle");
        const std::u16string key = c.root == kHKCU ? kUserEnvironment : kMachineEnvironment;
        machine.setStringValue(c.root, k64, key, c.name, c.value, codes::kRegExpandSz);
        machine.setStringValue(c.root, k64, key, u"Path", u"C:\\gone\\bin;C:\\Windows");
        ScanCollector collector(machine, ProductKind::Oracle);
        collector.scanOracleRecords();
        if (c.note.empty()) {
            EXPECT_TRUE(collector.items.empty()) << c.what;
            continue;
        }
        ASSERT_EQ(collector.items.size(), 1u) << c.what;
        EXPECT_EQ(DescribeValue(*collector.items[0]),
                  DescribeValue(Value(c.root, c.name, u"", c.risk, c.note)))
            << c.what;
    }
}

// A machine Path with references, a trailing separator, a duplicate in other letter case and
// entries of other programs, and a user Path with an entry into a registered home.
const std::u16string kMachinePath =
    u"%SystemRoot%\\system32;C:\\app\\oracle\\product\\12.2.0\\client_1\\bin\\;C:\\Tools;;"
    u"c:\\APP\\ORACLE\\product\\12.2.0\\client_1\\BIN;%ORACLE_HOME%\\bin;"
    u"C:\\ProgramData\\Oracle\\Java\\javapath;%SystemRoot%";
const std::u16string kUserPath = u"D:\\clients\\ora19\\bin;%USERPROFILE%\\bin";

void SeedEnvironment(FakePlatform& machine) {
    machine.setEnvironment(u"SystemRoot", u"C:\\Windows");
    machine.setEnvironment(u"USERPROFILE", u"C:\\Users\\u");
    machine.addDirectory(u"C:\\Windows\\system32");
    machine.addDirectory(u"C:\\Tools");
    machine.addDirectory(u"C:\\ProgramData\\Oracle\\Java\\javapath");
    machine.addDirectory(kLiveHome + u"\\bin");
    machine.setStringValue(kHKLM, k64, kMachineEnvironment, u"ORACLE_HOME", kGoneHome);
    machine.setStringValue(kHKLM, k64, kMachineEnvironment, u"Path", kMachinePath,
                           codes::kRegExpandSz);
    machine.setStringValue(kHKCU, k64, kUserEnvironment, u"PATH", kUserPath, codes::kRegExpandSz);
    machine.setStringValue(kHKLM, k32, kOracleKey + u"\\KEY_OraClient19Home1", u"ORACLE_HOME",
                           kLiveHome);
}

TEST(EnvironmentScanTest, PathEntriesInsideOracleFolders) {
    FakePlatform machine;
    SeedEnvironment(machine);
    ScanCollector collector(machine, ProductKind::Oracle);
    collector.scanOracleRecords();
    const std::u16string rest = u"清理时只移除此条目，Path 的其他条目保持不变；修改前自动备份。";
    const std::u16string gone = u"指向的目录已不存在：";
    const std::vector<ResidueItem> expected = {
        Value(kHKLM, u"ORACLE_HOME", u"", RiskLevel::Safe,
              gone + kGoneHome + u"。删除前自动备份。"),
        Value(kHKLM, u"Path", u"C:\\app\\oracle\\product\\12.2.0\\client_1\\bin\\", RiskLevel::Safe,
              gone + kGoneHome + u"\\bin。" + rest),
        Value(kHKLM, u"Path", u"%ORACLE_HOME%\\bin", RiskLevel::Safe,
              gone + kGoneHome + u"\\bin。" + rest),
        Value(kHKCU, u"PATH", u"D:\\clients\\ora19\\bin", RiskLevel::NeedsConfirm,
              u"指向 Oracle 目录 D:\\clients\\ora19\\bin；其他程序可能仍从此目录加载 Oracle "
              u"客户端，因此默认不选。" +
                  rest),
    };
    std::vector<std::string> got;
    for (const ResidueItem* item : InCategory(collector.items, u"环境变量")) {
        got.push_back(DescribeValue(*item));
    }
    std::vector<std::string> want;
    for (const auto& item : expected) {
        want.push_back(DescribeValue(item));
    }
    EXPECT_TRUE(SameItems(got, want));
}

// The default selection on the machine above: the dead value and entries go, every other byte of
// Path stays, the backups hold the values as they were, and running programs are told.
TEST(EnvironmentRemovalTest, DeadValuesGoAndEverythingElseStays) {
    FakePlatform machine;
    PrepareWorkflowMachine(machine);
    SeedEnvironment(machine);
    FakeWorkflowWindow window(machine);
    window.scan.product = ProductKind::Oracle;
    window.scan.runScan();
    machine.queueAnswers({true});
    CleanSelected(machine, window);

    const RegistryValues machineValues =
        machine.readValues(kHKLM, k64, kMachineEnvironment, {u"ORACLE_HOME", u"Path"});
    ASSERT_EQ(machineValues.values.size(), 2u);
    EXPECT_EQ(machineValues.values[0].error, codes::kFileNotFound);
    EXPECT_EQ(machineValues.values[1].type, codes::kRegExpandSz);
    EXPECT_EQ(machineValues.values[1].data,
              Utf16Bytes(u"%SystemRoot%\\system32;C:\\Tools;;"
                         u"C:\\ProgramData\\Oracle\\Java\\javapath;%SystemRoot%" +
                         std::u16string(1, u'\0')));
    const RegistryValues userValues = machine.readValues(kHKCU, k64, kUserEnvironment, {u"Path"});
    EXPECT_EQ(userValues.values[0].data, Utf16Bytes(kUserPath + std::u16string(1, u'\0')));
    EXPECT_EQ(machine.environmentAnnouncements,
              std::vector<uint32_t>(3, kEnvironmentAnnounceMilliseconds));

    // Each backup holds the value as it was just before its change; the note lists the later
    // ones first, so that running its commands in order ends with the original Path.
    const std::u16string folder = kBackupFolder;
    const std::vector<std::u16string> files = {
        folder + u"\\Path（系统）：_ORACLE_HOME__bin.reg",
        folder + u"\\Path（系统）：C__app_oracle_product_12.2.0_client_1_bin_.reg",
        folder + u"\\ORACLE_HOME（系统）.reg",
    };
    const std::string note = machine.fileContents(folder + u"\\恢复说明.txt").value_or("");
    size_t previous = 0;
    for (const std::u16string& file : files) {
        const size_t at = note.find(ToUtf8(u"reg import \"" + file + u"\""));
        ASSERT_NE(at, std::string::npos) << ToUtf8(file) << "\n" << note;
        EXPECT_GE(at, previous) << ToUtf8(file);
        previous = at;
    }
    const RegFile original = ParseRegFile(machine.fileContents(files[1]).value_or(""));
    ASSERT_TRUE(original.parsed);
    ASSERT_EQ(original.keys.size(), 1u);
    EXPECT_EQ(original.keys[0].name, u"HKEY_LOCAL_MACHINE\\" + kMachineEnvironment);
    ASSERT_EQ(original.keys[0].values.size(), 1u);
    EXPECT_EQ(original.keys[0].values[0].type, codes::kRegExpandSz);
    EXPECT_EQ(original.keys[0].values[0].data, Utf16Bytes(kMachinePath + std::u16string(1, u'\0')));
}

// A backup that cannot be made or read back, or a change the registry refuses, leaves the value
// as it was; a value or entry that is gone already is success.
TEST(EnvironmentRemovalTest, FailuresAndAbsence) {
    const std::u16string entry = u"C:\\app\\oracle\\product\\12.2.0\\client_1\\bin";
    const std::u16string path = u"C:\\Tools;" + entry;
    struct Case {
        const char* what;
        std::u16string entry; // empty: the whole ORACLE_HOME value
        std::function<void(FakePlatform&)> prepare;
        bool success;
        std::u16string message;
        bool changed;
    };
    const Case cases[] = {
        {"the backup cannot be written", u"",
         [](FakePlatform& m) { m.failCall(FakeCall::WriteFile, codes::kAccessDenied); }, false,
         u"环境变量备份失败，已取消修改", false},
        {"the backup cannot be read back", entry,
         [](FakePlatform& m) { m.failCall(FakeCall::ReadFile, codes::kAccessDenied); }, false,
         u"环境变量备份失败，已取消修改", false},
        {"the value cannot be deleted", u"",
         [](FakePlatform& m) { m.failCall(FakeCall::DeleteValue, codes::kAccessDenied); }, false,
         u"Access is denied.", false},
        {"Path cannot be written", entry,
         [](FakePlatform& m) { m.failCall(FakeCall::WriteValue, codes::kAccessDenied); }, false,
         u"Access is denied.", false},
        {"no window answers in time", entry,
         [](FakePlatform& m) { m.failCall(FakeCall::AnnounceEnvironmentChange, codes::kTimeout); },
         true,
         u"已从 Path 中移除此条目，原值已备份；未能及时通知所有正在运行的程序（This operation "
         u"returned because the timeout period expired.），之后启动的程序会使用新的值",
         true},
        {"the value is gone", u"",
         [](FakePlatform& m) { m.deleteValue(kHKLM, k64, kMachineEnvironment, u"ORACLE_HOME"); },
         true, u"环境变量已不存在", false},
        {"the entry is gone", u"C:\\other\\bin", [](FakePlatform&) {}, true, u"Path 中已没有此条目",
         false},
    };
    for (const Case& c : cases) {
        FakePlatform machine;
        PrepareWorkflowMachine(machine);
        machine.setStringValue(kHKLM, k64, kMachineEnvironment, u"ORACLE_HOME", kGoneHome);
        machine.setStringValue(kHKLM, k64, kMachineEnvironment, u"Path", path);
        machine.addDirectory(kBackupFolder);
        const ResidueItem item =
            Value(kHKLM, c.entry.empty() ? u"ORACLE_HOME" : u"Path", c.entry, RiskLevel::Safe, u"");
        c.prepare(machine);
        const RegistryValues before =
            machine.readValues(kHKLM, k64, kMachineEnvironment, {item.valueName});
        const ActionResult result = BackupAndRemoveEnvironmentValue(machine, kBackupFolder, item);
        machine.clearFailures();
        EXPECT_EQ(result.success, c.success) << c.what;
        EXPECT_EQ(result.message, c.message) << c.what;
        const RegistryValues after =
            machine.readValues(kHKLM, k64, kMachineEnvironment, {item.valueName});
        EXPECT_EQ(after.values[0].data != before.values[0].data, c.changed) << c.what;
        EXPECT_EQ(result.backupFile.empty(), !c.changed) << c.what;
    }
}

// --- The Path list and the value's backup file ---------------------------------------------------

TEST(PathListTest, OneEntryLeavesWithOneSeparator) {
    struct Case {
        std::u16string text;
        std::u16string entry;
        std::u16string expected;
    };
    const Case cases[] = {
        {u"A;X;B", u"x", u"A;B"},
        {u"X;A", u"X", u"A"},
        {u"A;X", u"X", u"A"},
        {u"X", u"X", u""},
        {u"A;;X\\;B;x/;C;", u"x", u"A;;B;C;"},
        {u";X;", u"X", u";"},
        {u"A;XY;B", u"X", u"A;XY;B"},
        {u"A; X;B", u"X", u"A; X;B"}, // a blank is part of the entry
    };
    for (const Case& c : cases) {
        EXPECT_EQ(WithoutPathEntry(c.text, PathEntryIdentity(c.entry)), c.expected)
            << ToUtf8(c.text);
    }
}

TEST(PathListTest, References) {
    const auto lookup = [](const std::u16string& name) -> std::optional<std::u16string> {
        if (ToLower(name) == u"systemroot") {
            return u"C:\\Windows";
        }
        return std::nullopt;
    };
    struct Case {
        std::u16string text;
        std::u16string expected;
        bool resolved;
    };
    const Case cases[] = {
        {u"%SystemRoot%\\system32", u"C:\\Windows\\system32", true},
        {u"%SYSTEMROOT%;%systemroot%", u"C:\\Windows;C:\\Windows", true},
        {u"%NOPE%\\bin", u"%NOPE%\\bin", false},
        {u"%NOPE%%SystemRoot%", u"%NOPE%C:\\Windows", false},
        {u"100%", u"100%", true},
        {u"%%", u"%%", true},
    };
    for (const Case& c : cases) {
        const Expansion expansion = ExpandReferences(c.text, lookup);
        EXPECT_EQ(expansion.text, c.expected) << ToUtf8(c.text);
        EXPECT_EQ(expansion.resolved, c.resolved) << ToUtf8(c.text);
    }
}

TEST(RegFileOfValueTest, ReadsBackAsStored) {
    struct Case {
        std::u16string name;
        uint32_t type;
        std::vector<uint8_t> data;
    };
    std::vector<uint8_t> longText = Utf16Bytes(kMachinePath);
    const Case cases[] = {
        {u"Path", codes::kRegExpandSz, longText}, // no terminator, many lines
        {u"ORACLE_HOME", codes::kRegSz, Utf16Bytes(std::u16string(u"C:\\x") + u'\0')},
        {u"say \"hi\" \\ there", codes::kRegSz, {}}, // escaped name, no data
        {u"count", codes::kRegDword, {0x78, 0x56, 0x34, 0x12}},
        {u"short dword", codes::kRegDword, {1, 2}},
        {u"blob", codes::kRegBinary, {0, 255, 16}},
        {u"", 11, {1, 2, 3, 4, 5, 6, 7, 8}}, // default value, QWORD
    };
    for (const Case& c : cases) {
        const RegFile file =
            ParseRegFile(RegFileOfValue(u"HKEY_CURRENT_USER\\Environment", c.name, c.type, c.data));
        ASSERT_TRUE(file.parsed) << ToUtf8(c.name) << " line " << file.errorLine;
        ASSERT_EQ(file.keys.size(), 1u);
        EXPECT_EQ(file.keys[0].name, u"HKEY_CURRENT_USER\\Environment");
        ASSERT_EQ(file.keys[0].values.size(), 1u);
        EXPECT_EQ(file.keys[0].values[0].name, c.name);
        EXPECT_EQ(file.keys[0].values[0].type, c.type) << ToUtf8(c.name);
        EXPECT_EQ(file.keys[0].values[0].data, c.data) << ToUtf8(c.name);
    }
}

} // namespace
} // namespace tidewell
