#pragma once
// Fonts as the settings file keeps them (name, size in points, style bits) and as Qt draws
// them.
#include "core/settings/SettingsFile.h"

#include <QFont>

namespace klv {

FontSetting toFontSetting(const QFont& font);
// `base` with what the setting names; a setting without a name leaves `base` as it is.
QFont toQFont(const FontSetting& setting, const QFont& base);

} // namespace klv
