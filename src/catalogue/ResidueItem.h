#pragma once

#include "platform/Platform.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tidewell {

// The product family being scanned. Lookups treat any other value as AutoCAD; the scanners
// treat it as Oracle.
enum class ProductKind : int32_t { AutoCAD = 0, SolidWorks = 1, Oracle = 2 };

// What a residue is; selects the removal operation and the tree icon.
enum class ItemKind : int32_t {
    Process = 0,
    Service = 1,
    Directory = 2,
    File = 3,
    RegistryKey = 4,
    InstallRecord = 5,
    EnvironmentValue = 6, // a value of the machine's or the user's environment, or one Path entry
};

enum class RiskLevel : int32_t { Safe = 0, NeedsConfirm = 1, HighRisk = 2 };

// One residue found by a scan.
struct ResidueItem {
    std::u16string category;         // group label, the tree's parent node
    std::u16string title;            // display name
    std::u16string location;         // what removal works on and the log shows
    std::u16string note;             // why the item is or is not pre-selected
    std::u16string uninstallCommand; // install records only
    ItemKind kind = ItemKind::Directory;
    RiskLevel risk = RiskLevel::Safe;
    bool checked = false; // default selection only; the tree keeps the user's choice
    RegistryRoot registryRoot = RegistryRoot::None;
    RegistryView registryView = RegistryView::None;
    std::u16string registryPath; // subkey path under registryRoot
    // Environment values: the value's name as stored, and for one entry of Path that entry as
    // stored (empty for a whole value).
    std::u16string valueName;
    std::u16string pathEntry;
    // Why a folder or file is still in use (it holds a registered service's program or another
    // product's installation); empty when it is not. The one-click run leaves such an item.
    std::u16string inUse;
};

// Owning list of items in scan order.
using ItemList = std::vector<std::unique_ptr<ResidueItem>>;

std::u16string productName(ProductKind product);
std::u16string makerName(ProductKind product);
std::u16string riskLabel(RiskLevel risk);
std::u16string rootPrefix(RegistryRoot root);
std::u16string viewSuffix(RegistryView view);

// The de-duplication key: kind in decimal, "|", the location with ASCII letters folded. A
// per-user key outside Software\Classes is one key in both views, so its key leaves the view
// out and the collector keeps the sighting of the view scanned first.
std::u16string dedupKey(const ResidueItem& item);

} // namespace tidewell
