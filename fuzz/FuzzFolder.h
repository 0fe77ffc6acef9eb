#pragma once
// Shared by the fuzz targets: a temporary folder of this process's own (fuzzing processes run
// side by side), removed with everything in it when the process ends, and a store inside it.
#include "core/registry/Store.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <unistd.h>

namespace klv::fuzz {

// A property that must hold: when it does not, the condition is named and the run aborts, so
// that libFuzzer keeps the input.
[[noreturn]] inline void failed(const char* condition, int line) {
    std::fprintf(stderr, "fuzz check failed at line %d: %s\n", line, condition);
    std::abort();
}
#define FUZZ_CHECK(condition) ((condition) ? void() : ::klv::fuzz::failed(#condition, __LINE__))

class FuzzFolder {
public:
    explicit FuzzFolder(std::string_view tag)
        : path_(std::filesystem::temp_directory_path() /
                ("klovante-fuzz-" + std::string(tag) + "-" + std::to_string(::getpid()))) {
        std::filesystem::create_directories(path_);
    }
    ~FuzzFolder() {
        store_.reset();
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    FuzzFolder(const FuzzFolder&) = delete;
    FuzzFolder& operator=(const FuzzFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }

    // SYSTEM.DAT in the folder, opened at the first call and kept open.
    const std::shared_ptr<Store>& store() {
        if (!store_)
            store_ = Store::open(path_ / "SYSTEM.DAT");
        return store_;
    }

private:
    std::filesystem::path path_;
    std::shared_ptr<Store> store_;
};

} // namespace klv::fuzz
