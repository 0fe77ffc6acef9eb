#pragma once
// A dialog service for tests: answers from queues and records every message shown.
#include "gui/widgets/DialogService.h"

#include <QStringList>
#include <deque>
#include <vector>

namespace klv::test {

struct ShownMessage {
    QString caption;
    QString text;
    MsgIcon icon;
    MsgButtons buttons;
};

class FakeDialogs : public DialogService {
public:
    FakeDialogs() { DialogService::setInstance(this); }
    ~FakeDialogs() override { DialogService::setInstance(nullptr); }

    // Queued answers; when a queue is empty a message answers Ok / Yes, an input box and the
    // file, folder and font dialogs are cancelled.
    std::deque<MsgAnswer> answers;
    std::deque<std::optional<QString>> inputs;
    std::deque<QString> fileNames;
    std::deque<bool> readOnlyBoxes; // ticks of the open dialog's read-only box
    std::deque<QString> folders;
    std::deque<std::optional<QFont>> fonts;

    std::vector<ShownMessage> shown;
    QStringList asked; // captions of the input, file, folder and font dialogs in order

    MsgAnswer message(QWidget*, const QString& caption, const QString& text, MsgIcon icon,
                      MsgButtons buttons) override {
        shown.push_back({caption, text, icon, buttons});
        if (!answers.empty()) {
            MsgAnswer a = answers.front();
            answers.pop_front();
            return a;
        }
        return buttons == MsgButtons::Ok || buttons == MsgButtons::OkCancel ? MsgAnswer::Ok
                                                                            : MsgAnswer::Yes;
    }
    std::optional<QString> inputText(QWidget*, const QString& caption, const QString&,
                                     const QString&) override {
        asked << caption;
        return pop(inputs, std::optional<QString>());
    }
    QString openFileName(QWidget*, const QString& caption, const QString&, const QString&,
                         bool* readOnly) override {
        asked << caption;
        if (readOnly)
            *readOnly = pop(readOnlyBoxes, *readOnly);
        return pop(fileNames, QString());
    }
    QString saveFileName(QWidget*, const QString& caption, const QString&,
                         const QString&) override {
        asked << caption;
        return pop(fileNames, QString());
    }
    QString folderName(QWidget*, const QString& caption, const QString&) override {
        asked << caption;
        return pop(folders, QString());
    }
    std::optional<QFont> font(QWidget*, const QFont&) override {
        asked << QStringLiteral("font");
        return pop(fonts, std::optional<QFont>());
    }

private:
    template <class T> static T pop(std::deque<T>& q, T fallback) {
        if (!q.empty()) {
            fallback = std::move(q.front());
            q.pop_front();
        }
        return fallback;
    }
};

} // namespace klv::test
