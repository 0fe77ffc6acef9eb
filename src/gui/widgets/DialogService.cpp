#include "gui/widgets/DialogService.h"

#include <QApplication>
#include <QCheckBox>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFontDialog>
#include <QGridLayout>
#include <QInputDialog>
#include <QMessageBox>
#include <QUrl>

namespace klv {
namespace {

class QtDialogService final : public DialogService {
public:
    MsgAnswer message(QWidget* parent, const QString& caption, const QString& text, MsgIcon icon,
                      MsgButtons buttons) override {
        QMessageBox box(parent);
        box.setWindowTitle(caption);
        box.setText(text);
        switch (icon) {
        case MsgIcon::None:
            box.setIcon(QMessageBox::NoIcon);
            break;
        case MsgIcon::Information:
            box.setIcon(QMessageBox::Information);
            break;
        case MsgIcon::Warning:
            box.setIcon(QMessageBox::Warning);
            break;
        case MsgIcon::Error:
            box.setIcon(QMessageBox::Critical);
            break;
        case MsgIcon::Question:
            box.setIcon(QMessageBox::Question);
            break;
        }
        switch (buttons) {
        case MsgButtons::Ok:
            box.setStandardButtons(QMessageBox::Ok);
            break;
        case MsgButtons::OkCancel:
            box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
            break;
        case MsgButtons::YesNo:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            break;
        case MsgButtons::YesNoCancel:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
            break;
        }
        switch (box.exec()) {
        case QMessageBox::Ok:
            return MsgAnswer::Ok;
        case QMessageBox::Yes:
            return MsgAnswer::Yes;
        case QMessageBox::No:
            return MsgAnswer::No;
        default:
            return MsgAnswer::Cancel;
        }
    }

    std::optional<QString> inputText(QWidget* parent, const QString& caption, const QString& prompt,
                                     const QString& initial) override {
        bool ok = false;
        QString s = QInputDialog::getText(parent, caption, prompt, QLineEdit::Normal, initial, &ok);
        if (!ok)
            return std::nullopt;
        return s;
    }

    QString openFileName(QWidget* parent, const QString& caption, const QString& folder,
                         const QString& filter, bool* readOnly) override {
        if (!readOnly)
            return QFileDialog::getOpenFileName(parent, caption, folder, filter);
        // Native dialogs take no extra controls, so the box goes under Qt's own dialog.
        QFileDialog d(parent, caption, folder, filter);
        d.setOption(QFileDialog::DontUseNativeDialog);
        d.setFileMode(QFileDialog::ExistingFile);
        d.setAcceptMode(QFileDialog::AcceptOpen);
        auto* box = new QCheckBox(QStringLiteral("読み取り専用で開く(&R)"), &d);
        box->setChecked(*readOnly);
        if (auto* grid = qobject_cast<QGridLayout*>(d.layout()))
            grid->addWidget(box, grid->rowCount(), 0, 1, grid->columnCount());
        if (d.exec() != QDialog::Accepted || d.selectedFiles().isEmpty())
            return QString();
        *readOnly = box->isChecked();
        return d.selectedFiles().constFirst();
    }

    QString saveFileName(QWidget* parent, const QString& caption, const QString& folder,
                         const QString& filter, QString* selectedFilter) override {
        return QFileDialog::getSaveFileName(parent, caption, folder, filter, selectedFilter);
    }

    QString folderName(QWidget* parent, const QString& caption, const QString& folder) override {
        return QFileDialog::getExistingDirectory(parent, caption, folder);
    }

    std::optional<QFont> font(QWidget* parent, const QFont& initial) override {
        bool ok = false;
        QFont f = QFontDialog::getFont(&ok, initial, parent);
        if (!ok)
            return std::nullopt;
        return f;
    }

    bool openWithDesktop(const QString& file) override {
        return QDesktopServices::openUrl(QUrl::fromLocalFile(file));
    }
};

DialogService* installed = nullptr;

} // namespace

DialogService::~DialogService() = default;

DialogService& DialogService::instance() {
    static QtDialogService qt;
    return installed ? *installed : qt;
}

void DialogService::setInstance(DialogService* service) {
    installed = service;
}

void showError(QWidget* parent, const QString& text) {
    DialogService::instance().message(parent, QStringLiteral("エラー"), text, MsgIcon::Error,
                                      MsgButtons::Ok);
}

void showWarning(QWidget* parent, const QString& text) {
    DialogService::instance().message(parent, QStringLiteral("警告"), text, MsgIcon::Warning,
                                      MsgButtons::Ok);
}

void showInformation(QWidget* parent, const QString& caption, const QString& text) {
    DialogService::instance().message(parent, caption, text, MsgIcon::Information, MsgButtons::Ok);
}

bool askYesNo(QWidget* parent, const QString& caption, const QString& text) {
    return DialogService::instance().message(parent, caption, text, MsgIcon::Question,
                                             MsgButtons::YesNo) == MsgAnswer::Yes;
}

QString withDefaultExtension(const QString& file, const QString& extension) {
    if (file.isEmpty())
        return file;
    const qsizetype slash = file.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = file.lastIndexOf(QLatin1Char('.'));
    if (dot > slash + 1 && dot < file.size() - 1)
        return file;
    // "name." keeps its dot, as Windows save dialogs do not double it
    return file.endsWith(QLatin1Char('.')) ? file + extension : file + QLatin1Char('.') + extension;
}

} // namespace klv
