#include <functional>

#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include "app/compositing.h"
#include "app/startup.h"
#include "app/windowfixture.h"
#include "platform/galleryscheme.h"
#include "platform/webbrowser.h"
#include "support/picturefiles.h"
#include "support/sandbox.h"
#include "support/webtest.h"

#include <sys/stat.h>
#include <unistd.h>

using namespace pictarre;
using namespace pictarre::test;

namespace {

QString q(const std::string& bytes)
{
    return QString::fromStdString(bytes);
}

// Everything a user or the next run can see of one command: the files it wrote, the status bar,
// the views, the remembered folder and what the fakes were asked.
struct Outcome {
    std::string page;
    std::string listFile;
    QString folderPanel;
    QString countPanel;
    QString listView;
    QUrl galleryUrl;
    QUrl folderViewUrl;
    QString remembered;
    int settingsWrites = 0;
    std::size_t dialogsShown = 0;
    std::vector<FakeMessages::Shown> messages;
    Qt::CursorShape cursor = Qt::ArrowCursor;
    bool galleryVisible = false;
    bool settled = false;  // the start page and then the command's page (if any) loaded in time
};

// Starts a window on fakes in a fresh program folder, waits for its start page, runs `command`
// on it and waits until the gallery has loaded the page the command wrote (or, when
// `expectPage` is false, for the window to settle), then reads back what it did.
Outcome runInWindow(const std::function<void(frmMain&, FakePlatform&)>& command, bool expectPage = true)
{
    WindowFixture f;
    Outcome out;
    if (!f.showReady())
        return out;
    WebBrowser& web = f.Web();
    const QString pagePath = f.paths().pagePath();

    command(f.window(), f.fakes());
    if (expectPage) {
        out.settled = QTest::qWaitFor([&] {
            return web.url().scheme() == QLatin1String(kGalleryScheme) && web.shownFile() == QFile::encodeName(pagePath)
                && !f.status(StatusPanel::Folder).endsWith(QStringLiteral("……"))
                && evaluate(web, QStringLiteral("document.readyState")).toString() == QLatin1String("complete");
        }, 30000) && QTest::qWaitFor([&] { return !f.Webt().address().isEmpty(); }, 20000);
    } else {
        QTest::qWait(500);
        out.settled = true;
    }

    FakePlatform& fakes = f.fakes();
    out.page = f.pageBytes();
    out.listFile = f.listFileBytes();
    out.folderPanel = f.status(StatusPanel::Folder);
    out.countPanel = f.status(StatusPanel::Count);
    out.listView = f.Text1().toPlainText();
    out.folderViewUrl = f.Webt().address();
    out.remembered = fakes.settings.read(QStringLiteral("Quillmark"), QStringLiteral("mypic"), QStringLiteral("filepath"));
    out.settingsWrites = fakes.settings.writes;
    out.dialogsShown = fakes.dialogs.openCalls.size() + fakes.dialogs.folderTitles.size();
    out.messages = fakes.messages.shown;
    out.cursor = f.window().cursor().shape();
    out.galleryVisible = web.isVisible();
    // The page names the program folder only through the pictures' paths, so two runs in two
    // program folders compare equal byte for byte. A gallery's address holds a token of its
    // own in each run: the page it shows is compared, relative to the program folder.
    out.galleryUrl = web.url().scheme() == QLatin1String(kGalleryScheme)
                         ? QUrl(QStringLiteral("pictarre:")
                                + QFile::decodeName(web.shownFile()).replace(f.paths().dataFolder, QStringLiteral("PROGRAM")))
                         : web.url();
    return out;
}

// The two runs did the same thing in every respect a user or the next run can see.
void compareOutcomes(const Outcome& fromArgument, const Outcome& fromToolbar)
{
    QVERIFY(fromArgument.settled && fromToolbar.settled);
    QCOMPARE(fromArgument.page, fromToolbar.page);
    QCOMPARE(fromArgument.listFile, fromToolbar.listFile);
    QCOMPARE(fromArgument.folderPanel, fromToolbar.folderPanel);
    QCOMPARE(fromArgument.countPanel, fromToolbar.countPanel);
    QCOMPARE(fromArgument.listView, fromToolbar.listView);
    QCOMPARE(fromArgument.galleryUrl, fromToolbar.galleryUrl);
    QCOMPARE(fromArgument.folderViewUrl, fromToolbar.folderViewUrl);
    QCOMPARE(fromArgument.remembered, fromToolbar.remembered);
    QCOMPARE(fromArgument.settingsWrites, fromToolbar.settingsWrites);
    QCOMPARE(fromArgument.cursor, fromToolbar.cursor);
}

// A folder with three pictures of its own, one picture further down and one file that is none.
void fillTree(Sandbox& tree)
{
    JpegOptions jpeg;
    jpeg.width = 40;
    jpeg.height = 30;
    tree.write("a.jpg", makeJpeg(jpeg));
    tree.write("b.bmp", makeBmp(BmpForm::Info40, 20, 10));
    tree.write("C.GIF", makeGif(GifOptions{}));
    tree.write("notes.txt", "text");
    tree.write("sub/d.jpg", makeJpeg(jpeg));
}

}  // namespace

