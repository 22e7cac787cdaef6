#include "platform/programpaths.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <unistd.h>

#include "collect/paths.h"

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

QString ProgramPaths::pagePath() const
{
    return dataPath("picture.htm");
}

QString ProgramPaths::workingFolder() const
{
    return dataPath("temp/");
}

QString ProgramPaths::listFilePath() const
{
    return dataPath("temp/opendir.tmp");
}

QString ProgramPaths::dataPath(const char* relative) const
{
    const QByteArray folder = QFile::encodeName(dataFolder);
    return QFile::decodeName(QByteArray::fromStdString(
        joinPath(std::string_view(folder.constData(), static_cast<std::size_t>(folder.size())), relative)));
}

}  // namespace pictarre
