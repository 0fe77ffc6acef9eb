// libFuzzer target: any bytes imported as a registry file into a store of this process's own
// (inside a transaction that is rolled back), then the detailed listing of every root and of
// the whole registry. Every key the listing can open appears as its line, in walk order, with
// a line for each of its values; the counts add up; no name or data upsets it.
#include "FuzzFolder.h"

#include "core/listing/DetailedListing.h"
#include "core/regfiles/RegFileError.h"
#include "core/regfiles/RegImporter.h"
#include "core/registry/RegistryError.h"
#include "core/registry/RootKeys.h"
#include "core/registry/Store.h"

#include <cstdint>
#include <string>

namespace {

klv::fuzz::FuzzFolder& folder() {
    static klv::fuzz::FuzzFolder f("listing");
    return f;
}

// Walks the store as the listing should see it and finds each key's line and each value's
// name in the text, in order.
class Expect {
public:
    Expect(klv::Store& store, const std::string& text) : store_(store), text_(text) {}

    std::uint64_t keys = 0, values = 0;

    // The key's own line (when `ownLine`), its values, then its subkeys that can be opened:
    // full access and a name CP932 holds (a listed "〓" name cannot be opened by it).
    void key(klv::KeyId id, const std::string& root, const std::string& path, bool ownLine) {
        std::size_t at = cursor_;
        if (ownLine) {
            const std::string line = "\r\n[" + root + "\\" + path + "]\r\n";
            at = text_.find(line, cursor_);
            FUZZ_CHECK(at != std::string::npos);
            cursor_ = at + 1;
            ++keys;
            for (const klv::RawValue& v : store_.values(id)) {
                const std::string name = v.name.bytes.empty() ? "@"
                                         : v.name.wide        ? klv::listedName(v.name)
                                                              : v.name.bytes;
                const std::size_t found = text_.find("\r\n" + name + "=", at);
                FUZZ_CHECK(found != std::string::npos);
                at = found + 1;
                ++values;
            }
        }
        const std::vector<klv::KeyId> children = store_.children(id); // a copy: reads go on
        for (const klv::KeyId child : children) {
            const klv::KeyRecord* k = store_.key(child);
            FUZZ_CHECK(k != nullptr);
            if (k->name.wide || k->access != klv::KeyAccess::Full)
                continue;
            const std::string name = k->name.bytes;
            key(child, root, path.empty() ? name : path + "\\" + name, true);
        }
    }

private:
    klv::Store& store_;
    const std::string& text_;
    std::size_t cursor_ = 0;
};

std::uint64_t lineCount(const std::string& text) {
    std::uint64_t n = 0;
    for (std::size_t at = text.find("\r\n"); at != std::string::npos;
         at = text.find("\r\n", at + 2))
        ++n;
    return n;
}

void checkListing(const klv::Listing& listing) {
    FUZZ_CHECK(!listing.error && !listing.stopped);
    // Each line counted ends in CR LF; text data may hold more of them.
    FUZZ_CHECK(listing.lines <= lineCount(listing.text));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::shared_ptr<klv::Store>& store = folder().store();
    klv::Store::Transaction outer(*store); // never committed: every input starts from empty roots
    try {
        klv::ImportOptions io;
        io.rootCount = klv::kRootKeyCount;
        klv::RegImporter(*store, io).importBytes(bytes, "fuzz.reg");
    } catch (const klv::RegFileError&) {
        return 0; // refused whole: nothing to list
    } catch (const klv::RegistryError&) {
        return 0; // refused by the store (a limit)
    }

    std::uint64_t subKeys = 0, subValues = 0;
    for (int r = 0; r < klv::kRootKeyCount; ++r) {
        klv::ListingRequest request;
        request.range = klv::ListingRange::Root;
        request.rootIndex = r;
        const klv::Listing listing = klv::buildListing(request, {}, store);
        checkListing(listing);
        const std::string root(klv::kRootKeys[static_cast<std::size_t>(r)].name);
        Expect expect(*store, listing.text);
        expect.key(klv::Store::rootId(r), root, "", true);
        FUZZ_CHECK(listing.keys == expect.keys && listing.values == expect.values);
        subKeys += expect.keys - 1;
        subValues += expect.values - store->values(klv::Store::rootId(r)).size();
    }
    // The whole registry: every root's subkeys, the roots themselves without a line.
    klv::ListingRequest all;
    all.range = klv::ListingRange::All;
    const klv::Listing listing = klv::buildListing(all, {}, store);
    checkListing(listing);
    FUZZ_CHECK(listing.keys == subKeys && listing.values == subValues);
    return 0;
}
