#pragma once

#include <QDir>
#include <QString>

namespace pictarre::test {

// Where the tests leave screenshots for a person to look at: the build's artifacts folder
// (PICTARRE_ARTIFACTS), or the temporary folder when the test runs on its own.
inline QString artifactPath(const QString& name)
{
    const QString folder = qEnvironmentVariable("PICTARRE_ARTIFACTS", QDir::tempPath());
    QDir().mkpath(folder);
    return folder + QLatin1Char('/') + name;
}

}  // namespace pictarre::test
