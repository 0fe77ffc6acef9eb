#pragma once
// The search over the registry: from each start point the shared walker goes through the keys
// below it, testing key names, value names, string data and number data against the search
// text, and hands every hit row to the caller. It shows nothing; the caller's pump keeps the
// windows alive and its stop flag ends the walk.
#include "core/registry/RootKeys.h"
#include "core/search/SearchHit.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace klv {

class Store;

enum class SearchScope { AllRoots, OneKey, SeveralKeys };

// What the dialog asks for. Texts are CP932; a hexadecimal search has already been turned into
// its decimal text.
struct SearchRequest {
    std::string text;
    std::string replacement;
    bool replaceMode = false;

    SearchScope scope = SearchScope::AllRoots;
    std::array<bool, kRootKeyCount> roots{true, true, true, true, true, true};
    bool softwareOnly = false;
    std::string startKey;               // OneKey: a key path text
    std::vector<std::string> startKeys; // SeveralKeys: key path texts, in order

    bool keys = true;     // key names
    bool names = true;    // value names
    bool strings = true;  // string and expandable string data
    bool numbers = false; // DWORD data as unsigned decimal text
    bool wholeMatch = false;
    bool ignoreCase = true;

    std::vector<std::string> exclusions; // values of keys whose location text holds one are skipped
};

// One start of the walk: the root name written into the rows and the sub-path walked.
struct SearchStart {
    std::string rootName;
    std::string subPath; // "" for the root itself, else from a backslash on
};

// The start points of a request, in walking order.
std::vector<SearchStart> searchStarts(const SearchRequest& request);

struct SearchCallbacks {
    std::function<void(SearchHit&&)> hit;
    // Called at each key walked with its location text and the number of keys walked so far.
    std::function<void(const std::string& location, std::uint64_t keys)> scanning;
    // Lets the windows process their events; called before each subkey and each key's values.
    std::function<void()> pump;
    const bool* stop = nullptr;
};

struct SearchOutcome {
    bool stopped = false;
    // Set when a parent key could not be re-opened: the absolute sub-path. The walk ended.
    std::optional<std::string> reopenFailed;
    std::uint64_t keys = 0;   // keys walked
    std::uint64_t values = 0; // values examined
};

class SearchEngine {
public:
    // `store` null: the installation's registry.
    SearchEngine(SearchRequest request, std::shared_ptr<Store> store = nullptr);
    SearchOutcome run(const SearchCallbacks& callbacks);

private:
    SearchRequest request_;
    std::shared_ptr<Store> store_;
};

// The error text of a failed re-opening: "レジストリキーのオープンエラー : " + sub-path (CP932).
std::string reopenErrorText(const std::string& subPath);
// The error text of a text that is not a number: "'%s' は数値ではありません" with %s the text
// given (the caller adds "$" for hexadecimal texts).
std::string notANumberText(const std::string& text);

// The last-write filter: rows whose key was written before, in or after the moment
// ("yyyy/mm/dd hh:nn:ss"), compared to the second, stay and are checked; the rest are removed.
// Rows whose time is unknown are removed.
enum class LastWriteFilter { Before, Same, After };
void filterByLastWrite(std::vector<SearchHit>& rows, const std::string& moment,
                       LastWriteFilter filter);

} // namespace klv
