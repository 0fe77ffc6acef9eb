#pragma once
class QCoreApplication;

namespace klv {

// Qt's own texts (the buttons of message boxes, the file dialogs) in Japanese, when Qt's
// translations are installed; otherwise Qt's English texts stay.
void installQtTranslations(QCoreApplication& app);

} // namespace klv
