#pragma once

#include "platform/fake/FakePlatform.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

// What the files of the in-memory machine share among themselves.
namespace tidewell {

struct FakePlatform::FileNode {
    std::u16string name;
    bool directory = false;
    uint32_t attributes = 0;
    std::string contents;
    std::u16string linkTarget; // non-empty: a directory link
    bool locked = false;
    bool userWritable = false; // accounts other than administrators can change it
    uint64_t id = 0;           // its file index; a drive's is its volume serial
    FileNode* parent = nullptr;
    std::map<std::u16string, std::unique_ptr<FileNode>> children; // folded name -> node
};

struct FakePlatform::KeyNode {
    std::u16string name;
    std::map<std::u16string, std::unique_ptr<KeyNode>> subkeys; // folded name -> key
    struct Value {
        std::u16string name;
        uint32_t type = 0;
        std::vector<uint8_t> data;
    };
    std::vector<Value> values;
};

namespace fake {

inline std::vector<std::u16string> SplitPath(const std::u16string& path) {
    std::vector<std::u16string> parts;
    std::u16string current;
    for (char16_t unit : path) {
        if (unit == u'\\' || unit == u'/') {
            if (!current.empty()) {
                parts.push_back(current);
            }
            current.clear();
        } else {
            current += unit;
        }
    }
    if (!current.empty()) {
        parts.push_back(current);
    }
    return parts;
}

} // namespace fake

} // namespace tidewell
