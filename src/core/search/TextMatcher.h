#pragma once
// How a search tests a name or a data text against the search text, and the substitution
// that replace mode previews. Texts are CP932: a match never starts on the second byte of a
// double-byte character, and upper-casing steps over double-byte characters whole.
#include <optional>
#include <string>
#include <string_view>

namespace klv {

class TextMatcher {
public:
    TextMatcher(std::string searchText, bool wholeMatch, bool ignoreCase);

    // Empty search text: every text is a hit. Otherwise, by the options, the search text
    // occurs in the text or equals it, with or without regard to case.
    bool matches(std::string_view text) const;

private:
    std::string search_; // upper-cased when ignoring case
    bool whole_;
    bool ignoreCase_;
    mutable std::string folded_; // reused buffer for the upper-cased text
};

// Character-aligned occurrence of `needle` in `hay` (both already folded as wanted);
// std::string_view::npos when absent.
std::size_t alignedFind(std::string_view hay, std::string_view needle);

// Every non-overlapping occurrence of `search` in `text`, left to right, replaced by
// `replacement`; the rest keeps its case. An empty search text leaves the text unchanged.
std::string substitutePreview(std::string_view text, std::string_view search,
                              std::string_view replacement, bool ignoreCase);

// A hexadecimal number of at most eight digits as its unsigned decimal text; nullopt when the
// text is not one.
std::optional<std::string> hexToDecimalText(std::string_view hex);

} // namespace klv
