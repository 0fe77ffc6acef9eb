#include "core/search/TextMatcher.h"

#include "core/platform/Encoding.h"

#include <cstdint>

namespace klv {

TextMatcher::TextMatcher(std::string searchText, bool wholeMatch, bool ignoreCase)
    : search_(ignoreCase ? cp932Upper(searchText) : std::move(searchText)), whole_(wholeMatch),
      ignoreCase_(ignoreCase) {}

bool TextMatcher::matches(std::string_view text) const {
    if (search_.empty())
        return true;
    if (text.size() < search_.size())
        return false;
    if (whole_ && text.size() != search_.size())
        return false;
    std::string_view t = text;
    if (ignoreCase_) {
        cp932UpperInto(text, folded_);
        t = folded_;
    }
    return whole_ ? t == search_ : alignedFind(t, search_) != std::string_view::npos;
}

std::size_t alignedFind(std::string_view hay, std::string_view needle) {
    if (needle.empty())
        return 0;
    std::size_t boundary = 0; // a character starts here
    for (std::size_t at = hay.find(needle); at != std::string_view::npos;
         at = hay.find(needle, at + 1)) {
        while (boundary < at)
            boundary += isCp932Lead(static_cast<unsigned char>(hay[boundary])) ? 2 : 1;
        if (boundary == at)
            return at;
    }
    return std::string_view::npos;
}

std::string substitutePreview(std::string_view text, std::string_view search,
                              std::string_view replacement, bool ignoreCase) {
    if (search.empty() || text.empty())
        return std::string(text);
    std::string foldedText, foldedSearch;
    std::string_view t = text, s = search;
    if (ignoreCase) {
        foldedText = cp932Upper(text);
        foldedSearch = cp932Upper(search);
        t = foldedText;
        s = foldedSearch;
    }
    if (alignedFind(t, s) == std::string_view::npos)
        return std::string(text);
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        if (t.compare(i, s.size(), s) == 0) {
            out += replacement;
            i += s.size();
            continue;
        }
        const std::size_t n =
            isCp932Lead(static_cast<unsigned char>(text[i])) && i + 1 < text.size() ? 2 : 1;
        out.append(text, i, n);
        i += n;
    }
    return out;
}

std::optional<std::string> hexToDecimalText(std::string_view hex) {
    if (hex.empty() || hex.size() > 8)
        return std::nullopt;
    std::uint32_t v = 0;
    for (char c : hex) {
        const int d = hexDigitValue(c);
        if (d < 0)
            return std::nullopt;
        v = v << 4 | static_cast<std::uint32_t>(d);
    }
    return std::to_string(v);
}

} // namespace klv
