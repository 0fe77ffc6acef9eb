#pragma once
// A whole file mapped into memory for reading (registry files run to hundreds of megabytes).
#include <filesystem>
#include <string>
#include <string_view>

namespace klv {

class MappedFile {
public:
    // Throws RegFileError when the file cannot be opened or read.
    explicit MappedFile(const std::filesystem::path& path);
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    std::string_view bytes() const { return {data_, size_}; }

private:
    const char* data_ = nullptr;
    std::size_t size_ = 0;
    void* map_ = nullptr;  // set when mapped
    std::string fallback_; // contents read when the file cannot be mapped (a pipe)
};

} // namespace klv