class ArgumentsTest : public QObject {
    Q_OBJECT

private slots:
    void pictureArgumentRunsTheRowButtonOnIt();
    void folderArgumentRunsTheFolderSearchOnIt();
    void missingOrUnreadablePathGetsAMessageAndTheNormalWindow();
    void commandLineIsAnsweredWithoutADisplay();
    void rootStartsOnlyWithTheSandboxTurnedOffByTheUser();
    void programOpensItsFolderArgumentAtStart();
    void compositingLeavesSoftwareOpenGlUnlessTheUserChose();
};

void ArgumentsTest::pictureArgumentRunsTheRowButtonOnIt()
{
    Sandbox tree;
    fillTree(tree);
    const QString folder = q(tree.root().string());

    const Outcome fromToolbar = runInWindow([&](frmMain& window, FakePlatform& fakes) {
        fakes.dialogs.openAnswers.push_back(folder + QStringLiteral("/a.jpg"));
        window.Toolbar1_ButtonClick(QStringLiteral("OpenList"));
    });
    // Given relative to the working folder, with a detour, as a shell may pass it.
    const QString before = QDir::currentPath();
    QDir::setCurrent(folder);
    const Outcome fromArgument = runInWindow([&](frmMain& window, FakePlatform&) {
        window.openArgument(QStringLiteral("sub/../a.jpg"));
    });
    QDir::setCurrent(before);

    QCOMPARE(fromArgument.dialogsShown, std::size_t{0});
    QVERIFY(fromArgument.messages.empty());
    QCOMPARE(fromArgument.countPanel, QStringLiteral("图片总数：3"));
    QCOMPARE(fromArgument.folderPanel, QStringLiteral("当前路径： ") + folder);
    QCOMPARE(fromArgument.remembered, folder);
    QCOMPARE(fromArgument.folderViewUrl, QUrl::fromLocalFile(folder + QLatin1Char('/')));
    QVERIFY(fromArgument.page.find("<tr>") != std::string::npos);  // the row layout
    QVERIFY(fromArgument.page.find("/b.bmp") != std::string::npos);
    QVERIFY(fromArgument.page.find("sub/d.jpg") == std::string::npos);
    QVERIFY(fromArgument.galleryVisible);
    compareOutcomes(fromArgument, fromToolbar);
}

void ArgumentsTest::folderArgumentRunsTheFolderSearchOnIt()
{
    Sandbox tree;
    fillTree(tree);
    const QString folder = q(tree.root().string());

    const Outcome fromToolbar = runInWindow([&](frmMain& window, FakePlatform& fakes) {
        fakes.dialogs.folderAnswers.push_back(folder);
        window.Toolbar1_ButtonClick(QStringLiteral("Opendir"));
    });
    // A trailing separator and a detour are taken out, as the folder chooser never gives them.
    const Outcome fromArgument = runInWindow([&](frmMain& window, FakePlatform&) {
        window.openArgument(folder + QStringLiteral("/sub/../"));
    });

    QCOMPARE(fromArgument.dialogsShown, std::size_t{0});
    QVERIFY(fromArgument.messages.empty());
    QCOMPARE(fromArgument.countPanel, QStringLiteral("图片总数：4"));
    QCOMPARE(fromArgument.folderPanel, QStringLiteral("当前路径： ") + folder + QLatin1Char('/'));
    QCOMPARE(fromArgument.folderViewUrl, QUrl::fromLocalFile(folder + QLatin1Char('/')));
    QVERIFY(fromArgument.listFile.find(tree.folder() + "sub/d.jpg\r\n") != std::string::npos);
    QVERIFY(fromArgument.page.find("sub/d.jpg") != std::string::npos);
    QVERIFY(fromArgument.remembered.isEmpty());  // only the Open dialog remembers its folder
    compareOutcomes(fromArgument, fromToolbar);
}

