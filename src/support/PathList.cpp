#include "support/PathList.h"

#include "support/Text.h"

namespace tidewell {

std::vector<std::u16string> SplitPathList(const std::u16string& text) {
    std::vector<std::u16string> entries;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find(u';', start);
        entries.push_back(text.substr(start, end == std::u16string::npos ? end : end - start));
        if (end == std::u16string::npos) {
            return entries;
        }
        start = end + 1;
    }
}

std::u16string PathEntryIdentity(const std::u16string& entry) {
    return ToLower(DropTrailingSeparators(entry));
}

std::u16string WithoutPathEntry(const std::u16string& text, const std::u16string& identity) {
    // Joining what stays takes each removed entry away with exactly one of its separators.
    std::u16string kept;
    bool first = true;
    for (const std::u16string& entry : SplitPathList(text)) {
        if (!entry.empty() && PathEntryIdentity(entry) == identity) {
            continue;
        }
        if (!first) {
            kept += u';';
        }
        kept += entry;
        first = false;
    }
    return kept;
}

Expansion ExpandReferences(
    const std::u16string& text,
    const std::function<std::optional<std::u16string>(const std::u16string&)>& lookup) {
    Expansion result;
    size_t at = 0;
    while (at < text.size()) {
        const size_t open = text.find(u'%', at);
        const size_t close = open == std::u16string::npos ? open : text.find(u'%', open + 1);
        if (close == std::u16string::npos) {
            result.text += text.substr(at);
            break;
        }
        result.text += text.substr(at, open - at);
        const std::u16string name = text.substr(open + 1, close - open - 1);
        const std::optional<std::u16string> value = name.empty() ? std::nullopt : lookup(name);
        if (value) {
            result.text += *value;
            at = close + 1;
        } else {
            // "%%" or an unknown name: the first '%' stays and the search goes on from the
            // second, which may open a reference of its own.
            result.text += u'%';
            result.resolved = result.resolved && name.empty();
            at = open + 1;
            if (!name.empty()) {
                result.text += name;
                at = close;
            }
        }
    }
    return result;
}

} // namespace tidewell
