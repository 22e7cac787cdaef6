#include <cstdio>
#include <memory>

#include <QApplication>
#include <QTimer>

#include <unistd.h>

#include "app/compositing.h"
#include "app/desktopplatform.h"
#include "app/frmmain.h"
#include "app/startup.h"

namespace {

QStringList commandLine(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments += QString::fromLocal8Bit(argv[i]);
    return arguments;
}

}  // namespace

int main(int argc, char** argv)
{
    // Help, version and a wrong command line are answered on the terminal, where there may be no
    // display to open: the window's application is made only for a command line that needs it.
    const bool terminalOnly = pictarre::answersOnTerminal(commandLine(argc, argv));
    const QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const std::optional<pictarre::StartRefusal> refusal =
        terminalOnly ? std::nullopt : pictarre::sandboxRefusal(::geteuid(), environment);
    if (refusal) {
        std::fputs(refusal->terminal.toLocal8Bit().constData(), stderr);
        if (!pictarre::displayNamed(environment))
            return 1;
    }
    const std::unique_ptr<QCoreApplication> app = terminalOnly
        ? std::make_unique<QCoreApplication>(argc, argv)
        : std::make_unique<QApplication>(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("pictarre"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PICTARRE_VERSION));
    pictarre::useProgramLanguage(*app);
    if (refusal) {
        pictarre::QtMessageBoxes().information(nullptr, QStringLiteral("Pictarre"), refusal->message);
        return 1;
    }
    const QString path = pictarre::pathArgument(*app);

    pictarre::settleCompositing(environment);
    pictarre::DesktopPlatform desktop;
    pictarre::frmMain window(desktop.platform(),
                             pictarre::ProgramPaths::forProgramFolder(QCoreApplication::applicationDirPath()));
    window.show();
    // The picture or folder the program was started with opens once the window is up, as if
    // chosen in its dialog.
    if (!path.isEmpty())
        QTimer::singleShot(0, &window, [&window, path] { window.openArgument(path); });
    return app->exec();
}
