#include <QDir>
#include <QFileInfo>

#include "app/frmmain.h"

namespace pictarre {

void frmMain::openArgument(const QString& path)
{
    const QFileInfo info(path);
    const QString shown = QDir::toNativeSeparators(path);
    if (!info.exists()) {
        platform_.messages.information(this, windowTitle(),
                                       QStringLiteral("找不到“%1”：没有这个图片或文件夹。").arg(shown));
        return;
    }
    // A folder is searched, so it must be listable; a picture only selects its folder, but a file
    // the user cannot read is not opened either.
    const bool readable = info.isDir() ? info.isReadable() && info.isExecutable() : info.isFile() && info.isReadable();
    if (!readable) {
        platform_.messages.information(this, windowTitle(),
                                       QStringLiteral("无法打开“%1”：不能读取这个图片或文件夹。").arg(shown));
        return;
    }
    const QString absolute = QDir::cleanPath(info.absoluteFilePath());
    Toolbar1_ButtonClick(info.isDir() ? QStringLiteral("Opendir") : QStringLiteral("OpenList"), absolute);
}

}  // namespace pictarre
