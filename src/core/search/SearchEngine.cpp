#include "core/search/SearchEngine.h"

#include "core/platform/Encoding.h"
#include "core/platform/TimeText.h"
#include "core/registry/Registry.h"
#include "core/registry/RegistryWalker.h"
#include "core/registry/Store.h"
#include "core/search/TextMatcher.h"

#include <charconv>
#include <cstring>

namespace klv {

const std::string& hitKindText(HitMark mark) {
    static const std::string key = sj("キー"), name = sj("名前"), text = sj("文字列"),
                             number = sj("数値");
    switch (mark) {
    case HitMark::Key:
    case HitMark::KeyWithSubKeys:
        return key;
    case HitMark::Name:
        return name;
    case HitMark::String:
        return text;
    case HitMark::Number:
        break;
    }
    return number;
}

std::string reopenErrorText(const std::string& subPath) {
    return sj("レジストリキーのオープンエラー : ") + subPath;
}

std::string notANumberText(const std::string& text) {
    return "'" + text + sj("' は数値ではありません");
}

std::vector<SearchStart> searchStarts(const SearchRequest& request) {
    std::vector<SearchStart> starts;
    const auto typed = [&](const std::string& text) {
        const SplitKeyPath split = splitKeyPath(text);
        starts.push_back({std::string(split.rootName), std::string(split.subPath)});
    };
    switch (request.scope) {
    case SearchScope::AllRoots:
        for (int i = 0; i < kRootKeyCount; ++i) {
            if (!request.roots[static_cast<std::size_t>(i)])
                continue;
            const RootHandle h = kRootKeys[static_cast<std::size_t>(i)].handle;
            // HKEY_CLASSES_ROOT and HKEY_DYN_DATA have no Software key of their own.
            const bool software =
                request.softwareOnly && h != HKEY_CLASSES_ROOT_H && h != HKEY_DYN_DATA_H;
            starts.push_back({std::string(kRootKeys[static_cast<std::size_t>(i)].name),
                              software ? "\\Software" : ""});
        }
        break;
    case SearchScope::OneKey:
        typed(request.startKey);
        break;
    case SearchScope::SeveralKeys:
        for (const std::string& k : request.startKeys)
            typed(k);
        break;
    }
    return starts;
}

namespace {

// One walk from one start point.
class KeySearch {
public:
    KeySearch(const SearchRequest& request, const SearchCallbacks& cb, SearchOutcome& outcome,
              std::vector<std::string> exclusions)
        : request_(request), cb_(cb), outcome_(outcome),
          matcher_(request.text, request.wholeMatch, request.ignoreCase),
          exclusions_(std::move(exclusions)) {}

    // False when the whole search must end (stopped, or a parent could not be re-opened).
    bool run(TRegistry& reg, const SearchStart& start) {
        rootName_ = start.rootName;
        WalkOptions options;
        options.pump = cb_.pump;
        options.stop = cb_.stop;
        const WalkResult r = walkRegistry(
            reg, start.subPath,
            [&](const std::string& path, const std::string& name) { visit(reg, path, name); },
            options);
        if (r.reopenFailed) {
            outcome_.reopenFailed = r.failedPath;
            return false;
        }
        return !r.stopped && !stopped();
    }

private:
    bool stopped() const { return cb_.stop && *cb_.stop; }

    void visit(TRegistry& reg, const std::string& path, const std::string& name) {
        ++outcome_.keys;
        keyPath_ = path.empty() || path.front() != '\\' ? std::string_view(path)
                                                        : std::string_view(path).substr(1);
        location_.assign(rootName_);
        location_ += '\\';
        location_ += keyPath_;
        if (cb_.scanning)
            cb_.scanning(location_, outcome_.keys);
        timeKnown_ = false;
        if (request_.keys && matcher_.matches(name)) {
            timeText(reg);
            SearchHit h = row(reg.KeyHasSubKeys() ? HitMark::KeyWithSubKeys : HitMark::Key, name);
            cb_.hit(std::move(h));
        }
        if (request_.names || request_.strings || request_.numbers)
            examineValues(reg);
    }

    void examineValues(TRegistry& reg) {
        if (!exclusions_.empty()) {
            cp932UpperInto(location_, folded_);
            for (const std::string& e : exclusions_)
                if (alignedFind(folded_, e) != std::string_view::npos)
                    return;
        }
        if (reg.CurrentValues().empty())
            return;
        timeText(reg); // before the values are held: reading the key may refresh the cache
        if (cb_.pump)
            cb_.pump();
        // Taken anew after each pump: it may have let another window write.
        const std::vector<RawValue>* values = &reg.CurrentValues();
        for (std::size_t i = 0; i < values->size(); ++i) {
            if (stopped())
                return;
            examine((*values)[i]);
            ++outcome_.values;
            if (cb_.pump && i % 256 == 255) {
                cb_.pump();
                values = &reg.CurrentValues();
            }
        }
    }

