#include "core/undo/UndoActions.h"

#include "core/platform/Encoding.h"
#include "core/registry/Registry.h"
#include "core/registry/RegistryError.h"
#include "core/registry/ValueText.h"
#include "core/undo/UndoLog.h"

#include <array>
#include <charconv>
#include <utility>
#include <vector>

namespace klv {
namespace {

// The type column's texts that follow "値の削除 - " and "切り取り - ".
constexpr std::array<std::pair<std::string_view, UndoAction>, 5> kRemovedKinds{{
    {"文字列", UndoAction::WriteString},
    {"拡張文字列", UndoAction::WriteExpandString},
    {"数値", UndoAction::WriteIntegerText},
    {"バイナリ", UndoAction::WriteBinary},
    {"マルチ文字列", UndoAction::WriteMultiString},
}};

constexpr std::array<std::pair<std::string_view, UndoAction>, 16> kActions{{
    {undo_op::StringChanged, UndoAction::WriteString},
    {undo_op::ExpandChanged, UndoAction::WriteExpandString},
    {undo_op::IntegerChanged, UndoAction::WriteInteger},
    {undo_op::BinaryChanged, UndoAction::WriteBinary},
    {undo_op::MultiChanged, UndoAction::WriteMultiString},
    {undo_op::StringCreated, UndoAction::DeleteValue},
    {undo_op::IntegerCreated, UndoAction::DeleteValue},
    {undo_op::BinaryCreated, UndoAction::DeleteValue},
    {undo_op::ExpandCreated, UndoAction::DeleteValue},
    {undo_op::MultiCreated, UndoAction::DeleteValue},
    {undo_op::Pasted, UndoAction::DeleteValue},
    {undo_op::KeyCreated, UndoAction::DeleteKey},
    {undo_op::KeyDeleted, UndoAction::RestoreKey},
    {undo_op::KeyRenamed, UndoAction::MoveKeyBack},
    {undo_op::ValueRenamed, UndoAction::RenameValueBack},
    {"", UndoAction::Nothing},
}};

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    if (text.empty())
        return lines;
    std::size_t from = 0;
    for (;;) {
        const std::size_t end = text.find("\r\n", from);
        lines.push_back(text.substr(from, end - from));
        if (end == std::string::npos)
            break;
        from = end + 2;
    }
    return lines;
}

[[noreturn]] void fail(const std::string& message) {
    throw UndoError(message);
}

std::string shownKey(const UndoEntry& e) {
    return e.root + e.keyPath;
}

// Opens the entry's key for writing; `create` makes it when missing.
bool openKey(TRegistry& reg, const UndoEntry& e, bool create) {
    if (reg.OpenKey(e.keyPath, create))
        return true;
    if (create)
        fail(sj("キー ") + shownKey(e) + sj(" を書き込み用に開けません"));
    return false;
}

} // namespace

UndoAction undoActionFor(const std::string& operation) {
    for (const auto& [name, action] : kActions)
        if (!name.empty() && operation == sj(name))
            return action;
    for (const std::string_view prefix : {undo_op::ValueDeletedPrefix, undo_op::ValueCutPrefix}) {
        const std::string p = sj(prefix);
        if (operation.starts_with(p))
            for (const auto& [kind, action] : kRemovedKinds)
                if (operation.compare(p.size(), std::string::npos, sj(kind)) == 0)
                    return action;
    }
    return UndoAction::Nothing;
}

std::optional<std::uint32_t> integerOfText(std::string_view text) {
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    std::int64_t v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(v) & 0xFFFFFFFFu);
}

void applyUndo(const UndoEntry& e, UndoAction action, TRegistry& reg) {
    struct CloseOnExit {
        TRegistry& reg;
        ~CloseOnExit() { reg.CloseKey(); }
    } closer{reg};
    try {
        switch (action) {
        case UndoAction::WriteString:
            openKey(reg, e, true);
            reg.WriteString(e.valueName, e.before);
            break;
        case UndoAction::WriteExpandString:
            openKey(reg, e, true);
            reg.WriteExpandString(e.valueName, e.before);
            break;
        case UndoAction::WriteInteger:
        case UndoAction::WriteIntegerText: {
            std::string_view text = e.before;
            if (action == UndoAction::WriteIntegerText)
                text = text.substr(0, text.find(' '));
            const auto v = integerOfText(text);
            if (!v)
                fail(sj("元のデータ \"") + e.before + sj("\" は数値ではないため、元に戻せません"));
            openKey(reg, e, true);
            reg.WriteInteger(e.valueName, *v);
            break;
        }
        case UndoAction::WriteBinary:
            openKey(reg, e, true);
            reg.WriteBinary(e.valueName, parseHexText(e.before));
            break;
        case UndoAction::WriteMultiString:
            openKey(reg, e, true);
            reg.WriteMultiString(e.valueName, linesOf(e.before));
            break;
        case UndoAction::DeleteValue:
            // A key that is gone holds no value to take back; making it would add a key.
            if (openKey(reg, e, false))
                reg.DeleteValue(e.valueName);
            break;
        case UndoAction::DeleteKey:
            if (!e.keyPath.empty() && reg.KeyPresent(e.keyPath) && !reg.DeleteKey(e.keyPath))
                fail(sj("キー ") + shownKey(e) + sj(" を削除できません"));
            break;
        case UndoAction::MoveKeyBack:
            reg.MoveKey(e.after, e.before, true);
            break;
        case UndoAction::RenameValueBack:
            if (!openKey(reg, e, false))
                fail(sj("キー ") + shownKey(e) + sj(" が見つかりません"));
            reg.RenameValue(e.after, e.before);
            break;
        case UndoAction::RestoreKey:
        case UndoAction::Nothing:
            break;
        }
    } catch (const RegistryError& err) {
        fail(err.fullText());
    }
}

} // namespace klv
