#include <csignal>

#include <QApplication>
#include <QDir>
#include <QRegularExpression>
#include <QThread>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <sys/stat.h>
#include <QLineEdit>
#include <QFile>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWebEnginePage>

#include <QToolButton>

#include "app/windowfixture.h"
#include "support/webtest.h"
#include "platform/galleryscheme.h"
#include "platform/webbrowser.h"
#include "support/picturefiles.h"
#include "support/sandbox.h"

using namespace pictarre;
using namespace pictarre::test;

namespace {

const QString kApp = QStringLiteral("Quillmark");
const QString kSection = QStringLiteral("mypic");
const QString kKey = QStringLiteral("filepath");

QString q(const std::string& bytes)
{
    return QString::fromStdString(bytes);
}

// The lines of a CR LF text, without their line ends, empty ones kept.
QStringList crlfLines(const std::string& text)
{
    QStringList lines;
    for (const std::string& line : pictarre::test::crlfLines(text))
        lines.append(q(line));
    return lines;
}

std::string jpeg(int w, int h)
{
    JpegOptions options;
    options.width = static_cast<std::uint16_t>(w);
    options.height = static_cast<std::uint16_t>(h);
    return makeJpeg(options);
}

std::string gif(int w, int h)
{
    GifOptions options;
    options.screenWidth = options.frameWidth = static_cast<std::uint16_t>(w);
    options.screenHeight = options.frameHeight = static_cast<std::uint16_t>(h);
    return makeGif(options);
}

}  // namespace

class CommandsTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<WindowFixture> f_;

    frmMain& window() { return f_->window(); }
    FakePlatform& fakes() { return f_->fakes(); }
    bool waitForPage() { return f_->waitForPage(); }

    // Every picture of the shown gallery has loaded with a size.
    int loadedPictures()
    {
        const bool complete = QTest::qWaitFor([&] {
            return evaluate(f_->Web(), QStringLiteral("document.readyState")).toString() == QLatin1String("complete");
        }, 20000);
        if (!complete)
            return -1;
        return evaluate(f_->Web(), QStringLiteral(
            "Array.from(document.images).filter(i => i.complete && i.naturalWidth > 0).length")).toInt();
    }

    // The row gallery of a folder of two pictures, one.jpg and two.gif, loaded.
    bool showGallery(Sandbox& folder)
    {
        folder.write("one.jpg", jpeg(30, 20));
        folder.write("two.gif", gif(20, 20));
        fakes().dialogs.openAnswers.push_back(q(folder.root().string()) + QStringLiteral("/one.jpg"));
        f_->click("OpenList");
        return waitForPage();
    }

    int pageImages() { return evaluate(f_->Web(), QStringLiteral("document.images.length")).toInt(); }

    // What the user sees of a command's progress: the activity or folder, the count, the pointer.
    QString shownState()
    {
        return f_->status(StatusPanel::Folder) + QStringLiteral(" | ") + f_->status(StatusPanel::Count)
            + (window().cursor().shape() == Qt::WaitCursor ? QStringLiteral(" | wait") : QStringLiteral(" | arrow"));
    }

private slots:
    void init()
    {
        f_ = std::make_unique<WindowFixture>();
        QVERIFY(f_->showReady());
    }
    void cleanup() { f_.reset(); }

    void openFolderSearchesTheTreeAndShowsEveryView();
    void openFolderCancelledChangesNothing();
    void treeWithoutPicturesWritesTheEmptyPage();
    void openPictureInBothLayoutsRemembersTheFolder();
    void statusAndPointerWhileEachCommandRuns_data();
    void statusAndPointerWhileEachCommandRuns();
    void clicksDuringARunAreRefusedButViewsSwitch();
    void aStoppedRunKeepsThePreviousGalleryAndListFile_data();
    void aStoppedRunKeepsThePreviousGalleryAndListFile();
    void savedArchiveDrawsEveryPictureInChromium();
    void closeDuringAPageWriteStopsForGood();
    void menuSaveAndFindActOnTheShownGallery();
    void toolbarSaveAndPrintReachTheBrowser();
    void aDeadPageProcessIsReportedAndTheNextCommandShowsTheGallery();
};

