#include <QDir>
#include <QLineEdit>
#include <QFile>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWebEnginePage>

#include "app/frmmain.h"
#include "app/statusbar.h"
#include "fakes/fakeplatform.h"
#include "support/webtest.h"
#include "platform/filelistbox.h"
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
    std::unique_ptr<QTemporaryDir> program_;
    std::unique_ptr<FakePlatform> fakes_;
    std::unique_ptr<frmMain> window_;

    static QString artifactPath(const QString& name)
    {
        const QString folder = qEnvironmentVariable("PICTARRE_ARTIFACTS", QDir::tempPath());
        QDir().mkpath(folder);
        return folder + QLatin1Char('/') + name;
    }

    bool waitForPage()
    {
        return QTest::qWaitFor([&] { return window_->sbStatusBar->panelText(1).startsWith(QStringLiteral("当前路径")); },
                               30000);
    }

    // Every picture of the shown gallery has loaded with a size.
    int loadedPictures()
    {
        const bool complete = QTest::qWaitFor([&] {
            return evaluate(*window_->Web, QStringLiteral("document.readyState")).toString() == QLatin1String("complete");
        }, 20000);
        if (!complete)
            return -1;
        return evaluate(*window_->Web, QStringLiteral(
            "Array.from(document.images).filter(i => i.complete && i.naturalWidth > 0).length")).toInt();
    }

    int pageImages() { return evaluate(*window_->Web, QStringLiteral("document.images.length")).toInt(); }

private slots:
    void init()
    {
        program_ = std::make_unique<QTemporaryDir>();
        fakes_ = std::make_unique<FakePlatform>();
        window_ = std::make_unique<frmMain>(fakes_->platform, ProgramPaths{program_->path(), program_->path()});
        window_->show();
        QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
        QVERIFY(waitForPage());
    }
    void cleanup()
    {
        window_.reset();
        fakes_.reset();
        program_.reset();
    }

    void openFolderSearchesTheTreeAndShowsEveryView();
    void openFolderCancelledChangesNothing();
    void treeWithoutPicturesWritesTheEmptyPage();
    void openPictureInBothLayoutsRemembersTheFolder();
    void clicksDuringARunAreRefusedButViewsSwitch();
    void closeDuringAPageWriteStopsForGood();
    void menuSaveAndFindActOnTheShownGallery();
};

