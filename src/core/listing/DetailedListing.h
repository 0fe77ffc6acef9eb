#pragma once
// The detailed text listing of the registry: every key below a start as a [root\path] line
// and every value as one entry in a fixed form, built with the shared walker. It is saved as
// a text file and printed in the printing dialog's detailed form.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace klv {

class Store;

enum class ListingRange {
    All,  // every root's subkeys (the roots themselves get no line)
    Key,  // one key, given as a key path text, with its values and subkeys
    Root, // one root, with its own values and its subkeys
};

struct ListingRequest {
    ListingRange range = ListingRange::Key;
    std::string keyPathText; // Key: CP932 key path text
    int rootIndex = 0;       // Root: 0..5 in the order of the root keys
};

struct ListingCallbacks {
    // The progress line: the path of the key being listed (CP932).
    std::function<void(const std::string& keyPath)> progress;
    std::function<void()> pump;
    const bool* stop = nullptr;
};

struct Listing {
    std::string text; // CP932, each line ended by CR LF
    std::uint64_t lines = 0;
    std::uint64_t keys = 0;
    std::uint64_t values = 0;
    bool stopped = false; // the lines so far are kept
    // "レジストリキーのオープンエラー : " + sub-path (CP932) when a parent could not be re-opened.
    std::optional<std::string> error;
};

// `store` null: the installation's registry.
Listing buildListing(const ListingRequest& request, const ListingCallbacks& callbacks,
                     std::shared_ptr<Store> store = nullptr);

} // namespace klv
