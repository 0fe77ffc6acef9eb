#include "core/listing/DetailedListing.h"

#include "core/platform/Encoding.h"
#include "core/registry/Registry.h"
#include "core/registry/RegistryWalker.h"
#include "core/registry/RootKeys.h"
#include "core/registry/Store.h"
#include "core/registry/ValueText.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

namespace klv {

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

class Lister {
public:
    Lister(const ListingCallbacks& cb, Listing& out) : cb_(cb), out_(out) {}

    bool stopped() const { return cb_.stop && *cb_.stop; }

    void line(std::string_view s) {
        out_.text += s;
        out_.text += "\r\n";
        ++out_.lines;
    }

    // An empty line and the key's line.
    void keyLine(std::string_view root, std::string_view path) {
        line({});
        out_.text += '[';
        out_.text += root;
        out_.text += '\\';
        out_.text += path;
        line("]");
        ++out_.keys;
    }

    void values(TRegistry& reg) {
        // Taken anew after each pump: it may have let another window write.
        const std::vector<RawValue>* all = &reg.CurrentValues();
        for (std::size_t i = 0; i < all->size(); ++i) {
            if (stopped())
                return;
            entry((*all)[i]);
            ++out_.values;
            if (cb_.pump && i % 256 == 255) {
                cb_.pump();
                all = &reg.CurrentValues();
            }
        }
    }

    // Lists the subkeys below the key `reg` is on; false when the listing must end.
    bool walk(TRegistry& reg, std::string_view root, const std::string& start) {
        WalkOptions options;
        options.pump = cb_.pump;
        options.stop = cb_.stop;
        const WalkResult r = walkRegistry(
            reg, start,
            [&](const std::string& path, const std::string&) {
                const std::string_view p = !path.empty() && path.front() == '\\'
                                               ? std::string_view(path).substr(1)
                                               : std::string_view(path);
                if (cb_.progress && out_.keys % 64 == 0)
                    cb_.progress(std::string(root) + "\\" + std::string(p));
                keyLine(root, p);
                values(reg);
            },
            options);
        if (r.reopenFailed) {
            out_.error = sj("レジストリキーのオープンエラー : ") + r.failedPath;
            return false;
        }
        return !stopped();
    }

private:
    void entry(const RawValue& v) {
        std::string& t = out_.text;
        if (v.name.bytes.empty())
            t += '@';
        else if (v.name.wide)
            t += listedName(v.name);
        else
            t += v.name.bytes;
        t += '=';
        switch (valueKindOf(v.type)) {
        case ValueKind::String:
        case ValueKind::ExpandString: {
            // CP932 text is read where it lies; only UTF-16 text is converted.
            std::string converted;
            std::string_view text = v.data;
            if (v.dataWide) {
                converted = listedData(v);
                text = converted;
            }
            text = text.substr(0, text.find('\0'));
            const bool quoted = valueKindOf(v.type) == ValueKind::String;
            if (quoted)
                t += '"';
            t += text;
            if (quoted)
                t += '"';
            line({});
            return;
        }
        case ValueKind::Integer:
            if (v.data.size() <= 4) {
                unsigned char b[4] = {0, 0, 0, 0};
                std::memcpy(b, v.data.data(), v.data.size());
                line(integerText(std::uint32_t(b[0]) | std::uint32_t(b[1]) << 8 |
                                 std::uint32_t(b[2]) << 16 | std::uint32_t(b[3]) << 24));
                return;
            }
            break;
        case ValueKind::MultiString: {
            const std::vector<std::string> items = multiStringItems(listedData(v));
            line(sj(" (") + std::to_string(items.size()) + sj("行のマルチ文字列)"));
            for (const std::string& item : items)
                line(item);
            line({});
            return;
        }
        default:
            break;
        }
        for (const char c : v.data) {
            const auto b = static_cast<unsigned char>(c);
            const char hex[3] = {kHex[b >> 4], kHex[b & 15], ' '};
            t.append(hex, 3);
        }
        line({});
    }

    const ListingCallbacks& cb_;
    Listing& out_;
};

} // namespace

Listing buildListing(const ListingRequest& request, const ListingCallbacks& callbacks,
                     std::shared_ptr<Store> store) {
    if (!store)
        store = Store::system();
    Listing out;
    // The text of a whole root grows to a good part of the store's size; room reserved at once
    // spares copying it at each doubling (pages never written are never taken).
    if (request.range != ListingRange::Key) {
        std::error_code ec;
        const auto size = std::filesystem::file_size(store->file(), ec);
        if (!ec)
            out.text.reserve(static_cast<std::size_t>(std::min<std::uintmax_t>(size, 1u << 30)));
    }
    Lister lister(callbacks, out);
    const auto listFrom = [&](RootHandle handle, std::string_view root, const std::string& sub,
                              bool withOwnLine) {
        TRegistry reg(store);
        reg.RootKey(handle);
        if (!reg.OpenKey(sub, false))
            return true; // cannot be opened: contributes nothing
        if (withOwnLine) {
            lister.keyLine(root, !sub.empty() && sub.front() == '\\'
                                     ? std::string_view(sub).substr(1)
                                     : std::string_view(sub));
            lister.values(reg);
            if (lister.stopped())
                return false;
        }
        return lister.walk(reg, root, sub);
    };
    switch (request.range) {
    case ListingRange::All:
        for (const RootKeyEntry& r : kRootKeys)
            if (lister.stopped() || !listFrom(r.handle, r.name, "", false))
                break;
        break;
    case ListingRange::Key: {
        const SplitKeyPath split = splitKeyPath(request.keyPathText);
        if (split.root)
            listFrom(*split.root, split.rootName, std::string(split.subPath), true);
        break;
    }
    case ListingRange::Root:
        if (request.rootIndex >= 0 && request.rootIndex < kRootKeyCount) {
            const RootKeyEntry& r = kRootKeys[static_cast<std::size_t>(request.rootIndex)];
            listFrom(r.handle, r.name, "", true);
        }
        break;
    }
    out.stopped = lister.stopped();
    return out;
}

} // namespace klv
