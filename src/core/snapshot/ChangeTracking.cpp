#include "core/snapshot/ChangeTracking.h"

#include "core/platform/AtomicFile.h"
#include "core/platform/Encoding.h"
#include "core/registry/Registry.h"
#include "core/registry/RegistryWalker.h"
#include "core/registry/Store.h"
#include "core/snapshot/SnapshotDatabase.h"

#include <charconv>
#include <unordered_map>

namespace klv {

std::filesystem::path snapshotFile(const std::filesystem::path& programFolder,
                                   std::string_view rootName) {
    return programFolder / "DB" / (std::string(rootName) + ".DB");
}

std::string snapshotSizeText(std::uintmax_t bytes) {
    const std::string digits = std::to_string(bytes);
    std::string out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            out += ',';
        out += digits[i];
    }
    return out + sj(" ﾊﾞｲﾄ");
}

const std::string& changeStateText(ChangeState s) {
    static const std::string created = sj("新規作成"), updated = sj("更新"), deleted = sj("削除");
    return s == ChangeState::Created ? created : s == ChangeState::Updated ? updated : deleted;
}

namespace {

// How often (in keys) the progress line is given a new text: often enough to follow, seldom
// enough to cost nothing.
constexpr std::uint64_t kProgressEvery = 64;

bool stopped(const TrackingCallbacks& cb) {
    return cb.stop && *cb.stop;
}

std::string_view withoutLeadingSeparator(std::string_view path) {
    return !path.empty() && path.front() == '\\' ? path.substr(1) : path;
}

std::shared_ptr<Store> storeOr(std::shared_ptr<Store> store) {
    return store ? std::move(store) : Store::system();
}

} // namespace

BuildOutcome buildSnapshot(const std::string& rootName, const std::filesystem::path& file,
                           const TrackingCallbacks& cb, std::shared_ptr<Store> store) {
    BuildOutcome outcome;
    const std::optional<int> root = rootIndexByName(rootName);
    // Written as it is walked, through a temporary file that takes the database's place only
    // when the build went through.
    AtomicFileWriter writer(file);
    std::string out;
    out.reserve(kSnapshotBufferSize + 4096);
    const auto flush = [&] {
        writer.write(out);
        out.clear();
    };
    if (root) {
        TRegistry reg(storeOr(std::move(store)));
        reg.RootKey(kRootKeys[static_cast<std::size_t>(*root)].handle);
        if (reg.OpenKey("", false)) {
            const std::string building = sj("ﾃﾞｰﾀﾍﾞｰｽ構築中　");
            WalkOptions options;
            options.pump = cb.pump;
            options.stop = cb.stop;
            options.stopAtEmptyName = true;
            const WalkResult r = walkRegistry(
                reg, "",
                [&](const std::string& path, const std::string&) {
                    ++outcome.keys;
                    const std::string_view keyPath = withoutLeadingSeparator(path);
                    if (cb.progress && outcome.keys % kProgressEvery == 1)
                        cb.progress(building + std::string(keyPath));
                    appendSnapshotSection(out, snapshotSectionName(rootName, keyPath));
                    for (const RawValue& v : reg.CurrentValues()) {
                        if (stopped(cb))
                            return;
                        appendSnapshotValue(out, v);
                        ++outcome.values;
                    }
                    if (out.size() >= kSnapshotBufferSize)
                        flush();
                },
                options);
            if (r.reopenFailed) {
                outcome.error = sj("レジストリキーのオープンエラー : ") + r.failedPath;
                return outcome;
            }
        }
    }
    if (stopped(cb)) {
        outcome.stopped = true;
        return outcome;
    }
    flush();
    writer.commit();
    return outcome;
}

namespace {

const std::string& typeText(const RawValue& v) {
    static const std::string text = sj("文字列"), expand = sj("拡張文字列"), number = sj("数値"),
                             multi = sj("マルチ文字列"), binary = sj("バイナリ");
    switch (valueKindOf(v.type)) {
    case ValueKind::String:
        return text;
    case ValueKind::ExpandString:
        return expand;
    case ValueKind::Integer:
        return snapshotFormOf(v) == SnapshotForm::Number ? number : binary;
    case ValueKind::MultiString:
        return multi;
    default:
        return binary;
    }
}

// A stored number as the comparison reads it: a 64-bit decimal (signed) or "$" hex; its low 32
// bits are the value.
std::optional<std::uint32_t> storedNumber(std::string_view s) {
    if (!s.empty() && s.front() == '$') {
        std::uint64_t v = 0;
        const auto r = std::from_chars(s.data() + 1, s.data() + s.size(), v, 16);
        if (r.ec != std::errc() || r.ptr != s.data() + s.size() || s.size() == 1)
            return std::nullopt;
        return static_cast<std::uint32_t>(v);
    }
    if (!s.empty() && s.front() == '+')
        s.remove_prefix(1);
    std::int64_t v = 0;
    const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    if (r.ec != std::errc() || r.ptr != s.data() + s.size() || s.empty())
        return std::nullopt;
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(v));
}

