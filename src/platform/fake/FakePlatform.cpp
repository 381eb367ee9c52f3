#include "platform/fake/FakePlatform.h"

#include "platform/SystemCodes.h"
#include "platform/fake/FakeInternal.h"
#include "support/Text.h"

#include <sstream>

namespace tidewell {

namespace {

std::string Narrow(const std::u16string& text) {
    return ToUtf8(text);
}

} // namespace

FakePlatform::FakePlatform() {
    addDirectory(u"C:\\");
    for (const char16_t* store : {u"HKCU", u"HKLM", u"HKLM32", u"HKLM64"}) {
        stores_[store] = std::make_unique<KeyNode>();
        stores_[store]->name = store;
    }
    childHandler_ = [](const std::u16string&) {
        FakeChildBehaviour missing;
        missing.startError = codes::kFileNotFound;
        return missing;
    };
}

FakePlatform::~FakePlatform() = default;

void FakePlatform::failCall(FakeCall call, uint32_t code, const std::u16string& match, int times) {
    failures_.push_back({call, code, match, times});
}

void FakePlatform::clearFailures() {
    failures_.clear();
}

uint32_t FakePlatform::injected(FakeCall call, const std::u16string& subject) {
    for (auto& failure : failures_) {
        if (failure.call != call || failure.remaining == 0 ||
            !ContainsNoCase(subject, failure.match)) {
            continue;
        }
        if (failure.remaining > 0) {
            --failure.remaining;
        }
        ++injectedFailures;
        return failure.code;
    }
    return codes::kSuccess;
}

std::string FakePlatform::dump() const {
    std::ostringstream out;
    out << "-- files\n";
    std::function<void(const FileNode*, const std::u16string&)> walkFiles =
        [&](const FileNode* node, const std::u16string& path) {
            out << "  " << Narrow(path) << (node->directory ? "\\" : "") << " attr=0x" << std::hex
                << node->attributes << std::dec;
            if (!node->linkTarget.empty()) {
                out << " -> " << Narrow(node->linkTarget);
            }
            if (node->locked) {
                out << " locked";
            }
            out << "\n";
            if (node->linkTarget.empty()) {
                for (const auto& entry : node->children) {
                    walkFiles(entry.second.get(), JoinPath(path, entry.second->name));
                }
            }
        };
    for (const auto& drive : drives_) {
        walkFiles(drive.second.get(), drive.second->name);
    }
    out << "-- registry\n";
    std::function<void(const KeyNode*, const std::u16string&)> walkKeys =
        [&](const KeyNode* key, const std::u16string& path) {
            out << "  " << Narrow(path);
            for (const auto& value : key->values) {
                out << " [" << Narrow(value.name) << " type=" << value.type
                    << " bytes=" << value.data.size() << "]";
            }
            out << "\n";
            for (const auto& entry : key->subkeys) {
                walkKeys(entry.second.get(), path + u"\\" + entry.second->name);
            }
        };
    for (const auto& store : stores_) {
        walkKeys(store.second.get(), store.first);
    }
    out << "-- processes\n";
    for (const auto& process : processes_) {
        out << "  " << process.id << " " << Narrow(process.executableName) << "\n";
    }
    out << "-- services\n";
    for (const auto& service : services_) {
        out << "  " << Narrow(service.names.keyName) << " (" << Narrow(service.names.displayName)
            << ") state=" << service.state << "\n";
    }
    out << "-- pending deletions\n";
    for (const auto& path : pendingDeletions) {
        out << "  " << Narrow(path) << "\n";
    }
    return out.str();
}

} // namespace tidewell
