#include "BenchUtil.h"

#include "platform/Encoding.h"
#include "registry/RootKeys.h"
#include "registry/Store.h"

#include <cstdio>
#include <sqlite3.h>
#include <stdexcept>

namespace klv::bench {
namespace {

// Every kind of value, unknown raw types among them.
constexpr std::uint32_t kTypes[] = {REG_SZ,       REG_DWORD, REG_BINARY, REG_EXPAND_SZ,
                                    REG_MULTI_SZ, REG_QWORD, REG_NONE,   0x20000};

class Generator {
public:
    Generator(Store& s, const GenerateSpec& spec) : s_(s), spec_(spec) {
        keyWord_ = sj("キー");
        valueWord_ = sj("値");
        dataWord_ = sj("データ ");
        table_ = sj("表");
    }

    void fill(KeyId key, int level) {
        writeValues(key);
        if (level == spec_.depth)
            return;
        for (int i = 0; i < spec_.fanout; ++i) {
            std::string name;
            if (i == 7)
                name = table_ + std::to_string(i); // a 0x5C trail byte in the name
            else if ((i + level) % 2)
                name = keyWord_ + std::to_string(i);
            else
                name = "Key" + std::to_string(i);
            const KeyId child = s_.createChild(key, StoredName{name, false});
            ++result.keys;
            if ((result.keys & 0xFFFF) == 0)
                s_.refresh(); // a safe point: lets the cache stay small
            fill(child, level + 1);
        }
    }

    GenerateResult result;

private:
    void writeValues(KeyId key) {
        for (int j = 0; j < spec_.values; ++j) {
            const std::uint64_t n = result.values++;
            RawValue v;
            if (j == 0 && n % 5 == 0)
                v.name.bytes.clear(); // the default value
            else
                v.name.bytes = (n % 2 ? "Value" : valueWord_) + std::to_string(j);
            v.type = kTypes[n % 8];
            switch (v.type) {
            case REG_SZ:
                v.data = dataWord_ + std::to_string(n) + '\0';
                break;
            case REG_EXPAND_SZ:
                v.data = "%SystemRoot%\\system32\\file" + std::to_string(n) + ".dll" + '\0';
                break;
            case REG_MULTI_SZ:
                v.data = std::string("first\0second\0", 13) + std::to_string(n) + '\0' + '\0';
                break;
            case REG_DWORD:
                v.data = std::string(reinterpret_cast<const char*>(&n), 4);
                break;
            case REG_QWORD:
                v.data = std::string(reinterpret_cast<const char*>(&n), 8);
                break;
            case REG_BINARY:
                for (int b = 0; b < 16; ++b)
                    v.data += static_cast<char>((n * 31 + static_cast<std::uint64_t>(b)) & 0xFF);
                break;
            case REG_NONE:
                break;
            default:
                v.data = "\x01\x02\x03";
            }
            s_.setValue(key, v);
        }
    }

    Store& s_;
    GenerateSpec spec_;
    std::string keyWord_, valueWord_, dataWord_, table_;
};

} // namespace

GenerateResult generateRegistry(const std::filesystem::path& storeFile, const GenerateSpec& spec) {
    for (const char* suffix : {"", "-wal", "-shm"})
        std::filesystem::remove(storeFile.string() + suffix);
    auto store = Store::open(storeFile);
    Stopwatch sw;
    Generator g(*store, spec);
    {
        Store::Transaction txn(*store);
        const KeyId top = store->createChild(Store::rootId(2), StoredName{"Bench", false});
        ++g.result.keys;
        g.fill(top, 0);
        txn.commit();
    }
    sqlite3_wal_checkpoint_v2(store->db(), nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
    g.result.seconds = sw.seconds();
    return g.result;
}

int runGenerate(const Args& args) {
    if (args.positional.empty())
        throw std::runtime_error("generate needs a system folder");
    const std::filesystem::path dir = args.positional[0];
    std::filesystem::create_directories(dir);
    GenerateSpec spec;
    spec.fanout = static_cast<int>(args.option("fanout", spec.fanout));
    spec.depth = static_cast<int>(args.option("depth", spec.depth));
    spec.values = static_cast<int>(args.option("values", spec.values));
    const auto file = storeFileIn(dir);
    const GenerateResult r = generateRegistry(file, spec);
    std::printf("generated %s: %llu keys, %llu values in %.2f s (%.0f keys/s, %.0f values/s), "
                "file %.1f MB, peak memory %.0f MiB\n",
                file.c_str(), static_cast<unsigned long long>(r.keys),
                static_cast<unsigned long long>(r.values), r.seconds, r.keys / r.seconds,
                r.values / r.seconds, std::filesystem::file_size(file) / 1e6, peakMemoryMiB());
    return 0;
}

} // namespace klv::bench
