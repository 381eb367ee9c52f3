#pragma once

#include <cstdint>
#include <string>

// Small text and path helpers. Text is UTF-16 code units; case-insensitive tests fold only the
// ASCII letters A to Z, as the runtime's towlower does in the default locale.
namespace tidewell {

std::u16string ToLower(std::u16string text);
bool ContainsNoCase(const std::u16string& text, const std::u16string& part);
bool StartsWithNoCase(const std::u16string& text, const std::u16string& prefix);

// Joins with one backslash unless the directory already ends in one. Nothing else is
// normalised: "C:\A" + "\B" gives "C:\A\\B".
std::u16string JoinPath(const std::u16string& directory, const std::u16string& name);

// The path without trailing "\" and "/"; a drive root ("C:\") and a lone separator stay.
std::u16string DropTrailingSeparators(std::u16string path);

// Plain decimal, with a leading '-' for negative values.
std::u16string ToDecimal(int64_t value);

// UTF-8 bytes of UTF-16 text; an unpaired surrogate becomes U+FFFD.
std::string ToUtf8(const std::u16string& text);
// UTF-16 of UTF-8 bytes (for tests and tools); ill-formed bytes become U+FFFD.
std::u16string FromUtf8(const std::string& bytes);

} // namespace tidewell
