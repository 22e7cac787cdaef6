#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "platform/desktopshell.h"

using namespace pictarre;

Q_DECLARE_METATYPE(pictarre::ShellOpenRequest)
Q_DECLARE_METATYPE(std::vector<pictarre::Launch>)

namespace QTest {
template <>
char* toString(const std::vector<pictarre::Launch>& launches)
{
    QStringList parts;
    for (const auto& launch : launches)
        parts << (QStringList{launch.program} + launch.arguments).join(QLatin1Char(' '));
    return qstrdup(("[" + parts.join(QStringLiteral("; ")) + "]").toUtf8().constData());
}
}  // namespace QTest

namespace {

const QString kMyComputer = QStringLiteral("::{20D04FE0-3AEA-1069-A2D8-08002B30309D}");
const QString kNetwork = QStringLiteral("::{208D2C60-3AEA-1069-A2D7-08002B30309D}");
const QString kBrowser = QStringLiteral("/Program Files/Internet Explorer/iexplore.exe");
const QString kDisplaySettings = QStringLiteral("rundll32 shell32,Control_RunDLL desk.cpl");

// The shell command file installed beside the program.
const QByteArray kShowDesktopFile = "[Shell]\nCommand=2\nIconFile=pictarre\n[Taskbar]\nCommand=ToggleDesktop\n";

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

Launch launch(const char* program, QStringList arguments = {})
{
    return {QString::fromUtf8(program), std::move(arguments)};
}

// Sets an environment variable for one scope and puts the old value back.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const QByteArray& value)
        : name_(name), had_(qEnvironmentVariableIsSet(name)), old_(qgetenv(name))
    {
        qputenv(name, value);
    }
    ~ScopedEnv()
    {
        if (had_)
            qputenv(name_, old_);
        else
            qunsetenv(name_);
    }

private:
    const char* name_;
    bool had_;
    QByteArray old_;
};

}  // namespace

