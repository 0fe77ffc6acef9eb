#pragma once
// How klovreg talks to the user when it imports a file that was opened (not a silent import):
// it asks first and reports the result, in message boxes or on the terminal. Texts are UTF-8.
#include <string>

namespace klv {

class KlovregUi {
public:
    virtual ~KlovregUi() = default;
    // True when the user agrees.
    virtual bool confirm(const std::string& text) = 0;
    virtual void inform(const std::string& text) = 0;
    virtual void error(const std::string& text) = 0;
};

} // namespace klv
