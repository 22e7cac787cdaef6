#pragma once

#include <QString>

namespace pictarre {

// Where the program keeps its files: the program folder (the executable's folder, where the
// installed "sys" folder lives) and the data folder that receives the gallery page and "temp/"
// (the program folder itself when it can be written, else the per-user application data
// folder). Neither ends in a separator, except the root.
struct ProgramPaths {
    QString programFolder;
    QString dataFolder;

    // The paths for a program running from `programFolder`.
    static ProgramPaths forProgramFolder(const QString& programFolder);

    // The gallery page, the working folder (with its trailing separator) and the image list file.
    QString pagePath() const;
    QString workingFolder() const;
    QString listFilePath() const;
    // A path below the data folder, with one separator between them (none doubled at "/").
    QString dataPath(const char* relative) const;
};

}  // namespace pictarre