void CommandsTest::openFolderSearchesTheTreeAndShowsEveryView()
{
    Sandbox tree;
    tree.write("a 1.jpg", jpeg(40, 30));
    tree.write("sub/b&c.bmp", makeBmp(BmpForm::Info40, 30, 20));
    tree.write("sub/深/照片#2.gif", gif(20, 10));
    tree.write(".hidden/skip.jpg", jpeg(8, 8));
    tree.write("notes.txt", "text");
    fakes().dialogs.folderAnswers.push_back(q(tree.root().string()));

    f_->click("Opendir");
    QCOMPARE(fakes().dialogs.folderTitles.back(), QStringLiteral("请您在下面选择一个文件夹的路径："));
    QCOMPARE(fakes().dialogs.owners.back(), &window());
    QCOMPARE(f_->status(StatusPanel::Count), QStringLiteral("图片总数：3"));
    QCOMPARE(window().cursor().shape(), Qt::ArrowCursor);

    // The search's list is what the list view and the list file show; the page writer's rows
    // append the same paths again to the shared text afterwards.
    const std::string listFile = f_->listFileBytes();
    QVERIFY(listFile.size() > 2 && listFile.substr(listFile.size() - 4) == "\r\n\r\n");
    QStringList found = crlfLines(listFile.substr(0, listFile.size() - 2));
    QCOMPARE(f_->Text1().toPlainText(), q(listFile.substr(0, listFile.size() - 2)).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    QCOMPARE(crlfLines(window().imageListText()), found + found);
    const QString folder = q(tree.folder());
    found.sort();
    QCOMPARE(found, QStringList({folder + QStringLiteral("a 1.jpg"), folder + QStringLiteral("sub/b&c.bmp"),
                                 folder + QStringLiteral("sub/深/照片#2.gif")}));

    QVERIFY(waitForPage());
    QCOMPARE(f_->status(StatusPanel::Folder), QStringLiteral("当前路径： ") + folder);
    QCOMPARE(f_->Web().url().scheme(), QLatin1String(kGalleryScheme));
    QCOMPARE(f_->Web().shownFile(), QFile::encodeName(f_->paths().pagePath()));
    // Written from the list file: the pictures of the subfolders are in it.
    QCOMPARE(pageImages(), 3);
    QVERIFY(f_->pageBytes().find("/sub/深/") != std::string::npos);
    QTRY_COMPARE_WITH_TIMEOUT(loadedPictures(), 3, 20000);
    QTRY_COMPARE_WITH_TIMEOUT(f_->Webt().address(), QUrl::fromLocalFile(folder), 20000);
    QVERIFY(window().grab().save(artifactPath(QStringLiteral("gallery-tree-rows.png"))));

    f_->click("list");
    QVERIFY(f_->Text1().isVisible() && !f_->Web().isVisible());
    QVERIFY(f_->Text1().toPlainText().contains(QStringLiteral("照片#2.gif")));
    f_->click("small");
    QVERIFY(f_->Webt().isVisible() && !f_->Text1().isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(evaluate(f_->Webt(), QStringLiteral("document.body.innerText")).toString().contains(QStringLiteral("notes.txt")), 20000);
    QVERIFY(window().grab().save(artifactPath(QStringLiteral("folder-view.png"))));
    f_->click("big");
    QVERIFY(f_->Web().isVisible() && !f_->Webt().isVisible());
    // The view switches cleared the shared values, as the next page load shows.
    window().DownloadComplete();
    QCOMPARE(f_->status(StatusPanel::Folder), QStringLiteral("当前路径： "));
    QCOMPARE(f_->status(StatusPanel::Count), QStringLiteral("图片总数：0"));
}

void CommandsTest::openFolderCancelledChangesNothing()
{
    QFile page(f_->paths().pagePath());
    QVERIFY(page.open(QIODevice::WriteOnly));
    page.write("<body>old</body>");
    page.close();
    f_->statusBar().setText(StatusPanel::Folder, QStringLiteral("before"));
    const QUrl shown = f_->Web().url();

    f_->click("Opendir");  // no answer queued: cancel
    QCOMPARE(fakes().dialogs.folderTitles.size(), std::size_t{1});
    QCOMPARE(f_->pageBytes(), std::string("<body>old</body>"));
    QVERIFY(!QFile::exists(f_->paths().listFilePath()));
    QCOMPARE(f_->status(StatusPanel::Folder), QStringLiteral("before"));
    QCOMPARE(f_->Web().url(), shown);
    QCOMPARE(window().cursor().shape(), Qt::ArrowCursor);
}

void CommandsTest::treeWithoutPicturesWritesTheEmptyPage()
{
    Sandbox tree;
    tree.fill({"a.txt", "b.jpeg", "sub/", "sub/c.png"});
    fakes().dialogs.folderAnswers.push_back(q(tree.root().string()) + QLatin1Char('/'));
    f_->click("Opendir");
    QCOMPARE(f_->shownCount(), 0);
    QCOMPARE(f_->listFileBytes(), std::string("\r\n"));
    const std::string expected =
        "<body oncontextmenu=self.event.returnValue=false topmargin=0 leftmargin=0 rightmargin=0 bottommargin=0>\r\n"
        "<center>\r\n"
        "<table border=\"1\" cellpadding=\"0\" cellspacing=\"0\" style=\"border-collapse: collapse\" "
        "bordercolor=\"#111111\" width=\"100%\" id=\"AutoNumber1\">\r\n"
        "\r\n\r\n</table>\r\n</center>\r\n</body>\r\n";
    QCOMPARE(f_->pageBytes(), expected);
    QVERIFY(waitForPage());
    QCOMPARE(f_->status(StatusPanel::Count), QStringLiteral("图片总数：0"));
}

void CommandsTest::openPictureInBothLayoutsRemembersTheFolder()
{
    Sandbox folder;
    folder.write("a.jpg", jpeg(64, 48));
    folder.write("B.bmp", makeBmp(BmpForm::Info40, 32, 32));
    folder.write("c.gif", gif(24, 12));
    folder.write("xjpg", jpeg(10, 10));
    folder.write("d.jpeg", jpeg(10, 10));
    const QString chosen = q(folder.root().string()) + QStringLiteral("/a.jpg");
    const QString remembered = q(folder.root().string());

    // Flow layout first: nothing remembered yet, so the dialog opens in its default folder.
    fakes().dialogs.openAnswers.push_back(chosen);
    f_->click("OpenImg");
    QCOMPARE(fakes().dialogs.openCalls.back().filter, QStringLiteral("图片(BMP,JPG,GIF)|*.bmp;*.jpg;*.gif"));
    QVERIFY(fakes().dialogs.openCalls.back().initialFolder.isEmpty());
    QCOMPARE(fakes().settings.read(kApp, kSection, kKey), remembered);
    QCOMPARE(f_->shownCount(), 4);  // the files the file list box lists
    QVERIFY(window().imageListText().empty());
    QVERIFY(f_->Text1().toPlainText().isEmpty());
    const std::string flowPage = f_->pageBytes();
    QVERIFY(flowPage.find("target=\"_blank\"><img border=\"1\" src=\"") != std::string::npos);
    QVERIFY(flowPage.find("<tr>") == std::string::npos);
    QVERIFY(waitForPage());
    QCOMPARE(f_->status(StatusPanel::Folder), QStringLiteral("当前路径： ") + remembered);
    QCOMPARE(f_->status(StatusPanel::Count), QStringLiteral("图片总数：4"));
    QCOMPARE(pageImages(), 4);
    QTRY_COMPARE_WITH_TIMEOUT(loadedPictures(), 4, 20000);  // "xjpg" is listed, and the engine shows it
    QTRY_COMPARE_WITH_TIMEOUT(f_->Webt().address(), QUrl::fromLocalFile(remembered + QLatin1Char('/')), 20000);
    QVERIFY(window().grab().save(artifactPath(QStringLiteral("gallery-flow.png"))));

    // Row layout on the same picture: same folder and count, rows, the paths in the list view.
    fakes().dialogs.openAnswers.push_back(chosen);
    f_->click("OpenList");
    QCOMPARE(fakes().dialogs.openCalls.back().initialFolder, remembered);
    QCOMPARE(fakes().settings.read(kApp, kSection, kKey), remembered);
    QCOMPARE(f_->shownCount(), 4);
    QCOMPARE(crlfLines(window().imageListText()).size(), 4);
    QCOMPARE(f_->Text1().toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts).size(), 4);
    const std::string rowPage = f_->pageBytes();
    QVERIFY(rowPage.find("<tr>") != std::string::npos);
    QVERIFY(rowPage.find("width=\"64\" height=\"48\"") != std::string::npos);
    QVERIFY(waitForPage());
    QCOMPARE(f_->status(StatusPanel::Folder), QStringLiteral("当前路径： ") + remembered);
    QTRY_COMPARE_WITH_TIMEOUT(loadedPictures(), 4, 20000);
    QVERIFY(window().grab().save(artifactPath(QStringLiteral("gallery-rows.png"))));

    // Cancel: the page and the remembered folder stay.
    const int writes = fakes().settings.writes;
    f_->click("OpenImg");
    QCOMPARE(fakes().settings.writes, writes);
    QCOMPARE(f_->pageBytes(), rowPage);
    window().DownloadComplete();
    QCOMPARE(f_->shownCount(), 0);

    // A picture in a folder that has vanished since: nothing changes either.
    fakes().dialogs.openAnswers.push_back(QStringLiteral("/no/such/folder/x.jpg"));
    f_->click("OpenImg");
    QCOMPARE(fakes().settings.read(kApp, kSection, kKey), remembered);
    QCOMPARE(f_->pageBytes(), rowPage);
}

void CommandsTest::statusAndPointerWhileEachCommandRuns_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QStringList>("whileRunning");
    QTest::addColumn<QString>("afterwards");
    // The count shows as soon as it is known, the activity as it changes, and the hourglass
    // throughout, but not while the user still chooses in the dialog.
    QTest::newRow("OpenImg") << QStringLiteral("OpenImg")
                             << QStringList{QStringLiteral("正在提取图象信息，请稍等…… | 图片总数：3 | wait")}
                             << QStringLiteral("正在提取图象信息，请稍等…… | 图片总数：3 | arrow");
    QTest::newRow("OpenList") << QStringLiteral("OpenList")
                              << QStringList{QStringLiteral("正在提取图象信息，请稍等…… | 图片总数：3 | wait")}
                              << QStringLiteral("正在提取图象信息，请稍等…… | 图片总数：3 | arrow");
    QTest::newRow("Opendir") << QStringLiteral("Opendir")
                             << QStringList{QStringLiteral("正在搜索图象文件…… | 图片总数：0 | wait"),
                                            QStringLiteral("正在搜索图象文件…… | 图片总数：3 | wait"),
                                            QStringLiteral("正在提取图象信息，请稍等…… | 图片总数：3 | wait")}
                             << QStringLiteral("正在载入图象列表…… | 图片总数：3 | arrow");
}

