#pragma once
// The help file KLOVANTE.HLP, which stands here as a folder HELP of HTML pages beside the
// program, one page per topic, opened in the desktop's browser.
#include <QString>

class QWidget;

namespace klv {

// Opens the page `page` ("index.html", "topic88.html"); without it an information box says that
// no help is installed.
void showHelpPage(QWidget* parent, const QString& page);
// The page of a numbered topic.
void showHelpTopic(QWidget* parent, int topic);

} // namespace klv
