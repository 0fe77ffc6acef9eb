#pragma once
// Depth-first, pre-order walk of the keys below an open key, in the registry's enumeration
// order, the way the search, snapshot and orphan walks go: each subkey is opened relative to
// its parent and, after it has been visited, the parent is re-opened by its absolute path.
#include "core/registry/Registry.h"

#include <functional>
#include <string>

namespace klv {

struct WalkOptions {
    // How each subkey is opened: with full access (OpenKey) or any access (browsing).
    bool anyAccess = false;
    // A subkey with an empty name ends the walk of its parent.
    bool stopAtEmptyName = false;
    // Lets the user interface process pending events; called before every subkey.
    std::function<void()> pump;
    // Checked before and after every subkey.
    const bool* stop = nullptr;
};

struct WalkResult {
    bool stopped = false;
    // Set when a parent could not be re-opened; the walk ends there.
    bool reopenFailed = false;
    std::string failedPath; // the absolute sub-path that could not be re-opened
};

// `subPath` is the sub-path of the key the access object has open (the start key); `visit`
// is called with the sub-path of every subkey, the access object positioned on it. A subkey
// that cannot be opened is skipped silently.
WalkResult
walkRegistry(TRegistry& reg, const std::string& subPath,
             const std::function<void(const std::string& subPath, const std::string& name)>& visit,
             const WalkOptions& options = {});

} // namespace klv
