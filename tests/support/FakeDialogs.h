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
    std::deque<QString> fileTypes; // the file type chosen in the save dialog

    std::vector<ShownMessage> shown;
    QStringList asked;         // captions of the input, file, folder and font dialogs in order
    QStringList fileTypeLists; // the file types each save dialog offered
    QStringList opened;        // files handed to the desktop's default program

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
    QString saveFileName(QWidget*, const QString& caption, const QString&, const QString& filter,
                         QString* selectedFilter) override {
        asked << caption;
        fileTypeLists << filter;
        if (selectedFilter)
            *selectedFilter = pop(fileTypes, *selectedFilter);
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
    bool openWithDesktop(const QString& file) override {
        opened << file;
        return true;
    }

private:
    template <class T> static T pop(std::deque<T>& q, const T& fallback) {
        if (q.empty())
            return fallback;
        T front = q.front();
        q.pop_front();
        return front;
    }
    // Optional answers are taken apart and put together again: moving the optional itself makes
    // GCC's optimiser warn about its payload.
    template <class T> static std::optional<T> pop(std::deque<std::optional<T>>& q,
                                                  const std::optional<T>&) {
        if (q.empty())
            return std::nullopt;
        const bool given = q.front().has_value();
        T value = given ? *q.front() : T();
        q.pop_front();
        if (!given)
            return std::nullopt;
        return std::optional<T>(std::in_place, value);
    }
};

} // namespace klv::test
