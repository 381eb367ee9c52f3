#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

// The Path environment value as a list of folders separated by ';', and the %NAME% references
// that its entries and other environment values may hold.
namespace tidewell {

// The entries of a Path value in order, each exactly as stored; empty entries (";;") included.
std::vector<std::u16string> SplitPathList(const std::u16string& text);

// What makes two entries one: letter case (A to Z) and trailing separators do not count.
std::u16string PathEntryIdentity(const std::u16string& entry);

// The value without every entry whose identity is the given one, each taken with the one ';'
// that separated it from its neighbour; every other unit stays as it was.
std::u16string WithoutPathEntry(const std::u16string& text, const std::u16string& identity);

// The text with each %NAME% replaced by what lookup gives; a name lookup does not know stays as
// written and makes `resolved` false. A lone '%' stays.
struct Expansion {
    std::u16string text;
    bool resolved = true;
};
Expansion
ExpandReferences(const std::u16string& text,
                 const std::function<std::optional<std::u16string>(const std::u16string&)>& lookup);

} // namespace tidewell
