#pragma once
// Reversing one value or key change of the undo log on the registry.
#include "core/undo/UndoEntry.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace klv {

class TRegistry;

// What reversing an entry takes.
enum class UndoAction {
    WriteString,
    WriteExpandString,
    WriteInteger,     // 変更前 is the whole decimal number
    WriteIntegerText, // 変更前 is a data text, the number up to its first blank
    WriteBinary,
    WriteMultiString,
    DeleteValue,
    DeleteKey,
    RestoreKey,
    MoveKeyBack,
    RenameValueBack,
    Nothing, // an operation this program does not know
};

UndoAction undoActionFor(const std::string& operation);

// A decimal integer as the undo reads it (64-bit, the low 32 bits kept); nullopt when the
// text is not one.
std::optional<std::uint32_t> integerOfText(std::string_view text);

// Carries out every action but RestoreKey on `reg`, whose root is the entry's. Throws
// UndoError when the registry refuses or the entry's texts cannot be read.
void applyUndo(const UndoEntry& e, UndoAction action, TRegistry& reg);

} // namespace klv
