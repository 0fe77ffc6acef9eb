#pragma once
// A registry file that cannot be read or written: what() names the file, the line when there
// is one, and the reason, in CP932.
#include "core/registry/RegistryError.h"

#include <filesystem>
#include <string>

namespace klv {

class RegFileError : public RegistryError {
public:
    // `file` is the file's name for messages (CP932); `line` 0 when no line is concerned.
    RegFileError(std::string file, int line, std::string reason);

    const std::string& file() const { return file_; }
    int line() const { return line_; }
    const std::string& reason() const { return reason_; }
    // The same error for another file name (the reader does not know the file it reads).
    RegFileError inFile(std::string file) const {
        return RegFileError(std::move(file), line_, reason_);
    }

private:
    std::string file_;
    int line_;
    std::string reason_;
};

// A file path as CP932 text for messages ("〓" for characters CP932 lacks).
std::string pathText(const std::filesystem::path& path);

} // namespace klv
