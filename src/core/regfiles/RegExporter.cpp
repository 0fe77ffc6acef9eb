#include "core/regfiles/RegExporter.h"

#include "core/platform/Cp932Table.h"
#include "core/platform/Encoding.h"
#include "core/regfiles/OrderedOutput.h"
#include "core/regfiles/RegFileError.h"
#include "core/regfiles/RegOutputFile.h"
#include "core/registry/RegistryError.h"
#include "core/registry/RootKeys.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace klv {
namespace {

// The console tool's short root names, accepted on command lines as well.
constexpr std::array<std::string_view, kRootKeyCount> kShortRootNames{"HKCR", "HKCU", "HKLM",
                                                                      "HKU",  "HKCC", "HKDD"};

// Every this many keys the store may drop its cache and the user interface gets its turn.
constexpr std::uint64_t kKeysPerSafePoint = 2048;
// Whole trees to share out among the threads: enough that none waits long for the others.
constexpr std::size_t kWantedTrees = 64;
// What later parts may hold in memory while an earlier one is written.
constexpr std::size_t kHeldBytes = std::size_t{64} << 20;

std::string_view rootNameOf(int root) {
    return kRootKeys[static_cast<std::size_t>(root)].name;
}

// Writes parts of an export from one store connection.
class PartWriter {
public:
    PartWriter(Store& store, const ExportOptions& options, bool mainThread,
               const std::atomic<bool>& aborted)
        : s_(store), options_(options), mainThread_(mainThread), aborted_(aborted) {}

    void write(const RegExporter::Part& part, RegFileWriter& w, ExportReport& report) {
        report_ = &report;
        w.startRoot(rootNameOf(part.root));
        for (const StoredName& n : part.names)
            w.pushName(n); // the plan holds only names that the form can hold
        stack_ = part.ids;
        if (part.wholeTree)
            tree(w, part.ids.back());
        else
            keyAlone(w, part.ids.back());
    }

private:
    void safePoint() {
        if (++sinceRefresh_ < kKeysPerSafePoint)
            return;
        sinceRefresh_ = 0;
        s_.refresh(); // nothing read from the store is held here
        if (aborted_)
            throw OrderedOutput::Aborted{};
        if (!mainThread_)
            return;
        if (options_.pump)
            options_.pump();
        if (options_.stop && *options_.stop)
            throw RegistryError(sj("書き出しを中止しました"));
    }

    bool keyAlone(RegFileWriter& w, KeyId id) {
        safePoint();
        const KeyRecord* k = s_.key(id);
        if (!k || k->access == KeyAccess::None)
            return false; // vanished meanwhile, or cannot be opened
        w.writeKeyLine();
        ++report_->keys;
        for (const RawValue& v : s_.values(id)) {
            switch (w.writeValue(v)) {
            case RegFileWriter::Outcome::Exact:
                ++report_->values;
                break;
            case RegFileWriter::Outcome::Approximate:
                ++report_->values;
                lost("値のデータの一部の文字をこの形式では書けないため、近い文字で書き出しました",
                     &v.name);
                break;
            case RegFileWriter::Outcome::Skipped:
                lost("値の名前をこの形式では書けないため、この値を書き出していません", &v.name);
                break;
            }
        }
        return true;
    }

    void tree(RegFileWriter& w, KeyId id) {
        if (!keyAlone(w, id))
            return;
        const std::vector<KeyId> children = s_.children(id); // a copy: the walk refreshes
        for (KeyId c : children) {
            const KeyRecord* ck = s_.key(c);
            if (!ck)
                continue;
            stack_.push_back(c);
            if (w.pushName(ck->name)) {
                tree(w, c);
                w.popName();
            } else {
                lost("キーの名前をこの形式では書けないため、このキー以下を書き出していません",
                     nullptr);
            }
            stack_.pop_back();
        }
    }

    std::string currentPath() {
        std::string path(rootNameOf(static_cast<int>(stack_.front() - Store::rootId(0))));
        for (std::size_t i = 1; i < stack_.size(); ++i) {
            const KeyRecord* k = s_.key(stack_[i]);
            path += "\\";
            path += k ? listedName(k->name) : sj("（削除されたキー）");
        }
        return path;
    }

    void lost(std::string_view utf8What, const StoredName* valueName) {
        std::string text = currentPath();
        if (valueName)
            text += " : " + (valueName->bytes.empty() ? std::string("@") : listedName(*valueName));
        report_->losses.push_back(text + " - " + sj(utf8What));
    }

    Store& s_;
    const ExportOptions& options_;
    bool mainThread_;
    const std::atomic<bool>& aborted_;
    ExportReport* report_ = nullptr;
    std::vector<KeyId> stack_; // keys from the root down to the one being written
    std::uint64_t sinceRefresh_ = 0;
};

} // namespace