// The translation of shell requests to desktop programs, and the real layer launching
// recording scripts in their place.
class tst_DesktopShell : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(tmp.isValid());
        QVERIFY(writeFile(tmp.filePath(QStringLiteral("prog/sys/viewdesk.scf")), kShowDesktopFile));
        QVERIFY(writeFile(tmp.filePath(QStringLiteral("other.scf")), "[Taskbar]\nCommand=Explorer\n"));
        QVERIFY(writeFile(tmp.filePath(QStringLiteral("odd case.SCF")), "[taskbar]\r\n command = toggledesktop \r\n"));
        QVERIFY(QDir().mkpath(tmp.filePath(QStringLiteral("bin"))));
        for (const char* name : {"xdg-open", "wmctrl", "x-www-browser", "gnome-control-center", "arandr"})
            QVERIFY(writeRecorder(QString::fromUtf8(name)));
    }

    void documentRequests_data()
    {
        QTest::addColumn<ShellOpenRequest>("request");
        QTest::addColumn<QString>("desktop");
        QTest::addColumn<std::vector<Launch>>("expected");

        const QString scf = tmp.filePath(QStringLiteral("prog/sys/viewdesk.scf"));
        const ShellOpenRequest myComputer{"open", "explorer", kMyComputer, std::nullopt, ShowCommand::Normal};
        const ShellOpenRequest network{"open", "explorer", kNetwork, std::nullopt, ShowCommand::Normal};

        QTest::newRow("show desktop") << ShellOpenRequest{"Open", scf, QString(), QString(), ShowCommand::Normal} << QString()
                                      << std::vector{launch("wmctrl", {"-k", "on"})};
        QTest::newRow("show desktop, relative to its folder")
            << ShellOpenRequest{"Open", "sys/viewdesk.scf", QString(), tmp.filePath(QStringLiteral("prog")), ShowCommand::Normal}
            << QString() << std::vector{launch("wmctrl", {"-k", "on"})};
        QTest::newRow("command file in other letter case")
            << ShellOpenRequest{"Open", tmp.filePath(QStringLiteral("odd case.SCF")), QString(), QString(), ShowCommand::Normal}
            << QString() << std::vector{launch("wmctrl", {"-k", "on"})};
        QTest::newRow("missing command file")
            << ShellOpenRequest{"Open", tmp.filePath(QStringLiteral("none/sys/viewdesk.scf")), QString(), QString(), ShowCommand::Normal}
            << QString() << std::vector<Launch>{};
        QTest::newRow("other taskbar command")
            << ShellOpenRequest{"Open", tmp.filePath(QStringLiteral("other.scf")), QString(), QString(), ShowCommand::Normal}
            << QString() << std::vector<Launch>{};

        QTest::newRow("computer, GNOME") << myComputer << QStringLiteral("ubuntu:GNOME")
                                         << std::vector{launch("xdg-open", {"computer:///"})};
        QTest::newRow("computer, KDE") << myComputer << QStringLiteral("KDE")
                                       << std::vector{launch("xdg-open", {"/"})};
        QTest::newRow("computer, unknown desktop") << myComputer << QString()
                                                   << std::vector{launch("xdg-open", {"/"})};
        QTest::newRow("network, Cinnamon") << network << QStringLiteral("X-Cinnamon")
                                           << std::vector{launch("xdg-open", {"network:///"})};
        QTest::newRow("network, KDE") << network << QStringLiteral("KDE")
                                      << std::vector{launch("xdg-open", {"network:/"})};
        QTest::newRow("network, unknown desktop") << network << QStringLiteral("XFCE") << std::vector<Launch>{};

        QTest::newRow("new mail") << ShellOpenRequest{"Open", "mailto:", QString(), QString(), ShowCommand::Normal} << QString()
                                  << std::vector{launch("xdg-open", {"mailto:"})};
        QTest::newRow("mail with subject, not encoded")
            << ShellOpenRequest{"Open", QStringLiteral("mailto:a@example.org?subject=联系作者"), QString(), QString(), ShowCommand::Normal}
            << QString() << std::vector{launch("xdg-open", {QStringLiteral("mailto:a@example.org?subject=联系作者")})};
        QTest::newRow("web site, hidden")
            << ShellOpenRequest{"open", "https://example.org/", std::nullopt, std::nullopt, ShowCommand::Hidden} << QString()
            << std::vector{launch("xdg-open", {"https://example.org/"})};
        QTest::newRow("document relative to its folder")
            << ShellOpenRequest{"open", "notes.txt", std::nullopt, QStringLiteral("/srv/docs"), ShowCommand::Normal} << QString()
            << std::vector{launch("xdg-open", {"/srv/docs/notes.txt"})};
        QTest::newRow("verb the desktop cannot carry out")
            << ShellOpenRequest{"print", "https://example.org/", std::nullopt, std::nullopt, ShowCommand::Normal} << QString()
            << std::vector<Launch>{};
    }

    void documentRequests()
    {
        QFETCH(ShellOpenRequest, request);
        QFETCH(QString, desktop);
        QFETCH(std::vector<Launch>, expected);
        QCOMPARE(desktopLaunchesFor(request, {desktop, QString()}), expected);
    }

    void commandLines_data()
    {
        QTest::addColumn<QString>("commandLine");
        QTest::addColumn<QString>("desktop");
        QTest::addColumn<QString>("browser");
        QTest::addColumn<std::vector<Launch>>("expected");

        const std::vector<Launch> displayTools = {
            launch("gnome-control-center", {"display"}), launch("systemsettings", {"kcm_kscreen"}),
            launch("systemsettings5", {"kcm_kscreen"}), launch("xfce4-display-settings"),
            launch("lxrandr"), launch("arandr")};
        QTest::newRow("display settings") << kDisplaySettings << QString() << QString() << displayTools;
        QTest::newRow("display settings, KDE first")
            << kDisplaySettings << QStringLiteral("KDE") << QString()
            << std::vector{launch("systemsettings", {"kcm_kscreen"}), launch("systemsettings5", {"kcm_kscreen"}),
                           launch("gnome-control-center", {"display"}), launch("xfce4-display-settings"),
                           launch("lxrandr"), launch("arandr")};
        QTest::newRow("other control panel applet")
            << QStringLiteral("rundll32 shell32,Control_RunDLL mouse.cpl") << QString() << QString()
            << std::vector<Launch>{};

        const std::vector<Launch> browsers = {launch("x-www-browser"), launch("gnome-www-browser")};
        QTest::newRow("browser on the root") << kBrowser << QString() << QString() << browsers;
        QTest::newRow("browser on drive D")
            << QStringLiteral("D:\\Program Files\\Internet Explorer\\iexplore.exe") << QString() << QString()
            << browsers;
        QTest::newRow("browser with an address")
            << QStringLiteral("\"C:\\Program Files\\Internet Explorer\\iexplore.exe\" https://example.org/")
            << QString() << QString()
            << std::vector{launch("x-www-browser", {"https://example.org/"}),
                           launch("gnome-www-browser", {"https://example.org/"})};
        QTest::newRow("the user's browser first")
            << kBrowser << QString() << QStringLiteral("firefox --new-window:lynx %s")
            << std::vector{launch("firefox", {"--new-window"}), launch("x-www-browser"),
                           launch("gnome-www-browser")};

        QTest::newRow("other command line") << QStringLiteral("echo \"a b\" c") << QString() << QString()
                                            << std::vector{launch("echo", {"a b", "c"})};
    }

    void commandLines()
    {
        QFETCH(QString, commandLine);
        QFETCH(QString, desktop);
        QFETCH(QString, browser);
        QFETCH(std::vector<Launch>, expected);
        QCOMPARE(desktopLaunchesForCommand(commandLine, {desktop, browser}), expected);
    }

    // Every request of the menus, three times each, through the real layer: each reaches its
    // program with its arguments, and no request waits for an earlier one.
    void launchesTheDesktopPrograms()
    {
        const ScopedEnv path("PATH", QFile::encodeName(tmp.filePath(QStringLiteral("bin"))));
        const ScopedEnv desktop("XDG_CURRENT_DESKTOP", "GNOME");
        const ScopedEnv browser("BROWSER", "");
        QFile::remove(logPath());
        // The browser stand-in takes its time, as a real one does.
        QVERIFY(writeRecorder(QStringLiteral("x-www-browser"), QStringLiteral("/bin/sleep 6")));

        DesktopShell shell;
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < 3; ++i) {
            shell.openDocument({"Open", tmp.filePath(QStringLiteral("prog/sys/viewdesk.scf")), QString(), QString(), ShowCommand::Normal});
            shell.runProgram(kDisplaySettings, ShowCommand::Minimized);
            shell.openDocument({"open", "explorer", kMyComputer, std::nullopt, ShowCommand::Normal});
            shell.openDocument({"open", "explorer", kNetwork, std::nullopt, ShowCommand::Normal});
            shell.runProgram(kBrowser, ShowCommand::Normal);
            shell.openDocument({"Open", "mailto:", QString(), QString(), ShowCommand::Normal});
            shell.openDocument({"Open", QStringLiteral("mailto:a@example.org?subject=联系作者"), QString(), QString(), ShowCommand::Normal});
            shell.openDocument({"open", "https://example.org/", std::nullopt, std::nullopt, ShowCommand::Hidden});
        }
        QVERIFY2(clock.elapsed() < 5000, "a launch waited for its program");  // one wait alone is 6 s

        QStringList expected;
        for (int i = 0; i < 3; ++i)
            expected << QStringLiteral("wmctrl|-k|on") << QStringLiteral("gnome-control-center|display")
                     << QStringLiteral("xdg-open|computer:///") << QStringLiteral("xdg-open|network:///")
                     << QStringLiteral("x-www-browser") << QStringLiteral("xdg-open|mailto:")
                     << QStringLiteral("xdg-open|mailto:a@example.org?subject=联系作者")
                     << QStringLiteral("xdg-open|https://example.org/");
        expected.sort();
        QTRY_COMPARE_WITH_TIMEOUT(sortedLog(), expected, 15000);
    }

    void withNoProgramsNothingHappens()
    {
        const ScopedEnv path("PATH", "");
        QFile::remove(logPath());
        QCOMPARE(startFirstFound({launch("xdg-open", {"/"}), launch("wmctrl")}), false);

        DesktopShell shell;
        QElapsedTimer clock;
        clock.start();
        shell.openDocument({"Open", tmp.filePath(QStringLiteral("prog/sys/viewdesk.scf")), QString(), QString(), ShowCommand::Normal});
        shell.openDocument({"Open", tmp.filePath(QStringLiteral("missing/sys/viewdesk.scf")), QString(), QString(), ShowCommand::Normal});
        shell.openDocument({"open", "explorer", kMyComputer, std::nullopt, ShowCommand::Normal});
        shell.openDocument({"Open", "mailto:", QString(), QString(), ShowCommand::Normal});
        shell.runProgram(kDisplaySettings, ShowCommand::Minimized);
        shell.runProgram(kBrowser, ShowCommand::Normal);
        shell.runProgram(QStringLiteral("no-such-program --flag"), ShowCommand::Normal);
        QVERIFY(clock.elapsed() < 5000);
        QTest::qWait(200);
        QVERIFY(!QFile::exists(logPath()));
    }

    void startsTheFirstProgramFoundOnly()
    {
        const ScopedEnv path("PATH", QFile::encodeName(tmp.filePath(QStringLiteral("bin"))));
        QFile::remove(logPath());
        QVERIFY(startFirstFound({launch("lxrandr"), launch("arandr", {"one"}), launch("xdg-open", {"two"})}));
        QTRY_COMPARE_WITH_TIMEOUT(sortedLog(), QStringList{QStringLiteral("arandr|one")}, 10000);
        QTest::qWait(200);
        QCOMPARE(sortedLog(), QStringList{QStringLiteral("arandr|one")});
    }

private:
    QString logPath() const { return tmp.filePath(QStringLiteral("launches.log")); }

    // A stand-in program that appends its name and arguments, "|"-separated, as one line of the
    // log. It uses shell built-ins only, so it runs whatever PATH holds.
    bool writeRecorder(const QString& name, const QString& before = QString())
    {
        const QString path = tmp.filePath(QStringLiteral("bin/") + name);
        const QString script = QStringLiteral("#!/bin/sh\n%1\nline=\"${0##*/}\"\nfor a in \"$@\"; do line=\"$line|$a\"; done\n"
                                              "printf '%s\\n' \"$line\" >> '%2'\n")
                                   .arg(before, logPath());
        return writeFile(path, script.toUtf8())
            && QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    QStringList sortedLog() const
    {
        QFile file(logPath());
        if (!file.open(QIODevice::ReadOnly))
            return {};
        QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        lines.sort();
        return lines;
    }

    QTemporaryDir tmp;
};

QTEST_MAIN(tst_DesktopShell)
#include "tst_desktopshell.moc"
