// pictarre-window-bench DIR: runs the window's Open-folder command on DIR, offscreen with the real
// browser engine, and prints on one line the milliseconds from the click to the gallery page's
// load-complete, the milliseconds until the command returned, the longest time the window went
// without processing events during the command, and the picture count. With
// PICTARRE_SCREENSHOT=FILE.png it also saves a picture of the window once the page has loaded.
#include <cstdio>

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include "app/frmmain.h"
#include "platform/webbrowser.h"

namespace {

using namespace pictarre;

class BenchDialogs final : public Dialogs {
public:
    explicit BenchDialogs(QString folder) : folder_(std::move(folder)) {}
    std::optional<QString> chooseFolder(QWidget*, const QString&) override { return folder_; }
    QString chooseOpenFile(QWidget*, const QString&, const QString&) override { return {}; }

private:
    QString folder_;
};

class NoBrowserDialogs final : public BrowserDialogs {
public:
    std::optional<SaveAsChoice> askSaveAs(QWidget*, const QString&) override { return std::nullopt; }
    bool askPrint(QWidget*, QPrinter&) override { return false; }
};

class MemorySettings final : public SettingsStore {
public:
    QString read(const QString&, const QString&, const QString&) override { return {}; }
    void write(const QString&, const QString&, const QString&, const QString&) override {}
};

class NoShell final : public Shell {
public:
    void openDocument(const ShellOpenRequest&) override {}
    void runProgram(const QString&, int) override {}
};

class NoMessages final : public MessageBoxes {
public:
    void information(QWidget*, const QString&, const QString&) override {}
    void about(QWidget*, const QString&, const QString&, const QIcon&) override {}
};

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fputs("usage: pictarre-window-bench DIR\n", stderr);
        return 2;
    }
    QTemporaryDir program;
    BenchDialogs dialogs(QString::fromLocal8Bit(argv[1]));
    NoBrowserDialogs browserDialogs;
    MemorySettings settings;
    NoShell shell;
    NoMessages messages;
    Platform platform{dialogs, browserDialogs, settings, shell, messages};
    frmMain window(platform, ProgramPaths{program.path(), program.path()});
    window.show();

    // Wait for the blank page of start-up before timing.
    bool started = false;
    QObject::connect(window.Web, &WebBrowser::DownloadComplete, &app, [&] { started = true; });
    while (!started)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);

    // A 1 ms timer only fires while events are processed: the longest interval between its
    // firings is the longest time the window was deaf.
    QElapsedTimer clock;
    qint64 lastTick = 0;
    qint64 longestGap = 0;
    bool inCommand = false;
    QTimer ticker;
    ticker.setInterval(1);
    QObject::connect(&ticker, &QTimer::timeout, &app, [&] {
        const qint64 now = clock.elapsed();
        if (inCommand)
            longestGap = std::max(longestGap, now - lastTick);
        lastTick = now;
    });

    qint64 pageLoaded = -1;
    const QString page = window.pagePath();
    QObject::connect(window.Web, &WebBrowser::DownloadComplete, &app, [&] {
        if (window.Web->url().toLocalFile() == page && pageLoaded < 0)
            pageLoaded = clock.elapsed();
    });

    clock.start();
    ticker.start();
    inCommand = true;
    lastTick = clock.elapsed();
    window.Toolbar1_ButtonClick(QStringLiteral("Opendir"));
    const qint64 commandDone = clock.elapsed();
    longestGap = std::max(longestGap, commandDone - lastTick);
    inCommand = false;
    while (pageLoaded < 0 && clock.elapsed() < 600000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);

    // Optionally a picture of the window as the user now sees it.
    const QString shot = qEnvironmentVariable("PICTARRE_SCREENSHOT");
    if (!shot.isEmpty() && pageLoaded >= 0) {
        QElapsedTimer settle;
        settle.start();
        while (settle.elapsed() < 1500)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        window.grab().save(shot);
    }

    std::printf("page_ms=%lld command_ms=%lld longest_gap_ms=%lld pictures=%d\n",
                static_cast<long long>(pageLoaded), static_cast<long long>(commandDone),
                static_cast<long long>(longestGap), window.state.PictureCount);
    return pageLoaded < 0 ? 1 : 0;
}