void CommandsTest::statusAndPointerWhileEachCommandRuns()
{
    QFETCH(QString, key);
    QFETCH(QStringList, whileRunning);
    QFETCH(QString, afterwards);
    // Three pictures in the folder of a.jpg, and three in the tree below "sub".
    Sandbox folder;
    folder.write("a.jpg", jpeg(30, 20));
    folder.write("b.gif", gif(20, 20));
    folder.write("c.bmp", makeBmp(BmpForm::Info40, 8, 8));
    folder.write("sub/c.bmp", makeBmp(BmpForm::Info40, 8, 8));
    folder.write("sub/d.jpg", jpeg(8, 8));
    folder.write("sub/deeper/e.gif", gif(8, 8));
    if (key == QLatin1String("Opendir"))
        fakes().dialogs.folderAnswers.push_back(q(folder.root().string()) + QStringLiteral("/sub"));
    else
        fakes().dialogs.openAnswers.push_back(q(folder.root().string()) + QStringLiteral("/a.jpg"));

    QString whileChoosing;
    fakes().dialogs.whileOpen = [&] { whileChoosing = shownState(); };
    // What the window shows each time it lets its events through during the command.
    QStringList seen;
    window().setYieldInterval(0);
    QTimer watcher;
    watcher.setInterval(0);
    connect(&watcher, &QTimer::timeout, this, [&] {
        if (window().isBusy() && (seen.isEmpty() || seen.last() != shownState()))
            seen << shownState();
    });
    watcher.start();
    f_->click(qPrintable(key));
    watcher.stop();

    QCOMPARE(whileChoosing, QStringLiteral("当前路径：  | 图片总数：0 | arrow"));
    QCOMPARE(seen, whileRunning);
    QCOMPARE(shownState(), afterwards);
    QVERIFY(waitForPage());
    QVERIFY(shownState().endsWith(QStringLiteral(" | 图片总数：3 | arrow")));
}

