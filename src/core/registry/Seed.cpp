#include "core/registry/Seed.h"

#include "core/platform/Encoding.h"
#include "core/registry/Registry.h"
#include "core/registry/RootKeys.h"
#include "core/registry/Store.h"

#include <initializer_list>
#include <string>
#include <vector>

namespace klv {
namespace {

// Writes into a key path below a root; texts in the sources are UTF-8 and stored as CP932.
class SeedWriter {
public:
    explicit SeedWriter(Store& s) : s_(s) {}

    SeedWriter& at(int root, std::string_view utf8Path) {
        key_ = Store::rootId(root);
        std::string path = sj(utf8Path);
        std::size_t start = 0;
        while (start <= path.size() && !path.empty()) {
            std::size_t bs = cp932Find(path, "\\", start);
            std::string part = path.substr(start, bs == std::string::npos ? bs : bs - start);
            key_ = s_.createChild(key_, StoredName{part, false});
            if (bs == std::string::npos)
                break;
            start = bs + 1;
        }
        return *this;
    }
    SeedWriter& sz(std::string_view name, std::string_view text) {
        return raw(name, REG_SZ, sj(text) + '\0');
    }
    SeedWriter& expand(std::string_view name, std::string_view text) {
        return raw(name, REG_EXPAND_SZ, sj(text) + '\0');
    }
    SeedWriter& dword(std::string_view name, std::uint32_t v) {
        std::string d(4, '\0');
        for (int i = 0; i < 4; ++i)
            d[static_cast<std::size_t>(i)] = static_cast<char>(v >> (8 * i));
        return raw(name, REG_DWORD, d);
    }
    SeedWriter& binary(std::string_view name, std::initializer_list<int> bytes,
                       std::uint32_t type = REG_BINARY) {
        std::string d;
        for (int b : bytes)
            d += static_cast<char>(b);
        return raw(name, type, d);
    }
    SeedWriter& multi(std::string_view name, std::initializer_list<std::string_view> lines) {
        std::string d;
        for (auto l : lines)
            d += sj(l) + '\0';
        return raw(name, REG_MULTI_SZ, d + '\0');
    }
    SeedWriter& raw(std::string_view name, std::uint32_t type, std::string data) {
        s_.setValue(key_, RawValue{StoredName{sj(name), false}, type, std::move(data), false});
        return *this;
    }
    SeedWriter& access(KeyAccess a) {
        s_.setAccess(key_, a);
        return *this;
    }

private:
    Store& s_;
    KeyId key_ = 0;
};

constexpr int HKCR = 0, HKCU = 1, HKLM = 2, HKU = 3, HKCC = 4, HKDD = 5;

void seedClasses(SeedWriter& w) {
    w.at(HKCR, ".txt")
        .sz("", "txtfile")
        .sz("Content Type", "text/plain")
        .sz("PerceivedType", "text");
    w.at(HKCR, ".txt\\ShellNew").sz("NullFile", "");
    w.at(HKCR, ".reg").sz("", "regfile");
    w.at(HKCR, ".bat").sz("", "batfile");
    w.at(HKCR, ".htm").sz("", "htmlfile").sz("Content Type", "text/html");
    w.at(HKCR, ".qbs").sz("", "Klovante.Script");
    w.at(HKCR, "txtfile").sz("", "テキスト ドキュメント").binary("EditFlags", {0, 0, 0, 0});
    w.at(HKCR, "txtfile\\DefaultIcon").expand("", "%SystemRoot%\\system32\\shell32.dll,-152");
    w.at(HKCR, "txtfile\\shell\\open\\command")
        .expand("", "%SystemRoot%\\system32\\NOTEPAD.EXE %1");
    w.at(HKCR, "regfile").sz("", "登録エントリ").dword("EditFlags", 0x00100000);
    w.at(HKCR, "regfile\\shell").sz("", "open");
    w.at(HKCR, "regfile\\shell\\open\\command").sz("", "regedit.exe \"%1\"");
    w.at(HKCR, "regfile\\shell\\edit\\command")
        .expand("", "%SystemRoot%\\system32\\NOTEPAD.EXE %1");
    w.at(HKCR, "batfile").sz("", "MS-DOS バッチ ファイル");
    w.at(HKCR, "batfile\\shell\\open\\command").sz("", "\"%1\" %*");
    w.at(HKCR, "htmlfile").sz("", "HTML ドキュメント");
    w.at(HKCR, "Klovante.Script").sz("", "QB スクリプト");
    w.at(HKCR, "CLSID\\{20D04FE0-3AEA-1069-A2D8-08002B30309D}")
        .sz("", "マイ コンピュータ")
        .sz("InfoTip", "このコンピュータに接続されたドライブとハードウェアを表示します。");
    w.at(HKCR, "CLSID\\{645FF040-5081-101B-9F08-00AA002F954E}").sz("", "ごみ箱");
}

void seedCurrentUser(SeedWriter& w) {
    const char* folders = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
    w.at(HKCU, folders)
        .sz("Desktop", "C:\\Documents and Settings\\user\\デスクトップ")
        .sz("Personal", "C:\\Documents and Settings\\user\\My Documents")
        .sz("Programs", "C:\\Documents and Settings\\user\\スタート メニュー\\プログラム")
        .sz("Start Menu", "C:\\Documents and Settings\\user\\スタート メニュー")
        .sz("SendTo", "C:\\Documents and Settings\\user\\SendTo")
        .sz("Favorites", "C:\\Documents and Settings\\user\\Favorites")
        .sz("AppData", "C:\\Documents and Settings\\user\\Application Data");
    w.at(HKCU, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders")
        .expand("Desktop", "%USERPROFILE%\\デスクトップ")
        .expand("Personal", "%USERPROFILE%\\My Documents");
    w.at(HKCU, "Software\\Microsoft\\Windows\\CurrentVersion\\Run")
        .sz("古いアップデータ", "C:\\Program Files\\OldApp\\update.exe /background");
    w.at(HKCU, "Software\\Microsoft\\Notepad")
        .dword("lfHeight", 0xFFFFFFF4)
        .sz("lfFaceName", "ＭＳ ゴシック")
        .dword("fWrap", 1)
        .dword("iWindowPosX", 120);
    w.at(HKCU, "Software\\Klovante\\Quimbo Registry Editor")
        .sz("Version", "0.1")
        .dword("Installed", 1);
    // Names and data whose second bytes are 0x5C ("表", "ソ") and every kind of value.
    w.at(HKCU, "Software\\サンプル\\表計算ソフト\\設定")
        .sz("表示名", "表計算ソフト")
        .dword("ソート順", 1)
        .multi("最近使ったファイル", {"C:\\文書\\予算表.xls", "C:\\文書\\売上集計.xls"})
        .binary("ウィンドウ位置",
                {0x2C, 0x00, 0x00, 0x00, 0x64, 0x00, 0x00, 0x00, 0x20, 0x03, 0x58, 0x02})
        .expand("保存先", "%USERPROFILE%\\My Documents\\表計算")
        .binary("最終起動", {0x00, 0x80, 0x3E, 0xD5, 0xDE, 0xB1, 0x9D, 0x01}, REG_QWORD)
        .binary("マーカー", {}, REG_NONE);
    w.at(HKCU, "Control Panel\\Desktop")
        .sz("Wallpaper", "C:\\WINDOWS\\Web\\Wallpaper\\Bliss.bmp")
        .sz("TileWallpaper", "0")
        .sz("ScreenSaveActive", "1")
        .sz("ScreenSaveTimeOut", "600")
        .binary("UserPreferencesMask", {0x9E, 0x3E, 0x07, 0x80, 0x12, 0x00, 0x00, 0x00});
    w.at(HKCU, "Control Panel\\International")
        .sz("Locale", "00000411")
        .sz("sCountry", "日本")
        .sz("sShortDate", "yyyy/MM/dd")
        .sz("sCurrency", "\\")
        .sz("iCountry", "81");
    w.at(HKCU, "Control Panel\\Colors").sz("Background", "0 78 152").sz("Window", "255 255 255");
    w.at(HKCU, "Control Panel\\Mouse").sz("DoubleClickSpeed", "500").sz("MouseSpeed", "1");
    w.at(HKCU, "Environment")
        .expand("TEMP", "%USERPROFILE%\\Local Settings\\Temp")
        .expand("TMP", "%USERPROFILE%\\Local Settings\\Temp");
    w.at(HKCU, "AppEvents\\Schemes\\Apps\\.Default\\SystemStart\\.Current")
        .expand("", "%SystemRoot%\\Media\\Windows XP Startup.wav");
}

void seedLocalMachine(SeedWriter& w) {
    w.at(HKLM, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion")
        .sz("ProgramFilesDir", "C:\\Program Files")
        .sz("CommonFilesDir", "C:\\Program Files\\Common Files")
        .sz("ProductId", "55274-640-0000000-23000")
        .sz("SM_AccessoriesName", "アクセサリ")
        .expand("DevicePath", "%SystemRoot%\\inf");
    w.at(HKLM, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\notepad.exe")
        .expand("", "%SystemRoot%\\system32\\notepad.exe");
    w.at(HKLM, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\SampleApp")
        .sz("DisplayName", "サンプル アプリケーション")
        .sz("UninstallString", "C:\\Program Files\\Sample\\uninst.exe")
        .sz("Publisher", "サンプル株式会社")
        .dword("NoModify", 1);
    w.at(HKLM, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion")
        .sz("ProductName", "Microsoft Windows XP")
        .sz("CurrentVersion", "5.1")
        .sz("CurrentBuildNumber", "2600")
        .sz("CSDVersion", "Service Pack 3")
        .sz("RegisteredOwner", "ユーザー")
        .sz("RegisteredOrganization", "")
        .dword("InstallDate", 1228694400)
        .binary("DigitalProductId", {0xA4, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00});
    w.at(HKLM, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts")
        .sz("ＭＳ ゴシック & ＭＳ Ｐゴシック & MS UI Gothic (TrueType)", "msgothic.ttc")
        .sz("ＭＳ 明朝 & ＭＳ Ｐ明朝 (TrueType)", "msmincho.ttc");
    w.at(HKLM, "SOFTWARE\\Klovante").sz("InstallPath", "C:\\Program Files\\Klovante");
    w.at(HKLM, "SYSTEM\\CurrentControlSet\\Control\\ComputerName\\ComputerName")
        .sz("ComputerName", "KLOVANTE-PC");
    w.at(HKLM, "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment")
        .expand("Path", "%SystemRoot%\\system32;%SystemRoot%;%SystemRoot%\\System32\\Wbem")
        .expand("ComSpec", "%SystemRoot%\\system32\\cmd.exe")
        .sz("OS", "Windows_NT")
        .sz("NUMBER_OF_PROCESSORS", "2")
        .sz("PROCESSOR_ARCHITECTURE", "x86");
    w.at(HKLM, "SYSTEM\\CurrentControlSet\\Control\\Nls\\CodePage")
        .sz("ACP", "932")
        .sz("OEMCP", "932");
    w.at(HKLM, "SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters")
        .sz("Hostname", "klovante-pc")
        .sz("Domain", "")
        .multi("SearchList", {"example.jp", "example.com"})
        .dword("EnableDHCP", 1);
    w.at(HKLM, "SYSTEM\\CurrentControlSet\\Services\\Beep")
        .dword("Start", 1)
        .dword("Type", 1)
        .expand("ImagePath", "system32\\drivers\\beep.sys");
    w.at(HKLM, "HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0")
        .dword("~MHz", 2400)
        .sz("ProcessorNameString", "Intel(R) Pentium(R) 4 CPU 2.40GHz")
        .sz("Identifier", "x86 Family 15 Model 2 Stepping 9")
        .binary("Component Information", {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0});
    // Browsable but not writable, as the device tree is for a user.
    w.at(HKLM, "SYSTEM\\CurrentControlSet\\Enum\\Root\\LEGACY_BEEP\\0000")
        .dword("Capabilities", 0)
        .sz("DeviceDesc", "Beep");
    w.at(HKLM, "SYSTEM\\CurrentControlSet\\Enum").sz("", "").access(KeyAccess::ReadOnly);
    // Cannot be opened at all, as the security hive cannot for a user.
    w.at(HKLM, "SECURITY\\Policy").sz("", "");
    w.at(HKLM, "SECURITY").access(KeyAccess::None);
}

void seedOthers(SeedWriter& w) {
    w.at(HKU, ".DEFAULT\\Control Panel\\International")
        .sz("Locale", "00000411")
        .sz("sCountry", "日本");
    w.at(HKU, ".DEFAULT\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer")
        .dword("ShellState", 0x24);
    w.at(HKU, "S-1-5-18\\Environment").expand("TEMP", "%SystemRoot%\\TEMP");
    w.at(HKCC, "Software\\Fonts").dword("LogPixels", 96);
    w.at(HKCC, "System\\CurrentControlSet\\Control\\Print\\Printers");
    w.at(HKDD, "Config Manager\\Enum\\C29A3B10")
        .sz("HardWareKey", "ROOT\\PCI\\0000")
        .binary("Status", {0x18, 0x60, 0x00, 0x00})
        .binary("Problem", {0, 0, 0, 0});
    w.at(HKDD, "PerfStats\\StatData").binary("KERNEL\\CPUUsage", {0x05, 0x00, 0x00, 0x00});
}

} // namespace

void seedRegistry(Store& store) {
    Store::Transaction txn(store);
    SeedWriter w(store);
    seedClasses(w);
    seedCurrentUser(w);
    seedLocalMachine(w);
    seedOthers(w);
    txn.commit();
}

} // namespace klv
