#include <memory>

#include <QApplication>
#include <QTimer>

#include "app/desktopplatform.h"
#include "app/frmmain.h"
#include "app/startup.h"

int main(int argc, char** argv)
{
    // Help and version are answered on the terminal, where there may be no display to open.
    const std::unique_ptr<QCoreApplication> app = pictarre::answersOnTerminal(argc, argv)
        ? std::make_unique<QCoreApplication>(argc, argv)
        : std::make_unique<QApplication>(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("pictarre"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PICTARRE_VERSION));
    pictarre::useProgramLanguage(*app);
    const QString path = pictarre::pathArgument(*app);

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