void CommandsTest::clicksDuringARunAreRefusedButViewsSwitch()
{
    Sandbox tree;
    for (int i = 0; i < 60; ++i)
        tree.write("d" + std::to_string(i % 6) + "/p" + std::to_string(i) + ".bmp", makeBmp(BmpForm::Info40, 4, 4));
    fakes().dialogs.folderAnswers.push_back(q(tree.root().string()));
    window().setYieldInterval(0);  // pump events on every entry, so clicks land inside the run

    int attempts = 0;
    QStringList told;
    QTimer clicker;
    clicker.setInterval(0);
    connect(&clicker, &QTimer::timeout, this, [&] {
        if (!window().isBusy())
            return;
        ++attempts;
        // What the user sees: the commands that cannot run look disabled and say why, the
        // pointer is the hourglass over the whole window, and a refused click gets its word.
        if (attempts == 1) {
            for (const char* key : {"OpenImg", "OpenList", "save", "find", "print"}) {
                QVERIFY(!f_->button(key)->isEnabled());
                QVERIFY(f_->button(key)->toolTip().contains(QStringLiteral("请等它完成，或按 Esc 停止")));
            }
            QVERIFY(!f_->menuItem("mnuFileSaveAs")->isEnabled());
            QVERIFY(f_->button("Opendir")->isEnabled());
            QVERIFY(QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::WaitCursor);
        }
        f_->click("OpenList");
        told << f_->status(StatusPanel::Folder);
        // Saving or searching a page still being written, from the toolbar or the menus.
        f_->click("save");
        f_->click("find");
        f_->menuItem("mnuFileSaveAs")->trigger();
        f_->menuItem("find")->trigger();
        f_->click(attempts % 2 ? "list" : "big");
    });
    clicker.start();
    f_->click("Opendir");
    clicker.stop();

    QVERIFY(attempts > 0);
    QVERIFY(told.first().endsWith(QStringLiteral("。请等它完成后再试，或按 Esc 停止")));
    QVERIFY(told.first().startsWith(QStringLiteral("正在搜索图象文件……")));
    QVERIFY(f_->button("OpenList")->isEnabled());
    QCOMPARE(f_->button("OpenList")->toolTip(), QStringLiteral("打开图片目录（列表式，用于看大图片）"));
    QVERIFY(!QApplication::overrideCursor());
    QCOMPARE(fakes().dialogs.folderTitles.size(), std::size_t{1});
    QVERIFY(fakes().dialogs.openCalls.empty());
    QCOMPARE(fakes().browserDialogs.saveAsked, 0);
    QVERIFY(!f_->Web().findDialog() || !f_->Web().findDialog()->isVisible());
    QCOMPARE(f_->shownCount(), 60);
    const std::string listFile = f_->listFileBytes();
    QCOMPARE(crlfLines(listFile).size(), 61);  // 60 paths and the closing empty line
    QCOMPARE(crlfLines(window().imageListText()).size(), 120);  // the search's and the rows'
    QCOMPARE(window().imageListText().substr(0, listFile.size() - 2), listFile.substr(0, listFile.size() - 2));
    const std::string page = f_->pageBytes();
    QVERIFY(page.size() > 14 && page.substr(page.size() - 9) == "</body>\r\n");
    QCOMPARE(static_cast<int>(std::count(page.begin(), page.end(), '\n')), 8 + 60 * 9);
    QCOMPARE(window().cursor().shape(), Qt::ArrowCursor);
    QVERIFY(!window().isBusy());
    // The view switches went through.
    QCOMPARE(f_->Text1().isVisible(), attempts % 2 == 1);
}