class Comparison {
public:
    Comparison(const std::string& rootName, SnapshotDatabase& db, bool rebuild,
               const TrackingCallbacks& cb, std::vector<ChangeRow>& rows)
        : root_(rootName), db_(db), rebuild_(rebuild), cb_(cb), rows_(rows) {}

    // The walk below the start position; false when it ended on an error (in `error`).
    bool walk(TRegistry& reg, const std::string& startPosition, std::optional<std::string>& error) {
        const std::string checking = sj("照合中 : ");
        std::uint64_t keys = 0;
        WalkOptions options;
        options.pump = cb_.pump;
        options.stop = cb_.stop;
        options.stopAtEmptyName = true;
        const WalkResult r = walkRegistry(
            reg, startPosition,
            [&](const std::string& path, const std::string&) {
                if (error)
                    return;
                const std::string_view keyPath = withoutLeadingSeparator(path);
                if (cb_.progress && ++keys % kProgressEvery == 1)
                    cb_.progress(checking + std::string(keyPath));
                const std::string section = snapshotSectionName(root_, keyPath);
                // Most keys have not changed: their values written as the build writes them
                // are the section's lines as they stand.
                if (const auto at = db_.findSection(section, next_)) {
                    next_ = *at + 1;
                    live_.clear();
                    for (const RawValue& v : reg.CurrentValues())
                        appendSnapshotValue(live_, v);
                    if (db_.sameEntries(*at, live_)) {
                        if (rebuild_)
                            db_.mark(*at);
                        return;
                    }
                }
                names_.clear();
                for (const RawValue& v : reg.CurrentValues()) {
                    if (stopped(cb_))
                        return;
                    names_.push_back(snapshotValueName(v.name));
                    if (!compare(section, v, names_.back(), error))
                        return;
                }
                if (rebuild_)
                    checkEntries(section);
            },
            options);
        if (r.reopenFailed && !error)
            error = sj("レジストリキーのオープンエラー : ") + r.failedPath;
        return !error;
    }

    // Sections the walk did not reach: keys gone, keys outside the start position; then the
    // 削除 rows in file order.
    void deletionPass(const std::shared_ptr<Store>& store) {
        const std::string keyCheck = sj("削除キー照合中 : "), valueCheck = sj("削除値照合中 : ");
        std::uint64_t n = 0;
        TRegistry reg(store);
        db_.forEachSection([&](std::string_view sectionView, bool reached) {
            if (stopped(cb_))
                return;
            if (cb_.pump)
                cb_.pump();
            if (reached) {
                if (pending_.empty())
                    return;
                const std::string section(sectionView);
                if (const auto p = pending_.find(section); p != pending_.end())
                    for (const std::string& entry : p->second)
                        deletedValue(section, entry);
                return;
            }
            const std::string section(sectionView);
            if (cb_.progress && ++n % kProgressEvery == 1)
                cb_.progress(keyCheck + snapshotShown(section));
            const std::size_t sep = section.find('\\');
            const std::optional<int> root = rootIndexByName(section.substr(0, sep));
            const std::string keyPath =
                snapshotShown(sep == std::string::npos ? std::string() : section.substr(sep));
            if (root)
                reg.RootKey(kRootKeys[static_cast<std::size_t>(*root)].handle);
            if (!root || !reg.KeyPresent(keyPath)) {
                db_.eraseSection(section);
                rows_.push_back(
                    {ChangeState::Deleted, sj("キー"), snapshotShown(section), {}, {}, {}});
                return;
            }
            if (!reg.OpenKeyAnyAccess(keyPath, false))
                return;
            if (cb_.progress)
                cb_.progress(valueCheck + snapshotShown(section));
            names_.clear();
            for (const RawValue& v : reg.CurrentValues())
                names_.push_back(snapshotValueName(v.name));
            for (const std::string& entry : missingEntries(section))
                deletedValue(section, entry);
        });
    }

private:
    void row(ChangeState state, const RawValue& v, const std::string& section,
             std::string_view name, std::string before, std::string after) {
        rows_.push_back({state, typeText(v), snapshotShown(section), snapshotShown(name),
                         std::move(before), std::move(after)});
    }