void ArgumentsTest::missingOrUnreadablePathGetsAMessageAndTheNormalWindow()
{
    Sandbox tree;
    tree.write("a.jpg", makeBmp(BmpForm::Info40, 4, 4));
    // A named pipe exists but is neither a picture nor a folder; unlike a file without read
    // permission it cannot be read by root either, who runs the tests in CI.
    const std::string pipe = (tree.root() / "pipe.jpg").string();
    QCOMPARE(::mkfifo(pipe.c_str(), 0600), 0);

    const struct {
        QString path;
        QString message;
    } rows[] = {
        {QStringLiteral("/no/such/folder/x.jpg"), QStringLiteral("找不到“/no/such/folder/x.jpg”：没有这个图片或文件夹。")},
        {q(pipe), QStringLiteral("无法打开“") + q(pipe) + QStringLiteral("”：不能读取这个图片或文件夹。")},
    };
    for (const auto& row : rows) {
        const Outcome out = runInWindow([&](frmMain& window, FakePlatform&) { window.openArgument(row.path); }, false);
        QVERIFY(out.settled);
        QCOMPARE(out.messages.size(), std::size_t{1});
        QCOMPARE(out.messages.front().kind, QStringLiteral("information"));
        QCOMPARE(out.messages.front().title, QStringLiteral("Pictarre"));
        QCOMPARE(out.messages.front().text, row.message);
        // The window is the one a start without an argument gives: blank gallery, start status.
        QCOMPARE(out.dialogsShown, std::size_t{0});
        QCOMPARE(out.galleryUrl, QUrl(QStringLiteral("about:blank")));
        QVERIFY(out.galleryVisible);
        QCOMPARE(out.folderPanel, QStringLiteral("当前路径： "));
        QCOMPARE(out.countPanel, QStringLiteral("图片总数：0"));
        QVERIFY(out.page.empty());
        QVERIFY(out.listFile.empty());
    }
}

void ArgumentsTest::commandLineIsAnsweredWithoutADisplay()
{
    // With no display and no platform chosen, a program that made its window would fail here;
    // root without the sandbox variable is refused before any window too.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "QTWEBENGINE_DISABLE_SANDBOX"})
        environment.remove(QString::fromLatin1(name));
    const bool root = ::geteuid() == 0;
    const struct {
        QStringList arguments;
        int exitCode;
        QStringList inOutput;  // each of these on stdout when the code is 0, on stderr otherwise
        bool rootOnly = false;
    } rows[] = {
        {{QStringLiteral("--version")}, 0, {QStringLiteral("pictarre " PICTARRE_VERSION "\n")}},
        // Qt's own lines of the help come in the program's language too.
        {{QStringLiteral("--help")}, 0, {QStringLiteral("[图片或文件夹]"), QStringLiteral("-v, --version"), QStringLiteral("选项：")}},
        {{QStringLiteral("--bogus")}, 1, {QStringLiteral("pictarre: 未知选项“bogus”。")}},
        // The GUI application's own options are taken out, not called unknown.
        {{QStringLiteral("-style"), QStringLiteral("Fusion"), QStringLiteral("--version")}, 0, {QStringLiteral("pictarre " PICTARRE_VERSION "\n")}},
        {{QStringLiteral("-reverse"), QStringLiteral("-x")}, 1, {QStringLiteral("未知选项“x”")}},
        {{QStringLiteral("--"), QStringLiteral("--help")}, 1, {QStringLiteral("QTWEBENGINE_DISABLE_SANDBOX=1"), QStringLiteral("refusing to run as root")}, true},
        {{}, 1, {QStringLiteral("不能以 root 身份运行"), QStringLiteral("refusing to run as root")}, true},
    };
    for (const auto& row : rows) {
        if (row.rootOnly && !root)
            continue;
        QProcess program;
        program.setProcessEnvironment(environment);
        program.start(QStringLiteral(PICTARRE_EXECUTABLE), row.arguments);
        QVERIFY(program.waitForFinished(60000));
        const QString out = QString::fromUtf8(program.readAllStandardOutput());
        const QString err = QString::fromUtf8(program.readAllStandardError());
        const QString context = row.arguments.join(QLatin1Char(' ')) + QStringLiteral("\nstdout: ") + out + QStringLiteral("\nstderr: ") + err;
        QVERIFY2(program.exitStatus() == QProcess::NormalExit, qPrintable(context));
        QVERIFY2(program.exitCode() == row.exitCode, qPrintable(context));
        for (const QString& text : row.inOutput)
            QVERIFY2((row.exitCode == 0 ? out : err).contains(text), qPrintable(context));
        QVERIFY2(!out.contains(QStringLiteral("Options:")), qPrintable(context));
    }
}

