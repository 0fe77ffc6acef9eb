#include "core/registry/KeyBrowser.h"

#include "core/platform/Encoding.h"
#include "core/platform/TimeText.h"
#include "core/registry/RegistryError.h"

#include <algorithm>

namespace klv {
namespace {

// Opens the root itself or the sub-path below it, absolutely.
std::string absolutePath(std::string_view subPath) {
    if (subPath.empty() || subPath.front() != '\\')
        return "\\" + std::string(subPath);
    return std::string(subPath);
}

} // namespace

bool lessIgnoringCase(std::string_view a, std::string_view b) {
    return cp932Upper(a) < cp932Upper(b);
}

bool sameNameIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && cp932Upper(a) == cp932Upper(b);
}

SubKeyListing listSubKeysForTree(TRegistry& reg, RootHandle root, std::string_view subPath) {
    SubKeyListing out;
    reg.RootKey(root);
    const std::string path = absolutePath(subPath);
    if (reg.OpenKey(path, false)) {
        out.opened = true;
    } else if (reg.OpenKeyForReading(path)) {
        out.opened = true;
        out.readOnly = true;
    } else {
        return out;
    }
    std::vector<std::string> names;
    reg.ListSubKeys(names);
    // Upper-cased keys computed once: sorting 100,000 names must not upper-case them again
    // at every comparison.
    std::vector<std::pair<std::string, std::string>> keyed;
    keyed.reserve(names.size());
    for (std::string& n : names)
        keyed.emplace_back(cp932Upper(n), std::move(n));
    std::stable_sort(keyed.begin(), keyed.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    out.subKeys.reserve(keyed.size());
    for (auto& [upper, name] : keyed) {
        SubKeyEntry e;
        // Each child is opened once, relative to the parent, then the parent again.
        if (reg.OpenKeyAnyAccess(name, false)) {
            e.hasSubKeys = reg.KeyHasSubKeys();
            reg.OpenKeyAnyAccess(path, false);
        }
        e.name = std::move(name);
        out.subKeys.push_back(std::move(e));
    }
    return out;
}

ValueListing listValuesForList(TRegistry& reg, RootHandle root, std::string_view subPath) {
    ValueListing out;
    reg.RootKey(root);
    if (!reg.OpenKeyAnyAccess(absolutePath(subPath), false))
        return out;
    out.opened = true;
    out.rows = valueRows(reg);
    std::vector<std::pair<std::string, std::size_t>> order;
    order.reserve(out.rows.size());
    for (std::size_t i = 0; i < out.rows.size(); ++i)
        order.emplace_back(cp932Upper(out.rows[i].valueName), i);
    std::stable_sort(order.begin(), order.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<ValueRow> sorted;
    sorted.reserve(out.rows.size());
    for (const auto& o : order)
        sorted.push_back(std::move(out.rows[o.second]));
    out.rows = std::move(sorted);
    KeyInfo info;
    if (reg.QueryKeyInfo(info))
        out.info = info;
    return out;
}

std::string keyStatusText(const KeyInfo& info) {
    return sj("サブキーの数 : ") + std::to_string(info.subKeys) + "   " + sj("値の数 : ") +
           std::to_string(info.values) + sj("   最終書込日時 : ") + fileTimeText(info.lastWrite);
}

bool keyExists(TRegistry& reg, RootHandle root, std::string_view subPath) {
    const std::optional<int> index = rootIndexByHandle(root);
    if (!index)
        return false;
    Store& store = reg.store();
    try {
        store.refresh();
        KeyId id = Store::rootId(*index);
        for (const std::string& part : navigationComponents(subPath)) {
            const std::optional<KeyId> child = store.child(id, part);
            if (!child)
                return false;
            id = *child;
        }
        return store.key(id) != nullptr;
    } catch (const StoreError&) {
        return true; // a damaged file: nothing is known to be gone
    }
}

std::vector<std::string> navigationComponents(std::string_view text) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t bs = cp932Find(text, "\\", start);
        std::string_view part =
            text.substr(start, bs == std::string_view::npos ? std::string_view::npos : bs - start);
        if (!part.empty())
            parts.emplace_back(part);
        if (bs == std::string_view::npos)
            break;
        start = bs + 1;
    }
    return parts;
}

} // namespace klv