RegExporter::RegExporter(Store& store, ExportOptions options)
    : store_(store), options_(std::move(options)) {}

RegExporter::Part RegExporter::resolve(std::string_view keyPath) {
    Part p;
    store_.refresh();
    const std::size_t cut = cp932Find(keyPath, "\\");
    const std::string_view rootText = keyPath.substr(0, cut);
    p.root = -1;
    for (int r = 0; r < options_.rootCount && r < kRootKeyCount; ++r) {
        const auto i = static_cast<std::size_t>(r);
        if (equalsAsciiNoCase(rootText, kRootKeys[i].name) ||
            equalsAsciiNoCase(rootText, kShortRootNames[i]))
            p.root = r;
    }
    const std::string shown(keyPath);
    if (p.root < 0)
        throw RegistryError(sj("指定されたキーが見つかりません: ") + shown,
                            sj("ルートキーの名前が正しくありません"));
    p.ids.push_back(Store::rootId(p.root));
    const std::string_view rest =
        cut == std::string_view::npos ? std::string_view() : keyPath.substr(cut);
    for (std::size_t i = 0; i < rest.size();) {
        std::size_t end = i;
        while (end < rest.size() && !(rest[end] == '\\' && Cp932Table::charLength(rest, end) == 1))
            end += Cp932Table::charLength(rest, end);
        const std::string_view part = rest.substr(i, end - i);
        i = end + 1;
        if (part.empty())
            continue;
        const auto child = store_.child(p.ids.back(), part);
        if (!child)
            throw RegistryError(sj("指定されたキーが見つかりません: ") + shown);
        p.ids.push_back(*child);
        p.names.push_back(store_.key(*child)->name);
    }
    const KeyRecord* k = store_.key(p.ids.back());
    if (!k)
        throw RegistryError(sj("指定されたキーが見つかりません: ") + shown);
    if (k->access == KeyAccess::None)
        throw RegistryError(sj("キーを開けません: ") + shown, sj("アクセスが拒否されました"));
    for (const StoredName& n : p.names)
        if (!RegFileWriter::canHoldKeyName(options_.form, n))
            throw RegistryError(sj("このキーの名前はこの形式の登録ファイルには書き出せません: ") +
                                shown);
    return p;
}

// The parts in file order: whole trees split breadth first into a key alone and the trees of
// its subkeys, until there are enough trees to share out. A key is split only when each of
// its subkeys can be written as it stands; the others are left to the tree walk.
std::vector<RegExporter::Part> RegExporter::plan(const Part* start) {
    std::vector<Part> parts;
    if (start) {
        parts.push_back(*start);
    } else {
        for (int r = 0; r < options_.rootCount && r < kRootKeyCount; ++r)
            parts.push_back(Part{r, {Store::rootId(r)}, {}, true});
    }
    auto trees = [&] {
        return static_cast<std::size_t>(
            std::count_if(parts.begin(), parts.end(), [](const Part& p) { return p.wholeTree; }));
    };
    for (std::size_t depth = 0; trees() < kWantedTrees; ++depth) {
        bool deeper = false;
        std::vector<Part> next;
        for (Part& p : parts) {
            const KeyRecord* k = p.wholeTree ? store_.key(p.ids.back()) : nullptr;
            if (!k || p.ids.size() != depth + 1 || k->subKeys == 0 ||
                k->access == KeyAccess::None) {
                deeper = deeper || (p.wholeTree && p.ids.size() > depth + 1);
                next.push_back(std::move(p));
                continue;
            }
            std::vector<Part> split;
            bool writable = true;
            const std::vector<KeyId> children = store_.children(p.ids.back());
            for (KeyId c : children) {
                const KeyRecord* ck = store_.key(c);
                if (!ck || !RegFileWriter::canHoldKeyName(options_.form, ck->name)) {
                    writable = false;
                    break;
                }
                Part child{p.root, p.ids, p.names, true};
                child.ids.push_back(c);
                child.names.push_back(ck->name);
                split.push_back(std::move(child));
            }
            if (!writable) {
                next.push_back(std::move(p));
                continue;
            }
            deeper = true;
            p.wholeTree = false;
            next.push_back(std::move(p));
            for (Part& c : split)
                next.push_back(std::move(c));
        }
        parts = std::move(next);
        store_.refresh();
        if (!deeper)
            break;
    }
    return parts;
}

namespace {

// Starts the read snapshot of a connection now, with nothing cached from before it.
void pinSnapshot(Store& s, std::vector<std::unique_ptr<Store::ReadSnapshot>>& snapshots) {
    snapshots.push_back(std::make_unique<Store::ReadSnapshot>(s));
    s.dropCache();
    s.key(Store::rootId(0)); // the first read opens the snapshot
}

} // namespace

