// Until the main window exists, the program prepares its folders and registry and says so.
#include "platform/DriveMap.h"
#include "platform/Folders.h"
#include "registry/RegistryError.h"
#include "registry/Store.h"

#include <cstdio>
#include <exception>

int main() {
    try {
        const auto home = klv::programFolder();
        const auto windir = klv::systemFolder();
        auto store = klv::Store::system();
        klv::DriveMap(windir).ensureDefaults(home);
        std::printf("Program folder: %s\nSystem folder:  %s\nRegistry:       %s%s\n", home.c_str(),
                    windir.c_str(), store->file().c_str(),
                    store->createdNow() ? " (new, seeded)" : "");
        std::printf("The main window is not built yet: the program stops here.\n");
        return 0;
    } catch (const klv::RegistryError& e) {
        std::fprintf(stderr, "klovante: %s %s\n", e.what(), e.detail().c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "klovante: %s\n", e.what());
    }
    return 1;
}
