#include "core/script/ScriptCommands.h"

#include "core/platform/Encoding.h"
#include "core/registry/RegistryError.h"
#include "core/script/ScriptHost.h"
#include "core/search/SearchEngine.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <sqlite3.h>

namespace klv {

namespace {

// The text between the character after `open` (or the line's start when absent) and the
// character before `close`.
std::string between(std::string_view line, char open, char close) {
    const std::size_t o = line.find(open);
    const std::size_t start = o == std::string_view::npos ? 0 : o + 1;
    const std::size_t end = line.find(close);
    if (end == std::string_view::npos || end < start)
        return {};
    return std::string(line.substr(start, end - start));
}

// A full key path split at its first backslash: the root's name and the sub-path from the
// backslash on.
struct FullPath {
    std::string root;
    std::string keyPath;
};

FullPath splitFullPath(std::string_view text) {
    const std::size_t slash = cp932Find(text, "\\");
    if (slash == std::string_view::npos)
        return {std::string(text), {}};
    return {std::string(text.substr(0, slash)), std::string(text.substr(slash))};
}

void selectRoot(TRegistry& reg, std::string_view name) {
    if (const auto i = rootIndexByName(name))
        reg.RootKey(kRootKeys[static_cast<std::size_t>(*i)].handle);
}

std::vector<std::string> multiItems(std::string_view data) {
    std::vector<std::string> items;
    std::size_t start = 0;
    while (start <= data.size()) {
        std::size_t end = data.find(',', start);
        if (end == std::string_view::npos)
            end = data.size();
        if (end > start)
            items.emplace_back(data.substr(start, end - start));
        start = end + 1;
    }
    return items;
}

std::string keyDeleteFailed(std::string_view path) {
    return sj("［エラー］　キーの削除に失敗しました - ") + std::string(path);
}

} // namespace

bool lineContains(std::string_view line, std::string_view name) {
    // The plain search rules out almost every line; the character-wise one confirms.
    return line.find(name) != std::string_view::npos &&
           cp932Find(line, name) != std::string_view::npos;
}

std::string singleArgument(std::string_view line) {
    return between(line, '(', ')');
}

std::string firstArgument(std::string_view line) {
    return between(line, '(', ',');
}

std::string secondArgument(std::string_view line) {
    return between(line, ',', ')');
}

std::string scriptHexBytes(std::string_view text) {
    std::string bytes;
    int high = -1;
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (isCp932Lead(c) && i + 1 < text.size()) {
            i += 2; // a double-byte character is one character, whatever its trail byte
            continue;
        }
        ++i;
        const int d = hexDigitValue(static_cast<char>(c));
        if (d < 0)
            continue;
        if (high < 0) {
            high = d;
        } else {
            bytes += static_cast<char>(high << 4 | d);
            high = -1;
        }
    }
    return bytes;
}

