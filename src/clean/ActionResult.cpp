#include "clean/ActionResult.h"

namespace tidewell {

std::u16string SystemErrorText(Platform& platform, uint32_t code) {
    std::optional<std::u16string> text = platform.systemMessage(code);
    if (!text || text->empty()) {
        return u"未知错误";
    }
    // Only the line breaks go; the final full stop and any spaces stay.
    while (!text->empty() && (text->back() == u'\r' || text->back() == u'\n')) {
        text->pop_back();
    }
    return *text;
}

} // namespace tidewell
