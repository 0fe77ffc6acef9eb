#include "klovreg/TerminalKlovregUi.h"

#include <string>

namespace klv {

bool TerminalKlovregUi::confirm(const std::string& text) {
    std::fprintf(out_, "%s\n[y/N]: ", text.c_str());
    std::fflush(out_);
    std::string answer;
    for (int c; (c = std::fgetc(in_)) != EOF && c != '\n';)
        answer.push_back(static_cast<char>(c));
    while (!answer.empty() && (answer.back() == '\r' || answer.back() == ' '))
        answer.pop_back();
    const bool yes = answer == "y" || answer == "Y" || answer == "yes" || answer == "YES" ||
                     answer == "Yes" || answer == "はい";
    if (!yes)
        std::fprintf(out_, "\n");
    return yes;
}

void TerminalKlovregUi::inform(const std::string& text) {
    std::fprintf(out_, "%s\n", text.c_str());
}

void TerminalKlovregUi::error(const std::string& text) {
    std::fprintf(out_, "%s\n", text.c_str());
}

} // namespace klv