    void examine(const RawValue& v) {
        const std::string_view name =
            v.name.wide ? std::string_view(wideName_ = listedName(v.name)) : v.name.bytes;
        if (request_.names && matcher_.matches(name)) {
            SearchHit h = row(HitMark::Name, name);
            h.texts[kColName] = name;
            cb_.hit(std::move(h));
        }
        const ValueKind kind = valueKindOf(v.type);
        if (request_.strings && (kind == ValueKind::String || kind == ValueKind::ExpandString)) {
            std::string_view text =
                v.dataWide ? std::string_view(wideData_ = listedData(v)) : std::string_view(v.data);
            text = text.substr(0, text.find('\0')); // as the text is read
            if (matcher_.matches(text)) {
                SearchHit h = row(HitMark::String, text);
                h.texts[kColName] = name;
                h.texts[kColData] = text;
                cb_.hit(std::move(h));
            }
        } else if (request_.numbers && kind == ValueKind::Integer && v.data.size() <= 4) {
            unsigned char b[4] = {0, 0, 0, 0};
            std::memcpy(b, v.data.data(), v.data.size());
            const std::uint32_t n = std::uint32_t(b[0]) | std::uint32_t(b[1]) << 8 |
                                    std::uint32_t(b[2]) << 16 | std::uint32_t(b[3]) << 24;
            char digits[16];
            const auto end = std::to_chars(digits, digits + sizeof digits, n).ptr;
            const std::string_view text(digits, static_cast<std::size_t>(end - digits));
            if (matcher_.matches(text)) {
                SearchHit h = row(HitMark::Number, text);
                h.texts[kColName] = name;
                h.texts[kColData] = text;
                cb_.hit(std::move(h));
            }
        }
    }

    // A row of the current key with its hit text; name and data are filled by the caller.
    SearchHit row(HitMark mark, std::string_view hit) {
        SearchHit h;
        h.mark = mark;
        h.texts[kColKind] = hitKindText(mark);
        h.texts[kColHit] = hit;
        h.texts[kColRoot] = rootName_;
        h.texts[kColKey] = keyPath_;
        h.texts[kColTime] = time_;
        if (request_.replaceMode) {
            h.texts[kColPreview] =
                substitutePreview(hit, request_.text, request_.replacement, request_.ignoreCase);
            h.texts[kColReplacement] = request_.replacement;
        }
        return h;
    }

    const std::string& timeText(TRegistry& reg) {
        if (!timeKnown_) {
            KeyInfo info;
            time_ = reg.QueryKeyInfo(info) ? fileTimeText(info.lastWrite) : sj("不明");
            timeKnown_ = true;
        }
        return time_;
    }

    const SearchRequest& request_;
    const SearchCallbacks& cb_;
    SearchOutcome& outcome_;
    TextMatcher matcher_;
    std::vector<std::string> exclusions_; // upper-cased
    std::string rootName_;
    std::string_view keyPath_; // of the key being visited, no leading backslash
    std::string location_, folded_, wideName_, wideData_, time_;
    bool timeKnown_ = false;
};

} // namespace

SearchEngine::SearchEngine(SearchRequest request, std::shared_ptr<Store> store)
    : request_(std::move(request)), store_(store ? std::move(store) : Store::system()) {}

SearchOutcome SearchEngine::run(const SearchCallbacks& callbacks) {
    SearchOutcome outcome;
    std::vector<std::string> exclusions;
    for (const std::string& e : request_.exclusions)
        if (!e.empty())
            exclusions.push_back(cp932Upper(e));
    KeySearch search(request_, callbacks, outcome, std::move(exclusions));
    for (const SearchStart& start : searchStarts(request_)) {
        if (callbacks.stop && *callbacks.stop)
            break;
        const std::optional<int> root = rootIndexByName(start.rootName);
        if (!root)
            continue; // names no root: no hits
        TRegistry reg(store_);
        reg.RootKey(kRootKeys[static_cast<std::size_t>(*root)].handle);
        if (!reg.OpenKey(start.subPath, false))
            continue;
        if (!search.run(reg, start))
            break;
    }
    outcome.stopped = callbacks.stop && *callbacks.stop;
    return outcome;
}

void filterByLastWrite(std::vector<SearchHit>& rows, const std::string& moment,
                       LastWriteFilter filter) {
    std::vector<SearchHit> kept;
    kept.reserve(rows.size());
    for (SearchHit& h : rows) {
        const std::string& t = h.texts[kColTime];
        // Time texts of one fixed width compare as the moments they name.
        if (t.size() != moment.size() || t[0] < '0' || t[0] > '9')
            continue;
        const int c = t.compare(moment);
        const bool keep = filter == LastWriteFilter::Before ? c < 0
                          : filter == LastWriteFilter::Same ? c == 0
                                                            : c > 0;
        if (keep) {
            h.checked = true;
            kept.push_back(std::move(h));
        }
    }
    rows = std::move(kept);
}

} // namespace klv
