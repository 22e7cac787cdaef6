#pragma once

#include <optional>

#include <QString>

namespace pictarre {

// How a started program's window is to be shown. The show commands of an open request and the
// window styles of a command line use the same numbers for these three.
enum class ShowCommand : int {
    Hidden = 0,
    Normal = 1,     // a normal window with the focus
    Minimized = 2,  // minimised, with the focus
};

// A request to open a document, folder or address through the desktop shell, kept as the
// program makes it: verb, file, parameters and working folder (nothing = no text at all,
// empty = a text of length zero) and the show command.
struct ShellOpenRequest {
    QString verb;
    QString file;
    std::optional<QString> parameters;
    std::optional<QString> directory;
    ShowCommand showCommand = ShowCommand::Normal;
    friend bool operator==(const ShellOpenRequest&, const ShellOpenRequest&) = default;
};

// The desktop shell: starts other programs and returns at once, never waiting for them and
// never reporting a failure to the user.
class Shell {
public:
    virtual ~Shell() = default;
    virtual void openDocument(const ShellOpenRequest& request) = 0;
    // Runs a command line with a window style, without waiting for it.
    virtual void runProgram(const QString& commandLine, ShowCommand windowStyle) = 0;
};

}  // namespace pictarre
