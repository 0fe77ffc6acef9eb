#include "core/registry/SyntheticRegistry.h"

#include "core/platform/Encoding.h"

#include <cstring>
#include <string>

namespace klv {
namespace {

constexpr std::uint32_t kTypes[] = {REG_SZ,       REG_DWORD, REG_BINARY, REG_EXPAND_SZ,
                                    REG_MULTI_SZ, REG_QWORD, REG_NONE,   0x20000};

std::string littleEndian(std::uint64_t n, std::size_t bytes) {
    std::string d(bytes, '\0');
    for (std::size_t i = 0; i < bytes; ++i)
        d[i] = static_cast<char>((n >> (8 * i)) & 0xFF);
    return d;
}

class Generator {
public:
    Generator(Store& s, const SyntheticShape& shape)
        : s_(s), shape_(shape), keyWord_(sj("キー")), valueWord_(sj("値")),
          dataWord_(sj("データ ")), table_(sj("表")) {}

    void fill(KeyId key, int level) {
        writeValues(key);
        if (level == shape_.depth)
            return;
        for (int i = 0; i < shape_.fanout; ++i) {
            std::string name;
            if (i == 7)
                name = table_ + std::to_string(i); // a 0x5C trail byte in the name
            else if ((i + level) % 2)
                name = keyWord_ + std::to_string(i);
            else
                name = "Key" + std::to_string(i);
            const KeyId child = s_.createChild(key, StoredName{name, false});
            ++counts.keys;
            if ((counts.keys & 0xFFFF) == 0)
                s_.refresh(); // a safe point: lets the cache stay small
            fill(child, level + 1);
        }
    }

    SyntheticCounts counts;

private:
    void writeValues(KeyId key) {
        for (int j = 0; j < shape_.values; ++j) {
            const std::uint64_t n = counts.values++;
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
                v.data = littleEndian(n, 4);
                break;
            case REG_QWORD:
                v.data = littleEndian(n, 8);
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
    SyntheticShape shape_;
    std::string keyWord_, valueWord_, dataWord_, table_;
};

} // namespace

SyntheticCounts writeSyntheticRegistry(Store& store, const SyntheticShape& shape) {
    Generator g(store, shape);
    Store::Transaction txn(store);
    const KeyId top = store.createChild(Store::rootId(2), StoredName{"Bench", false});
    ++g.counts.keys;
    g.fill(top, 0);
    txn.commit();
    return g.counts;
}

} // namespace klv
