#include "core/script/ScriptHelp.h"

#include "core/settings/SettingsFile.h"

namespace klv {

ScriptHelp readScriptHelp(const std::filesystem::path& database, std::string_view command) {
    const SettingsFile file(database);
    return {file.readString(command, "P"), file.readString(command, "E")};
}

} // namespace klv
