#include "core/printing/PageSetup.h"

#include "core/platform/Encoding.h"

#include <algorithm>
#include <cstdio>

namespace klv {
namespace {

std::string zeroPadded(int n, int width) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%0*d", width, n);
    return buf;
}

std::string twoDigits(int n) {
    return zeroPadded(n, 2);
}

} // namespace

PageSetup clampedSetup(PageSetup s) {
    s.columns = std::clamp(s.columns, kMinColumns, kMaxColumns);
    s.columnSpacing = std::clamp(s.columnSpacing, 0, kMaxColumnSpacing);
    s.fontSize = std::clamp(s.fontSize, kMinFontSize, kMaxFontSize);
    for (int* m : {&s.marginLeft, &s.marginRight, &s.marginTop, &s.marginBottom})
        *m = std::clamp(*m, 0, kMaxMargin);
    return s;
}

std::string fileNameOnly(const std::string& path) {
    size_t start = 0;
    for (size_t i = 0; i < path.size(); ++i) {
        const auto c = static_cast<unsigned char>(path[i]);
        if (isCp932Lead(c) && i + 1 < path.size()) {
            ++i; // a trail byte may be 0x5C, which is no separator
            continue;
        }
        if (c == '/' || c == '\\')
            start = i + 1;
    }
    return path.substr(start);
}

std::string expandPageKeywords(const std::string& text, const PageKeywords& k) {
    std::string out;
    out.reserve(text.size() + 16);
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (isCp932Lead(c) && i + 1 < text.size()) {
            out.append(text, i, 2);
            ++i;
            continue;
        }
        if (c != '%' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        // "%" is never part of a double-byte character, and neither half of one is taken as
        // a keyword letter: a lead byte after "%" is copied whole on the next round.
        switch (text[i + 1]) {
        case 'p':
            out += std::to_string(k.page);
            break;
        case 'f':
            out += k.filePath;
            break;
        case 'F':
            out += fileNameOnly(k.filePath);
            break;
        case 'y':
            out += zeroPadded(k.time.tm_year + 1900, 4);
            break;
        case 'm':
            out += twoDigits(k.time.tm_mon + 1);
            break;
        case 'd':
            out += twoDigits(k.time.tm_mday);
            break;
        case 't':
            out += twoDigits(k.time.tm_hour) + ":" + twoDigits(k.time.tm_min);
            break;
        case '%':
            out += '%';
            break;
        default:
            out += '%';
            continue; // the next character is read on its own
        }
        ++i;
    }
    return out;
}

} // namespace klv
