#pragma once

#include <cstddef>
#include <string>

// The one place where the logic's UTF-16 text meets the wchar_t of the Windows calls.
namespace tidewell::win32 {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wchar_t expected");

inline const wchar_t* AsWide(const std::u16string& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}

// For calls that may write into the text (CreateProcessW's command line).
inline wchar_t* AsWritableWide(std::u16string& text) {
    return reinterpret_cast<wchar_t*>(&text[0]);
}

inline std::u16string FromWide(const wchar_t* text, size_t length) {
    return std::u16string(reinterpret_cast<const char16_t*>(text), length);
}

inline std::u16string FromWide(const wchar_t* text) {
    return text == nullptr ? std::u16string()
                           : std::u16string(reinterpret_cast<const char16_t*>(text));
}

} // namespace tidewell::win32
