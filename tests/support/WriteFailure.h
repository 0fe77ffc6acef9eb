#pragma once
// Injects a full device into the atomic file writer for the life of the object.
#include "core/platform/AtomicFile.h"

#include <cstddef>
#include <optional>

namespace klv::test {

class WriteFailure {
public:
    explicit WriteFailure(std::size_t failAfterBytes) { setWriteFailureForTesting(failAfterBytes); }
    ~WriteFailure() { setWriteFailureForTesting(std::nullopt); }
    WriteFailure(const WriteFailure&) = delete;
    WriteFailure& operator=(const WriteFailure&) = delete;
};

} // namespace klv::test
