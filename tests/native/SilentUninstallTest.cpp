#include "uninstall/SilentUninstall.h"
#include "support/Text.h"

#include <gtest/gtest.h>

namespace tidewell {
namespace {

TEST(SilentUninstallTest, ProductRecordsAreRecognisedByTitle) {
    struct Case {
        ProductKind product;
        const char16_t* title;
        bool taken;
    };
    const Case cases[] = {
        {ProductKind::AutoCAD, u"AutoCAD LT 2024", true},
        {ProductKind::AutoCAD, u"Autodesk AutoCAD Mechanical 2023", true},
        {ProductKind::AutoCAD, u"AUTOCAD 2025 - 简体中文 (Simplified Chinese)", true},
        {ProductKind::AutoCAD, u"Autodesk DWG TrueView 2024", false},
        {ProductKind::AutoCAD, u"Express Tools for AutoCAD 2024", false},
        {static_cast<ProductKind>(5), u"AutoCAD 2024", true}, // other values act as AutoCAD
        {ProductKind::SolidWorks, u"SOLIDWORKS 2023 SP5", true},
        {ProductKind::SolidWorks, u"eDrawings for SolidWorks", true},
        {ProductKind::SolidWorks, u"Dassault Systemes Composer", false},
        {ProductKind::Oracle, u"Oracle Database 19c", true},
        {ProductKind::Oracle, u"Oracle SQL Developer 23.1", true},
        {ProductKind::Oracle, u"Oracle VM VirtualBox 7.0", true},
        {ProductKind::Oracle, u"Instant Client for Oracle Client 21", true},
        {ProductKind::Oracle, u"My SQL Developer Tools", true},
        {ProductKind::Oracle, u"Tools for Oracle", false},
        {ProductKind::Oracle, u"AutoCAD 2024", false},
    };
    for (const Case& c : cases) {
        ResidueItem item;
        item.kind = ItemKind::InstallRecord;
        item.title = c.title;
        EXPECT_EQ(isProductInstallRecord(item, c.product), c.taken)
            << static_cast<int>(c.product) << " " << ToUtf8(item.title);
    }
}

TEST(SilentUninstallTest, MsiCommandsBecomeSilentRemovals) {
    struct Case {
        const char16_t* recorded;
        const char16_t* run;
    };
    const Case cases[] = {
        {u"MsiExec.exe /I{5783F2D7-D028-0409-0100-0060B0CE6BBA}",
         u"MsiExec.exe /X{5783F2D7-D028-0409-0100-0060B0CE6BBA} /qn /norestart"},
        {u"MsiExec.exe /X{ABC}", u"MsiExec.exe /X{ABC} /qn /norestart"},
        // A quiet command still must not restart the machine in the middle of the run.
        {u"MsiExec.exe /X{ABC} /quiet", u"MsiExec.exe /X{ABC} /quiet /norestart"},
        {u"msiexec -i {ABC} /Q", u"msiexec /X {ABC} /Q /norestart"},
        {u"MsiExec.exe /x{A} /qn /NoRestart", u"MsiExec.exe /x{A} /qn /NoRestart"},
        {u"msiexec /x{A} -norestart", u"msiexec /x{A} -norestart /qn"},
        {u"msiexec /x{A} /qb /promptrestart", u"msiexec /x{A} /qb /promptrestart"},
        {u"msiexec /x{A} /qn /forcerestart", u"msiexec /x{A} /qn /forcerestart"},
        {u"msiexec /x{A} REBOOT=ReallySuppress", u"msiexec /x{A} REBOOT=ReallySuppress /qn"},
        {u"msiexec.exe /package x.msi", u"msiexec.exe /package x.msi /qn /norestart"},
        // The first "/i" anywhere is replaced, even inside a path.
        {u"C:/Tools/installer/msiexec.exe /x{A}",
         u"C:/Tools/Xnstaller/msiexec.exe /x{A} /qn /norestart"},
        {u"\"C:\\Program Files\\Oracle\\setup.exe\" -remove",
         u"\"C:\\Program Files\\Oracle\\setup.exe\" -remove"},
        {u"msiexe", u"msiexe"},
        {u"", u""},
        {u"MSIEXEC", u"MSIEXEC /qn /norestart"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(BuildSilentUninstallCommand(c.recorded), c.run) << ToUtf8(c.recorded);
    }
}

} // namespace
} // namespace tidewell
