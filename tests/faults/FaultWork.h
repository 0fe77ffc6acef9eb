#pragma once
// What the fault child writes and what the kill and load tests expect of it: both sides build
// the same texts from here, so that a file left by a killed child can be compared byte for
// byte with the file a whole run writes.
#include "core/lists/ListFile.h"
#include "core/platform/TimeText.h"

#include <cstdint>
#include <string>
#include <vector>

namespace klv::fault {

// The child's clock stands still here (2024-01-02 03:04:05 UTC): the undo log stamps its rows
// and names its files with the time.
inline constexpr std::int64_t kFixedUnixTime = 1704164645;

// Settings rounds: a list and a counter in one section of KLOVANTE.INI.
inline constexpr const char* kSettingsSection = "FAULT";
inline constexpr const char* kSettingsList = "Item";
inline constexpr const char* kSettingsRound = "Round";

inline std::string padded(long round, int index, std::size_t width) {
    std::string s = "round " + std::to_string(round) + " item " + std::to_string(index) + " ";
    while (s.size() < width)
        s += static_cast<char>('a' + s.size() % 26);
    return s;
}

inline std::vector<std::string> settingsItems(long round, int count) {
    std::vector<std::string> items;
    for (int i = 0; i < count; ++i)
        items.push_back(padded(round, i, 60));
    return items;
}

inline std::vector<ListRow> listRows(long round, int count) {
    std::vector<ListRow> rows;
    for (int i = 0; i < count; ++i)
        rows.push_back(ListRow{i % 30,
                               padded(round, i, 40),
                               {padded(round, i, 20), std::to_string(round), padded(i, 0, 80)}});
    return rows;
}

// --- load test ----------------------------------------------------------------------------------

// Importer j owns HKEY_CURRENT_USER\Software\Load\Imp<j>; round r of its file sets "round" = r
// in that key and in every key below it, replaces the key Round<r - 1> by Round<r> and
// rewrites K000 .. K<n - 1>. A reader that sees two different rounds in the tree, or a Round
// key of another round, has seen half an import.
inline constexpr const char* kLoadBase = "\\Software\\Load";
// Keys K000 .. of one round.
inline constexpr int kLoadImportKeys = 1000;

inline std::string importerKey(int importer) {
    return std::string(kLoadBase) + "\\Imp" + std::to_string(importer);
}

inline std::string keyName(int index) {
    std::string n = std::to_string(index);
    return "K" + std::string(n.size() < 3 ? 3 - n.size() : 0, '0') + n;
}

inline std::string hex8(std::uint32_t v) {
    static const char* digits = "0123456789abcdef";
    std::string s(8, '0');
    for (int i = 7; i >= 0; --i, v >>= 4)
        s[static_cast<std::size_t>(i)] = digits[v & 15];
    return s;
}

inline std::string importerText(int importer, long round, int key) {
    return "importer " + std::to_string(importer) + " round " + std::to_string(round) + " key " +
           std::to_string(key);
}

// The REGEDIT4 file of one round (CR LF lines).
inline std::string importerFile(int importer, long round, int keys) {
    const std::string base = "HKEY_CURRENT_USER" + importerKey(importer);
    const std::string r = "\"round\"=dword:" + hex8(static_cast<std::uint32_t>(round)) + "\r\n";
    std::string out = "REGEDIT4\r\n\r\n[" + base + "]\r\n" + r + "\r\n";
    if (round > 1)
        out += "[-" + base + "\\Round" + std::to_string(round - 1) + "]\r\n\r\n";
    out += "[" + base + "\\Round" + std::to_string(round) + "]\r\n" + r + "\r\n";
    std::string pad = "\"pad\"=hex:";
    for (int i = 0; i < 24; ++i)
        pad += (i ? "," : "") + hex8(static_cast<std::uint32_t>(round * 31 + i)).substr(6);
    pad += "\r\n";
    for (int k = 0; k < keys; ++k)
        out += "[" + base + "\\" + keyName(k) + "]\r\n" + r + "\"text\"=\"" +
               importerText(importer, round, k) + "\"\r\n" + pad + "\r\n";
    return out;
}

// --- Wine prefix --------------------------------------------------------------------------------

// What the "wine write" child changes before it writes the prefix back: one value in each file.
inline constexpr const char* kWineEditKey = "Software\\Fault";
inline constexpr const char* kWineEditValue = "written";

} // namespace klv::fault