void CommandsTest::openFolderSearchesTheTreeAndShowsEveryView()
{
    Sandbox tree;
    tree.write("a 1.jpg", jpeg(40, 30));
    tree.write("sub/b&c.bmp", makeBmp(BmpForm::Info40, 30, 20));
    tree.write("sub/深/照片#2.gif", gif(20, 10));
    tree.write(".hidden/skip.jpg", jpeg(8, 8));
    tree.write("notes.txt", "text");
    fakes_->dialogs.folderAnswers.push_back(q(tree.root().string()));

    window_->Toolbar1_ButtonClick(QStringLiteral("Opendir"));
    QCOMPARE(fakes_->dialogs.folderTitles.back(), QStringLiteral("请您在下面选择一个文件夹的路径："));
    QCOMPARE(fakes_->dialogs.owners.back(), window_.get());
    QCOMPARE(window_->state.CurrentFolder, tree.folder());
    QCOMPARE(window_->state.PictureCount, 3);
    QVERIFY(window_->state.UseSearchList);
    QCOMPARE(window_->sbStatusBar->panelText(3), QStringLiteral("图片总数：3"));
    QCOMPARE(window_->cursor().shape(), Qt::ArrowCursor);

    // The search's list is what the list view and the list file show; the page writer's rows
    // append the same paths again to the shared text afterwards.
    const std::string listFile = readFileBytes(window_->listFilePath().toStdString());
    QVERIFY(listFile.size() > 2 && listFile.substr(listFile.size() - 4) == "\r\n\r\n");
    QStringList found = crlfLines(listFile.substr(0, listFile.size() - 2));
    QCOMPARE(window_->Text1->toPlainText(), q(listFile.substr(0, listFile.size() - 2)).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    QCOMPARE(crlfLines(window_->state.ImageListText), found + found);
    const QString folder = q(tree.folder());
    found.sort();
    QCOMPARE(found, QStringList({folder + QStringLiteral("a 1.jpg"), folder + QStringLiteral("sub/b&c.bmp"),
                                 folder + QStringLiteral("sub/深/照片#2.gif")}));

    QVERIFY(waitForPage());
    QCOMPARE(window_->sbStatusBar->panelText(1), QStringLiteral("当前路径： ") + folder);
    QCOMPARE(window_->Web->url(), galleryUrl(QFile::encodeName(window_->pagePath())));
    QCOMPARE(pageImages(), 3);
    QTRY_COMPARE_WITH_TIMEOUT(loadedPictures(), 3, 20000);
    QTRY_COMPARE_WITH_TIMEOUT(window_->Webt->url(), QUrl::fromLocalFile(folder), 20000);
    QVERIFY(window_->grab().save(artifactPath(QStringLiteral("gallery-tree-rows.png"))));

    window_->Toolbar1_ButtonClick(QStringLiteral("list"));
    QVERIFY(window_->Text1->isVisible() && !window_->Web->isVisible());
    QVERIFY(window_->Text1->toPlainText().contains(QStringLiteral("照片#2.gif")));
    window_->Toolbar1_ButtonClick(QStringLiteral("small"));
    QVERIFY(window_->Webt->isVisible() && !window_->Text1->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(evaluate(*window_->Webt, QStringLiteral("document.body.innerText")).toString().contains(QStringLiteral("notes.txt")), 20000);
    QVERIFY(window_->grab().save(artifactPath(QStringLiteral("folder-view.png"))));
    window_->Toolbar1_ButtonClick(QStringLiteral("big"));
    QVERIFY(window_->Web->isVisible() && !window_->Webt->isVisible());
    // The view switches cleared the shared values.
    QCOMPARE(window_->state.PictureCount, 0);
    QVERIFY(window_->state.CurrentFolder.empty());
}

void CommandsTest::openFolderCancelledChangesNothing()
{
    QFile page(window_->pagePath());
    QVERIFY(page.open(QIODevice::WriteOnly));
    page.write("<body>old</body>");
    page.close();
    window_->sbStatusBar->setPanelText(1, QStringLiteral("before"));
    const QUrl shown = window_->Web->url();

    window_->Toolbar1_ButtonClick(QStringLiteral("Opendir"));  // no answer queued: cancel
    QCOMPARE(fakes_->dialogs.folderTitles.size(), std::size_t{1});
    QCOMPARE(readFileBytes(window_->pagePath().toStdString()), std::string("<body>old</body>"));
    QVERIFY(!QFile::exists(window_->listFilePath()));
    QCOMPARE(window_->sbStatusBar->panelText(1), QStringLiteral("before"));
    QCOMPARE(window_->Web->url(), shown);
    QVERIFY(!window_->state.UseSearchList);
    QCOMPARE(window_->cursor().shape(), Qt::ArrowCursor);
}

void CommandsTest::treeWithoutPicturesWritesTheEmptyPage()
{
    Sandbox tree;
    tree.fill({"a.txt", "b.jpeg", "sub/", "sub/c.png"});
    fakes_->dialogs.folderAnswers.push_back(q(tree.root().string()) + QLatin1Char('/'));
    window_->Toolbar1_ButtonClick(QStringLiteral("Opendir"));
    QCOMPARE(window_->state.PictureCount, 0);
    QCOMPARE(readFileBytes(window_->listFilePath().toStdString()), std::string("\r\n"));
    const std::string expected =
        "<body oncontextmenu=self.event.returnValue=false topmargin=0 leftmargin=0 rightmargin=0 bottommargin=0>\r\n"
        "<center>\r\n"
        "<table border=\"1\" cellpadding=\"0\" cellspacing=\"0\" style=\"border-collapse: collapse\" "
        "bordercolor=\"#111111\" width=\"100%\" id=\"AutoNumber1\">\r\n"
        "\r\n\r\n</table>\r\n</center>\r\n</body>\r\n";
    QCOMPARE(readFileBytes(window_->pagePath().toStdString()), expected);
    QVERIFY(waitForPage());
    QCOMPARE(window_->sbStatusBar->panelText(3), QStringLiteral("图片总数：0"));
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
    fakes_->dialogs.openAnswers.push_back(chosen);
    window_->Toolbar1_ButtonClick(QStringLiteral("OpenImg"));
    QCOMPARE(fakes_->dialogs.openCalls.back().filter, QStringLiteral("图片(BMP,JPG,GIF)|*.bmp;*.jpg;*.gif"));
    QVERIFY(fakes_->dialogs.openCalls.back().initialFolder.isEmpty());
    QCOMPARE(fakes_->settings.read(kApp, kSection, kKey), remembered);
    QCOMPARE(window_->File1->ListCount(), 4);
    QCOMPARE(window_->state.PictureCount, 4);
    QCOMPARE(window_->state.CurrentFolder, folder.root().string());
    QVERIFY(!window_->state.UseSearchList);
    QVERIFY(window_->state.ImageListText.empty());
    QVERIFY(window_->Text1->toPlainText().isEmpty());
    const std::string flowPage = readFileBytes(window_->pagePath().toStdString());
    QVERIFY(flowPage.find("target=\"_blank\"><img border=\"1\" src=\"") != std::string::npos);
    QVERIFY(flowPage.find("<tr>") == std::string::npos);
    QVERIFY(waitForPage());
    QCOMPARE(window_->sbStatusBar->panelText(3), QStringLiteral("图片总数：4"));
    QCOMPARE(pageImages(), 4);
    QTRY_COMPARE_WITH_TIMEOUT(loadedPictures(), 4, 20000);  // "xjpg" is listed, and the engine shows it
    QTRY_COMPARE_WITH_TIMEOUT(window_->Webt->url(), QUrl::fromLocalFile(remembered + QLatin1Char('/')), 20000);
    QVERIFY(window_->grab().save(artifactPath(QStringLiteral("gallery-flow.png"))));

    // Row layout on the same picture: same folder and count, rows, the paths in the list view.
    fakes_->dialogs.openAnswers.push_back(chosen);
    window_->Toolbar1_ButtonClick(QStringLiteral("OpenList"));
    QCOMPARE(fakes_->dialogs.openCalls.back().initialFolder, remembered);
    QCOMPARE(fakes_->settings.read(kApp, kSection, kKey), remembered);
    QCOMPARE(window_->state.PictureCount, 4);
    QCOMPARE(window_->state.CurrentFolder, folder.root().string());
    QCOMPARE(crlfLines(window_->state.ImageListText).size(), 4);
    QCOMPARE(window_->Text1->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts).size(), 4);
    const std::string rowPage = readFileBytes(window_->pagePath().toStdString());
    QVERIFY(rowPage.find("<tr>") != std::string::npos);
    QVERIFY(rowPage.find("width=\"64\" height=\"48\"") != std::string::npos);
    QVERIFY(waitForPage());
    QTRY_COMPARE_WITH_TIMEOUT(loadedPictures(), 4, 20000);
    QVERIFY(window_->grab().save(artifactPath(QStringLiteral("gallery-rows.png"))));

    // Cancel: the page and the remembered folder stay.
    const int writes = fakes_->settings.writes;
    window_->Toolbar1_ButtonClick(QStringLiteral("OpenImg"));
    QCOMPARE(fakes_->settings.writes, writes);
    QCOMPARE(readFileBytes(window_->pagePath().toStdString()), rowPage);
    QCOMPARE(window_->state.PictureCount, 0);

    // A picture in a folder that has vanished since: nothing changes either.
    fakes_->dialogs.openAnswers.push_back(QStringLiteral("/no/such/folder/x.jpg"));
    window_->Toolbar1_ButtonClick(QStringLiteral("OpenImg"));
    QCOMPARE(fakes_->settings.read(kApp, kSection, kKey), remembered);
    QCOMPARE(readFileBytes(window_->pagePath().toStdString()), rowPage);
}

void CommandsTest::clicksDuringARunAreRefusedButViewsSwitch()
{
    Sandbox tree;
    for (int i = 0; i < 60; ++i)
        tree.write("d" + std::to_string(i % 6) + "/p" + std::to_string(i) + ".bmp", makeBmp(BmpForm::Info40, 4, 4));
    fakes_->dialogs.folderAnswers.push_back(q(tree.root().string()));
    window_->setYieldInterval(0);  // pump events on every entry, so clicks land inside the run

    int attempts = 0;
    QTimer clicker;
    clicker.setInterval(0);
    connect(&clicker, &QTimer::timeout, this, [&] {
        if (!window_->isBusy())
            return;
        ++attempts;
        window_->Toolbar1_ButtonClick(QStringLiteral("Opendir"));
        window_->Toolbar1_ButtonClick(QStringLiteral("OpenList"));
        window_->Toolbar1_ButtonClick(attempts % 2 ? QStringLiteral("list") : QStringLiteral("big"));
    });
    clicker.start();
    window_->Toolbar1_ButtonClick(QStringLiteral("Opendir"));
    clicker.stop();

    QVERIFY(attempts > 0);
    QCOMPARE(fakes_->dialogs.folderTitles.size(), std::size_t{1});
    QVERIFY(fakes_->dialogs.openCalls.empty());
    QCOMPARE(window_->state.PictureCount, 60);
    const std::string listFile = readFileBytes(window_->listFilePath().toStdString());
    QCOMPARE(crlfLines(listFile).size(), 61);  // 60 paths and the closing empty line
    QCOMPARE(crlfLines(window_->state.ImageListText).size(), 120);  // the search's and the rows'
    QCOMPARE(window_->state.ImageListText.substr(0, listFile.size() - 2), listFile.substr(0, listFile.size() - 2));
    const std::string page = readFileBytes(window_->pagePath().toStdString());
    QVERIFY(page.size() > 14 && page.substr(page.size() - 9) == "</body>\r\n");
    QCOMPARE(static_cast<int>(std::count(page.begin(), page.end(), '\n')), 8 + 60 * 9);
    QCOMPARE(window_->cursor().shape(), Qt::ArrowCursor);
    QVERIFY(!window_->isBusy());
    // The view switches went through.
    QCOMPARE(window_->Text1->isVisible(), attempts % 2 == 1);
}

void CommandsTest::closeDuringAPageWriteStopsForGood()
{
    Sandbox folder;
    for (int i = 0; i < 40; ++i)
        folder.write("p" + std::to_string(i) + ".bmp", makeBmp(BmpForm::Info40, 4, 4));
    fakes_->dialogs.openAnswers.push_back(q(folder.root().string()) + QStringLiteral("/p0.bmp"));
    window_->setYieldInterval(0);
    bool closedInsideRun = false;
    QTimer closer;
    closer.setInterval(0);
    connect(&closer, &QTimer::timeout, this, [&] {
        if (window_->isBusy() && window_->sbStatusBar->panelText(1).startsWith(QStringLiteral("正在提取"))) {
            closedInsideRun = true;
            closer.stop();
            window_->close();
        }
    });
    closer.start();
    const QUrl before = window_->Web->url();
    window_->Toolbar1_ButtonClick(QStringLiteral("OpenList"));
    closer.stop();

    QVERIFY(closedInsideRun);
    QVERIFY(window_->state.Unloading);
    QVERIFY(!window_->isVisible());
    QCOMPARE(openDescriptorsUnder(program_->path().toStdString()), 0);
    const std::string page = readFileBytes(window_->pagePath().toStdString());
    QVERIFY(page.find("</body>") == std::string::npos);  // stopped before its closing lines
    QCOMPARE(window_->Web->url(), before);               // and never shown
    QTest::qWait(200);
    QVERIFY(!window_->isVisible());
    QCOMPARE(window_->cursor().shape(), Qt::ArrowCursor);
}

void CommandsTest::menuSaveAndFindActOnTheShownGallery()
{
    Sandbox folder;
    folder.write("one.jpg", jpeg(30, 20));
    folder.write("two.gif", gif(20, 20));
    fakes_->dialogs.openAnswers.push_back(q(folder.root().string()) + QStringLiteral("/one.jpg"));
    window_->Toolbar1_ButtonClick(QStringLiteral("OpenList"));
    QVERIFY(waitForPage());

    // Save-as saves what the gallery holds, even while the list view is in front.
    window_->Toolbar1_ButtonClick(QStringLiteral("list"));
    QTemporaryDir out;
    fakes_->browserDialogs.saveAnswer = SaveAsChoice{out.filePath(QStringLiteral("saved.htm")), SaveFormat::HtmlOnly};
    QSignalSpy saved(window_->Web, &WebBrowser::saveDone);
    window_->menuItem(QStringLiteral("mnuFileSaveAs"))->trigger();
    QVERIFY(saved.wait(30000));
    QVERIFY(saved.last().at(0).toBool());
    const std::string copy = readFileBytes(out.filePath(QStringLiteral("saved.htm")).toStdString());
    QVERIFY(copy.find("two.gif") != std::string::npos);

    // Find from the menu: nothing while the gallery is hidden, the dialog over it when shown.
    window_->menuItem(QStringLiteral("find"))->trigger();
    QVERIFY(!window_->Web->findDialog() || !window_->Web->findDialog()->isVisible());
    window_->Toolbar1_ButtonClick(QStringLiteral("big"));
    window_->menuItem(QStringLiteral("find"))->trigger();
    FindDialog* dialog = window_->Web->findDialog();
    QVERIFY(dialog && dialog->isVisible());
    dialog->textField()->setText(QStringLiteral("two.gif"));
    QSignalSpy found(dialog, &FindDialog::searchFinished);
    dialog->findNext();
    QVERIFY(found.wait(10000));
    QCOMPARE(found.last().at(0).toInt(), 1);
}

QTEST_MAIN(CommandsTest)
#include "tst_commands.moc"