RegExporter::Readers RegExporter::openReaders() {
    Readers r;
    const int wanted =
        options_.threads > 0
            ? options_.threads
            : static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 2u));
    for (int t = 1; t < wanted; ++t) {
        try {
            r.helpers.push_back(Store::open(store_.file(), Store::Options{false, false}));
        } catch (const std::exception&) {
            break; // one thread fewer
        }
    }
    // The connections take their snapshots while the write lock keeps other processes from
    // committing in between; without it they could each see another commit, and the file
    // would show part of another process's change.
    std::shared_ptr<Store> lock;
    std::optional<Store::Transaction> pause;
    if (!r.helpers.empty()) {
        try {
            lock = Store::open(store_.file(), Store::Options{false, false});
            pause.emplace(*lock);
        } catch (const std::exception&) {
            r.helpers.clear();
        }
    }
    pinSnapshot(store_, r.snapshots);
    for (const std::shared_ptr<Store>& h : r.helpers)
        pinSnapshot(*h, r.snapshots);
    return r; // the pause ends here: other processes commit again
}

std::vector<RegExporter::Part> RegExporter::planFor(std::string_view keyPath) {
    if (keyPath.empty())
        return plan(nullptr);
    const Part start = resolve(keyPath);
    return plan(&start);
}

ExportReport RegExporter::exportToFile(const std::filesystem::path& file,
                                       std::string_view keyPath) {
    Readers readers = openReaders();
    // A missing key leaves no file behind.
    const std::vector<Part> parts = planFor(keyPath);
    RegOutputFile out(file);
    ExportReport r = run(parts, readers, [&](std::string_view bytes) { out.write(bytes); });
    out.commit();
    return r;
}

ExportReport RegExporter::exportTo(const RegFileWriter::Flush& flush, std::string_view keyPath) {
    Readers readers = openReaders();
    const std::vector<Part> parts = planFor(keyPath);
    return run(parts, readers, flush);
}

ExportReport RegExporter::run(const std::vector<Part>& parts, Readers& readers,
                              const RegFileWriter::Flush& flush) {
    const auto trees =
        std::count_if(parts.begin(), parts.end(), [](const Part& p) { return p.wholeTree; });
    int threads = 1 + static_cast<int>(readers.helpers.size());
    if (trees < 2)
        threads = 1;

    std::uint64_t bytes = 0;
    // The header and the closing line are pieces of their own, first and last.
    OrderedOutput out(
        [&](std::string_view b) {
            flush(b);
            bytes += b.size();
        },
        parts.size() + 2, kHeldBytes);
    std::vector<ExportReport> reports(parts.size());
    std::atomic<std::size_t> nextPart{0};
    std::atomic<bool> aborted{false};
    std::mutex failureMutex;
    std::exception_ptr failure;

    auto work = [&](Store& store, bool mainThread) {
        try {
            PartWriter pw(store, options_, mainThread, aborted);
            std::size_t piece = 0;
            RegFileWriter w(options_.form, [&](std::string_view b) { out.write(piece, b); });
            for (std::size_t i; !aborted && (i = nextPart++) < parts.size();) {
                piece = i + 1;
                pw.write(parts[i], w, reports[i]);
                w.flush();
                out.finish(piece);
            }
        } catch (const OrderedOutput::Aborted&) {
            aborted = true; // the thread that failed first says why
        } catch (...) {
            {
                std::lock_guard lock(failureMutex);
                if (!failure)
                    failure = std::current_exception();
            }
            aborted = true;
            out.abort();
        }
    };

    {
        RegFileWriter w(options_.form, [&](std::string_view b) { out.write(0, b); });
        w.writeHeader();
        w.flush();
        out.finish(0);
    }
    {
        std::vector<std::jthread> helpers; // joined on every way out
        for (int t = 1; t < threads; ++t) {
            try {
                Store& s = *readers.helpers[static_cast<std::size_t>(t - 1)];
                helpers.emplace_back([&work, &s] { work(s, false); });
            } catch (const std::exception&) {
                break; // one thread fewer
            }
        }
        work(store_, true);
    }
    if (failure)
        std::rethrow_exception(failure);
    {
        RegFileWriter w(options_.form, [&](std::string_view b) { out.write(parts.size() + 1, b); });
        w.writeEnd();
        w.flush();
        out.finish(parts.size() + 1);
    }

    ExportReport total;
    for (ExportReport& r : reports) {
        total.keys += r.keys;
        total.values += r.values;
        for (std::string& l : r.losses)
            total.losses.push_back(std::move(l));
    }
    total.bytes = bytes;
    return total;
}

} // namespace klv