void CommandsTest::aStoppedRunKeepsThePreviousGalleryAndListFile_data()
{
    QTest::addColumn<bool>("byEscape");
    QTest::addColumn<QString>("stopWhile");
    QTest::newRow("Esc while searching") << true << QStringLiteral("已找到");
    QTest::newRow("folder button while writing") << false << QStringLiteral("正在提取图象信息");
}

void CommandsTest::aStoppedRunKeepsThePreviousGalleryAndListFile()
{
    QFETCH(bool, byEscape);
    QFETCH(QString, stopWhile);
    Sandbox before;
    before.write("a.gif", gif(20, 10));
    fakes().dialogs.folderAnswers.push_back(q(before.root().string()));
    f_->click("Opendir");
    QVERIFY(waitForPage());
    const std::string page = f_->pageBytes();
    const std::string list = f_->listFileBytes();
    const QString count = f_->status(StatusPanel::Count);
    const QString shownList = f_->Text1().toPlainText();

    Sandbox tree;
    for (int i = 0; i < 400; ++i)
        tree.write("d" + std::to_string(i % 8) + "/p" + std::to_string(i) + ".bmp", makeBmp(BmpForm::Info40, 4, 4));
    fakes().dialogs.folderAnswers.push_back(q(tree.root().string()));
    window().setYieldInterval(0);
    // Every turn of the window costs a millisecond, so the search lasts long enough to tell its
    // progress before it is stopped.
    QStringList seen;
    QTimer stopper;
    stopper.setInterval(0);
    connect(&stopper, &QTimer::timeout, this, [&] {
        QThread::msleep(1);
        if (!window().isBusy() || !f_->status(StatusPanel::Folder).contains(stopWhile))
            return;
        seen << f_->status(StatusPanel::Folder) + QStringLiteral(" | ") + f_->status(StatusPanel::Count);
        stopper.stop();
        window().grab().save(artifactPath(QStringLiteral("stopRun-%1.png").arg(byEscape ? "search" : "write")));
        byEscape ? QTest::keyClick(&window(), Qt::Key_Escape) : f_->click("Opendir");
    });
    stopper.start();
    f_->click("Opendir");
    stopper.stop();

    QCOMPARE(seen.size(), 1);
    if (byEscape)
        QVERIFY2(QRegularExpression(QStringLiteral("^正在搜索图象文件……已找到 (\\d+) 张图片（按 Esc 停止） \\| 图片总数：\\1$"))
                     .match(seen.first()).hasMatch(), qPrintable(seen.first()));
    QCOMPARE(f_->status(StatusPanel::Folder), QStringLiteral("已停止搜索：原来的图片页面和文件列表保持不变"));
    QCOMPARE(f_->status(StatusPanel::Count), count);
    QCOMPARE(f_->pageBytes(), page);
    QCOMPARE(f_->listFileBytes(), list);
    QCOMPARE(f_->Text1().toPlainText(), shownList);
    QCOMPARE(QDir(f_->paths().dataFolder).entryList({QStringLiteral("*.part")}, QDir::Files), QStringList());
    QCOMPARE(QDir(f_->paths().dataFolder + QStringLiteral("/temp")).entryList({QStringLiteral("*.part")}, QDir::Files),
             QStringList());
    QVERIFY(!window().isBusy());
    QVERIFY(!QApplication::overrideCursor());
    QVERIFY(f_->button("OpenList")->isEnabled());
    // The next search runs whole.
    fakes().dialogs.folderAnswers.push_back(q(tree.root().string()));
    f_->click("Opendir");
    QVERIFY(waitForPage());
    QCOMPARE(f_->shownCount(), 400);
    QCOMPARE(crlfLines(f_->listFileBytes()).size(), 401);
}

