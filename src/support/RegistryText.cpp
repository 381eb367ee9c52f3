#include "support/RegistryText.h"

#include "platform/SystemCodes.h"

namespace tidewell {

std::u16string DecodeRegistryText(uint32_t error, uint32_t type,
                                  const std::vector<uint8_t>& bytes) {
    if (error != codes::kSuccess || (type != codes::kRegSz && type != codes::kRegExpandSz)) {
        return {};
    }
    // Room for one unit more than the data, counting an odd last byte as a unit of its own (the
    // low half, with a zero high half): the extra unit terminates data stored without one.
    std::u16string buffer((bytes.size() + 1) / 2 + 1, u'\0');
    for (size_t i = 0; i < bytes.size(); ++i) {
        const char16_t part = static_cast<char16_t>(bytes[i]);
        buffer[i / 2] = static_cast<char16_t>(buffer[i / 2] | (i % 2 == 0 ? part : part << 8));
    }
    buffer.resize(buffer.find(u'\0'));
    return buffer;
}

} // namespace tidewell
