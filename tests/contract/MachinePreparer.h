#pragma once

#include "platform/Platform.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tidewell {

// Sets a machine up for the contract checks, by means of its own (not through the seam under
// test), and undoes it afterwards. Each preparer owns a scratch folder and a scratch registry
// branch name that no other run uses.
class MachinePreparer {
public:
    virtual ~MachinePreparer() = default;

    // The platform under test.
    virtual Platform& platform() = 0;

    // An existing, empty directory of this run, without a trailing backslash.
    virtual std::u16string scratchFolder() = 0;
    // A key name of this run; the checks use it under Software in both roots and both views.
    virtual std::u16string scratchKeyName() = 0;

    virtual void makeDirectory(const std::u16string& path) = 0;
    // attributes 0: whatever a new file gets.
    virtual void makeFile(const std::u16string& path, const std::string& contents,
                          uint32_t attributes = 0) = 0;
    virtual std::optional<std::string> readFile(const std::u16string& path) = 0;
    // A directory link at `link` to the folder `target`; false where none can be made.
    virtual bool makeDirectoryLink(const std::u16string& link, const std::u16string& target) = 0;
    // Keeps the file open without delete or write sharing, as a running program holds its
    // files, until the preparer goes.
    virtual void holdOpen(const std::u16string& path) = 0;
    // False under Wine, whose file checks are looser than Windows' where the logic does not
    // depend on them: a read-only file opens for writing, a read-only directory is removed, and
    // CREATE_ALWAYS replaces hidden and system files. Windows refuses all three with 5.
    virtual bool checksAttributesLikeWindows() const { return true; }

    virtual void makeKey(RegistryRoot root, RegistryView view, const std::u16string& path) = 0;
    virtual void setValue(RegistryRoot root, RegistryView view, const std::u16string& path,
                          const std::u16string& name, uint32_t type,
                          const std::vector<uint8_t>& data) = 0;

    // nothing: the variable is removed.
    virtual void setEnvironment(const std::u16string& name,
                                const std::optional<std::u16string>& value) = 0;
};

// One platform the contract runs against.
struct ContractMachine {
    const char* name;
    std::function<std::unique_ptr<MachinePreparer>()> make;
};

// The in-memory machine. Defined beside the contract's tests, so that naming it in an
// instantiation also links them from the static library.
ContractMachine FakeContractMachine();

} // namespace tidewell
