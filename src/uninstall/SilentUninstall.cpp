#include "uninstall/SilentUninstall.h"

#include "support/Text.h"

namespace tidewell {

bool isProductInstallRecord(const ResidueItem& item, ProductKind product) {
    const std::u16string title = ToLower(item.title);
    if (product == ProductKind::SolidWorks) {
        return ContainsNoCase(title, u"solidworks");
    }
    if (product == ProductKind::Oracle) {
        return StartsWithNoCase(title, u"oracle") || ContainsNoCase(title, u"oracle database") ||
               ContainsNoCase(title, u"oracle client") || ContainsNoCase(title, u"sql developer");
    }
    return StartsWithNoCase(title, u"autocad") || ContainsNoCase(title, u"autodesk autocad");
}

namespace {

// Whether the command already says what Windows Installer is to do about a restart.
bool NamesRestartOption(const std::u16string& command) {
    for (const char16_t* option : {u"norestart", u"promptrestart", u"forcerestart"}) {
        for (const char16_t* lead : {u"/", u"-"}) {
            if (ContainsNoCase(command, lead + std::u16string(option))) {
                return true;
            }
        }
    }
    return ContainsNoCase(command, u"reboot=");
}

} // namespace

std::u16string BuildSilentUninstallCommand(const std::u16string& command) {
    const std::u16string low = ToLower(command);
    if (low.size() < 7 || low.find(u"msiexec") == std::u16string::npos) {
        return command;
    }
    std::u16string silent = command;
    size_t install = low.find(u"/i");
    if (install == std::u16string::npos) {
        install = low.find(u"-i");
    }
    // Lower-casing keeps the length, so the position found in `low` is the command's own.
    if (install != std::u16string::npos) {
        silent.replace(install, 2, u"/X");
    }
    if (!ContainsNoCase(silent, u"/q")) {
        silent += u" /qn";
    }
    // A restart in the middle of the run would cut the clean that follows short.
    if (!NamesRestartOption(silent)) {
        silent += u" /norestart";
    }
    return silent;
}

} // namespace tidewell
