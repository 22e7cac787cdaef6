#include "platform/programpaths.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <unistd.h>

namespace pictarre {

ProgramPaths ProgramPaths::forProgramFolder(const QString& programFolder)
{
    ProgramPaths paths{programFolder, programFolder};
    // An installed copy under /usr cannot write beside itself: every user then gets the page
    // and the working folder in their own data folder.
    if (::access(QFile::encodeName(programFolder).constData(), W_OK) != 0) {
        const QString own = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
        if (!own.isEmpty() && QDir().mkpath(own))
            paths.dataFolder = QDir::cleanPath(own);
    }
    return paths;
}

}  // namespace pictarre
