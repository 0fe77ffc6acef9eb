#include "core/platform/PlatformFamily.h"

#include <cstdlib>
#include <string_view>

namespace klv {

// Read on every call: tests switch the family between cases.
PlatformVersion platformVersion() {
    const char* family = std::getenv("KLOVANTE_PLATFORM");
    if (family && std::string_view(family) == "95")
        return {1, 4, 0};
    return {2, 5, 1};
}

bool isNtFamily() {
    return platformVersion().platformId == 2;
}

int rootCount() {
    return isNtFamily() ? 5 : 6;
}

} // namespace klv
