#include "core/wine/WineSplice.h"

#include "core/wine/WineRegFile.h"

#include <algorithm>

namespace klv::wine {
namespace {

using Path = std::vector<std::u16string>;

// The file's key blocks: each runs from the empty line before its key line to the empty line
// before the next one. Paths are read only where a search looks.
class Blocks {
public:
    explicit Blocks(std::string_view text) : text_(text) {
        for (std::size_t at = text.find("\n\n["); at != std::string_view::npos;
             at = text.find("\n\n[", at + 2))
            starts_.push_back(at + 1);
        paths_.resize(starts_.size());
        read_.resize(starts_.size());
    }

    std::size_t size() const { return starts_.size(); }
    std::size_t begin(std::size_t j) const { return j < size() ? starts_[j] : text_.size(); }
    std::string_view block(std::size_t j) const {
        return text_.substr(begin(j), begin(j + 1) - begin(j));
    }
    std::string_view header() const { return text_.substr(0, begin(0)); }
    bool bad() const { return bad_; }

    const Path& path(std::size_t j) {
        if (!read_[j]) {
            read_[j] = true;
            const std::size_t from = starts_[j] + 1;
            const std::size_t eol = text_.find('\n', from);
            auto p = wineKeyLinePath(text_.substr(
                from, eol == std::string_view::npos ? std::string_view::npos : eol - from));
            if (p)
                paths_[j] = std::move(*p);
            else
                bad_ = true;
        }
        return paths_[j];
    }

    // The first block whose path does not sort before `p`.
    std::size_t lowerBound(const Path& p) {
        std::size_t lo = 0, hi = size();
        while (lo < hi) {
            const std::size_t mid = lo + (hi - lo) / 2;
            if (compareWinePaths(path(mid), p) < 0)
                lo = mid + 1;
            else
                hi = mid;
        }
        return lo;
    }

    bool below(std::size_t j, const Path& p) {
        const Path& q = path(j);
        if (q.size() <= p.size())
            return false;
        for (std::size_t i = 0; i < p.size(); ++i)
            if (compareWineNames(q[i], p[i]) != 0)
                return false;
        return true;
    }

private:
    std::string_view text_;
    std::vector<std::size_t> starts_;
    std::vector<Path> paths_;
    std::vector<bool> read_;
    bool bad_ = false;
};

struct Insertion {
    std::size_t at; // before block `at`
    const Path* path;
    const std::string* lines;
};

} // namespace

std::optional<std::string> spliceWineFile(std::string_view old,
                                          const std::vector<WineKeyChange>& changes) {
    Blocks blocks(old);
    std::vector<bool> removed(blocks.size());
    std::vector<Insertion> insertions;
    for (const WineKeyChange& c : changes) {
        const std::size_t j = blocks.lowerBound(c.path);
        const bool present = j < blocks.size() && compareWinePaths(blocks.path(j), c.path) == 0;
        if (present)
            removed[j] = true;
        if (!c.lines.empty())
            insertions.push_back(Insertion{j, &c.path, &c.lines});
        if (!c.replacesSubtree && !c.subkeysChanged)
            continue;
        std::vector<const std::u16string*> kept;
        for (const std::u16string& s : c.subkeys)
            kept.push_back(&s);
        const auto byName = [](const std::u16string* a, const std::u16string* b) {
            return compareWineNames(*a, *b) < 0;
        };
        std::sort(kept.begin(), kept.end(), byName);
        // Blocks below a subkey come together: the answer for one holds for the run.
        const std::u16string* lastChild = nullptr;
        bool lastGoes = false;
        for (std::size_t k = present ? j + 1 : j; k < blocks.size() && blocks.below(k, c.path);
             ++k) {
            const std::u16string& child = blocks.path(k)[c.path.size()];
            if (!lastChild || compareWineNames(*lastChild, child) != 0) {
                lastChild = &child;
                lastGoes = c.replacesSubtree ||
                           !std::binary_search(kept.begin(), kept.end(), &child, byName);
            }
            if (lastGoes)
                removed[k] = true;
        }
    }
    if (blocks.bad())
        return std::nullopt;
    std::stable_sort(insertions.begin(), insertions.end(),
                     [](const Insertion& a, const Insertion& b) {
                         return a.at != b.at ? a.at < b.at : compareWinePaths(*a.path, *b.path) < 0;
                     });
    for (std::size_t i = 1; i < insertions.size(); ++i)
        if (compareWinePaths(*insertions[i - 1].path, *insertions[i].path) == 0)
            return std::nullopt; // the same key twice

    std::string out;
    out.reserve(old.size() + 4096);
    out.append(blocks.header());
    std::size_t next = 0;
    for (std::size_t j = 0; j <= blocks.size(); ++j) {
        for (; next < insertions.size() && insertions[next].at == j; ++next)
            out += *insertions[next].lines;
        if (j < blocks.size() && !removed[j])
            out.append(blocks.block(j));
    }
    return out;
}

} // namespace klv::wine
