#include "gui/widgets/FontBridge.h"

#include "gui/widgets/TextBridge.h"

namespace klv {

FontSetting toFontSetting(const QFont& font) {
    FontSetting s;
    s.name = toCp932(font.family()).value_or(std::string());
    s.size = font.pointSize() > 0 ? font.pointSize() : 9;
    s.style = (font.bold() ? FontSetting::Bold : 0) | (font.italic() ? FontSetting::Italic : 0) |
              (font.underline() ? FontSetting::Underline : 0) |
              (font.strikeOut() ? FontSetting::StrikeOut : 0);
    s.charset = 128; // SHIFTJIS_CHARSET: the program's texts are CP932
    return s;
}

QFont toQFont(const FontSetting& setting, const QFont& base) {
    if (setting.name.empty())
        return base;
    QFont f = base;
    f.setFamily(toQString(setting.name));
    if (setting.size > 0 && setting.size < 200)
        f.setPointSize(setting.size);
    f.setBold(setting.style & FontSetting::Bold);
    f.setItalic(setting.style & FontSetting::Italic);
    f.setUnderline(setting.style & FontSetting::Underline);
    f.setStrikeOut(setting.style & FontSetting::StrikeOut);
    return f;
}

} // namespace klv
