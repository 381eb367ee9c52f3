// The same three workloads on the in-memory machine, for instruction counts of the logic:
//
//   valgrind --tool=callgrind tidewell-bench-fake scan TEMP-ENTRIES RECORDS SUBFOLDERS
//   valgrind --tool=callgrind tidewell-bench-fake remove FILES FOLDERS
//   valgrind --tool=callgrind tidewell-bench-fake plan ITEMS
//
// The figures it prints include the in-memory machine's own work; they show growth and hot
// spots, not what Windows costs.

#include "BenchSupport.h"

#include "app/ResultTreeRules.h"
#include "catalogue/ScanCollector.h"
#include "clean/FileRemoval.h"
#include "platform/fake/FakePlatform.h"
#include "support/Text.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace tidewell::bench {

namespace {

std::u16string Number(size_t value) {
    return ToDecimal(static_cast<int64_t>(value));
}

const std::u16string kTemp = u"C:\\users\\bench\\Temp";

void Prepare(FakePlatform& machine) {
    machine.setEnvironment(u"ProgramFiles", u"C:\\Program Files");
    machine.setEnvironment(u"ProgramW6432", u"C:\\Program Files");
    machine.setEnvironment(u"ProgramFiles(x86)", u"C:\\Program Files (x86)");
    machine.setEnvironment(u"ProgramData", u"C:\\ProgramData");
    machine.setEnvironment(u"TEMP", kTemp);
    machine.setShellFolderPath(ShellFolder::LocalAppData, u"C:\\users\\bench\\AppData\\Local");
    machine.setShellFolderPath(ShellFolder::RoamingAppData, u"C:\\users\\bench\\AppData\\Roaming");
    machine.setShellFolderPath(ShellFolder::Documents, u"C:\\users\\bench\\Documents");
    machine.setShellFolderPath(ShellFolder::Desktop, u"C:\\users\\bench\\Desktop");
}

// The heavy machine of scripts/bench.sh, with the same names and proportions.
int Scan(size_t tempEntries, size_t records, size_t subfolders) {
    FakePlatform machine;
    Prepare(machine);
    for (size_t index = 0; index < tempEntries; ++index) {
        const std::u16string number = Number(index);
        if (index % 20 == 0) {
            machine.addFile(kTemp + u"\\acad_" + number + u".tmp");
        } else if (index % 100 == 1) {
            machine.addDirectory(kTemp + u"\\msi" + number);
        } else {
            machine.addFile(kTemp + u"\\tmp" + number + u".tmp");
        }
    }
    for (const char16_t* base :
         {u"C:\\Program Files", u"C:\\Program Files (x86)", u"C:\\ProgramData",
          u"C:\\users\\bench\\AppData\\Local", u"C:\\users\\bench\\AppData\\Roaming"}) {
        for (size_t index = 0; index < subfolders; ++index) {
            const std::u16string name =
                index % 10 == 0 ? u"AutoCAD 20" + Number(index) : u"Product " + Number(index);
            machine.addDirectory(std::u16string(base) + u"\\Autodesk\\" + name);
        }
    }
    const std::u16string list = u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
    for (RegistryView view : {RegistryView::Bits64, RegistryView::Bits32}) {
        for (RegistryRoot root : {RegistryRoot::LocalMachine, RegistryRoot::CurrentUser}) {
            machine.addKey(root, view, u"Software\\Autodesk\\AutoCAD\\R24.3");
            for (size_t index = 0; index < records; ++index) {
                const std::u16string key = list + u"{BE7C-" + Number(index) + u"}";
                const std::u16string name =
                    index % 100 == 7 ? u"AutoCAD 2024 Language Pack " : u"Contoso Utility Suite ";
                machine.setStringValue(root, view, key, u"DisplayName", name + Number(index));
                machine.setStringValue(root, view, key, u"DisplayVersion", u"24.3");
                machine.setStringValue(root, view, key, u"UninstallString", u"MsiExec.exe /X");
            }
        }
    }
    Stopwatch clock;
    ScanCollector collector(machine, ProductKind::AutoCAD);
    const ItemList items = collector.collect();
    Report("fake_scan_ms", clock.milliseconds());
    Report("fake_scan_items", std::to_string(items.size()));
    return 0;
}

int Remove(size_t files, size_t folders) {
    FakePlatform machine;
    Prepare(machine);
    const std::u16string top = u"C:\\Program Files\\Autodesk\\AutoCAD 2024";
    const size_t perFolder = folders == 0 ? files : files / folders;
    for (size_t folder = 0; folder < folders; ++folder) {
        const std::u16string path = top + u"\\d" + Number(folder / 100) + u"\\e" + Number(folder);
        for (size_t file = 0; file < perFolder; ++file) {
            machine.addFile(path + u"\\f" + Number(file) + u".dat", {},
                            file % 100 == 0 ? 0x21 : 0x20);
        }
    }
    Stopwatch clock;
    const ActionResult result = RemoveDirectoryTree(machine, top);
    Report("fake_remove_ms", clock.milliseconds());
    Report("fake_remove_message", ToUtf8(result.message));
    return result.success ? 0 : 1;
}

int Plan(size_t count) {
    const ItemList items = SyntheticItems(count);
    Stopwatch clock;
    const std::vector<PlannedNode> plan = PlanResultTree(items, ProductKind::AutoCAD);
    Report("fake_plan_ms", clock.milliseconds());
    Report("fake_plan_nodes", std::to_string(plan.size()));
    return 0;
}

size_t Size(const char* text) {
    return static_cast<size_t>(std::strtoul(text, nullptr, 10));
}

} // namespace

} // namespace tidewell::bench

int main(int argc, char** argv) {
    using namespace tidewell::bench;
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "scan" && argc == 5) {
        return Scan(Size(argv[2]), Size(argv[3]), Size(argv[4]));
    }
    if (command == "remove" && argc == 4) {
        return Remove(Size(argv[2]), Size(argv[3]));
    }
    if (command == "plan" && argc == 3) {
        return Plan(Size(argv[2]));
    }
    std::fprintf(stderr, "usage: tidewell-bench-fake scan TEMP RECORDS SUBFOLDERS | remove FILES "
                         "FOLDERS | plan ITEMS\n");
    return 2;
}
