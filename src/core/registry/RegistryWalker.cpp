#include "core/registry/RegistryWalker.h"

#include "core/platform/Encoding.h"

#include <vector>

namespace klv {
namespace {

struct Walk {
    TRegistry& reg;
    const std::function<void(const std::string&, const std::string&)>& visit;
    const WalkOptions& opt;
    WalkResult result;
    // The path of the key being walked, grown and cut back as the walk goes down and up, and
    // its absolute form for re-opening.
    std::string path;
    std::string abs;

    bool stopped() {
        if (opt.stop && *opt.stop)
            result.stopped = true;
        return result.stopped;
    }

    bool open(std::string_view p) {
        return opt.anyAccess ? reg.OpenKeyAnyAccess(p, false) : reg.OpenKey(p, false);
    }

    bool reopen() {
        abs.clear();
        if (path.empty() || path.front() != '\\')
            abs += '\\';
        abs += path;
        if (open(abs))
            return true;
        result.reopenFailed = true;
        result.failedPath = abs;
        return false;
    }

    // The access object is on `path`; returns false when the whole walk must end.
    bool walk() {
        const std::size_t len = path.size();
        std::vector<std::string> subs;
        reg.ListSubKeys(subs);
        for (const std::string& name : subs) {
            if (opt.stopAtEmptyName && name.empty())
                break;
            if (stopped())
                return false;
            if (opt.pump)
                opt.pump();
            if (open(name)) {
                path += '\\';
                path += name;
                visit(path, name);
                if (stopped())
                    return false;
                if (reg.KeyHasSubKeys() && !walk())
                    return false;
                path.resize(len);
            }
            if (stopped() || !reopen())
                return false;
        }
        return true;
    }
};

} // namespace

namespace {
// The start path without its trailing backslash (a single one names the same key), so that
// the paths built below it never hold an empty component. The trail byte 0x5C of a
// double-byte character is no separator.
std::string withoutTrailingSeparator(const std::string& path) {
    std::size_t last = std::string::npos;
    for (std::size_t i = 0; i < path.size();) {
        last = i;
        i += isCp932Lead(static_cast<unsigned char>(path[i])) && i + 1 < path.size() ? 2 : 1;
    }
    if (last != std::string::npos && path[last] == '\\' && last + 1 == path.size())
        return path.substr(0, last);
    return path;
}
} // namespace

WalkResult walkRegistry(TRegistry& reg, const std::string& subPath,
                        const std::function<void(const std::string&, const std::string&)>& visit,
                        const WalkOptions& options) {
    Walk w{reg, visit, options, {}, withoutTrailingSeparator(subPath), {}};
    w.walk();
    return w.result;
}

} // namespace klv
