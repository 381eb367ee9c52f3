#include "catalogue/ScanCollector.h"

#include "support/Environment.h"
#include "support/ProgramPath.h"
#include "support/RegistryText.h"
#include "support/Text.h"

#include <iterator>
#include <vector>

namespace tidewell {

namespace {

constexpr RegistryRoot kUser = RegistryRoot::CurrentUser;
constexpr RegistryRoot kMachine = RegistryRoot::LocalMachine;

struct BranchRow {
    ProductKind product;
    RegistryRoot root;
    const char16_t* path;
    const char16_t* category;
    const char16_t* title; // before the view suffix
    RiskLevel risk;
    bool checked;
    const char16_t* note;
};

const BranchRow kBranchRows[] = {
    {ProductKind::AutoCAD, kUser, u"Software\\Autodesk\\AutoCAD", u"AutoCAD 用户注册表",
     u"AutoCAD 用户注册表", RiskLevel::Safe, true,
     u"枚举此分支下的全部 AutoCAD 版本；删除前自动导出备份。"},
    {ProductKind::AutoCAD, kMachine, u"Software\\Autodesk\\AutoCAD", u"AutoCAD 系统注册表",
     u"AutoCAD 系统注册表", RiskLevel::NeedsConfirm, true,
     u"枚举此分支下的全部 AutoCAD 版本；删除前自动导出备份。"},
    {ProductKind::SolidWorks, kUser, u"Software\\SolidWorks", u"SolidWorks 用户注册表",
     u"SolidWorks 用户注册表", RiskLevel::Safe, true,
     u"SolidWorks 当前用户配置；删除前自动导出备份。"},
    {ProductKind::SolidWorks, kMachine, u"Software\\SolidWorks", u"SolidWorks 系统注册表",
     u"SolidWorks 系统注册表", RiskLevel::NeedsConfirm, true,
     u"SolidWorks 系统配置；删除前自动导出备份。"},
    {ProductKind::SolidWorks, kMachine, u"Software\\SolidWorks Corporation",
     u"SolidWorks 系统注册表", u"SolidWorks Corporation 注册表", RiskLevel::NeedsConfirm, true,
     u"SolidWorks 产品配置；删除前自动导出备份。"},
    {ProductKind::Oracle, kUser, u"Software\\Oracle", u"Oracle 用户注册表", u"Oracle 用户注册表",
     RiskLevel::Safe, true, u"Oracle 当前用户配置；删除前自动导出备份。"},
    {ProductKind::Oracle, kMachine, u"Software\\Oracle", u"Oracle 系统注册表", u"Oracle 系统注册表",
     RiskLevel::NeedsConfirm, true, u"Oracle Home、客户端和数据库系统配置；删除前自动导出备份。"},
};

// Branches of products that install beside the main one: AutoCAD LT keeps its settings in a
// branch of its own, SolidWorks Simulation under its old maker's name. eDrawings is also
// installed on its own, so its branches wait for the user.
const BranchRow kSiblingBranchRows[] = {
    {ProductKind::AutoCAD, kUser, u"Software\\Autodesk\\AutoCAD LT", u"AutoCAD 用户注册表",
     u"AutoCAD LT 用户注册表", RiskLevel::Safe, true,
     u"枚举此分支下的全部 AutoCAD LT 版本；删除前自动导出备份。"},
    {ProductKind::AutoCAD, kMachine, u"Software\\Autodesk\\AutoCAD LT", u"AutoCAD 系统注册表",
     u"AutoCAD LT 系统注册表", RiskLevel::NeedsConfirm, true,
     u"枚举此分支下的全部 AutoCAD LT 版本；删除前自动导出备份。"},
    {ProductKind::SolidWorks, kUser, u"Software\\SRAC", u"SolidWorks 用户注册表",
     u"SolidWorks Simulation 用户注册表", RiskLevel::Safe, true,
     u"SolidWorks Simulation（SRAC）当前用户配置；删除前自动导出备份。"},
    {ProductKind::SolidWorks, kMachine, u"Software\\SRAC", u"SolidWorks 系统注册表",
     u"SolidWorks Simulation 系统注册表", RiskLevel::NeedsConfirm, true,
     u"SolidWorks Simulation（SRAC）系统配置；删除前自动导出备份。"},
    {ProductKind::SolidWorks, kUser, u"Software\\eDrawings", u"SolidWorks 用户注册表",
     u"eDrawings 用户注册表", RiskLevel::NeedsConfirm, false,
     u"eDrawings 也可单独安装，可能仍在使用，因此默认不选；删除前自动导出备份。"},
    {ProductKind::SolidWorks, kMachine, u"Software\\eDrawings", u"SolidWorks 系统注册表",
     u"eDrawings 系统注册表", RiskLevel::NeedsConfirm, false,
     u"eDrawings 也可单独安装，可能仍在使用，因此默认不选；删除前自动导出备份。"},
};

enum class NameTest { Contains, StartsWith };

struct RecordRow {
    ProductKind product;
    NameTest test;
    const char16_t* text;
};

// Only the short Oracle test is anchored: "Tools for Oracle" is not an Oracle product.
const RecordRow kRecordRows[] = {
    {ProductKind::AutoCAD, NameTest::Contains, u"AutoCAD"},
    {ProductKind::SolidWorks, NameTest::Contains, u"SolidWorks"},
    {ProductKind::SolidWorks, NameTest::Contains, u"SOLIDWORKS"},
    {ProductKind::Oracle, NameTest::StartsWith, u"Oracle"},
    {ProductKind::Oracle, NameTest::Contains, u"Oracle Database"},
    {ProductKind::Oracle, NameTest::Contains, u"Oracle Client"},
    {ProductKind::Oracle, NameTest::Contains, u"SQL Developer"},
};

const char16_t kUninstallList[] = u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// The scanners take the Oracle rows for any product value they do not know.
ProductKind RowProduct(ProductKind product) {
    return product == ProductKind::AutoCAD || product == ProductKind::SolidWorks
               ? product
               : ProductKind::Oracle;
}

bool IsProductRecord(ProductKind product, const std::u16string& displayName) {
    for (const RecordRow& row : kRecordRows) {
        if (row.product != product) {
            continue;
        }
        const bool holds = row.test == NameTest::StartsWith
                               ? StartsWithNoCase(displayName, row.text)
                               : ContainsNoCase(displayName, row.text);
        if (holds) {
            return true;
        }
    }
    return false;
}

std::u16string Trimmed(const std::u16string& text) {
    const size_t first = text.find_first_not_of(u" \t");
    const size_t last = text.find_last_not_of(u" \t");
    return first == std::u16string::npos ? std::u16string() : text.substr(first, last - first + 1);
}

// A path as a record writes it, quoted or not, read as a program path is read.
std::u16string PathValue(Platform& platform, std::u16string text) {
    text = Trimmed(text);
    if (text.size() >= 2 && text.front() == u'"' && text.back() == u'"') {
        text = text.substr(1, text.size() - 2);
    }
    return text.empty() ? text : ProgramPathOf(platform, u"\"" + text + u"\"");
}

// "C:\x\app.exe,0", "\"C:\x\app.ico\"", "C:\x\app.exe,-101": the file without its icon index.
std::u16string IconFile(const std::u16string& value) {
    const std::u16string text = Trimmed(value);
    const size_t comma = text.find_last_of(u',');
    if (comma == std::u16string::npos || (text.front() == u'"' && text.back() == u'"')) {
        return text;
    }
    const std::u16string index = text.substr(comma + 1);
    const size_t digits = index.find_first_not_of(u" -");
    const bool isIndex = digits != std::u16string::npos &&
                         index.find_first_not_of(u"0123456789", digits) == std::u16string::npos;
    return isIndex ? text.substr(0, comma) : text;
}

// Folders that hold no product's home: the Windows folder (the installer's engine and its icon
// cache) and the bundles' package cache.
struct NoHomes {
    std::u16string windows;
    std::u16string packageCache;
};

bool IsSystemOrCache(const NoHomes& noHomes, const std::u16string& program) {
    const std::u16string name = ToLower(program.substr(program.find_last_of(u"\\/") + 1));
    return name == u"msiexec.exe" || name == u"msiexec" ||
           (!noHomes.windows.empty() && PathIsAtOrBelow(program, noHomes.windows)) ||
           (!noHomes.packageCache.empty() && PathIsAtOrBelow(program, noHomes.packageCache));
}

// Where a record's product lives: InstallLocation, else the folder of DisplayIcon, else the
// folder of its uninstall command's program. Empty when none of them says.
std::u16string RecordLocation(Platform& platform, const NoHomes& noHomes,
                              const std::u16string& installLocation,
                              const std::u16string& displayIcon, const std::u16string& command) {
    const std::u16string location = PathValue(platform, installLocation);
    if (!location.empty()) {
        return location;
    }
    for (const std::u16string& program :
         {PathValue(platform, IconFile(displayIcon)), ProgramPathOf(platform, command)}) {
        if (!program.empty() && !IsSystemOrCache(noHomes, program)) {
            return ParentFolder(program);
        }
    }
    return {};
}

} // namespace

void ScanCollector::scanRegistry() {
    // The 32-bit view always comes first; on 32-bit Windows it is the only view there is.
    std::vector<RegistryView> views{RegistryView::Bits32};
    if (platform.runsOn64BitWindows()) {
        views.push_back(RegistryView::Bits64);
    }
    const ProductKind rows = RowProduct(product);
    for (RegistryView view : views) {
        const auto addBranches = [&](const BranchRow* first, const BranchRow* last) {
            for (const BranchRow* row = first; row != last; ++row) {
                if (row->product == rows) {
                    addRegistryKeyIfExists(row->root, view, row->path, row->category,
                                           row->title + viewSuffix(view), ItemKind::RegistryKey,
                                           row->risk, row->checked, row->note, {});
                }
            }
        };
        addBranches(std::begin(kBranchRows), std::end(kBranchRows));
        addBranches(std::begin(kSiblingBranchRows), std::end(kSiblingBranchRows));
        scanUninstallRecords(kMachine, view);
        scanUninstallRecords(kUser, view);
    }
}

void ScanCollector::scanUninstallRecords(RegistryRoot root, RegistryView view) {
    const ProductKind rows = RowProduct(product);
    const std::vector<std::u16string> valueNames{u"DisplayName",          u"DisplayVersion",
                                                 u"QuietUninstallString", u"UninstallString",
                                                 u"InstallLocation",      u"DisplayIcon"};
    // Each record is opened under the open uninstall list and read there.
    const SubkeyValuesListing listing =
        platform.readSubkeyValues(root, view, kUninstallList, valueNames);
    if (listing.error != 0) {
        return;
    }
    const std::u16string programData = ReadEnvironmentVariable(platform, u"ProgramData");
    const NoHomes noHomes{platform.windowsDirectory(),
                          programData.empty() ? programData
                                              : JoinPath(programData, u"Package Cache")};
    for (const SubkeyValues& subkey : listing.subkeys) {
        platform.lookAtQueue();
        const std::u16string path = std::u16string(kUninstallList) + u"\\" + subkey.name;
        const RegistryValues& values = subkey.values;
        if (values.error != 0 || values.values.size() != valueNames.size()) {
            continue;
        }
        std::u16string texts[6];
        for (size_t i = 0; i < valueNames.size(); ++i) {
            const RegistryValue& value = values.values[i];
            texts[i] = DecodeRegistryText(value.error, value.type, value.data);
        }
        const std::u16string& displayName = texts[0];
        const std::u16string& displayVersion = texts[1];
        const std::u16string& quietCommand = texts[2];
        const std::u16string& plainCommand = texts[3];
        if (!IsProductRecord(rows, displayName)) {
            // Another product: a folder of the scan that holds its installation must stay.
            const std::u16string location =
                RecordLocation(platform, noHomes, texts[4], texts[5],
                               plainCommand.empty() ? quietCommand : plainCommand);
            if (!location.empty()) {
                livePlaces_.push_back({ComparablePath(location),
                                       displayName.empty() ? subkey.name : displayName, false});
            }
            continue;
        }
        const std::u16string title =
            displayVersion.empty() ? displayName : displayName + u" " + displayVersion;
        addRegistryKeyIfExists(
            root, view, path, u"安装记录（高风险）", title, ItemKind::InstallRecord,
            RiskLevel::HighRisk, false,
            u"应优先正常卸载；仅在产品已不存在或卸载记录损坏时删除。清理前自动备份。",
            quietCommand.empty() ? plainCommand : quietCommand);
    }
}

} // namespace tidewell
