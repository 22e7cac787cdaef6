#pragma once

#include <QString>

class QCoreApplication;

namespace pictarre {

// Puts the whole program in its one language, Simplified Chinese: Qt's own dialogs and texts
// through Qt's translations, the browser engine's own pages through its locale. Must run before
// the first browser view is made, since the engine reads its language once when it starts.
// Dates and times shown to the user keep following the system's locale (QLocale::system()).
void useProgramLanguage(QCoreApplication& app);

// True when the command line only asks for text on the terminal (help or version), which needs no
// window and so no display.
bool answersOnTerminal(int argc, char** argv);

// Reads the command line: answers --help and --version (and a wrong option) on the terminal and
// ends the process; otherwise returns the picture or folder to open, empty when none was given.
QString pathArgument(const QCoreApplication& app);

}  // namespace pictarre