void ArgumentsTest::rootStartsOnlyWithTheSandboxTurnedOffByTheUser()
{
    const struct {
        uid_t uid;
        const char* variable;
        const char* value;
        bool refused;
    } rows[] = {
        {0, nullptr, nullptr, true},
        {0, "QTWEBENGINE_DISABLE_SANDBOX", "1", false},
        {0, "QTWEBENGINE_DISABLE_SANDBOX", "", false},  // the engine asks only whether it is set
        {0, "QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu --no-sandbox", false},
        {0, "QTWEBENGINE_CHROMIUM_FLAGS", "--no-sandboxing", true},
        {1000, nullptr, nullptr, false},
    };
    for (const auto& row : rows) {
        QProcessEnvironment environment;
        if (row.variable)
            environment.insert(QString::fromLatin1(row.variable), QString::fromLatin1(row.value));
        const auto refusal = sandboxRefusal(row.uid, environment);
        QVERIFY2(refusal.has_value() == row.refused, row.value ? row.value : "(none)");
        if (refusal)
            QVERIFY(refusal->message.contains(QStringLiteral("普通用户")) && refusal->terminal.endsWith(QLatin1Char('\n')));
    }
}

void ArgumentsTest::programOpensItsFolderArgumentAtStart()
{
    // The real program, copied into a folder of its own so that its page and list file land
    // there, started with a folder as a file manager starts it.
    Sandbox tree;
    fillTree(tree);
    QTemporaryDir program;
    const QString executable = program.path() + QStringLiteral("/pictarre");
    QVERIFY(QFile::copy(QStringLiteral(PICTARRE_EXECUTABLE), executable));
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(executable, {q(tree.root().string())});
    QVERIFY(process.waitForStarted());

    const QString listFile = program.path() + QStringLiteral("/temp/opendir.tmp");
    const QString page = program.path() + QStringLiteral("/picture.htm");
    const bool written = QTest::qWaitFor([&] {
        return readFileBytes(page.toStdString()).find("</body>") != std::string::npos;
    }, 60000);
    process.kill();
    process.waitForFinished();
    QVERIFY(written);
    const std::string list = readFileBytes(listFile.toStdString());
    for (const char* name : {"a.jpg", "b.bmp", "C.GIF", "sub/d.jpg"})
        QVERIFY2(list.find(tree.folder() + name + "\r\n") != std::string::npos, name);
    QVERIFY(list.find("notes.txt") == std::string::npos);
    QVERIFY(readFileBytes(page.toStdString()).find("sub/d.jpg") != std::string::npos);
}

void ArgumentsTest::compositingLeavesSoftwareOpenGlUnlessTheUserChose()
{
    using enum Compositing;
    const struct {
        const char* renderer;  // nullptr: no usable OpenGL
        const char* variable;
        const char* value;
        Compositing chosen;
    } rows[] = {
        {"llvmpipe (LLVM 15.0.6, 256 bits)", nullptr, nullptr, Software},
        {"softpipe", nullptr, nullptr, Software},
        {"Google SwiftShader", nullptr, nullptr, Software},
        {"zink (lavapipe)", nullptr, nullptr, Software},
        {"Software Rasterizer", nullptr, nullptr, Software},
        {nullptr, nullptr, nullptr, Software},
        {"", nullptr, nullptr, Software},
        {"Mesa Intel(R) UHD Graphics 620 (KBL GT2)", nullptr, nullptr, Gpu},
        {"AMD Radeon RX 6600 (navi23, LLVM 15.0.6, DRM 3.49, 6.1.0-18-amd64)", nullptr, nullptr, Gpu},
        {"NVIDIA GeForce GTX 1060 6GB/PCIe/SSE2", nullptr, nullptr, Gpu},
        {"virgl (Intel(R) UHD Graphics 630)", nullptr, nullptr, Gpu},
        {"llvmpipe (LLVM 15.0.6, 256 bits)", "QT_QUICK_BACKEND", "rhi", AsTheUserSet},
        {"NVIDIA GeForce GTX 1060 6GB/PCIe/SSE2", "QT_QUICK_BACKEND", "software", AsTheUserSet},
        {"llvmpipe (LLVM 15.0.6, 256 bits)", "QSG_RHI_BACKEND", "opengl", AsTheUserSet},
        {"llvmpipe (LLVM 15.0.6, 256 bits)", "QT_QUICK_BACKEND", "", Software},  // set but empty: not set
    };
    for (const auto& row : rows) {
        QProcessEnvironment environment;
        if (row.variable)
            environment.insert(QString::fromLatin1(row.variable), QString::fromLatin1(row.value));
        const auto renderer = row.renderer ? std::optional(QString::fromLatin1(row.renderer)) : std::nullopt;
        QVERIFY2(chooseCompositing(environment, renderer) == row.chosen, row.renderer ? row.renderer : "(none)");
    }
}

QTEST_MAIN(ArgumentsTest)
#include "tst_arguments.moc"
