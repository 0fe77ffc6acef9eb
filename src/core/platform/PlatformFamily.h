#pragma once
// The platform family the program runs as: NT 5.1 by default, Windows 95 with
// KLOVANTE_PLATFORM=95, so that both behaviours can be tested.
namespace klv {

struct PlatformVersion {
    int platformId; // 1 = Windows 95 family, 2 = NT family
    int major;
    int minor;
};

PlatformVersion platformVersion();
bool isNtFamily();
// Number of root keys shown: 5 on the NT family (no HKEY_DYN_DATA), 6 on the 95 family.
int rootCount();

} // namespace klv
