#include "catalogue/ResidueItem.h"

#include "support/Text.h"

namespace tidewell {

std::u16string productName(ProductKind product) {
    if (product == ProductKind::SolidWorks) {
        return u"SolidWorks";
    }
    if (product == ProductKind::Oracle) {
        return u"Oracle";
    }
    return u"AutoCAD";
}

std::u16string makerName(ProductKind product) {
    if (product == ProductKind::SolidWorks) {
        return u"Dassault Systèmes";
    }
    if (product == ProductKind::Oracle) {
        return u"Oracle";
    }
    return u"Autodesk";
}

std::u16string riskLabel(RiskLevel risk) {
    if (risk == RiskLevel::HighRisk) {
        return u"高风险";
    }
    if (risk == RiskLevel::NeedsConfirm) {
        return u"需确认";
    }
    return u"安全项";
}

std::u16string rootPrefix(RegistryRoot root) {
    return root == RegistryRoot::CurrentUser ? u"HKCU\\" : u"HKLM\\";
}

std::u16string viewSuffix(RegistryView view) {
    return view == RegistryView::Bits64 ? u" [64位]" : u" [32位]";
}

namespace {

// Since Windows 7 both registry views reach the same per-user key, except under
// Software\Classes, which keeps a 32-bit copy of its own.
bool IsSharedUserKey(const ResidueItem& item) {
    const bool key = item.kind == ItemKind::RegistryKey || item.kind == ItemKind::InstallRecord;
    if (!key || item.registryRoot != RegistryRoot::CurrentUser) {
        return false;
    }
    const std::u16string classes = u"software\\classes";
    const std::u16string path = ToLower(item.registryPath);
    const bool underClasses = path.compare(0, classes.size(), classes) == 0 &&
                              (path.size() == classes.size() || path[classes.size()] == u'\\');
    return !underClasses;
}

} // namespace

std::u16string dedupKey(const ResidueItem& item) {
    const std::u16string kind = ToDecimal(static_cast<int32_t>(item.kind)) + u"|";
    if (IsSharedUserKey(item)) {
        return kind + ToLower(rootPrefix(item.registryRoot) + item.registryPath);
    }
    return kind + ToLower(item.location);
}

} // namespace tidewell
