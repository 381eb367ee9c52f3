#include "catalogue/ScanCollector.h"

#include "support/ProgramPath.h"
#include "support/Text.h"

#include <algorithm>

namespace tidewell {

ScanCollector::ScanCollector(Platform& platform, ProductKind product)
    : platform(platform), product(product) {}

void ScanCollector::addItem(std::unique_ptr<ResidueItem> item) {
    if (seenKeys.insert(dedupKey(*item)).second) {
        if (item->kind == ItemKind::Directory || item->kind == ItemKind::File) {
            markIfBelowLink(*item);
        }
        items.push_back(std::move(item));
    }
}

// Items share few parents (a vendor folder, TEMP): each is asked about once per scan.
void ScanCollector::markIfBelowLink(ResidueItem& item) {
    const std::u16string& location = item.location;
    const size_t end = location.find_last_not_of(u"\\/");
    const size_t separator = end == std::u16string::npos ? end : location.find_last_of(u"\\/", end);
    const std::u16string parent = ToLower(location.substr(0, separator));
    auto known = parentRoutes_.find(parent);
    if (known == parentRoutes_.end()) {
        if (!localNames_) {
            localNames_ = ReadLocalNames(platform);
        }
        known =
            parentRoutes_.emplace(parent, CheckParentRoute(platform, location, *localNames_)).first;
    }
    if (known->second.route != ParentRoute::ThroughLink) {
        return;
    }
    item.checked = false;
    item.risk = std::max(item.risk, RiskLevel::NeedsConfirm);
    item.note = u"所在目录经过链接指向 " + known->second.reached +
                u"，清理时会跳过此项，因此默认不选。 " + item.note;
}

void ScanCollector::addEntry(const std::u16string& category, const std::u16string& title,
                             const std::u16string& location, const std::u16string& note,
                             ItemKind kind, RiskLevel risk, bool checked) {
    auto item = std::make_unique<ResidueItem>();
    item->category = category;
    item->title = title;
    item->location = location;
    item->note = note;
    item->kind = kind;
    item->risk = risk;
    item->checked = checked;
    addItem(std::move(item));
}

void ScanCollector::addFolderIfExists(const std::u16string& path, const std::u16string& category,
                                      RiskLevel risk, bool checked, const std::u16string& note) {
    if (!platform.fileAttributes(path).isDirectory()) {
        return;
    }
    const size_t separator = path.find_last_of(u"\\/");
    const std::u16string title =
        separator == std::u16string::npos ? path : path.substr(separator + 1);
    addEntry(category, title, path, note, ItemKind::Directory, risk, checked);
}

void ScanCollector::addRegistryKeyIfExists(RegistryRoot root, RegistryView view,
                                           const std::u16string& registryPath,
                                           const std::u16string& category,
                                           const std::u16string& title, ItemKind kind,
                                           RiskLevel risk, bool checked, const std::u16string& note,
                                           const std::u16string& uninstallCommand) {
    if (platform.openKeyForRead(root, view, registryPath) != 0) {
        return;
    }
    auto item = std::make_unique<ResidueItem>();
    item->category = category;
    item->title = title;
    item->location = rootPrefix(root) + registryPath + viewSuffix(view);
    item->note = note;
    item->uninstallCommand = uninstallCommand;
    item->kind = kind;
    item->risk = risk;
    item->checked = checked;
    item->registryRoot = root;
    item->registryView = view;
    item->registryPath = registryPath;
    addItem(std::move(item));
}

ItemList ScanCollector::takeItems() {
    ItemList taken = std::move(items);
    items.clear();
    return taken;
}

ItemList ScanCollector::collect() {
    scanProcesses();
    scanServices();
    scanFolders();
    scanRegistry();
    if (product != ProductKind::AutoCAD && product != ProductKind::SolidWorks) {
        scanOracleRecords();
    }
    markItemsInUse();
    AdjustForInstallRecords(items, product);
    return takeItems();
}

namespace {

// "“A”、“B”" for the names in the order met, each once.
std::u16string QuotedNames(const std::vector<std::u16string>& names) {
    std::u16string text;
    for (const std::u16string& name : names) {
        text += (text.empty() ? u"“" : u"、“") + name + u"”";
    }
    return text;
}

} // namespace

void ScanCollector::markItemsInUse() {
    if (livePlaces_.empty()) {
        return;
    }
    std::sort(livePlaces_.begin(), livePlaces_.end());
    for (auto& item : items) {
        const bool file = item->kind == ItemKind::File;
        if (!file && item->kind != ItemKind::Directory) {
            continue;
        }
        const std::u16string folder = ComparablePath(item->location);
        std::vector<std::u16string> services;
        std::vector<std::u16string> products;
        auto place =
            std::lower_bound(livePlaces_.begin(), livePlaces_.end(), LivePlace{folder, {}, false});
        for (; place != livePlaces_.end() && place->place.compare(0, folder.size(), folder) == 0;
             ++place) {
            // A file holds no other product's folder, only a service's program.
            if (!ComparableIsAtOrBelow(place->place, folder) || (file && !place->service)) {
                continue;
            }
            std::vector<std::u16string>& names = place->service ? services : products;
            if (std::find(names.begin(), names.end(), place->name) == names.end()) {
                names.push_back(place->name);
            }
        }
        std::u16string reason;
        if (!services.empty()) {
            reason = file ? u"此文件是已注册服务" + QuotedNames(services) +
                                u"的程序；服务不会被删除，删除它会使服务无法启动，因此默认不选。"
                          : u"目录中有已注册服务" + QuotedNames(services) +
                                u"的程序；服务不会被删除，删除其程序会使服务无法启动，因此默认不选"
                                u"。";
        }
        if (!products.empty()) {
            reason += u"目录中安装有其他产品" + QuotedNames(products) + u"，因此默认不选。";
        }
        if (reason.empty()) {
            continue;
        }
        item->inUse = reason;
        item->checked = false;
        item->risk = RiskLevel::HighRisk;
        item->note = reason + u" " + item->note;
    }
}

namespace {

bool IsAdjustedCategory(const std::u16string& category) {
    // An installed version's data and settings are the user's profile and customisations.
    return category == u"程序文件" || category == u"程序文件（32位）" || category == u"公共数据" ||
           category == u"当前用户数据" || category == u"当前用户配置" ||
           ContainsNoCase(category, u"系统注册表") || ContainsNoCase(category, u"用户注册表");
}

} // namespace

void AdjustForInstallRecords(ItemList& items, ProductKind product) {
    bool hasInstallRecord = false;
    for (const auto& item : items) {
        hasInstallRecord = hasInstallRecord || item->kind == ItemKind::InstallRecord;
    }
    if (!hasInstallRecord) {
        return;
    }
    const std::u16string prefix = u"检测到系统仍有 " + productName(product) +
                                  u" 安装记录，因此此项不视为可自动清理的残留。请先正常卸载，或确认"
                                  u"安装记录确已损坏后手动勾选。 ";
    for (auto& item : items) {
        if (IsAdjustedCategory(item->category)) {
            item->checked = false;
            item->risk = RiskLevel::HighRisk;
            item->note = prefix + item->note;
        }
    }
}

} // namespace tidewell
