#include "gui/widgets/KeyPathCheck.h"

#include "core/registry/Registry.h"
#include "core/registry/RootKeys.h"
#include "gui/widgets/DialogService.h"
#include "gui/widgets/TextBridge.h"

namespace klv {

bool keyPresentOrTell(QWidget* parent, const QString& keyPathText) {
    const auto path = toCp932(keyPathText);
    if (!path) {
        showError(parent, unconvertibleTextMessage(keyPathText));
        return false;
    }
    const SplitKeyPath split = splitKeyPath(*path);
    bool present = false;
    if (split.root) {
        TRegistry reg;
        reg.RootKey(*split.root);
        present = reg.KeyPresent(split.subPath);
    }
    if (!present)
        showError(parent, QStringLiteral("指定されたレジストリキーは存在しません。"));
    return present;
}

std::optional<std::vector<std::string>> cp932TextsOrTell(QWidget* parent,
                                                         const QStringList& texts) {
    std::vector<std::string> out;
    out.reserve(static_cast<std::size_t>(texts.size()));
    for (const QString& text : texts) {
        auto cp932 = toCp932(text);
        if (!cp932) {
            showError(parent, unconvertibleTextMessage(text));
            return std::nullopt;
        }
        out.push_back(std::move(*cp932));
    }
    return out;
}

} // namespace klv
