#pragma once
// The commands of the QB script language: their names in test order, the three argument forms,
// the number and byte conversions, and one session that runs commands against the registry.
// Texts are CP932.
#include "core/registry/Registry.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace klv {

class ScriptHost;

enum class ScriptCommand {
    RootKey,
    OpenKey,
    CloseKey,
    CreateKey,
    WriteString,
    WriteExpandString,
    WriteInteger,
    WriteInt16,
    WriteMultiString,
    WriteBinary,
    DeleteKey,
    DeleteValue,
    DeleteAllValues,
    RenameValue,
    InputStringBox,
    InputExpandStringBox,
    InputIntegerBox,
    InputMultiStringBox,
    InputBinaryBox,
    MessageBox,
    AppClose,
};

struct ScriptCommandName {
    ScriptCommand command;
    std::string_view name;
};

// In the order a line is tested against them.
inline constexpr std::array<ScriptCommandName, 21> kScriptCommands{{
    {ScriptCommand::RootKey, "RootKey"},
    {ScriptCommand::OpenKey, "OpenKey"},
    {ScriptCommand::CloseKey, "CloseKey"},
    {ScriptCommand::CreateKey, "CreateKey"},
    {ScriptCommand::WriteString, "WriteString"},
    {ScriptCommand::WriteExpandString, "WriteExpandString"},
    {ScriptCommand::WriteInteger, "WriteInteger"},
    {ScriptCommand::WriteInt16, "WriteInt16"},
    {ScriptCommand::WriteMultiString, "WriteMultiString"},
    {ScriptCommand::WriteBinary, "WriteBinary"},
    {ScriptCommand::DeleteKey, "DeleteKey"},
    {ScriptCommand::DeleteValue, "DeleteValue"},
    {ScriptCommand::DeleteAllValues, "DeleteAllValues"},
    {ScriptCommand::RenameValue, "RenameValue"},
    {ScriptCommand::InputStringBox, "InputStringBox"},
    {ScriptCommand::InputExpandStringBox, "InputExpandStringBox"},
    {ScriptCommand::InputIntegerBox, "InputIntegerBox"},
    {ScriptCommand::InputMultiStringBox, "InputMultiStringBox"},
    {ScriptCommand::InputBinaryBox, "InputBinaryBox"},
    {ScriptCommand::MessageBox, "MessageBox"},
    {ScriptCommand::AppClose, "AppClose"},
}};

// Whether `name` occurs in `line` at a character boundary (a trail byte of a double-byte
// character never starts a match).
bool lineContains(std::string_view line, std::string_view name);

// The argument forms; positions are those of the first "(", "," and ")" of the whole line.
// A missing closing mark, or one before the opening mark, gives the empty text.
std::string singleArgument(std::string_view line); // "(" .. ")"
std::string firstArgument(std::string_view line);  // "(" .. ","
std::string secondArgument(std::string_view line); // "," .. ")"

// Every hexadecimal digit in order, two to a byte (high digit first); everything else is
// skipped and a trailing unpaired digit is dropped.
std::string scriptHexBytes(std::string_view text);

// A 64-bit integer text: optional leading blanks and sign, decimal digits or "$" (or "0x")
// and hexadecimal digits. Returns its low 32 bits; throws ScriptNumberError otherwise.
std::uint32_t scriptNumber(std::string_view text);

// A text that is not a number; what() is the message for the user.
class ScriptNumberError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The registry connection of one run and the commands acting on it. Every command that
// writes runs in a transaction of its own that holds no host call: it commits whole or leaves
// nothing, and its log lines reach the host only once its outcome is settled.
class ScriptSession {
public:
    ScriptSession(std::shared_ptr<Store> store, ScriptHost& host, bool showKeys);

    // Runs one command of `line`. False when the run ends here without an error
    // (InputBinaryBox without data). Errors that end the run are thrown (RegistryError,
    // ScriptNumberError, or a failure of the store).
    bool run(ScriptCommand command, std::string_view line);
    // Commands whose changes reached the registry so far.
    std::size_t changesApplied() const { return applied_; }

private:
    // Runs a command that only touches the store; `act` says whether its change should stay.
    template <class Act> void inTransaction(Act&& act);
    void openKey(std::string_view line);
    void deleteKey(std::string_view line);
    void deleteAllValues();
    bool valueBox(ScriptCommand command, std::string_view line);
    void say(std::string line) { pending_.push_back(std::move(line)); }
    void flush();
    std::int64_t storeChanges() const;

    std::shared_ptr<Store> store_;
    ScriptHost& host_;
    TRegistry reg_;
    bool showKeys_;
    std::size_t applied_ = 0;
    std::vector<std::string> pending_;
};

} // namespace klv
