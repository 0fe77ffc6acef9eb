#include "klovreg/DialogKlovregUi.h"

#include "gui/widgets/DialogService.h"

namespace klv {
namespace {
QString caption() {
    return QStringLiteral("レジストリ エディタ");
}
} // namespace

bool DialogKlovregUi::confirm(const std::string& text) {
    return DialogService::instance().message(nullptr, caption(), QString::fromStdString(text),
                                             MsgIcon::Question,
                                             MsgButtons::YesNo) == MsgAnswer::Yes;
}

void DialogKlovregUi::inform(const std::string& text) {
    DialogService::instance().message(nullptr, caption(), QString::fromStdString(text),
                                      MsgIcon::Information, MsgButtons::Ok);
}

void DialogKlovregUi::error(const std::string& text) {
    DialogService::instance().message(nullptr, caption(), QString::fromStdString(text),
                                      MsgIcon::Error, MsgButtons::Ok);
}

} // namespace klv
