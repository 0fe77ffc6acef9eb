#include "core/script/ScriptInterpreter.h"

#include "core/platform/Encoding.h"
#include "core/registry/RegistryError.h"
#include "core/script/ScriptCommands.h"
#include "core/script/ScriptHost.h"

#include <optional>
#include <string_view>

namespace klv {

namespace {

// The value of a header line: the text from the tag's length on, whether or not the tag
// stands at the start. A cut inside a double-byte character moves past that character.
std::string headerValue(std::string_view line, std::size_t tagLength) {
    std::size_t i = 0;
    while (i < tagLength && i < line.size())
        i += isCp932Lead(static_cast<unsigned char>(line[i])) && i + 1 < line.size() ? 2 : 1;
    return std::string(line.substr(i));
}

// The value of the last line holding `tag`, or nullopt when none does.
std::optional<std::string> lastHeader(const std::vector<std::string>& lines, std::string_view tag) {
    for (auto it = lines.rbegin(); it != lines.rend(); ++it)
        if (it->find(tag) != std::string::npos)
            return headerValue(*it, tag.size());
    return std::nullopt;
}

std::vector<std::string> messagePieces(std::string_view text) {
    static constexpr std::string_view kBreak = "#13#10";
    std::vector<std::string> pieces;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = text.find(kBreak, start);
        const std::string_view piece = text.substr(
            start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (!piece.empty())
            pieces.emplace_back(piece);
        if (end == std::string_view::npos)
            break;
        start = end + kBreak.size();
    }
    return pieces;
}

// The choice dialog as the header lines make it; a <BACKGROUND> line sets `showKeys`.
ScriptChoiceDialog choiceDialog(const std::vector<std::string>& lines, std::string& showKeys) {
    ScriptChoiceDialog d;
    d.caption = sj("レジストリの変更");
    d.messageLines = {sj("選択してください")};
    if (auto title = lastHeader(lines, "<TITLE>"); title && !title->empty())
        d.caption = *title;
    if (auto message = lastHeader(lines, "<MESSAGE>"); message && !message->empty())
        d.messageLines = messagePieces(*message);
    if (auto v = lastHeader(lines, "<INSTDATA>"))
        d.installEnabled = v->find("YES") != std::string::npos;
    if (auto v = lastHeader(lines, "<UNINSTDATA>"))
        d.uninstallEnabled = v->find("YES") != std::string::npos;
    if (auto v = lastHeader(lines, "<BACKGROUND>"))
        showKeys = v->find("YES") != std::string::npos ? "1" : "0";
    return d;
}

// Index of the last line equal to `marker`; 0 when there is none.
std::size_t lastMarker(const std::vector<std::string>& lines, std::string_view marker) {
    for (std::size_t i = lines.size(); i-- > 0;)
        if (lines[i] == marker)
            return i;
    return 0;
}

// How the command loop ended.
enum class LoopEnd { Finished, Stopped, Failed };

struct LoopOutcome {
    LoopEnd end = LoopEnd::Finished;
    std::size_t line = 0;
    std::string error;
};

LoopOutcome runLines(const std::vector<std::string>& lines, std::size_t begin, std::size_t end,
                     ScriptSession& session, ScriptHost& host) {
    for (std::size_t i = begin; i <= end && i < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (line.find("//") != std::string::npos)
            continue;
        for (const ScriptCommandName& c : kScriptCommands) {
            if (lineContains(line, c.name)) {
                try {
                    if (!session.run(c.command, line))
                        return {LoopEnd::Finished, i, {}};
                } catch (const RegistryError& e) {
                    return {LoopEnd::Failed, i, e.fullText()};
                } catch (const std::exception& e) {
                    return {LoopEnd::Failed, i, e.what()};
                }
            }
            if (host.stopRequested())
                return {LoopEnd::Stopped, i, {}};
        }
    }
    return {};
}

} // namespace

std::optional<std::string> scriptRefusal(bool forbidden, bool fullAccess) {
    if (forbidden)
        return sj("スクリプトの実行は禁止されています。\n\n禁止を解除するためには、オプションから"
                  "設定し直してください。");
    if (!fullAccess)
        return sj("スクリプトの実行は禁止されています。\n\n禁止を解除するためには、読みとり専用を"
                  "解除してください。");
    return std::nullopt;
}

ScriptRunResult runScript(const std::vector<std::string>& lines, ScriptHost& host,
                          std::string& showKeys, std::shared_ptr<Store> store) {
    ScriptRunResult result;
    const ScriptChoiceDialog dialog = choiceDialog(lines, showKeys);
    const ScriptChoice choice = host.choose(dialog);
    std::string error;
    if (choice == ScriptChoice::Cancel) {
        result.cancelled = true;
        host.log(sj("処理はキャンセルされました"));
    } else {
        const bool install = choice == ScriptChoice::Install;
        host.log(install ? sj("インストール処理を実行します")
                         : sj("アンインストール処理を実行します"));
        const std::size_t begin = lastMarker(lines, install ? "INSTBEGIN" : "UNINSTBEGIN");
        const std::size_t end = lastMarker(lines, install ? "INSTEND" : "UNINSTEND");
        ScriptSession session(store ? std::move(store) : Store::system(), host, showKeys == "0");
        host.log(sj("［成功］　レジストリに接続しました - スクリプト開始"));
        const LoopOutcome out = runLines(lines, begin, end, session, host);
        result.commandsApplied = session.changesApplied();
        if (out.end != LoopEnd::Finished) {
            result.stopped = out.end == LoopEnd::Stopped;
            result.failed = out.end == LoopEnd::Failed;
            result.failedLine = static_cast<int>(out.line);
            error = out.error;
            host.log((result.failed ? sj("［エラー］　") : sj("［報告］　")) +
                     std::to_string(out.line + 1) +
                     (result.failed ? sj(" 行目で中止しました - ") : sj(" 行目で停止しました - ")) +
                     lines[out.line] + sj("（それまでに ") +
                     std::to_string(result.commandsApplied) + sj(" 件の変更を適用しました）"));
        }
    } // the session's connection is released here
    if (host.stopRequested()) {
        result.stopped = true;
        host.log(sj("ユーザーがスクリプトを停止しました"));
    }
    host.log(sj("［成功］　レジストリを解放しました - スクリプト終了"));
    if (result.failed)
        host.showError(error);
    return result;
}

} // namespace klv
