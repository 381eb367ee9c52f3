#pragma once

#include "catalogue/ResidueItem.h"

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

// What the main window shows, decided without the window: the shape and texts of the result
// tree and the status line. The window code (Win32 only) turns these into control messages.
namespace tidewell {

// Which icon of the shell's small system image list a tree node shows.
enum class TreeImage { Folder, TempFile, Registry, Program, Library, Installer };

TreeImage ImageForKind(ItemKind kind);

// One node of the result tree, in insertion order. The scan root is node 0 with parent -1;
// every other node's parent is an earlier node.
struct PlannedNode {
    int parent = -1;
    std::u16string text;
    ResidueItem* item = nullptr; // leaves only; group nodes carry no link
    bool checked = false;        // initial state; group nodes are derived from their leaves later
    bool partly = false;         // a group with some but not all of its leaves checked
    TreeImage image = TreeImage::Folder;
    bool expand = false; // the root and the categories open once built; path nodes stay closed
};

// The whole tree for a scan: the root, then per category (ascending UTF-16 code units) its
// node followed by its path nodes and leaves in the order the items need them.
// `eachItem`, when given, is called once per item placed: planning 100,000 items takes longer
// than a window may go without a look at its queue.
std::vector<PlannedNode> PlanResultTree(const ItemList& items, ProductKind product,
                                        const std::function<void()>& eachItem = {});

// Gives every group node the check it takes from its leaves: checked when it has at least one
// child and every child is checked, partly checked when some leaf below it is checked but not
// all are. Leaves keep theirs.
void DeriveGroupChecks(std::vector<PlannedNode>& plan);

// The order in which to insert the planned nodes, each at the end of its parent's children:
// all group nodes first, then the leaves, when that leaves every parent's children in plan
// order; the plan order otherwise. A tree view that validates a parent by searching its nodes
// from the first one (Wine's does) then finds every parent near the front.
std::vector<size_t> InsertionOrder(const std::vector<PlannedNode>& plan);

// The components a file, folder or registry location is shown as: split at backslashes, empty
// components dropped, after a registry item (RegistryKey, InstallRecord) has lost its trailing
// view mark " [64位]" or " [32位]". Every other location is split whole.
std::vector<std::u16string> SplitLocation(const std::u16string& location, ItemKind kind);

std::u16string RootText(ProductKind product, size_t itemCount);
std::u16string CategoryText(const std::u16string& category, size_t itemCount);
std::u16string LeafText(const std::u16string& name, RiskLevel risk);

// Tab index to product: 1 SolidWorks, 2 Oracle, anything else (none selected too) AutoCAD.
ProductKind ProductForTab(int tabIndex);
// The tab that shows the product; ProductForTab's inverse.
int TabForProduct(ProductKind product);
std::u16string OneClickCaption(ProductKind product);

// Status line texts.
std::u16string ReadyStatusText();
std::u16string ScanningStatusText();
std::u16string SwitchedStatusText(ProductKind product);
std::u16string ScanResultText(ProductKind product, size_t itemCount);
std::u16string CheckedStatusText(size_t checkedCount, size_t itemCount);
std::u16string SelectionStatusText(const ResidueItem& item);

// The note as a tooltip for a buffer of bufferSize units: at most bufferSize - 1 units, so
// that the terminating zero fits. Nothing fits a buffer of size 0 or less.
std::u16string TipText(const std::u16string& note, int bufferSize);

} // namespace tidewell
