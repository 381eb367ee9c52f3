#include "contract/FakeMachinePreparer.h"

#include "platform/SystemCodes.h"
#include "platform/fake/FakeRegExport.h"

namespace tidewell {

namespace {
constexpr char16_t kProfile[] = u"C:\\users\\tester";
constexpr char16_t kScratch[] = u"C:\\users\\tester\\Temp\\TidewellContract";
} // namespace

FakeMachinePreparer::FakeMachinePreparer() {
    const std::u16string profile = kProfile;
    machine_.addDirectory(u"C:\\windows\\system32");
    machine_.setWindowsDirectory(u"C:\\windows");
    machine_.addFile(u"C:\\windows\\system32\\reg.exe");
    machine_.onChild(FakeRegExport(machine_));
    // The environment a 32-bit program sees on 64-bit Windows.
    machine_.addDirectory(u"C:\\Program Files");
    machine_.addDirectory(u"C:\\Program Files (x86)");
    machine_.setEnvironment(u"ProgramFiles", u"C:\\Program Files (x86)");
    machine_.setEnvironment(u"ProgramFiles(x86)", u"C:\\Program Files (x86)");
    machine_.setEnvironment(u"ProgramW6432", u"C:\\Program Files");
    const struct {
        ShellFolder folder;
        const char16_t* relative;
    } folders[] = {
        {ShellFolder::Documents, u"\\Documents"},
        {ShellFolder::Desktop, u"\\Desktop"},
        {ShellFolder::RoamingAppData, u"\\AppData\\Roaming"},
        {ShellFolder::LocalAppData, u"\\AppData\\Local"},
    };
    for (const auto& entry : folders) {
        machine_.addDirectory(profile + entry.relative);
        machine_.setShellFolderPath(entry.folder, profile + entry.relative);
    }
    machine_.addDirectory(kScratch);
    machine_.setEnvironment(u"TEMP", profile + u"\\Temp");
}

std::u16string FakeMachinePreparer::scratchFolder() {
    return kScratch;
}

std::u16string FakeMachinePreparer::scratchKeyName() {
    return u"TidewellContract";
}

void FakeMachinePreparer::makeDirectory(const std::u16string& path) {
    machine_.addDirectory(path);
}

void FakeMachinePreparer::makeFile(const std::u16string& path, const std::string& contents,
                                   uint32_t attributes) {
    machine_.addFile(path, contents, attributes == 0 ? codes::kAttributeArchive : attributes);
}

std::optional<std::string> FakeMachinePreparer::readFile(const std::u16string& path) {
    return machine_.fileContents(path);
}

void FakeMachinePreparer::holdOpen(const std::u16string& path) {
    machine_.lockFile(path);
}

void FakeMachinePreparer::makeKey(RegistryRoot root, RegistryView view,
                                  const std::u16string& path) {
    machine_.addKey(root, view, path);
}

void FakeMachinePreparer::setValue(RegistryRoot root, RegistryView view, const std::u16string& path,
                                   const std::u16string& name, uint32_t type,
                                   const std::vector<uint8_t>& data) {
    machine_.setValue(root, view, path, name, type, data);
}

void FakeMachinePreparer::setEnvironment(const std::u16string& name,
                                         const std::optional<std::u16string>& value) {
    machine_.setEnvironment(name, value);
}

} // namespace tidewell
