#include "platform/desktopshell.h"

#include <algorithm>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

namespace pictarre {

namespace {

const QString kMyComputerFolder = QStringLiteral("::{20D04FE0-3AEA-1069-A2D8-08002B30309D}");
const QString kNetworkFolder = QStringLiteral("::{208D2C60-3AEA-1069-A2D7-08002B30309D}");

Launch xdgOpen(const QString& target)
{
    return {QStringLiteral("xdg-open"), {target}};
}

bool desktopIs(const DesktopContext& context, const QStringList& names)
{
    // XDG_CURRENT_DESKTOP is a colon-separated list, e.g. "ubuntu:GNOME".
    const QStringList current = context.currentDesktop.split(QLatin1Char(':'), Qt::SkipEmptyParts);
    return std::any_of(current.begin(), current.end(), [&](const QString& name) {
        return names.contains(name, Qt::CaseInsensitive);
    });
}

// File managers built on GVfs know the "computer:///" and "network:///" locations.
bool hasGvfsLocations(const DesktopContext& context)
{
    return desktopIs(context, {QStringLiteral("GNOME"), QStringLiteral("Unity"),
                               QStringLiteral("Cinnamon"), QStringLiteral("X-Cinnamon"),
                               QStringLiteral("MATE"), QStringLiteral("Budgie"),
                               QStringLiteral("Pantheon")});
}

QString resolvedPath(const QString& file, const std::optional<QString>& directory)
{
    if (QFileInfo(file).isAbsolute() || !directory || directory->isEmpty())
        return QFileInfo(file).absoluteFilePath();
    return QDir(*directory).absoluteFilePath(file);
}

// The value of `key` in `[section]` of an INI-style shell command file; null when absent.
QString iniValue(const QString& path, const QString& section, const QString& key)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    bool inSection = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            inSection = line.mid(1, line.size() - 2).trimmed().compare(section, Qt::CaseInsensitive) == 0;
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (inSection && equals > 0
            && line.left(equals).trimmed().compare(key, Qt::CaseInsensitive) == 0)
            return line.mid(equals + 1).trimmed();
    }
    return {};
}

std::vector<Launch> launchesForCommandFile(const QString& path)
{
    const QString command = iniValue(path, QStringLiteral("Taskbar"), QStringLiteral("Command"));
    if (command.compare(QLatin1String("ToggleDesktop"), Qt::CaseInsensitive) == 0)
        // wmctrl sends the EWMH _NET_SHOWING_DESKTOP message to the window manager.
        return {{QStringLiteral("wmctrl"), {QStringLiteral("-k"), QStringLiteral("on")}}};
    return {};
}

std::vector<Launch> launchesForExplorer(const std::optional<QString>& parameters,
                                        const DesktopContext& context)
{
    const QString target = parameters.value_or(QString()).trimmed();
    if (target.compare(kMyComputerFolder, Qt::CaseInsensitive) == 0)
        return {xdgOpen(hasGvfsLocations(context) ? QStringLiteral("computer:///") : QStringLiteral("/"))};
    if (target.compare(kNetworkFolder, Qt::CaseInsensitive) == 0) {
        if (hasGvfsLocations(context))
            return {xdgOpen(QStringLiteral("network:///"))};
        if (desktopIs(context, {QStringLiteral("KDE")}))
            return {xdgOpen(QStringLiteral("network:/"))};
        return {};
    }
    if (target.startsWith(QLatin1Char('/')))
        return {xdgOpen(target)};
    return {};
}

bool isProgram(const QString& token, const QString& name)
{
    const QString bare = token.section(QLatin1Char('/'), -1).section(QLatin1Char('\\'), -1);
    return bare.compare(name, Qt::CaseInsensitive) == 0
        || bare.compare(name + QLatin1String(".exe"), Qt::CaseInsensitive) == 0;
}

std::vector<Launch> displaySettingsLaunches(const DesktopContext& context)
{
    struct Candidate {
        QStringList desktops;
        Launch launch;
    };
    std::vector<Candidate> candidates = {
        {{QStringLiteral("GNOME"), QStringLiteral("Unity"), QStringLiteral("Budgie")},
         {QStringLiteral("gnome-control-center"), {QStringLiteral("display")}}},
        {{QStringLiteral("KDE")}, {QStringLiteral("systemsettings"), {QStringLiteral("kcm_kscreen")}}},
        {{QStringLiteral("KDE")}, {QStringLiteral("systemsettings5"), {QStringLiteral("kcm_kscreen")}}},
        {{QStringLiteral("XFCE")}, {QStringLiteral("xfce4-display-settings"), {}}},
        {{QStringLiteral("LXDE")}, {QStringLiteral("lxrandr"), {}}},
        {{}, {QStringLiteral("arandr"), {}}},
    };
    // The running desktop's own tool goes first; the others follow in the order above.
    std::stable_partition(candidates.begin(), candidates.end(),
                          [&](const Candidate& c) { return desktopIs(context, c.desktops); });
    std::vector<Launch> launches;
    for (auto& candidate : candidates)
        launches.push_back(std::move(candidate.launch));
    return launches;
}

