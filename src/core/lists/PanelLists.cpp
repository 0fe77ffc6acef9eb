#include "core/lists/PanelLists.h"

#include "core/platform/Encoding.h"
#include "core/registry/RawValueCodec.h"
#include "core/registry/Registry.h"
#include "core/registry/ValueText.h"
#include "core/undo/UndoActions.h"

#include <algorithm>
#include <cstring>

namespace klv {

// --- favorites and access history ---------------------------------------------------------------

ListRow favoriteRow(std::string location, std::string comment) {
    return {kFavoriteImage, std::move(location), {std::move(comment)}};
}

ListRow historyRow(std::string time, std::string location) {
    return {kHistoryImage, std::move(time), {std::move(location)}};
}

const std::string& favoriteLocation(const ListRow& row) {
    return row.caption;
}

const std::string& historyLocation(const ListRow& row) {
    static const std::string none;
    return row.subItems.empty() ? none : row.subItems.front();
}

void insertNewest(std::vector<ListRow>& rows, ListRow row, int limit) {
    rows.insert(rows.begin(), std::move(row));
    rows.resize(std::min(rows.size(), static_cast<std::size_t>(std::max(limit, 0))));
}

bool moveRow(std::vector<ListRow>& rows, std::size_t index, int step) {
    if (index >= rows.size() || (step < 0 && index == 0) || (step > 0 && index + 1 >= rows.size()))
        return false;
    std::swap(rows[index], rows[step < 0 ? index - 1 : index + 1]);
    return true;
}

LocationParts splitLocation(const std::string& location) {
    const std::size_t at = cp932Find(location, "\\");
    if (at == std::string::npos)
        return {location, {}};
    return {location.substr(0, at), location.substr(at)};
}

// --- value holder -------------------------------------------------------------------------------

namespace {

// Hidden sub-items start with this: no text the holder shows does.
constexpr std::string_view kPayloadMark = "\x7FKLV1:";
// Text per hidden sub-item, well inside a list file's limit.
constexpr std::size_t kPayloadChunk = 60000;
// A shown data text is cut here, at a character's start, and "..." added.
constexpr std::size_t kShownDataLimit = 60000;

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string base64(std::string_view in) {
    std::string out;
    out.reserve((in.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < in.size(); i += 3) {
        const std::size_t n = std::min<std::size_t>(3, in.size() - i);
        std::uint32_t v = 0;
        for (std::size_t k = 0; k < 3; ++k)
            v = v << 8 | (k < n ? static_cast<unsigned char>(in[i + k]) : 0u);
        for (std::size_t k = 0; k < 4; ++k)
            out += k <= n ? kBase64[(v >> (18 - 6 * k)) & 63] : '=';
    }
    return out;
}

std::optional<std::string> unbase64(std::string_view in) {
    if (in.size() % 4 != 0)
        return std::nullopt;
    std::string out;
    out.reserve(in.size() / 4 * 3);
    for (std::size_t i = 0; i < in.size(); i += 4) {
        std::uint32_t v = 0;
        int pad = 0;
        for (std::size_t k = 0; k < 4; ++k) {
            const char c = in[i + k];
            int d;
            if (c == '=' && k >= 2 && i + 4 == in.size()) {
                d = 0;
                ++pad;
            } else {
                const char* p = c ? std::strchr(kBase64, c) : nullptr;
                if (!p || pad)
                    return std::nullopt;
                d = static_cast<int>(p - kBase64);
            }
            v = v << 6 | static_cast<std::uint32_t>(d);
        }
        for (int k = 0; k < 3 - pad; ++k)
            out += static_cast<char>((v >> (16 - 8 * k)) & 0xFF);
    }
    return out;
}

bool isPayload(const std::string& s) {
    return s.compare(0, kPayloadMark.size(), kPayloadMark) == 0;
}

std::string shownData(const RawValue& v) {
    std::string text = dataText(v);
    if (text.size() <= kShownDataLimit)
        return text;
    std::size_t cut = 0;
    while (cut < kShownDataLimit)
        cut += isCp932Lead(static_cast<unsigned char>(text[cut])) ? 2 : 1;
    text.resize(std::min(cut, text.size()));
    return text + "...";
}

const std::string& yes() {
    static const std::string s = sj("はい");
    return s;
}
const std::string& no() {
    static const std::string s = sj("いいえ");
    return s;
}

} // namespace

ListRow holderRow(const RawValue& value, const HolderOptions& options, const std::string& time,
                  const std::string& location) {
    ListRow row;
    row.image = kindImage(valueKindOf(value.type));
    row.caption = listedName(value.name);
    row.subItems = {shownData(value), kindName(valueKindOf(value.type)), yes()};
    if (options.date)
        row.subItems.push_back(time);
    if (options.add)
        row.subItems.push_back(location);
    const std::string payload = base64(encodeRawValue(value));
    for (std::size_t at = 0; at < payload.size() || at == 0; at += kPayloadChunk)
        row.subItems.push_back(std::string(kPayloadMark) + payload.substr(at, kPayloadChunk));
    return row;
}

std::size_t shownSubItems(const ListRow& row) {
    std::size_t n = row.subItems.size();
    while (n > 0 && isPayload(row.subItems[n - 1]))
        --n;
    return n;
}

void addToHolder(std::vector<ListRow>& holder, std::vector<ListRow> rows,
                 const HolderOptions& options) {
    const std::size_t kept = options.mode == 0 ? 0 : holder.size();
    if (kept + rows.size() > kMaxListRows)
        throw ListFileError(ListFileError::Kind::TooLarge,
                            sj("バリューホルダーには ") + std::to_string(kMaxListRows) +
                                sj(" 個までしか保管できません。保管されている値を削除してから、"
                                   "もう一度コピーしてください。"));
    if (options.mode == 0)
        holder.clear();
    for (ListRow& r : rows)
        holder.push_back(std::move(r));
}

bool pasteFlag(const ListRow& row) {
    return row.subItems.size() > 2 && row.subItems[2] == yes();
}

void setPasteFlag(ListRow& row, bool paste) {
    if (row.subItems.size() < 3)
        row.subItems.resize(3);
    row.subItems[2] = paste ? yes() : no();
}

void togglePasteFlag(ListRow& row) {
    // Anything but "はい" becomes "はい".
    setPasteFlag(row, !pasteFlag(row));
}

std::size_t removeUnflagged(std::vector<ListRow>& holder) {
    const std::size_t before = holder.size();
    std::erase_if(holder, [](const ListRow& r) { return !pasteFlag(r); });
    return before - holder.size();
}

std::optional<RawValue> pastedValue(const ListRow& row) {
    std::string payload;
    for (std::size_t i = shownSubItems(row); i < row.subItems.size(); ++i)
        payload += std::string_view(row.subItems[i]).substr(kPayloadMark.size());
    if (!payload.empty())
        if (const auto bytes = unbase64(payload))
            if (auto value = decodeRawValue(*bytes))
                return value;
    // A row of an older file: the value its data text gives.
    RawValue v;
    v.name.bytes = row.caption;
    const std::string data = row.subItems.empty() ? std::string() : row.subItems[0];
    switch (row.image) {
    case kImageString:
    case kImageExpandString:
        v.type = row.image == kImageString ? REG_SZ : REG_EXPAND_SZ;
        v.data = data + '\0';
        return v;
    case kImageBinary:
        v.type = REG_BINARY;
        v.data = parseHexText(data);
        return v;
    case kImageInteger: {
        // The decimal before the first blank ("255 (0x000000FF)"), its low 32 bits.
        const auto n = integerOfText(std::string_view(data).substr(0, data.find(' ')));
        if (!n)
            return std::nullopt;
        v.type = REG_DWORD;
        for (int i = 0; i < 4; ++i)
            v.data += static_cast<char>((*n >> (8 * i)) & 0xFF);
        return v;
    }
    case kImageMultiString: {
        v.type = REG_MULTI_SZ;
        std::size_t at = 0;
        while (at < data.size()) {
            const std::size_t end = data.find("\r\n", at);
            const std::size_t stop = end == std::string::npos ? data.size() : end;
            v.data.append(data, at, stop - at);
            v.data += '\0';
            at = end == std::string::npos ? data.size() : end + 2;
        }
        v.data += '\0';
        return v;
    }
    default:
        return std::nullopt;
    }
}

} // namespace klv
