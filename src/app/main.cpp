#include <QApplication>

#include "app/frmmain.h"
#include "app/desktopplatform.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("pictarre"));

    pictarre::DesktopPlatform desktop;
    pictarre::frmMain window(desktop.platform(),
                             pictarre::ProgramPaths::forProgramFolder(QCoreApplication::applicationDirPath()));
    window.show();
    return app.exec();
}
