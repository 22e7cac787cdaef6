#include "platform/desktopshell.h"

#include <QDesktopServices>
#include <QProcess>
#include <QUrl>

namespace pictarre {

void DesktopShell::openDocument(const ShellOpenRequest& request)
{
    const QUrl url = request.file.startsWith(QLatin1Char('/')) ? QUrl::fromLocalFile(request.file)
                                                               : QUrl(request.file);
    QDesktopServices::openUrl(url);
}

void DesktopShell::runProgram(const QString& commandLine, int /*windowStyle*/)
{
    QStringList arguments = QProcess::splitCommand(commandLine);
    if (arguments.isEmpty())
        return;
    const QString program = arguments.takeFirst();
    QProcess::startDetached(program, arguments);
}

}  // namespace pictarre
