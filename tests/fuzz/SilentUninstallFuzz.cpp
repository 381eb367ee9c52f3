// Silent uninstall commands from arbitrary uninstall strings.

#include "FuzzInput.h"
#include "uninstall/SilentUninstall.h"

using namespace tidewell;

namespace {

bool ContainsFolded(const std::u16string& text, const std::u16string& part) {
    for (size_t start = 0; start + part.size() <= text.size(); ++start) {
        size_t i = 0;
        while (i < part.size() && fuzz::FoldedUnit(text[start + i]) == part[i]) {
            ++i;
        }
        if (i == part.size()) {
            return true;
        }
    }
    return false;
}

// Where the first "/i" stands, or else the first "-i"; npos when neither does.
size_t SwitchPosition(const std::u16string& command) {
    for (const char16_t lead : {u'/', u'-'}) {
        for (size_t i = 0; i + 1 < command.size(); ++i) {
            if (command[i] == lead && fuzz::FoldedUnit(command[i + 1]) == u'i') {
                return i;
            }
        }
    }
    return std::u16string::npos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::u16string command = fuzz::UnitsOf(data, size);
    const std::u16string silent = BuildSilentUninstallCommand(command);

    if (!ContainsFolded(command, u"msiexec")) {
        FUZZ_REQUIRE(silent == command, command, silent);
        return 0;
    }

    // An MSI command: the text outside the replaced switch is kept unit for unit, followed by
    // the quiet and the no-restart switches it lacked.
    bool namesRestart = ContainsFolded(command, u"reboot=");
    for (const char16_t* option : {u"/norestart", u"-norestart", u"/promptrestart",
                                   u"-promptrestart", u"/forcerestart", u"-forcerestart"}) {
        namesRestart = namesRestart || ContainsFolded(command, option);
    }
    const std::u16string tail = std::u16string(ContainsFolded(command, u"/q") ? u"" : u" /qn") +
                                (namesRestart ? u"" : u" /norestart");
    FUZZ_REQUIRE(silent.size() == command.size() + tail.size(), command, silent);
    const size_t kept = command.size();
    FUZZ_REQUIRE(silent.compare(kept, tail.size(), tail) == 0, command, silent);
    const size_t position = SwitchPosition(command);
    for (size_t i = 0; i < kept; ++i) {
        const bool replaced =
            position != std::u16string::npos && (i == position || i == position + 1);
        const char16_t expected = !replaced ? command[i] : (i == position ? u'/' : u'X');
        FUZZ_REQUIRE(silent[i] == expected, command, silent);
    }
    // Whatever it was given, the command that runs is a quiet one.
    FUZZ_REQUIRE(ContainsFolded(silent, u"/q"), command, silent);
    if (position != std::u16string::npos) {
        FUZZ_REQUIRE(ContainsFolded(silent, u"/x"), command, silent);
    }
    return 0;
}
