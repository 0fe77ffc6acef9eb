#pragma once
// klovreg: the registry editor program and the console registry tool of this platform. It
// accepts the command lines the program builds and plain forms for people:
//
//   klovreg /E file [key]          export the key (or the whole registry): Unicode form on the
//                                  NT family, REGEDIT4 on the 95 family
//   klovreg EXPORT key file /nt4   export the key in the REGEDIT4 form
//   klovreg EXPORT file /nt4       the same for the whole registry
//   klovreg /S file...             import silently
//   klovreg file...                import after asking, and report the result
//   klovreg --help
//   klovreg --wine-prefix DIR ...  any of the above on the registry of a Wine prefix, whose
//                                  changed files are written back afterwards
//   klovreg --wine-prefix DIR --write-back
//                                  only writes back what a refused write-back left
//
// File arguments may be drive paths ("C:\Work\a.reg", through the drive map) or Linux paths;
// "\" separates folders and names are found without regard to case.
#include "core/regfiles/RegistryPrograms.h"
#include "klovreg/KlovregUi.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace klv {

namespace wine {
class WinePrefix;
}

// Exit code: the command ran on the Wine prefix's registry, but its wineserver runs and the
// changes could not be written to its files; they stay in the store for "--write-back".
inline constexpr int kKlovregWineRunning = 7;

struct KlovregSetup {
    std::filesystem::path systemFolder; // holds SYSTEM.DAT
    bool ntFamily = true;
    // Receivers of standard output and error text (UTF-8).
    std::function<void(std::string_view)> out;
    std::function<void(std::string_view)> err;

    // The setup of a klovreg process: the system folder is $KLOVANTE_WINDIR when set, else the
    // folder of the link it was started by when a SYSTEM.DAT stands there, else the program's.
    static KlovregSetup forProcess(const char* argv0);
};

class KlovregCommand {
public:
    explicit KlovregCommand(std::vector<std::string> args);

    // True for the import that asks the user first.
    bool asksUser() const { return action_ == Action::ImportAsking; }
    int run(const KlovregSetup& setup, KlovregUi& ui) const;

    static std::string usage();

private:
    enum class Action { Help, Export, ExportTool, ImportSilent, ImportAsking, WriteBack, Invalid };
    int runAction(const KlovregSetup& setup, KlovregUi& ui) const;
    int runInPrefix(const KlovregSetup& setup, KlovregUi& ui) const;
    int writeBack(wine::WinePrefix& prefix, const KlovregSetup& setup, int code) const;
    int exportFile(const KlovregSetup& setup) const;
    int importFiles(const KlovregSetup& setup, KlovregUi* ui) const;

    Action action_ = Action::Invalid;
    std::string problem_;            // why the command line is invalid
    std::vector<std::string> files_; // as given
    std::string key_;                // as given (UTF-8); empty for the whole registry
    bool nt4_ = false;
    std::optional<std::string> winePrefix_; // the prefix folder of "--wine-prefix"
};

} // namespace klv
