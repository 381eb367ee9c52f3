#include "platform/fake/FakeRegExport.h"

#include "platform/SystemCodes.h"
#include "support/Text.h"

namespace tidewell {

namespace {

constexpr uint32_t kExportMilliseconds = 150;

FakeChildBehaviour Exits(uint32_t code) {
    FakeChildBehaviour behaviour;
    behaviour.exitCode = code;
    behaviour.runMilliseconds = kExportMilliseconds;
    return behaviour;
}

bool IsRegTool(const std::u16string& program) {
    const std::u16string name = ToLower(program);
    const size_t separator = name.find_last_of(u"\\/");
    const std::u16string file =
        separator == std::u16string::npos ? name : name.substr(separator + 1);
    return file == u"reg.exe" || file == u"reg";
}

struct KeyName {
    RegistryRoot root = RegistryRoot::None;
    std::u16string path;     // below the root
    std::u16string longRoot; // HKEY_... as the tool writes it
};

KeyName ParseKey(const std::u16string& text) {
    KeyName key;
    const size_t separator = text.find(u'\\');
    const std::u16string root = ToLower(text.substr(0, separator));
    key.path = separator == std::u16string::npos ? std::u16string() : text.substr(separator + 1);
    if (root == u"hkcu" || root == u"hkey_current_user") {
        key.root = RegistryRoot::CurrentUser;
        key.longRoot = u"HKEY_CURRENT_USER";
    } else if (root == u"hklm" || root == u"hkey_local_machine") {
        key.root = RegistryRoot::LocalMachine;
        key.longRoot = u"HKEY_LOCAL_MACHINE";
    }
    return key;
}

void CollectKeys(FakePlatform& machine, RegistryRoot root, RegistryView view,
                 const std::u16string& path, const std::u16string& shownName,
                 std::vector<RegFileKey>& keys) {
    RegFileKey key{shownName, {}};
    for (NamedValue& value : machine.listValues(root, view, path).values) {
        key.values.push_back({std::move(value.name), value.type, std::move(value.data)});
    }
    keys.push_back(std::move(key));
    for (const std::u16string& subkey : machine.listSubkeys(root, view, path).names) {
        CollectKeys(machine, root, view, path + u"\\" + subkey, shownName + u"\\" + subkey, keys);
    }
}

std::u16string Escaped(const std::u16string& text) {
    std::u16string escaped;
    for (char16_t unit : text) {
        if (unit == u'\\' || unit == u'"') {
            escaped += u'\\';
        }
        escaped += unit;
    }
    return escaped;
}

std::u16string HexByte(uint8_t byte) {
    const char16_t* digits = u"0123456789abcdef";
    return {digits[byte >> 4], digits[byte & 0xF]};
}

// "name"= or @=, then the data; long hex lists go on over indented lines.
std::u16string ValueLines(const RegFileValue& value) {
    std::u16string line = value.name.empty() ? u"@=" : u"\"" + Escaped(value.name) + u"\"=";
    const std::vector<uint8_t>& data = value.data;
    if (value.type == codes::kRegSz && data.size() % 2 == 0) {
        std::u16string text;
        for (size_t i = 0; i + 1 < data.size(); i += 2) {
            const char16_t unit = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
            if (unit == 0) {
                break;
            }
            text += unit;
        }
        return line + u"\"" + Escaped(text) + u"\"\r\n";
    }
    if (value.type == codes::kRegDword && data.size() == 4) {
        line += u"dword:";
        for (int i = 3; i >= 0; --i) {
            line += HexByte(data[static_cast<size_t>(i)]);
        }
        return line + u"\r\n";
    }
    if (value.type == codes::kRegBinary) {
        line += u"hex:";
    } else {
        std::u16string type;
        for (uint32_t rest = value.type; type.empty() || rest != 0; rest >>= 4) {
            type.insert(0, 1, u"0123456789abcdef"[rest & 0xF]);
        }
        line += u"hex(" + type + u"):";
    }
    std::u16string lines;
    for (size_t i = 0; i < data.size(); ++i) {
        line += HexByte(data[i]);
        if (i + 1 < data.size()) {
            line += u",";
            if (line.size() > 76) {
                lines += line + u"\\\r\n";
                line = u"  ";
            }
        }
    }
    return lines + line + u"\r\n";
}

FakeChildBehaviour Export(FakePlatform& machine, const std::vector<std::u16string>& arguments) {
    // export <key> <file> and switches, in any order after the file.
    if (arguments.size() < 4 || ToLower(arguments[1]) != u"export") {
        return Exits(1);
    }
    const KeyName key = ParseKey(arguments[2]);
    const std::u16string file = arguments[3];
    bool overwrite = false;
    RegistryView view = RegistryView::Bits64; // a 64-bit reg.exe without a switch
    for (size_t i = 4; i < arguments.size(); ++i) {
        const std::u16string option = ToLower(arguments[i]);
        if (option == u"/y") {
            overwrite = true;
        } else if (option == u"/reg:64") {
            view = RegistryView::Bits64;
        } else if (option == u"/reg:32") {
            view = RegistryView::Bits32;
        } else {
            return Exits(1);
        }
    }
    if (key.root == RegistryRoot::None || key.path.empty() ||
        !machine.keyExists(key.root, view, key.path)) {
        return Exits(1);
    }
    const size_t separator = file.find_last_of(u"\\/");
    if (separator != std::u16string::npos && !machine.isDirectory(file.substr(0, separator + 1))) {
        return Exits(1);
    }
    if (machine.exists(file) && !overwrite) {
        FakeChildBehaviour prompt = Exits(0);
        prompt.runMilliseconds = codes::kInfinite; // "Overwrite (Yes/No)?" with nobody to answer
        return prompt;
    }
    std::vector<RegFileKey> keys;
    CollectKeys(machine, key.root, view, key.path, key.longRoot + u"\\" + key.path, keys);
    FakeChildBehaviour done = Exits(0);
    done.sideEffect = [&machine, file, keys] { machine.writeFile(file, FormatRegFile(keys)); };
    return done;
}

} // namespace

std::vector<std::u16string> SplitCommandLine(const std::u16string& commandLine) {
    std::vector<std::u16string> arguments;
    size_t i = 0;
    // The program name: a quoted name ends at the next quote, an unquoted one at white space.
    std::u16string program;
    if (i < commandLine.size() && commandLine[i] == u'"') {
        const size_t close = commandLine.find(u'"', i + 1);
        program = commandLine.substr(i + 1, close == std::u16string::npos ? std::u16string::npos
                                                                          : close - i - 1);
        i = close == std::u16string::npos ? commandLine.size() : close + 1;
    } else {
        while (i < commandLine.size() && commandLine[i] != u' ' && commandLine[i] != u'\t') {
            program += commandLine[i++];
        }
    }
    arguments.push_back(program);

    while (true) {
        while (i < commandLine.size() && (commandLine[i] == u' ' || commandLine[i] == u'\t')) {
            ++i;
        }
        if (i >= commandLine.size()) {
            break;
        }
        std::u16string argument;
        bool quoted = false;
        while (i < commandLine.size() &&
               (quoted || (commandLine[i] != u' ' && commandLine[i] != u'\t'))) {
            if (commandLine[i] == u'\\') {
                size_t backslashes = 0;
                while (i < commandLine.size() && commandLine[i] == u'\\') {
                    ++backslashes;
                    ++i;
                }
                if (i < commandLine.size() && commandLine[i] == u'"') {
                    // 2n backslashes before a quote are n and the quote delimits; 2n+1 are n
                    // and a literal quote.
                    argument.append(backslashes / 2, u'\\');
                    if (backslashes % 2 == 1) {
                        argument += u'"';
                        ++i;
                    }
                } else {
                    argument.append(backslashes, u'\\');
                }
            } else if (commandLine[i] == u'"') {
                if (quoted && i + 1 < commandLine.size() && commandLine[i + 1] == u'"') {
                    argument += u'"';
                    i += 2;
                } else {
                    quoted = !quoted;
                    ++i;
                }
            } else {
                argument += commandLine[i++];
            }
        }
        arguments.push_back(argument);
    }
    return arguments;
}

std::string FormatRegFile(const std::vector<RegFileKey>& keys) {
    std::u16string text = u"Windows Registry Editor Version 5.00\r\n\r\n";
    for (const RegFileKey& key : keys) {
        text += u"[" + key.name + u"]\r\n";
        for (const RegFileValue& value : key.values) {
            text += ValueLines(value);
        }
        text += u"\r\n";
    }
    std::string bytes = "\xFF\xFE";
    for (char16_t unit : text) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    return bytes;
}

FakeChildHandler FakeRegExport(FakePlatform& machine, FakeChildHandler otherwise) {
    return [&machine, otherwise](const std::u16string& commandLine) {
        const std::vector<std::u16string> arguments = SplitCommandLine(commandLine);
        if (IsRegTool(arguments.front())) {
            if (!machine.exists(arguments.front())) {
                FakeChildBehaviour missing;
                missing.startError = codes::kFileNotFound;
                return missing;
            }
            return Export(machine, arguments);
        }
        if (otherwise) {
            return otherwise(commandLine);
        }
        FakeChildBehaviour missing;
        missing.startError = codes::kFileNotFound;
        return missing;
    };
}

} // namespace tidewell
