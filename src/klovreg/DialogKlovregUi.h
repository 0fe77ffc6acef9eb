#pragma once
// klovreg's questions and reports in message boxes, through the dialog service.
#include "klovreg/KlovregUi.h"

namespace klv {

class DialogKlovregUi final : public KlovregUi {
public:
    bool confirm(const std::string& text) override;
    void inform(const std::string& text) override;
    void error(const std::string& text) override;
};

} // namespace klv
