#include "core/registry/RootKeys.h"

#include "core/platform/Encoding.h"

namespace klv {

std::optional<int> rootIndexByName(std::string_view name) {
    for (int i = 0; i < kRootKeyCount; ++i)
        if (kRootKeys[i].name == name)
            return i;
    return std::nullopt;
}

std::optional<int> rootIndexByHandle(RootHandle handle) {
    for (int i = 0; i < kRootKeyCount; ++i)
        if (kRootKeys[i].handle == handle)
            return i;
    return std::nullopt;
}

std::string_view rootName(RootHandle handle) {
    auto i = rootIndexByHandle(handle);
    return i ? kRootKeys[*i].name : std::string_view{};
}

SplitKeyPath splitKeyPath(std::string_view text) {
    SplitKeyPath r;
    // A trail byte 0x5C of a double-byte character (ソ, 表) is not a separator.
    auto bs = cp932Find(text, "\\");
    r.rootName = text.substr(0, bs);
    r.subPath = bs == std::string_view::npos ? std::string_view{} : text.substr(bs);
    if (auto i = rootIndexByName(r.rootName))
        r.root = kRootKeys[*i].handle;
    return r;
}

} // namespace klv
