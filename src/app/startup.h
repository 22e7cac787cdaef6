#pragma once

#include <optional>

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <sys/types.h>

class QCoreApplication;

namespace pictarre {

// Puts the whole program in its one language, Simplified Chinese: Qt's own dialogs and texts
// through Qt's translations, the browser engine's own pages through its locale. Must run before
// the first browser view is made, since the engine reads its language once when it starts.
// Dates and times shown to the user keep following the system's locale (QLocale::system()).
void useProgramLanguage(QCoreApplication& app);

// True when the command line is answered on the terminal alone (help, version, or an option or
// form the program does not know), which needs no window and so no display. Decided before any
// application object exists, on the arguments as the process got them, program name first.
bool answersOnTerminal(const QStringList& arguments);

// Reads the command line: answers --help and --version (and a wrong option) on the terminal and
// ends the process; otherwise returns the picture or folder to open, empty when none was given.
QString pathArgument(const QCoreApplication& app);

// Why the program does not start: the text of its message box, and the lines for the terminal.
struct StartRefusal {
    QString message;   // Chinese
    QString terminal;  // Chinese and English, each line ending in "\n"
};

// Why the program will not start for the effective user `uid` in `environment`, or nothing when
// it may start. The browser engine cannot set up its sandbox for
// root and then ends the process without a word; it runs without the sandbox only when the user
// asked for that (QTWEBENGINE_DISABLE_SANDBOX, or --no-sandbox among the engine's flags).
std::optional<StartRefusal> sandboxRefusal(uid_t uid, const QProcessEnvironment& environment);

// True when the environment names a display that a window could be shown on.
bool displayNamed(const QProcessEnvironment& environment);

}  // namespace pictarre
