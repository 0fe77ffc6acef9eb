#include "core/settings/OptionRules.h"

#include <string_view>

namespace klv {

std::string ShortcutCommand::keyName() const {
    return item + "　－　" + menu;
}

const std::vector<ShortcutCommand>& shortcutCommands() {
    static const std::vector<ShortcutCommand> commands = [] {
        std::vector<ShortcutCommand> out;
        const auto add = [&out](const char* menu, std::initializer_list<const char*> items) {
            for (const char* item : items)
                out.push_back({item, menu});
        };
        add("レジストリ(&R)",
            {"編集ウィンドウの新規作成(&N)", "閉じる(&L)",
             "レジストリのステータスとバックアップ(&S)", "レジストリチェッカー(&C)",
             "レジストリチェッカーによるレジストリの再構築(&F)",
             "レジストリチェッカーによるレジストリの復元(&R)", "レジストリ ファイルの取り込み(&I)",
             "レジストリ ファイルの書き出し(&E)",
             "複数のレジストリキーをレジストリファイルに書き出し(&W)",
             "レジストリデータを詳細なテキストで書き出し(&T)", "印刷(&P)...", "終了(&X)"});
        add("編集(&E)", {"元に戻す(&U)"});
        add("新規(&N)", {"キー(&K)", "文字列(&S)", "数値（DWORD値）(&D)", "バイナリ(&B)",
                         "拡張文字列(&E)", "マルチ文字列(&M)"});
        add("編集(&E)",
            {"修正(&M)", "名前の変更(&R)", "削除(&D)", "キー名をクリップボードにコピー(&L)",
             "名前をクリップボードにコピー(&V)", "データをクリップボードにコピー(&A)",
             "切り取り(&T)", "コピー(&C)", "貼り付け(&P)", "読みとり専用(&O)"});
        add("検索(&S)", {"検索(&S)", "クイックサーチ(&Q)", "置換(&C)", "孤立エントリの検索(&K)",
                         "レジストリの変更箇所の追跡(&T)"});
        add("スクリプト(&P)", {"実行(&R)", "スクリプトの新規作成(&N)", "スクリプトの編集(&E)",
                               "QB スクリプトエディタ(&S)"});
        add("表示(&V)",
            {"選択しているキーのサブキーをすべて展開(&T)", "ツリーをすべて折り畳む(&O)",
             "元に戻すリストの表示(&R)", "お気に入りリストの表示(&F)",
             "アクセス履歴リストの表示(&H)", "横ならびのアイコン(&B)", "縦ならびのアイコン(&S)",
             "一覧(&L)", "レポート(&P)", "バリューホルダービューワ(&V)",
             "バリューホルダーのクリア(&V)", "保管値をすべて貼り付ける候補とする(&A)",
             "保管値をすべて貼り付けない候補とする(&N)",
             "保管値のうち貼り付けない候補をすべて削除(&E)"});
        add("オプション(&O)",
            {"オプション(&P)", "ツールバーのカスタマイズ(&C)",
             "ショートカットキーのカスタマイズ(&M)", "アクセス履歴の記録を一時停止(&O)",
             "ツールバー(&T)", "ステータスバー(&S)", "アドレスバー(&A)", "ファンクションパネル(&F)",
             "レジストリツリービューのフォントの指定(&N)",
             "バリューリストビューのフォントの指定(&U)", "レジストリツリー境界の変更(&K)",
             "ファンクションパネル境界の変更(&H)", "バリューリストのみ最新の情報に更新(&V)",
             "最新の情報に更新(&R)"});
        add("ウィンドウ(&W)", {"並べて表示(&T)", "重ねて表示(&C)", "アイコンの整列(&A)"});
        add("ヘルプ(&H)", {"トピックの検索(&H)"});
        return out;
    }();
    return commands;
}

void layoutToolbarRows(std::vector<ToolbarRow>& rows) {
    if (rows.empty())
        return;
    rows.front().position = 0;
    if (rows.size() < 3)
        return;
    int next = 0;
    for (std::size_t i = 1; i < rows.size(); ++i) {
        const ToolbarRow& prev = rows[i - 1];
        next = prev.position + (prev.separator ? 8 : prev.shown ? 24 : 0);
        if (i + 1 < rows.size())
            rows[i].position = next;
    }
    ToolbarRow& last = rows.back();
    if (last.position < rows[rows.size() - 2].position)
        last.position = next;
}

namespace {

// A value of a launcher's string key: backslash and line breaks escaped.
std::string entryString(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else
            out += c;
    }
    return out;
}

// One argument of Exec: always quoted, so that blanks and reserved characters are safe; the
// characters that stay special inside quotes get a backslash, and "%" is doubled so that it is
// no field code.
std::string execArgument(std::string_view arg) {
    std::string out = "\"";
    for (char c : arg) {
        if (c == '"' || c == '`' || c == '$' || c == '\\')
            out += '\\';
        if (c == '%')
            out += '%';
        out += c;
    }
    return out + '"';
}

std::string percentEncoded(std::string_view path) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : path) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::string utf8(const std::filesystem::path& p) {
    const auto s = p.u8string();
    return std::string(s.begin(), s.end());
}

} // namespace

std::string programLauncherText(const std::string& name, const std::filesystem::path& program,
                                const std::filesystem::path& workingFolder) {
    std::string text = "[Desktop Entry]\nType=Application\nVersion=1.0\n";
    text += "Name=" + entryString(name) + "\n";
    text += "Exec=" + entryString(execArgument(utf8(program))) + "\n";
    if (!workingFolder.empty())
        text += "Path=" + entryString(utf8(workingFolder)) + "\n";
    text += "Terminal=false\n";
    return text;
}

std::string fileLauncherText(const std::string& name, const std::filesystem::path& file) {
    std::string text = "[Desktop Entry]\nType=Link\nVersion=1.0\n";
    text += "Name=" + entryString(name) + "\n";
    text += "URL=file://" + entryString(percentEncoded(utf8(file))) + "\n";
    return text;
}

} // namespace klv
