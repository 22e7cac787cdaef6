#pragma once

#include <vector>

#include <QString>
#include <QStringList>

#include "platform/shell.h"

namespace pictarre {

// One way to carry a shell request out: a program, looked up on PATH, and its arguments.
struct Launch {
    QString program;
    QStringList arguments;
    friend bool operator==(const Launch&, const Launch&) = default;
};

// What the translation needs to know about the running desktop.
struct DesktopContext {
    QString currentDesktop;  // XDG_CURRENT_DESKTOP, e.g. "GNOME" or "ubuntu:GNOME" or "KDE"
    QString browser;         // BROWSER, the user's chosen browser command, may be empty

    // The context of this process's environment.
    static DesktopContext fromEnvironment();
};

// The launches that carry out an open-document request on this desktop, best first; empty
// when the desktop has no equivalent. Reads a shell command file (".scf") when asked to open one.
std::vector<Launch> desktopLaunchesFor(const ShellOpenRequest& request, const DesktopContext& context);

// The launches that carry out a command line made for the Windows shell, best first; a command
// line with no known equivalent is run as it stands.
std::vector<Launch> desktopLaunchesForCommand(const QString& commandLine, const DesktopContext& context);

// Starts the first launch whose program is found on PATH, detached, in `workingFolder` when it
// is not empty; returns false when none could be started.
bool startFirstFound(const std::vector<Launch>& launches, const QString& workingFolder = {});

// Carries the shell requests out on the freedesktop desktop: each request becomes the nearest
// desktop program, started detached; when there is none, nothing happens.
class DesktopShell final : public Shell {
public:
    void openDocument(const ShellOpenRequest& request) override;
    // The window style has no meaning for a freedesktop launch and is not used.
    void runProgram(const QString& commandLine, ShowCommand windowStyle) override;
};

}  // namespace pictarre
