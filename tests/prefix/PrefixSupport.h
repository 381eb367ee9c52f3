#pragma once

// What the Windows and end-to-end tests share about the Wine prefix they run in: its variables
// and shell folders as this process sees them, plain file reading, and the residue seeder with
// the lock that keeps two seeding tests apart.

#include "platform/win32/UniqueHandle.h"

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace tidewell::prefix {

// The variable's value, or "" when it is not defined.
std::u16string Env(const char16_t* name);
// The special folder (CSIDL_...), or "" when the shell cannot tell it.
std::u16string ShellFolder(int csidl);
// A path of the build tree as the Windows side reaches it: "/a/b" becomes "Z:\a\b".
std::u16string BuildPath(const char* linuxPath);

// The whole file, or "" when it cannot be read.
std::string ReadBytes(const std::u16string& path);
// Lines split at CRLF; the last one is what follows the last CRLF (possibly "").
std::vector<std::u16string> SplitLines(const std::u16string& text);

// Sets an environment variable of this process (a scan reads its own environment), or removes
// it when the value is nothing, and puts the old value back at the end.
class ScopedVariable {
public:
    ScopedVariable(const std::u16string& name, const std::optional<std::u16string>& value);
    ~ScopedVariable();
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    std::u16string name_;
    std::optional<std::u16string> old_;
};

// The restart registrations (PendingFileRenameOperations), put back as they were at the end so
// that a later restart of the prefix does not act on what a test scheduled.
class ScopedPendingRenames {
public:
    ScopedPendingRenames();
    ~ScopedPendingRenames();
    ScopedPendingRenames(const ScopedPendingRenames&) = delete;
    ScopedPendingRenames& operator=(const ScopedPendingRenames&) = delete;
    // The strings registered now, empty ones included: pairs of "\??\path" and the new name,
    // "" for a deletion.
    static std::vector<std::u16string> strings();

private:
    std::optional<std::vector<BYTE>> old_;
};

// Serialises the tests that seed product residues into the shared prefix, so that no other
// test's scan sees them.
class SeedLock {
public:
    SeedLock();
    ~SeedLock();
    SeedLock(const SeedLock&) = delete;
    SeedLock& operator=(const SeedLock&) = delete;
    bool held() const { return held_; }

private:
    win32::UniqueKernelHandle mutex_;
    bool held_ = false;
};

// One manifest line of the seeder, split at its tabs.
using Fields = std::vector<std::u16string>;

struct SeederRun {
    DWORD exitCode = ~0u;
    std::vector<Fields> manifest;
    std::string failures; // empty when the run went well
    // The manifest lines of one kind ("file", "process", "record" ...).
    std::vector<Fields> lines(const char16_t* kind) const;
};

// Runs tools/seeder with the arguments ("seed all", "clear oracle" ...) and waits for it. The
// manifest it writes comes back parsed; every "failure" line, and a non-zero exit, is a failure
// of the run.
SeederRun RunSeeder(const std::u16string& arguments);

} // namespace tidewell::prefix
