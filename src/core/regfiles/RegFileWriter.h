#pragma once
// Writes registry files in the layout of Windows' own registry editor: the header, then for
// each key an empty line, "[root\path]" and its values, and a closing empty line; CR LF line
// ends; long hex lists continued with "\" so that lines stay within 80 columns.
//
// Every value is written so that reading the file back gives its type and bytes unchanged:
// a text value that is not exactly one text with its terminating NUL is written as hex bytes,
// and one without a terminating NUL as "hex(01):" (the reader then adds no NUL). Names and
// texts that the file's form cannot hold are reported (Skipped or Approximate) rather than
// written wrongly in silence.
#include "core/regfiles/RegFileForm.h"
#include "core/registry/Store.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace klv {

class RegFileWriter {
public:
    // Receives the file's bytes in large pieces.
    using Flush = std::function<void(std::string_view)>;

    enum class Outcome {
        Exact,       // reads back unchanged
        Approximate, // written, but some characters of its data cannot be held by this form
        Skipped,     // not written: its name cannot be held by this form
    };

    RegFileWriter(RegFileForm form, Flush flush, std::size_t bufferBytes = std::size_t{1} << 22);

    void writeHeader();
    // The key path becomes the root alone.
    void startRoot(std::string_view rootName);
    // Appends a key name to the path; false (path unchanged) when the form cannot hold it.
    bool pushName(const StoredName& name);
    void popName();
    // "\r\n[path]\r\n"
    void writeKeyLine();
    Outcome writeValue(const RawValue& value);
    // The closing empty line.
    void writeEnd();
    // Hands everything buffered to the flush function.
    void flush();
    // writeEnd() and flush().
    void finish();

    // Whether a key name can stand in a key line of this form.
    static bool canHoldKeyName(RegFileForm form, const StoredName& name);

    std::uint64_t bytesWritten() const { return written_ + buf_.size(); }

private:
    bool wide() const { return form_ == RegFileForm::Unicode; }
    void ascii(std::string_view s);
    void ascii(char c);
    void escaped(std::string_view cp932);
    void escaped(std::u16string_view s);
    // Writes `"name"=` or `@=`; returns its length in characters, or -1 when skipped.
    long valueName(const StoredName& name);
    Outcome stringData(const RawValue& v);
    Outcome textHexData(const RawValue& v, long lineLen);
    void hexData(std::uint32_t type, bool keepExact, std::string_view bytes, long lineLen);
    void maybeFlush();

    RegFileForm form_;
    Flush flush_;
    std::size_t bufferBytes_;
    std::string buf_;
    std::uint64_t written_ = 0;
    std::string path_; // in the file's encoding
    std::vector<std::size_t> pathLengths_;
    std::u16string units_;
    std::string scratch_; // converted data
    std::string hexLine_; // a hex list before widening
};

} // namespace klv