void CommandsTest::savedArchiveDrawsEveryPictureInChromium()
{
    // Pictures of four colours, as BMP and JPEG, in the flowing gallery of their folder.
    Sandbox folder;
    const QList<QColor> colours = {Qt::red, QColor(0, 160, 0), Qt::blue, QColor(240, 200, 0)};
    for (int i = 0; i < colours.size(); ++i) {
        QImage picture(48, 48, QImage::Format_RGB32);
        picture.fill(colours[i]);
        const std::string name = "p" + std::to_string(i) + (i % 2 ? ".jpg" : ".bmp");
        QVERIFY(picture.save(q(folder.root().string() + "/" + name), nullptr, 100));
    }
    fakes().dialogs.openAnswers.push_back(q(folder.root().string()) + QStringLiteral("/p0.bmp"));
    f_->click("OpenImg");
    QVERIFY(waitForPage());

    // Both long saves tell their progress with the busy pointer and say when they are done.
    QTemporaryDir out;
    const mode_t umask = ::umask(0);
    ::umask(umask);
    for (const auto& [format, name] : {std::pair{SaveFormat::CompletePage, "whole.htm"}, std::pair{SaveFormat::SingleFile, "whole.mht"}}) {
        const QString target = out.filePath(QString::fromLatin1(name));
        fakes().browserDialogs.saveAnswer = SaveAsChoice{target, format};
        QSignalSpy progress(&f_->Web(), &WebBrowser::saveProgress);
        QSignalSpy done(&f_->Web(), &WebBrowser::saveDone);
        f_->click("save");
        QVERIFY(progress.count() >= 1);
        QVERIFY(f_->status(StatusPanel::Folder).startsWith(QStringLiteral("正在保存网页：已保存 0 / 4 张图片")));
        QVERIFY(QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::BusyCursor);
        QVERIFY(done.wait(30000));
        QVERIFY(done.last().at(0).toBool());
        QCOMPARE(progress.last(), (QVariantList{4, 4}));
        QCOMPARE(f_->status(StatusPanel::Folder), QStringLiteral("网页已保存：") + target);
        QVERIFY(!QApplication::overrideCursor());
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(target).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, 0666 & ~umask);
    }

    // The archive opened in Chromium draws every picture: each colour covers its picture's area.
    const QString chromium = QStandardPaths::findExecutable(QStringLiteral("chromium"));
    if (chromium.isEmpty())
        QSKIP("chromium is not installed (dev.sh installs it)");
    const QString shot = out.filePath(QStringLiteral("shot.png"));
    QProcess browser;
    browser.start(chromium, {QStringLiteral("--headless=new"), QStringLiteral("--no-sandbox"), QStringLiteral("--disable-gpu"),
                             QStringLiteral("--user-data-dir=") + out.filePath(QStringLiteral("profile")),
                             QStringLiteral("--window-size=800,600"), QStringLiteral("--virtual-time-budget=5000"),
                             QStringLiteral("--screenshot=") + shot,
                             QUrl::fromLocalFile(out.filePath(QStringLiteral("whole.mht"))).toString()});
    QVERIFY(browser.waitForFinished(90000));
    const QImage drawn(shot);
    QVERIFY(!drawn.isNull());
    for (const QColor& colour : colours) {
        int near = 0;
        for (int y = 0; y < drawn.height(); ++y)
            for (int x = 0; x < drawn.width(); ++x) {
                const QColor c = drawn.pixelColor(x, y);
                near += std::abs(c.red() - colour.red()) + std::abs(c.green() - colour.green())
                            + std::abs(c.blue() - colour.blue()) < 40;
            }
        QVERIFY2(near >= 48 * 48 * 9 / 10, qPrintable(colour.name() + QStringLiteral(" drawn on %1 pixels").arg(near)));
    }
    drawn.save(artifactPath(QStringLiteral("savedArchiveInChromium.png")));
}

