#include "catalogue/ScanCollector.h"

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
    const std::vector<std::u16string> valueNames{u"DisplayName", u"DisplayVersion",
                                                 u"QuietUninstallString", u"UninstallString"};
    // Each record is opened under the open uninstall list and read there.
    const SubkeyValuesListing listing =
        platform.readSubkeyValues(root, view, kUninstallList, valueNames);
    if (listing.error != 0) {
        return;
    }
    for (const SubkeyValues& subkey : listing.subkeys) {
        platform.lookAtQueue();
        const std::u16string path = std::u16string(kUninstallList) + u"\\" + subkey.name;
        const RegistryValues& values = subkey.values;
        if (values.error != 0 || values.values.size() != valueNames.size()) {
            continue;
        }
        std::u16string texts[4];
        for (size_t i = 0; i < valueNames.size(); ++i) {
            const RegistryValue& value = values.values[i];
            texts[i] = DecodeRegistryText(value.error, value.type, value.data);
        }
        const std::u16string& displayName = texts[0];
        const std::u16string& displayVersion = texts[1];
        const std::u16string& quietCommand = texts[2];
        const std::u16string& plainCommand = texts[3];
        if (!IsProductRecord(rows, displayName)) {
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
