#pragma once
// klovreg's questions and reports on a terminal (no display).
#include "klovreg/KlovregUi.h"

#include <cstdio>

namespace klv {

class TerminalKlovregUi final : public KlovregUi {
public:
    TerminalKlovregUi(std::FILE* in, std::FILE* out) : in_(in), out_(out) {}
    // Reads one answer line: "y", "yes" or "はい" agree; anything else, or no answer, does not.
    bool confirm(const std::string& text) override;
    void inform(const std::string& text) override;
    void error(const std::string& text) override;

private:
    std::FILE* in_;
    std::FILE* out_;
};

} // namespace klv