void CommandsTest::closeDuringAPageWriteStopsForGood()
{
    Sandbox folder;
    for (int i = 0; i < 40; ++i)
        folder.write("p" + std::to_string(i) + ".bmp", makeBmp(BmpForm::Info40, 4, 4));
    fakes().dialogs.openAnswers.push_back(q(folder.root().string()) + QStringLiteral("/p0.bmp"));
    window().setYieldInterval(0);
    bool closedInsideRun = false;
    QTimer closer;
    closer.setInterval(0);
    connect(&closer, &QTimer::timeout, this, [&] {
        if (window().isBusy() && f_->status(StatusPanel::Folder).startsWith(QStringLiteral("正在提取"))) {
            closedInsideRun = true;
            closer.stop();
            window().close();
        }
    });
    closer.start();
    const QUrl before = f_->Web().url();
    f_->click("OpenList");
    closer.stop();

    QVERIFY(closedInsideRun);
    QVERIFY(!window().isVisible());
    QCOMPARE(openDescriptorsUnder(f_->paths().dataFolder.toStdString()), 0);
    const std::string page = f_->pageBytes();
    QVERIFY(page.find("</body>") == std::string::npos);  // stopped before its closing lines
    QCOMPARE(f_->Web().url(), before);               // and never shown
    QTest::qWait(200);
    QVERIFY(!window().isVisible());
    QCOMPARE(window().cursor().shape(), Qt::ArrowCursor);
}

void CommandsTest::menuSaveAndFindActOnTheShownGallery()
{
    Sandbox folder;
    QVERIFY(showGallery(folder));

    // Save-as saves what the gallery holds, even while the list view is in front.
    f_->click("list");
    QTemporaryDir out;
    fakes().browserDialogs.saveAnswer = SaveAsChoice{out.filePath(QStringLiteral("saved.htm")), SaveFormat::HtmlOnly};
    QSignalSpy saved(&f_->Web(), &WebBrowser::saveDone);
    f_->menuItem("mnuFileSaveAs")->trigger();
    QVERIFY(saved.wait(30000));
    QVERIFY(saved.last().at(0).toBool());
    const std::string copy = readFileBytes(out.filePath(QStringLiteral("saved.htm")).toStdString());
    QVERIFY(copy.find("two.gif") != std::string::npos);

    // Find from the menu: nothing while the gallery is hidden, the dialog over it when shown.
    f_->menuItem("find")->trigger();
    QVERIFY(!f_->Web().findDialog() || !f_->Web().findDialog()->isVisible());
    f_->click("big");
    f_->menuItem("find")->trigger();
    FindDialog* dialog = f_->Web().findDialog();
    QVERIFY(dialog && dialog->isVisible());
    QCOMPARE(findText(*dialog, QStringLiteral("two.gif")), 1);
}

