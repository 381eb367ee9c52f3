#pragma once

#include "contract/MachinePreparer.h"
#include "platform/fake/FakePlatform.h"

namespace tidewell {

// The in-memory machine, set up like a freshly installed 64-bit Windows as a 32-bit program sees
// it: the Windows folder with reg.exe, both program folders, the user's shell folders and a
// temporary folder exist.
class FakeMachinePreparer : public MachinePreparer {
public:
    FakeMachinePreparer();

    Platform& platform() override { return machine_; }
    std::u16string scratchFolder() override;
    std::u16string scratchKeyName() override;
    void makeDirectory(const std::u16string& path) override;
    void makeFile(const std::u16string& path, const std::string& contents,
                  uint32_t attributes) override;
    std::optional<std::string> readFile(const std::u16string& path) override;
    bool makeDirectoryLink(const std::u16string& link, const std::u16string& target) override {
        machine_.addDirectoryLink(link, target);
        return true;
    }
    void holdOpen(const std::u16string& path) override;
    void makeKey(RegistryRoot root, RegistryView view, const std::u16string& path) override;
    void setValue(RegistryRoot root, RegistryView view, const std::u16string& path,
                  const std::u16string& name, uint32_t type,
                  const std::vector<uint8_t>& data) override;
    void setEnvironment(const std::u16string& name,
                        const std::optional<std::u16string>& value) override;

private:
    FakePlatform machine_;
};

} // namespace tidewell