std::uint32_t scriptNumber(std::string_view text) {
    const auto fail = [&]() -> std::uint32_t {
        throw ScriptNumberError(notANumberText(std::string(text)));
    };
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    bool hex = false;
    if (i < text.size() && text[i] == '$') {
        hex = true;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' &&
               (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        hex = true;
        i += 2;
    }
    if (i == text.size())
        return fail();
    std::uint64_t v = 0;
    // Decimal texts must fit a signed 64-bit integer; hexadecimal ones may use all 64 bits.
    const std::uint64_t limit =
        std::uint64_t(std::numeric_limits<std::int64_t>::max()) + (negative ? 1 : 0);
    for (; i < text.size(); ++i) {
        if (hex) {
            const int d = hexDigitValue(text[i]);
            if (d < 0 || v > (std::numeric_limits<std::uint64_t>::max() >> 4))
                return fail();
            v = v << 4 | static_cast<std::uint64_t>(d);
        } else {
            if (text[i] < '0' || text[i] > '9')
                return fail();
            const auto d = static_cast<std::uint64_t>(text[i] - '0');
            if (v > (limit - d) / 10)
                return fail();
            v = v * 10 + d;
        }
    }
    if (negative)
        v = ~v + 1;
    return static_cast<std::uint32_t>(v & 0xFFFFFFFFu);
}

ScriptSession::ScriptSession(std::shared_ptr<Store> store, ScriptHost& host, bool showKeys)
    : store_(std::move(store)), host_(host), reg_(store_), showKeys_(showKeys) {}

std::int64_t ScriptSession::storeChanges() const {
    return sqlite3_total_changes64(store_->db());
}

void ScriptSession::flush() {
    for (const std::string& line : pending_)
        host_.log(line);
    pending_.clear();
}

template <class Act> void ScriptSession::inTransaction(Act&& act) {
    pending_.clear();
    const std::int64_t before = storeChanges();
    {
        // A store that cannot be written takes no transaction; the layer refuses each write
        // with its own message.
        std::optional<Store::Transaction> txn;
        if (!store_->readOnly())
            txn.emplace(*store_);
        const bool keep = act();
        // Otherwise the transaction rolls back whatever the command did half way (the
        // connection's change count keeps counting rows that were rolled back).
        if (txn && keep) {
            txn->commit();
            if (storeChanges() != before)
                ++applied_;
        }
    }
    flush();
}

void ScriptSession::openKey(std::string_view line) {
    const std::string full = firstArgument(line);
    const std::string mode = secondArgument(line);
    const FullPath p = splitFullPath(full);
    selectRoot(reg_, p.root);
    if (mode == "True" || mode == "False") {
        inTransaction([&] {
            const bool opened = reg_.OpenKey(p.keyPath, mode == "True");
            if (opened)
                say(sj("［成功］　レジストリキーのアクセスに成功しました - ") + p.root + p.keyPath);
            else
                say(sj("［エラー］　レジストリキーのアクセスに失敗しました - ") + p.root + " " +
                    p.keyPath);
            return opened;
        });
    }
    if (showKeys_) {
        host_.showKey(full);
        host_.log(sj("［処理］　該当キーを表示しました"));
    }
}

void ScriptSession::deleteKey(std::string_view line) {
    const std::string arg = singleArgument(line);
    if (arg.find("HKEY_") == std::string::npos) {
        inTransaction([&] {
            const bool deleted = reg_.DeleteKey(arg);
            say(deleted ? sj("［成功］　キーを削除しました - ") + arg : keyDeleteFailed(arg));
            return deleted;
        });
        return;
    }
    // A path that names its root is deleted under that root, whatever root the script's
    // connection is on; a separate access object leaves that connection's state alone.
    const FullPath p = splitFullPath(arg);
    const std::string used = p.keyPath.empty() ? std::string() : p.keyPath.substr(1);
    const auto root = rootIndexByName(p.root);
    inTransaction([&] {
        bool deleted = false;
        if (root && !used.empty()) {
            TRegistry other(store_);
            other.RootKey(kRootKeys[static_cast<std::size_t>(*root)].handle);
            deleted = other.DeleteKey("\\" + used);
        }
        say(deleted ? sj("［成功］　キーを削除しました - ") + used : keyDeleteFailed(used));
        return deleted;
    });
}

void ScriptSession::deleteAllValues() {
    std::vector<std::string> names;
    reg_.ListValues(names);
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        const std::string fa = cp932Upper(a), fb = cp932Upper(b);
        return fa != fb ? fa < fb : a < b;
    });
    inTransaction([&] {
        bool all = true;
        for (const std::string& n : names)
            all = reg_.DeleteValue(n) && all;
        // All of them or none: when one stays, every value stays and each is reported so.
        for (const std::string& n : names)
            say((all ? sj("［成功］　値を削除しました - ")
                     : sj("［エラー］　値の削除に失敗しました - ")) +
                n);
        return all;
    });
}

bool ScriptSession::valueBox(ScriptCommand command, std::string_view line) {
    ScriptValueBoxRequest r;
    r.location = firstArgument(line);
    r.name = secondArgument(line);
    std::string logLine;
    switch (command) {
    case ScriptCommand::InputStringBox:
        r.kind = ScriptValueBox::String;
        r.text = reg_.ReadText(r.name);
        logLine = sj("［処理］　文字列の編集ボックスを表示しました");
        break;
    case ScriptCommand::InputExpandStringBox:
        r.kind = ScriptValueBox::ExpandString;
        r.text = reg_.ReadText(r.name);
        logLine = sj("［処理］　拡張文字列の編集ボックスを表示しました");
        break;
    case ScriptCommand::InputIntegerBox:
        r.kind = ScriptValueBox::Integer;
        r.number = reg_.ReadDword(r.name);
        logLine = sj("［処理］　数値の編集ボックスを表示しました");
        break;
    case ScriptCommand::InputMultiStringBox:
        r.kind = ScriptValueBox::MultiString;
        reg_.ReadMultiText(r.name, r.items);
        logLine = sj("［処理］　マルチ文字列の編集ボックスを表示しました");
        break;
    default:
        r.kind = ScriptValueBox::Binary;
        if (!reg_.ValuePresent(r.name))
            return false;
        r.bytes = reg_.ReadBinary(r.name);
        if (r.bytes.empty())
            return false;
        logLine = sj("［処理］　バイナリの編集ボックスを表示しました");
        break;
    }
    // The box writes on OK itself; a change it makes through this store counts as applied.
    const std::int64_t before = storeChanges();
    host_.valueBox(r);
    if (storeChanges() != before)
        ++applied_;
    host_.log(logLine);
    return true;
}

