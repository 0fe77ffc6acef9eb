#pragma once
// Reads registry files as the platform's own registry editor reads them.
//
// The first line must be exactly "REGEDIT4" or "Windows Registry Editor Version 5.00" (leading
// blanks allowed). The file is UTF-16LE when it starts with the byte order mark FF FE and CP932
// otherwise; a CP932 file is read character by character, so the second byte of a double-byte
// character never acts as "\", "[", "]" or a quote. Names and texts that CP932 can hold are
// handed on as CP932, others in their UTF-16LE form (StoredName::wide, RawValue::dataWide).
#include "core/regfiles/RegFileForm.h"
#include "core/regfiles/RegFileSink.h"
#include "core/registry/RootKeys.h"

#include <string_view>

namespace klv {

class RegFileReader {
public:
    // Roots are accepted by their full names, without regard to case, among the first
    // `rootCount` of kRootKeys.
    explicit RegFileReader(int rootCount = kRootKeyCount) : rootCount_(rootCount) {}

    // Hands every request of the file to `sink` in order. At the first malformed line, or the
    // first request the sink refuses, it stops with RegFileError naming the line (the file
    // name is left to the caller). Returns the form the header names.
    RegFileForm read(std::string_view bytes, RegFileSink& sink) const;

private:
    int rootCount_;
};

} // namespace klv
