#pragma once

#include "catalogue/ResidueItem.h"
#include "platform/Platform.h"
#include "support/PathFolding.h"

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace tidewell {

// The item list of one scan run. Scanners add items only through it; it drops an item whose
// kind and case-folded location it has already seen, keeping the first.
class ScanCollector {
public:
    ScanCollector(Platform& platform, ProductKind product);

    void addItem(std::unique_ptr<ResidueItem> item);
    void addEntry(const std::u16string& category, const std::u16string& title,
                  const std::u16string& location, const std::u16string& note, ItemKind kind,
                  RiskLevel risk, bool checked);
    // Adds a Directory item when the path exists and is a directory. The title is the part
    // behind the last '\' or '/'.
    void addFolderIfExists(const std::u16string& path, const std::u16string& category,
                           RiskLevel risk, bool checked, const std::u16string& note);
    // Adds a registry item when the key opens for reading in the view.
    void addRegistryKeyIfExists(RegistryRoot root, RegistryView view,
                                const std::u16string& registryPath, const std::u16string& category,
                                const std::u16string& title, ItemKind kind, RiskLevel risk,
                                bool checked, const std::u16string& note,
                                const std::u16string& uninstallCommand);
    ItemList takeItems();

    // Runs the scanners in their fixed order, adjusts for install records and hands the list
    // over.
    ItemList collect();

    // The scanners, each adding what it finds for `product`.
    void scanProcesses();
    void scanServices();
    void scanFolders();
    void scanRegistry();
    void scanDirectoryNames(const std::u16string& base, const std::u16string& keyword,
                            const std::u16string& category, RiskLevel risk, bool checked);
    void scanTempEntries(const std::u16string& folder);
    void scanUninstallRecords(RegistryRoot root, RegistryView view);
    // What Oracle records of itself: the inventory named by inst_loc, the homes of its KEY_*
    // keys, and the environment values and Path entries that point into Oracle's folders.
    void scanOracleRecords();
    void scanOracleHomes(const std::vector<RegistryView>& views, const LocalNames& local,
                         std::vector<std::u16string>& oracleFolders);
    // Leaves unchecked, at high risk, every folder or file that holds a registered service's
    // program, and every folder that holds where another product is installed (a record the
    // product's record rule does not take): removing them breaks what stays installed.
    void markItemsInUse();

    Platform& platform;
    const ProductKind product;
    ItemList items;
    std::set<std::u16string> seenKeys;

private:
    // A file or folder that a link above it leads elsewhere is left unchecked, needing
    // confirmation, with a note saying where the link leads; the clean refuses it anyway.
    void markIfBelowLink(ResidueItem& item);

    // Where something that stays lives, compared as the removal compares paths, sorted so that
    // what lies inside a folder is one run of neighbours.
    struct LivePlace {
        std::u16string place;
        std::u16string name;
        bool service; // a service's program, otherwise another product's installation
        bool operator<(const LivePlace& other) const { return place < other.place; }
    };
    std::vector<LivePlace> livePlaces_;

    std::optional<LocalNames> localNames_;
    std::map<std::u16string, ParentCheck> parentRoutes_; // folded parent text -> its route
};

// Unchecks and raises to high risk the program folders, data and settings folders and registry
// branches when the list holds an install record: removing them would break an installation
// that still exists, or lose its user's settings.
void AdjustForInstallRecords(ItemList& items, ProductKind product);

} // namespace tidewell
