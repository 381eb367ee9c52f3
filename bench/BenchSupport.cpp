#include "BenchSupport.h"

#include "support/Text.h"

#include <algorithm>
#include <memory>

namespace tidewell::bench {

double Median(std::vector<double> values) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

void Report(const std::string& name, const std::string& value) {
    std::printf("RESULT %s %s\n", name.c_str(), value.c_str());
    std::fflush(stdout);
}

void Report(const std::string& name, double value) {
    char text[64];
    std::snprintf(text, sizeof(text), "%.1f", value);
    Report(name, std::string(text));
}

void Note(const std::string& text) {
    std::fprintf(stderr, "  %s\n", text.c_str());
    std::fflush(stderr);
}

namespace {

struct Location {
    const char16_t* category;
    const char16_t* base;
    RiskLevel risk;
};

const Location kFolderLocations[] = {
    {u"程序文件", u"C:\\Program Files\\Autodesk", RiskLevel::NeedsConfirm},
    {u"程序文件（32位）", u"C:\\Program Files (x86)\\Autodesk", RiskLevel::NeedsConfirm},
    {u"公共数据", u"C:\\ProgramData\\Autodesk", RiskLevel::Safe},
    {u"当前用户数据", u"C:\\users\\bench\\AppData\\Local\\Autodesk", RiskLevel::Safe},
    {u"当前用户配置", u"C:\\users\\bench\\AppData\\Roaming\\Autodesk", RiskLevel::Safe},
};

std::unique_ptr<ResidueItem> Item(const std::u16string& category, const std::u16string& title,
                                  const std::u16string& location, ItemKind kind, RiskLevel risk,
                                  bool checked) {
    auto item = std::make_unique<ResidueItem>();
    item->category = category;
    item->title = title;
    item->location = location;
    item->note = u"基准测试生成的项目。";
    item->kind = kind;
    item->risk = risk;
    item->checked = checked;
    return item;
}

} // namespace

ItemList SyntheticItems(size_t count) {
    ItemList items;
    items.reserve(count);
    for (size_t index = 0; index < count; ++index) {
        const std::u16string number = ToDecimal(static_cast<int64_t>(index));
        const size_t slot = index % 20;
        if (slot < 14) {
            const bool folder = slot == 13;
            const std::u16string name = u"acad_" + number + (folder ? u"" : u".tmp");
            items.push_back(Item(u"临时文件", name, u"C:\\users\\bench\\Temp\\" + name,
                                 folder ? ItemKind::Directory : ItemKind::File, RiskLevel::Safe,
                                 true));
        } else if (slot < 18) {
            const Location& where = kFolderLocations[(index / 20) % 5];
            const std::u16string name = u"AutoCAD 20" + number;
            items.push_back(Item(where.category, name, std::u16string(where.base) + u"\\" + name,
                                 ItemKind::Directory, where.risk, true));
        } else if (slot == 18) {
            const std::u16string key = u"{5783F2D7-" + number + u"}";
            auto item = Item(u"安装记录（高风险）", u"AutoCAD 2024 Language Pack " + number,
                             u"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" +
                                 key + u" [64位]",
                             ItemKind::InstallRecord, RiskLevel::HighRisk, false);
            item->uninstallCommand = u"MsiExec.exe /X" + key;
            items.push_back(std::move(item));
        } else {
            const bool user = (index / 20) % 2 == 0;
            const std::u16string path = u"Software\\Autodesk\\AutoCAD\\R24." + number;
            items.push_back(
                Item(user ? u"AutoCAD 用户注册表" : u"AutoCAD 系统注册表", u"AutoCAD 注册表 [64位]",
                     (user ? u"HKCU\\" : u"HKLM\\") + path + u" [64位]", ItemKind::RegistryKey,
                     user ? RiskLevel::Safe : RiskLevel::NeedsConfirm, true));
        }
    }
    return items;
}

} // namespace tidewell::bench
