// The catalogue on the real Win32 surface: a prefix seeded by tools/seeder is scanned through
// Win32Platform, and each product's whole item list is compared with the expected one. The
// order is compared where the program defines it (rows, views, roots); within one folder
// listing, the process snapshot, the service list and one uninstall list the system decides
// it, so those runs are compared as sets.
//
// The test seeds the prefix it runs in and clears it again at its end, holding the named mutex
// "TidewellResidueSeed" meanwhile, so that other tests sharing the prefix never see its
// residues (and two seeding tests never overlap).

#include "../native/CatalogueExpected.h"
#include "PrefixSupport.h"

#include "catalogue/ScanCollector.h"
#include "platform/win32/Win32Platform.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <shlobj.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace tidewell {
namespace {

using namespace catalogue_test;
using prefix::Env;
using prefix::Fields;
using prefix::RunSeeder;
using prefix::SeederRun;
using prefix::SeedLock;
using prefix::ShellFolder;

const ProductKind kProducts[] = {ProductKind::AutoCAD, ProductKind::SolidWorks,
                                 ProductKind::Oracle};

const std::u16string kPackageCode = u"{6C3E2F0A-5B1D-4E27-9A41-2024C0DE0804}";

// Makes this process see the user's ORACLE_HOME as a program started after the seeding does.
void RefreshOracleHome() {
    wchar_t value[MAX_PATH] = {};
    DWORD size = sizeof(value);
    if (RegGetValueW(HKEY_CURRENT_USER, L"Environment", L"ORACLE_HOME", RRF_RT_REG_SZ, nullptr,
                     value, &size) == ERROR_SUCCESS) {
        SetEnvironmentVariableW(L"ORACLE_HOME", value);
    } else {
        SetEnvironmentVariableW(L"ORACLE_HOME", nullptr);
    }
}

// The folders the scan starts from, as this process sees them.
struct Bases {
    std::u16string pf = Env(u"ProgramW6432").empty() ? Env(u"ProgramFiles") : Env(u"ProgramW6432");
    std::u16string pf86 = Env(u"ProgramFiles(x86)");
    std::u16string pd = Env(u"ProgramData");
    std::u16string local = ShellFolder(CSIDL_LOCAL_APPDATA);
    std::u16string roaming = ShellFolder(CSIDL_APPDATA);
    std::u16string temp = Env(u"TEMP");
    std::u16string cache = JoinPath(Env(u"ProgramData"), u"Package Cache");
    std::u16string oracleHome = u"C:\\app\\oracle\\product\\19.0.0\\dbhome_1";
};

// The command lines the seeder gives its test uninstallers.
std::u16string Uninstall(const Bases& b, const char16_t* hive, const std::u16string& subkey,
                         const std::u16string& removeDir, const std::u16string& sibling = {}) {
    const auto key = [&](const std::u16string& name) {
        return u"--remove-key \"" + (hive + (u"\\" + kUninstall)) + u"\\" + name + u"\"";
    };
    std::u16string command = u"\"" + b.cache + u"\\" + subkey + u"\\test-uninstaller.exe\"";
    if (!sibling.empty()) {
        command += u" --hand-off --sleep-ms 1500 " + key(sibling);
    }
    command += u" --exit-code 0 " + key(subkey);
    if (!removeDir.empty()) {
        command += u" --remove-dir \"" + removeDir + u"\"";
    }
    return command + u" --log \"" + b.cache + u"\\test-uninstaller.log\"";
}

using Pids = std::vector<std::pair<uint32_t, std::u16string>>;

std::vector<ResidueItem> Processes(const Pids& pids, const std::u16string& product,
                                   const std::u16string& sharedName) {
    std::vector<ResidueItem> items;
    for (const auto& pid : pids) {
        items.push_back(Process(pid.first, pid.second, product, pid.second == sharedName));
    }
    return items;
}

std::vector<ItemGroup> ExpectedAutoCad(const Bases& b, const Pids& pids) {
    const std::u16string acad = u"AutoCAD";
    const std::u16string note = DynamicNote(acad);
    const std::u16string branchNote = u"枚举此分支下的全部 AutoCAD 版本；删除前自动导出备份。";
    const std::u16string webLauncher = Uninstall(b, u"HKCU", u"AutoCADWebLauncher", {});
    auto adjusted = [&](ResidueItem item) { return Adjusted(item, acad); };
    const std::u16string acadRecord = u"{28B89EEF-7101-0804-2102-CF3F3A09B77D}";
    const std::u16string feedbackRecord = u"{5783F2D7-D001-4E80-9C5A-1E5A7C2E3A10}";
    const std::u16string expressTools = u"{28B89EEF-7101-0804-3102-CF3F3A09B77D}";
    return {
        {false, Processes(pids, acad, u"AdskLicensingAgent.exe")},
        {false,
         {Service(u"AdskLicensingService", u"Autodesk Desktop Licensing Service", u"Autodesk"),
          Service(u"GenuineService", u"Autodesk Genuine Service", u"Autodesk")}},
        {false,
         {adjusted(Folder(u"程序文件", b.pf + u"\\Autodesk\\ACADE", RiskLevel::NeedsConfirm, true,
                          note)),
          adjusted(Folder(u"程序文件", b.pf + u"\\Autodesk\\AutoCAD 2024", RiskLevel::NeedsConfirm,
                          true, note))}},
        {true,
         {adjusted(Folder(u"程序文件（32位）",
                          b.pf86 + u"\\Autodesk\\AutoCAD Performance Feedback Tool",
                          RiskLevel::NeedsConfirm, true, note)),
          adjusted(
              Folder(u"公共数据", b.pd + u"\\Autodesk\\AutoCAD 2024", RiskLevel::Safe, true, note)),
          adjusted(Folder(u"当前用户数据", b.local + u"\\Autodesk\\AutoCAD 2024", RiskLevel::Safe,
                          true, note))}},
        {false,
         {adjusted(Folder(u"当前用户配置", b.roaming + u"\\Autodesk\\AutoCAD 2024", RiskLevel::Safe,
                          true, note)),
          adjusted(Folder(u"当前用户配置", b.roaming + u"\\Autodesk\\AutoCAD Electrical 2024",
                          RiskLevel::Safe, true, note))}},
        {true,
         {Folder(u"共享安装组件", b.pd + u"\\Autodesk\\ODIS", RiskLevel::HighRisk, false,
                 u"Autodesk 多产品共享安装服务，仅在所有 Autodesk 产品均卸载后考虑清理。"),
          Folder(u"共享安装组件", b.local + u"\\Autodesk\\ODIS", RiskLevel::HighRisk, false,
                 u"Autodesk 安装服务缓存，其他 Autodesk 产品可能使用。"),
          Folder(u"共享许可组件", b.pd + u"\\Autodesk\\AdskLicensingService", RiskLevel::HighRisk,
                 false, u"Autodesk 许可服务数据，删除可能影响其他 Autodesk 产品。")}},
        {false,
         {TempEntry(b.temp, u"Autodesk_ODIS_Cache", ItemKind::Directory),
          TempEntry(b.temp, u"AutoCAD 2024 Install.log", ItemKind::File),
          TempEntry(b.temp, u"acad_2024_crash.dmp", ItemKind::File)}},
        // 32-bit view: the per-user branch (both views reach it; listed once), then the records
        // of each root.
        {true,
         {adjusted(Branch(kHKCU, k32, u"Software\\Autodesk\\AutoCAD", u"AutoCAD 用户注册表",
                          u"AutoCAD 用户注册表", RiskLevel::Safe, branchNote)),
          Record(kHKLM, k32, feedbackRecord, u"AutoCAD Performance Feedback Tool 1.3.10",
                 Uninstall(b, u"HKLM32", feedbackRecord,
                           b.pf86 + u"\\Autodesk\\AutoCAD Performance Feedback Tool")),
          // Stored without its terminator, still read whole.
          Record(kHKCU, k32, u"AutoCADWebLauncher", u"AutoCAD Web Launcher 1.0.4", webLauncher),
          // 64-bit view: the machine's own branch.
          adjusted(Branch(kHKLM, k64, u"Software\\Autodesk\\AutoCAD", u"AutoCAD 系统注册表",
                          u"AutoCAD 系统注册表", RiskLevel::NeedsConfirm, branchNote))}},
        {false,
         {Record(kHKLM, k64, acadRecord, u"AutoCAD 2024 - 简体中文 (Simplified Chinese) 24.3.61.0",
                 Uninstall(b, u"HKLM64", acadRecord, b.pf + u"\\Autodesk\\AutoCAD 2024",
                           expressTools)),
          Record(kHKLM, k64, expressTools, u"AutoCAD 2024 Express Tools",
                 Uninstall(b, u"HKLM64", expressTools, {})),
          // Written by Windows Installer: the command is the one it recorded.
          Record(kHKLM, k64, kPackageCode,
                 u"AutoCAD 2024 Language Pack - Simplified Chinese 24.3.61",
                 u"MsiExec.exe /I" + kPackageCode)}},
    };
}

std::vector<ItemGroup> ExpectedSolidWorks(const Bases& b, const Pids& pids) {
    const std::u16string sw = u"SolidWorks";
    auto adjusted = [&](ResidueItem item) { return Adjusted(item, sw); };
    const std::u16string userNote = u"SolidWorks 当前用户配置；删除前自动导出备份。";
    const std::u16string corpNote = u"SolidWorks 产品配置；删除前自动导出备份。";
    const std::u16string connected = Uninstall(b, u"HKCU", u"SOLIDWORKSConnected", {});
    const std::u16string sp05 = u"{B3DA8D13-2023-0500-9A52-6E3A7C2E9F10}";
    const std::u16string eDrawings = u"{0F6C4E1A-2023-0000-8B7C-7D9A1B3C5E70}";
    return {
        {false, Processes(pids, sw, {})},
        {true,
         {Service(u"SolidWorks Licensing Service", u"SOLIDWORKS Licensing Service",
                  u"Dassault Systèmes"),
          adjusted(Folder(u"程序文件", b.pf + u"\\SOLIDWORKS Corp", RiskLevel::NeedsConfirm, true,
                          u"SolidWorks 主程序及组件目录。")),
          adjusted(Folder(u"程序文件（32位）", b.pf86 + u"\\SOLIDWORKS Corp",
                          RiskLevel::NeedsConfirm, true, u"SolidWorks 32 位组件目录。")),
          adjusted(Folder(u"公共数据", b.pd + u"\\SOLIDWORKS", RiskLevel::Safe, true,
                          u"SolidWorks 公共配置及缓存。")),
          adjusted(Folder(u"当前用户数据", b.local + u"\\SOLIDWORKS", RiskLevel::Safe, true,
                          u"当前用户 SolidWorks 缓存。")),
          adjusted(Folder(u"当前用户配置", b.roaming + u"\\SOLIDWORKS", RiskLevel::Safe, true,
                          u"当前用户 SolidWorks 配置。")),
          // The licensing service runs from inside it.
          Folder(u"共享组件", b.pf + u"\\Common Files\\SOLIDWORKS Shared", RiskLevel::HighRisk,
                 false,
                 u"目录中有已注册服务“SolidWorks Licensing Service”的程序；服务不会被删除，删除其"
                 u"程序会使服务无法启动，因此默认不选。 不同 SolidWorks 产品可能共用此目录。"),
          Folder(u"共享许可组件", b.pd + u"\\DassaultSystemes", RiskLevel::HighRisk, false,
                 u"Dassault Systèmes 共享许可及产品数据，可能被其他产品使用。")}},
        {false,
         {TempEntry(b.temp, u"sldworks_fs.log", ItemKind::File),
          TempEntry(b.temp, u"SOLIDWORKS Installation Manager", ItemKind::Directory)}},
        {true,
         {
             adjusted(Branch(kHKCU, k32, u"Software\\SolidWorks", u"SolidWorks 用户注册表",
                             u"SolidWorks 用户注册表", RiskLevel::Safe, userNote)),
             adjusted(Branch(kHKLM, k32, u"Software\\SolidWorks Corporation",
                             u"SolidWorks 系统注册表", u"SolidWorks Corporation 注册表",
                             RiskLevel::NeedsConfirm, corpNote)),
             Record(kHKLM, k32, eDrawings, u"eDrawings 2023 for SOLIDWORKS (32-bit)",
                    Uninstall(b, u"HKLM32", eDrawings, {})),
             // Stored with an odd byte count: the half unit is the terminator's.
             Record(kHKCU, k32, u"SOLIDWORKSConnected", u"SOLIDWORKS Connected 2023.1", connected),
             adjusted(Branch(kHKLM, k64, u"Software\\SolidWorks", u"SolidWorks 系统注册表",
                             u"SolidWorks 系统注册表", RiskLevel::NeedsConfirm,
                             u"SolidWorks 系统配置；删除前自动导出备份。")),
             Record(kHKLM, k64, sp05, u"SOLIDWORKS 2023 SP05 31.50.0047",
                    Uninstall(b, u"HKLM64", sp05, b.pf + u"\\SOLIDWORKS Corp\\SOLIDWORKS")),
         }},
    };
}

// An Oracle environment value, or one entry of Path, as the scan lists it.
ResidueItem EnvironmentValue(RegistryRoot root, const std::u16string& name,
                             const std::u16string& entry, RiskLevel risk,
                             const std::u16string& note) {
    ResidueItem item;
    const bool user = root == kHKCU;
    item.category = u"环境变量";
    item.kind = ItemKind::EnvironmentValue;
    item.registryRoot = root;
    item.registryView = k64;
    item.registryPath = user ? u"Environment" : kMachineEnvironment;
    item.valueName = name;
    item.pathEntry = entry;
    item.title = name + (user ? u"（用户）" : u"（系统）") + (entry.empty() ? u"" : u"：" + entry);
    item.location =
        rootPrefix(root) + item.registryPath + u"\\" + name + (entry.empty() ? u"" : u"：" + entry);
    item.risk = risk;
    item.checked = risk == RiskLevel::Safe;
    item.note = note;
    return item;
}

std::vector<ItemGroup> ExpectedOracle(const Bases& b, const Pids& pids) {
    const std::u16string ora = u"Oracle";
    auto adjusted = [&](ResidueItem item) { return Adjusted(item, ora); };
    const std::u16string userNote = u"Oracle 当前用户配置；删除前自动导出备份。";
    const std::u16string systemNote = u"Oracle Home、客户端和数据库系统配置；删除前自动导出备份。";
    const std::u16string sqlDeveloper = Uninstall(b, u"HKCU", u"SQL Developer 23.1", {});
    const std::u16string staleHome = u"C:\\app\\oracle\\product\\12.2.0\\client_1";
    return {
        {false, Processes(pids, ora, {})},
        {false,
         {Service(u"OracleVssWriterORCL", u"OracleVssWriterORCL", u"Oracle"),
          Service(u"OraDB19Home1TNSListener", u"OraDB19Home1TNSListener", u"Oracle")}},
        {true,
         {adjusted(Folder(u"程序文件", b.pf + u"\\Oracle", RiskLevel::NeedsConfirm, true,
                          u"Oracle 产品目录，可能包含数据库、客户端或开发工具。")),
          adjusted(Folder(u"程序文件（32位）", b.pf86 + u"\\Oracle", RiskLevel::NeedsConfirm, true,
                          u"Oracle 32 位客户端及组件目录。")),
          adjusted(Folder(u"公共数据", b.pd + u"\\Oracle", RiskLevel::Safe, true,
                          u"Oracle 公共配置和缓存。")),
          adjusted(Folder(u"当前用户数据", b.local + u"\\Oracle", RiskLevel::Safe, true,
                          u"当前用户 Oracle 缓存。")),
          adjusted(Folder(u"当前用户配置", b.roaming + u"\\Oracle", RiskLevel::Safe, true,
                          u"当前用户 Oracle 配置。")),
          // The home holds the programs of the two services registered from it.
          Folder(u"环境变量目录", b.oracleHome, RiskLevel::HighRisk, false,
                 u"目录中有已注册服务“OraDB19Home1TNSListener”、“OracleVssWriterORCL”的程序；服务"
                 u"不会被删除，删除其程序会使服务无法启动，因此默认不选。 ORACLE_HOME "
                 u"指向的目录；检测到有效环境变量，因此默认不选。"),
          Folder(u"共享安装组件", b.pf + u"\\Oracle\\Inventory", RiskLevel::HighRisk, false,
                 u"Oracle Universal Installer 产品清单，多个 Oracle Home 可能共用。"),
          Folder(u"共享组件", b.pd + u"\\Oracle\\Java", RiskLevel::HighRisk, false,
                 u"Java 运行环境的目录，系统 PATH 中的 java.exe 位于其中（javapath），不属于 "
                 u"Oracle 数据库；删除后本机的 Java 程序将无法启动，因此默认不选。")}},
        {false,
         {TempEntry(b.temp, u"OraInstall2024-05-06_10-11-12AM", ItemKind::Directory),
          TempEntry(b.temp, u"oracle_setup.log", ItemKind::File),
          TempEntry(b.temp, u"orange.tmp", ItemKind::File)}},
        {true,
         {
             adjusted(Branch(kHKCU, k32, u"Software\\Oracle", u"Oracle 用户注册表",
                             u"Oracle 用户注册表", RiskLevel::Safe, userNote)),
             adjusted(Branch(kHKLM, k32, u"Software\\Oracle", u"Oracle 系统注册表",
                             u"Oracle 系统注册表", RiskLevel::NeedsConfirm, systemNote)),
             Record(kHKLM, k32, u"OraClient19Home1_32bit", u"Oracle Database 19c Client (32-bit)",
                    u""),
             Record(kHKCU, k32, u"SQL Developer 23.1", u"SQL Developer 23.1.1", sqlDeveloper),
             adjusted(Branch(kHKLM, k64, u"Software\\Oracle", u"Oracle 系统注册表",
                             u"Oracle 系统注册表", RiskLevel::NeedsConfirm, systemNote)),
             Record(kHKLM, k64, u"OraDB19Home1", u"Oracle Database 19c 19.3.0.0.0",
                    Uninstall(b, u"HKLM64", u"OraDB19Home1", b.oracleHome)),
         }},
        // A removed client's values are dead; the live home's is the user's to judge.
        {true,
         {EnvironmentValue(kHKLM, u"ORACLE_HOME", u"", RiskLevel::Safe,
                           u"指向的目录已不存在：" + staleHome + u"。删除前自动备份。"),
          EnvironmentValue(
              kHKCU, u"ORACLE_HOME", u"", RiskLevel::NeedsConfirm,
              u"指向 " + b.oracleHome +
                  u"；其他程序可能仍在使用此 Oracle 目录，因此默认不选。删除前自动备份。"),
          EnvironmentValue(
              kHKCU, u"Path", staleHome + u"\\bin", RiskLevel::Safe,
              u"指向的目录已不存在：" + staleHome +
                  u"\\bin。清理时只移除此条目，Path 的其他条目保持不变；修改前自动备份。")}},
    };
}

// Clears the prefix again even when the test stops half-way.
class ClearOnExit {
public:
    ~ClearOnExit() {
        if (armed) {
            RunSeeder(u"clear all");
            SetEnvironmentVariableW(L"ORACLE_HOME", nullptr);
        }
    }
    bool armed = true;
};

TEST(CatalogueScanWineTest, SeededPrefixGivesEachProductsWholeCatalogue) {
    SeedLock lock;
    ASSERT_TRUE(lock.held());
    ClearOnExit clearOnExit;

    const SeederRun seeded = RunSeeder(u"seed all");
    ASSERT_EQ(seeded.exitCode, 0u) << seeded.failures;
    ASSERT_TRUE(seeded.failures.empty()) << seeded.failures;
    RefreshOracleHome();

    std::map<std::u16string, Pids> pids;
    for (const Fields& fields : seeded.manifest) {
        if (fields[0] == u"process" && fields.size() >= 4) {
            pids[fields[1]].emplace_back(std::stoul(ToUtf8(fields[2])), fields[3]);
        }
    }
    ASSERT_EQ(pids[u"autocad"].size(), 3u);
    ASSERT_EQ(pids[u"solidworks"].size(), 3u);
    ASSERT_EQ(pids[u"oracle"].size(), 2u);
    // The look-alikes run too, but are not in any catalogue.
    auto listed = [](Pids all, const std::u16string& decoy) {
        all.erase(std::remove_if(all.begin(), all.end(),
                                 [&](const auto& pid) { return pid.second == decoy; }),
                  all.end());
        return all;
    };

    const Bases bases;
    const std::map<ProductKind, std::vector<ItemGroup>> expected{
        {ProductKind::AutoCAD,
         ExpectedAutoCad(bases, listed(pids[u"autocad"], u"AcEventSync.exe"))},
        {ProductKind::SolidWorks,
         ExpectedSolidWorks(bases, listed(pids[u"solidworks"], u"sldProcMon.exe"))},
        {ProductKind::Oracle, ExpectedOracle(bases, pids[u"oracle"])},
    };
    Win32Platform platform;
    for (ProductKind product : kProducts) {
        ScanCollector collector(platform, product);
        EXPECT_TRUE(SameGroups(collector.collect(), expected.at(product)))
            << ToUtf8(productName(product));
    }

    const SeederRun cleared = RunSeeder(u"clear all");
    clearOnExit.armed = false;
    SetEnvironmentVariableW(L"ORACLE_HOME", nullptr);
    EXPECT_EQ(cleared.exitCode, 0u) << cleared.failures;
    // Cleared, the prefix holds nothing any catalogue names (Wine's own prefix included): no
    // vendor folder, temporary entry, branch, record, service or process is left.
    for (ProductKind product : kProducts) {
        ScanCollector collector(platform, product);
        EXPECT_TRUE(SameItems(Describe(collector.collect()), {})) << ToUtf8(productName(product));
    }
}

} // namespace
} // namespace tidewell
