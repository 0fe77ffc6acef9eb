#include "core/registry/RawValueCodec.h"

namespace klv {

namespace {

void put32(std::string& out, std::uint64_t v) {
    for (int i = 0; i < 4; ++i)
        out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

bool get32(std::string_view& in, std::uint32_t& v) {
    if (in.size() < 4)
        return false;
    v = 0;
    for (int i = 3; i >= 0; --i)
        v = v << 8 | static_cast<unsigned char>(in[static_cast<std::size_t>(i)]);
    in.remove_prefix(4);
    return true;
}

} // namespace

// Type, flags (1: wide name, 2: wide data), name length and bytes, data length and bytes; all
// numbers 32-bit little-endian.
std::string encodeRawValue(const RawValue& v) {
    std::string out;
    put32(out, v.type);
    put32(out, (v.name.wide ? 1u : 0u) | (v.dataWide ? 2u : 0u));
    put32(out, v.name.bytes.size());
    out += v.name.bytes;
    put32(out, v.data.size());
    out += v.data;
    return out;
}

std::optional<RawValue> decodeRawValue(std::string_view in) {
    RawValue v;
    std::uint32_t flags = 0, n = 0;
    if (!get32(in, v.type) || !get32(in, flags) || flags > 3 || !get32(in, n) || in.size() < n)
        return std::nullopt;
    v.name = StoredName{std::string(in.substr(0, n)), (flags & 1) != 0};
    in.remove_prefix(n);
    if (!get32(in, n) || in.size() != n)
        return std::nullopt;
    v.data = std::string(in);
    v.dataWide = (flags & 2) != 0;
    return v;
}

} // namespace klv