    bool compare(const std::string& section, const RawValue& v, const std::string& name,
                 std::optional<std::string>& error) {
        switch (snapshotFormOf(v)) {
        case SnapshotForm::Text: {
            const std::string live = snapshotValueText(v);
            const auto stored = db_.read(section, name);
            if (!stored)
                row(ChangeState::Created, v, section, name, sj("なし"), snapshotShown(live));
            else if (*stored != live)
                row(ChangeState::Updated, v, section, name, snapshotShown(*stored),
                    snapshotShown(live));
            else
                return true;
            if (rebuild_)
                db_.write(section, name, live);
            return true;
        }
        case SnapshotForm::Number: {
            const std::uint32_t live = snapshotNumber(v);
            const auto stored = db_.read(section, name);
            if (!stored) {
                row(ChangeState::Created, v, section, name, sj("なし"), std::to_string(live));
            } else {
                // A stored text that is no number (the value was of another type) is a change
                // like any other, not the end of the comparison.
                const auto old = storedNumber(*stored);
                if (old && *old == live)
                    return true;
                row(ChangeState::Updated, v, section, name, snapshotShown(*stored),
                    std::to_string(live));
            }
            if (rebuild_)
                db_.write(section, name, std::to_string(static_cast<std::int32_t>(live)));
            return true;
        }
        case SnapshotForm::Lines:
            break;
        }
        const std::string countName = name + "!.Count";
        const auto count = db_.read(section, countName);
        const bool multi = valueKindOf(v.type) == ValueKind::MultiString;
        const std::vector<std::string> lines = snapshotLines(v);
        const auto joined = [multi](const auto& items) {
            std::string s;
            for (const auto& item : items) {
                s += item;
                if (multi)
                    s += "\r\n";
            }
            return s;
        };
        if (!count) {
            row(ChangeState::Created, v, section, name, sj("なし"), {});
        } else {
            std::uint64_t n = 0;
            const auto r = std::from_chars(count->data(), count->data() + count->size(), n);
            if (r.ec != std::errc() || r.ptr != count->data() + count->size()) {
                error = sj("'") + std::string(*count) + sj("' は数値ではありません");
                return false;
            }
            // Lines missing from the file read as empty; past the live count they end the list
            // (a damaged count must not make the comparison read on and on).
            std::vector<std::string_view> stored;
            bool cut = false;
            for (std::uint64_t i = 0; i < n; ++i) {
                const auto line = db_.read(section, name + "!." + std::to_string(i));
                if (!line && i >= lines.size()) {
                    cut = true;
                    break;
                }
                stored.push_back(line.value_or(std::string_view()));
            }
            const std::string before = joined(stored), after = joined(lines);
            if (before == after && !cut)
                return true;
            row(ChangeState::Updated, v, section, name, snapshotShown(before),
                snapshotShown(after));
        }
        if (rebuild_) {
            db_.write(section, countName, std::to_string(lines.size()));
            for (std::size_t i = 0; i < lines.size(); ++i)
                db_.write(section, name + "!." + std::to_string(i), lines[i]);
        }
        return true;
    }

    // The section's entries whose value is gone: neither the entry's own name nor its base
    // name before "!." names a live value (names_).
    std::vector<std::string> missingEntries(const std::string& section) const {
        std::vector<std::string> missing;
        db_.forEachEntry(section, [&](std::string_view entry) {
            const std::size_t bang = entry.find("!.");
            for (const std::string& live : names_)
                if (snapshotNamesEqual(entry, live) ||
                    (bang != std::string_view::npos &&
                     snapshotNamesEqual(entry.substr(0, bang), live)))
                    return;
            missing.emplace_back(entry);
        });
        return missing;
    }

    // During the walk: the key is there; its missing entries wait for the deletion pass, so
    // that the rows come in file order after the walk's.
    void checkEntries(const std::string& section) {
        if (const auto at = db_.findSection(section))
            db_.mark(*at);
        std::vector<std::string> missing = missingEntries(section);
        if (!missing.empty())
            pending_[section] = std::move(missing);
    }

    void deletedValue(const std::string& section, const std::string& entry) {
        db_.eraseEntry(section, entry);
        rows_.push_back(
            {ChangeState::Deleted, sj("値"), snapshotShown(section), snapshotShown(entry), {}, {}});
    }

    const std::string& root_;
    SnapshotDatabase& db_;
    bool rebuild_;
    const TrackingCallbacks& cb_;
    std::vector<ChangeRow>& rows_;
    std::vector<std::string> names_; // the escaped value names of the key at hand
    std::string live_;               // its values in the build's layout
    std::size_t next_ = 0;           // where the next key's section is likely to be
    std::unordered_map<std::string, std::vector<std::string>> pending_;
};

} // namespace

CompareOutcome compareSnapshot(const std::string& rootName, const std::string& startPosition,
                               const std::filesystem::path& file, bool rebuild,
                               const TrackingCallbacks& cb, std::vector<ChangeRow>& rows,
                               std::shared_ptr<Store> store) {
    CompareOutcome outcome;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec)) {
        outcome.databaseMissing = true;
        outcome.error = sj("照合エラーが発生しました。\r\n\r\nデータベースが構築されていないか、"
                           "あるいは壊れています。データベースを構築し直してください。");
        return outcome;
    }
    SnapshotDatabase db = SnapshotDatabase::load(file);
    store = storeOr(std::move(store));
    Comparison comparison(rootName, db, rebuild, cb, rows);
    if (const std::optional<int> root = rootIndexByName(rootName)) {
        TRegistry reg(store);
        reg.RootKey(kRootKeys[static_cast<std::size_t>(*root)].handle);
        const std::string start = startPosition == "\\" ? std::string() : startPosition;
        if (reg.OpenKey(start, false) && !comparison.walk(reg, start, outcome.error))
            return outcome;
    }
    if (rebuild && !stopped(cb))
        comparison.deletionPass(store);
    outcome.stopped = stopped(cb);
    if (rebuild && db.changed()) {
        db.save(file);
        outcome.rebuilt = true;
    }
    return outcome;
}

} // namespace klv
