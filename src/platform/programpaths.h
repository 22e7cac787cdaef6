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
};

}  // namespace pictarre