std::vector<Launch> browserLaunches(const QStringList& arguments, const DesktopContext& context)
{
    std::vector<Launch> launches;
    // BROWSER lists the user's browsers, colon-separated; entries with a "%s" placeholder
    // expect an address and are left out.
    for (const QString& entry : context.browser.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        QStringList command = QProcess::splitCommand(entry);
        if (command.isEmpty() || entry.contains(QLatin1String("%s")))
            continue;
        const QString program = command.takeFirst();
        launches.push_back({program, command + arguments});
    }
    launches.push_back({QStringLiteral("x-www-browser"), arguments});
    launches.push_back({QStringLiteral("gnome-www-browser"), arguments});
    return launches;
}

}  // namespace

DesktopContext DesktopContext::fromEnvironment()
{
    return {qEnvironmentVariable("XDG_CURRENT_DESKTOP"), qEnvironmentVariable("BROWSER")};
}

std::vector<Launch> desktopLaunchesFor(const ShellOpenRequest& request, const DesktopContext& context)
{
    // An empty verb is the shell's default verb, which is open; the shell knows no other verb
    // that this desktop could carry out.
    if (!request.verb.isEmpty() && request.verb.compare(QLatin1String("open"), Qt::CaseInsensitive) != 0)
        return {};
    const QString file = request.file.trimmed();
    if (file.isEmpty())
        return {};
    if (isProgram(file, QStringLiteral("explorer")))
        return launchesForExplorer(request.parameters, context);
    // One letter before a colon is a Windows drive, not a scheme.
    const QString scheme = QUrl(file).scheme();
    if (scheme.size() > 1)
        return {xdgOpen(file)};
    const QString path = resolvedPath(file, request.directory);
    if (path.endsWith(QLatin1String(".scf"), Qt::CaseInsensitive))
        return launchesForCommandFile(path);
    return {xdgOpen(path)};
}

std::vector<Launch> desktopLaunchesForCommand(const QString& commandLine, const DesktopContext& context)
{
    // The browser's install path holds blanks without quotes, so it is found by its program name.
    const QString browserProgram = QStringLiteral("iexplore.exe");
    const qsizetype browserAt = commandLine.indexOf(browserProgram, 0, Qt::CaseInsensitive);
    if (browserAt >= 0) {
        QString rest = commandLine.mid(browserAt + browserProgram.size());
        if (rest.startsWith(QLatin1Char('"')))
            rest.remove(0, 1);
        if (rest.isEmpty() || rest.front().isSpace())
            return browserLaunches(QProcess::splitCommand(rest), context);
    }
    QStringList tokens = QProcess::splitCommand(commandLine);
    if (tokens.isEmpty())
        return {};
    if (isProgram(tokens.front(), QStringLiteral("rundll32"))) {
        const bool displayApplet = tokens.size() == 3
            && tokens[1].compare(QLatin1String("shell32,Control_RunDLL"), Qt::CaseInsensitive) == 0
            && tokens[2].compare(QLatin1String("desk.cpl"), Qt::CaseInsensitive) == 0;
        return displayApplet ? displaySettingsLaunches(context) : std::vector<Launch>{};
    }
    const QString program = tokens.takeFirst();
    return {{program, tokens}};
}

bool startFirstFound(const std::vector<Launch>& launches, const QString& workingFolder)
{
    const QString folder = !workingFolder.isEmpty() && QDir(workingFolder).exists() ? workingFolder : QString();
    for (const Launch& launch : launches) {
        const QString executable = launch.program.contains(QLatin1Char('/'))
            ? (QFileInfo(launch.program).isExecutable() ? launch.program : QString())
            : QStandardPaths::findExecutable(launch.program);
        if (executable.isEmpty())
            continue;
        if (QProcess::startDetached(executable, launch.arguments, folder))
            return true;
    }
    return false;
}

void DesktopShell::openDocument(const ShellOpenRequest& request)
{
    startFirstFound(desktopLaunchesFor(request, DesktopContext::fromEnvironment()),
                    request.directory.value_or(QString()));
}

void DesktopShell::runProgram(const QString& commandLine, ShowCommand /*windowStyle*/)
{
    startFirstFound(desktopLaunchesForCommand(commandLine, DesktopContext::fromEnvironment()));
}

}  // namespace pictarre
