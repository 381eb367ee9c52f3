#pragma once

// Shared pieces of the fuzz targets: turning the fuzzer's bytes into the logic's UTF-16 text,
// and stopping with a message when a property does not hold (libFuzzer keeps the input).

#include "support/Text.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace tidewell::fuzz {

// Little-endian pairs of bytes; an odd last byte is dropped.
inline std::u16string UnitsOf(const uint8_t* data, size_t size) {
    std::u16string text;
    text.reserve(size / 2);
    for (size_t i = 0; i + 1 < size; i += 2) {
        text += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    }
    return text;
}

// Reads the input front to back: a few header bytes, then the rest as text or bytes.
class InputReader {
public:
    InputReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    // The next byte, or 0 when the input is used up.
    uint8_t byte() { return position_ < size_ ? data_[position_++] : 0; }

    uint32_t word() {
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i) {
            value |= static_cast<uint32_t>(byte()) << (8 * i);
        }
        return value;
    }

    // Up to count bytes.
    std::vector<uint8_t> bytes(size_t count) {
        const size_t taken = count < size_ - position_ ? count : size_ - position_;
        std::vector<uint8_t> out(data_ + position_, data_ + position_ + taken);
        position_ += taken;
        return out;
    }

    std::vector<uint8_t> restBytes() { return bytes(size_ - position_); }

    std::u16string restText() {
        const std::u16string text = UnitsOf(data_ + position_, size_ - position_);
        position_ = size_;
        return text;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t position_ = 0;
};

inline std::string Shown(const std::u16string& text) {
    std::string out;
    for (char16_t unit : text) {
        if (unit >= 0x20 && unit < 0x7F) {
            out += static_cast<char>(unit);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(unit));
            out += escaped;
        }
    }
    return out;
}

[[noreturn]] inline void Broken(const char* property, const std::u16string& input,
                                const std::u16string& output) {
    std::fprintf(stderr, "property broken: %s\n  input:  \"%s\"\n  output: \"%s\"\n", property,
                 Shown(input).c_str(), Shown(output).c_str());
    std::abort();
}

// Folds A to Z only, written apart from the product's ToLower on purpose.
inline char16_t FoldedUnit(char16_t unit) {
    return unit >= u'A' && unit <= u'Z' ? static_cast<char16_t>(unit | 0x20) : unit;
}

} // namespace tidewell::fuzz

#define FUZZ_REQUIRE(condition, input, output)                                                     \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            ::tidewell::fuzz::Broken(#condition, (input), (output));                               \
        }                                                                                          \
    } while (false)