bool ScriptSession::run(ScriptCommand command, std::string_view line) {
    switch (command) {
    case ScriptCommand::RootKey: {
        const std::string root = singleArgument(line);
        selectRoot(reg_, root);
        host_.log(sj("［成功］　現在のルートを ") + root + sj(" に設定しました"));
        break;
    }
    case ScriptCommand::OpenKey:
        openKey(line);
        break;
    case ScriptCommand::CloseKey:
        reg_.CloseKey();
        host_.log(sj("［成功］　レジストリキーを閉じました"));
        break;
    case ScriptCommand::CreateKey: {
        const std::string path = singleArgument(line);
        inTransaction([&] {
            bool created = false;
            try {
                created = reg_.CreateKey(path);
            } catch (const RegistryError&) {
            }
            say(created ? sj("［成功］　キーを新規作成しました - ") + path
                        : sj("［エラー］　キーの新規作成に失敗しました - ") + path);
            return created;
        });
        break;
    }
    case ScriptCommand::WriteString:
    case ScriptCommand::WriteExpandString: {
        const std::string name = firstArgument(line), data = secondArgument(line);
        const bool expand = command == ScriptCommand::WriteExpandString;
        inTransaction([&] {
            if (expand)
                reg_.WriteExpandString(name, data);
            else
                reg_.WriteString(name, data);
            say((expand ? sj("［成功］　拡張文字列を書き込みました - (値)")
                        : sj("［成功］　文字列を書き込みました - (値)")) +
                name + sj(" (データ)") + data);
            return true;
        });
        break;
    }
    case ScriptCommand::WriteInteger:
    case ScriptCommand::WriteInt16: {
        const std::string name = firstArgument(line), data = secondArgument(line);
        const std::uint32_t n =
            scriptNumber(command == ScriptCommand::WriteInt16 ? "$" + data : data);
        inTransaction([&] {
            reg_.WriteInteger(name, n);
            say(sj("［成功］　数値を書き込みました - (値)") + name + sj(" (データ)") + data);
            return true;
        });
        break;
    }
    case ScriptCommand::WriteMultiString: {
        const std::string name = firstArgument(line), data = secondArgument(line);
        inTransaction([&] {
            reg_.WriteMultiString(name, multiItems(data));
            say(sj("［成功］　マルチ文字列を書き込みました - (値)") + name + sj(" (データ)") +
                data);
            return true;
        });
        break;
    }
    case ScriptCommand::WriteBinary: {
        const std::string name = firstArgument(line), data = secondArgument(line);
        inTransaction([&] {
            reg_.WriteBinary(name, scriptHexBytes(data));
            say(sj("［成功］　バイナリを書き込みました - (値)") + name + sj(" (データ)") + data);
            return true;
        });
        break;
    }
    case ScriptCommand::DeleteKey:
        deleteKey(line);
        break;
    case ScriptCommand::DeleteValue: {
        const std::string name = singleArgument(line);
        inTransaction([&] {
            const bool deleted = reg_.DeleteValue(name);
            say(deleted ? sj("［成功］　値を削除しました - ") + name
                        : sj("［エラー］　値の削除に失敗しました - ") + name);
            return deleted;
        });
        break;
    }
    case ScriptCommand::DeleteAllValues:
        deleteAllValues();
        break;
    case ScriptCommand::RenameValue: {
        const std::string oldName = firstArgument(line), newName = secondArgument(line);
        inTransaction([&] {
            reg_.RenameValue(oldName, newName);
            say(sj("［処理］　値の名前の変更を実行しました - ") + oldName + sj(" → ") + newName);
            return true;
        });
        break;
    }
    case ScriptCommand::InputStringBox:
    case ScriptCommand::InputExpandStringBox:
    case ScriptCommand::InputIntegerBox:
    case ScriptCommand::InputMultiStringBox:
    case ScriptCommand::InputBinaryBox:
        return valueBox(command, line);
    case ScriptCommand::MessageBox:
        host_.messageBox(singleArgument(line));
        host_.log(sj("［処理］　メッセージボックスを表示しました"));
        break;
    case ScriptCommand::AppClose:
        host_.log(sj("［報告］　パラメータで起動した場合は、ここで Hivemere を終了させます"));
        break;
    }
    return true;
}

} // namespace klv