void CommandsTest::toolbarSaveAndPrintReachTheBrowser()
{
    Sandbox folder;
    QVERIFY(showGallery(folder));
    QTemporaryDir out;

    // The buttons as the user presses them; the browser's own dialogs answer.
    QSignalSpy saved(&f_->Web(), &WebBrowser::saveDone);
    QTest::mouseClick(f_->toolButton("save"), Qt::LeftButton);  // cancelled
    QCOMPARE(fakes().browserDialogs.saveAsked, 1);
    fakes().browserDialogs.saveAnswer = SaveAsChoice{out.filePath(QStringLiteral("saved.htm")), SaveFormat::HtmlOnly};
    QTest::mouseClick(f_->toolButton("save"), Qt::LeftButton);
    QCOMPARE(fakes().browserDialogs.saveAsked, 2);
    QVERIFY(saved.wait(30000));
    QCOMPARE(saved.count(), 1);
    QVERIFY(saved.last().at(0).toBool());
    QVERIFY(readFileBytes(out.filePath(QStringLiteral("saved.htm")).toStdString()).find("two.gif") != std::string::npos);

    QSignalSpy printed(&f_->Web(), &WebBrowser::printDone);
    QTest::mouseClick(f_->toolButton("print"), Qt::LeftButton);  // cancelled
    QCOMPARE(fakes().browserDialogs.printAsked, 1);
    fakes().browserDialogs.pdfPath = out.filePath(QStringLiteral("printed.pdf"));
    // While it prints, panel 1 and the cursor say so; the print button again, or Esc, stops it.
    const QString before = f_->status(StatusPanel::Folder);
    for (const bool byEscape : {false, true}) {
        QTest::mouseClick(f_->toolButton("print"), Qt::LeftButton);
        QVERIFY(f_->status(StatusPanel::Folder).startsWith(QStringLiteral("正在准备打印")));
        QCOMPARE(window().cursor().shape(), Qt::BusyCursor);
        if (byEscape)
            QTest::keyClick(&window(), Qt::Key_Escape);
        else
            QTest::mouseClick(f_->toolButton("print"), Qt::LeftButton);
        QVERIFY(printed.count() == 1 || printed.wait(10000));
        QCOMPARE(printed.takeLast().at(0).toBool(), false);
        QCOMPARE(f_->status(StatusPanel::Folder), before);
        QCOMPARE(window().cursor().shape(), Qt::ArrowCursor);
    }
    QTest::mouseClick(f_->toolButton("print"), Qt::LeftButton);
    QCOMPARE(fakes().browserDialogs.printAsked, 4);
    QVERIFY(printed.wait(60000));
    QCOMPARE(printed.count(), 1);
    QVERIFY(printed.last().at(0).toBool());
    QCOMPARE(f_->status(StatusPanel::Folder), before);
    QCOMPARE(readFileBytes(fakes().browserDialogs.pdfPath.toStdString()).substr(0, 5), std::string("%PDF-"));
    // Neither touched the shown gallery.
    QCOMPARE(f_->status(StatusPanel::Count), QStringLiteral("图片总数：2"));
}

void CommandsTest::aDeadPageProcessIsReportedAndTheNextCommandShowsTheGallery()
{
    Sandbox tree;
    for (const char* name : {"a.gif", "b.gif", "c.gif"})
        tree.write(name, gif(20, 10));
    const QString folder = q(tree.root().string()) + QLatin1Char('/');
    fakes().dialogs.folderAnswers.push_back(folder);
    f_->click("Opendir");
    QVERIFY(waitForPage());
    QTRY_COMPARE_WITH_TIMEOUT(loadedPictures(), 3, 20000);

    // The engine's page process goes, as it would when the system runs out of memory.
    const QString lost = QStringLiteral("图片页面意外关闭（可能是内存不足），请重新打开图片。");
    const qint64 pid = f_->Web().page()->renderProcessPid();
    QVERIFY(pid > 0);
    QCOMPARE(::kill(static_cast<pid_t>(pid), SIGKILL), 0);
    QTRY_COMPARE_WITH_TIMEOUT(f_->status(StatusPanel::Folder), lost, 10000);
    QTest::qWait(500);
    QCOMPARE(f_->status(StatusPanel::Folder), lost);  // no load end claims the page came

    // The next command brings the gallery back, in a process of its own.
    fakes().dialogs.folderAnswers.push_back(folder);
    f_->click("Opendir");
    QVERIFY(waitForPage());
    QCOMPARE(f_->status(StatusPanel::Folder), QStringLiteral("当前路径： ") + folder);
    QTRY_COMPARE_WITH_TIMEOUT(loadedPictures(), 3, 20000);
    QVERIFY(f_->Web().page()->renderProcessPid() != pid);
}

QTEST_MAIN(CommandsTest)
#include "tst_commands.moc"
