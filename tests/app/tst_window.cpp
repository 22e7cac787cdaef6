#include <QAction>
#include <QActionGroup>
#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPointer>
#include <QWebEnginePage>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

#include "app/artwork.h"
#include "app/frmmain.h"
#include "app/statusbar.h"
#include "fakes/fakeplatform.h"
#include "platform/webbrowser.h"

using namespace pictarre;
using namespace pictarre::test;

namespace {

struct MenuRow {
    const char* name;
    const char* caption;  // nullptr: separator
    const char* shortcut;
};

// The whole menu bar as a user reads it, in order.
const std::vector<std::pair<MenuRow, std::vector<MenuRow>>> kExpectedMenus = {
    {{"mnuFile", "文件(&F)", ""},
     {{"mnuFileOpen", "打开(&O)...", ""}, {"print", "打印(&P)", ""}, {"mnuFileBar0", nullptr, ""},
      {"mnuFileSaveAs", "另存为(&A)...", ""}, {"mnuFileBar1", nullptr, ""}, {"xian", "显示桌面", ""},
      {"zhuo", "桌面设置", ""}, {"mnuFileBar5", nullptr, ""}, {"mypc", "我的电脑", ""},
      {"myfriend", "网上邻居", ""}, {"myie", "IE浏览器", ""}, {"email", "电子邮件", ""},
      {"mnuFileBar2", nullptr, ""}, {"mnuFileExit", "退出(&X)", ""}}},
    {{"mnuEdit", "编辑(&E)", ""},
     {{"mnuEditUndo", "撤消(&U)", ""}, {"mnuEditBar0", nullptr, ""}, {"mnuEditCut", "剪切(&T)", "Ctrl+X"},
      {"mnuEditCopy", "复制(&C)", "Ctrl+C"}, {"mnuEditPaste", "粘贴(&P)", "Ctrl+V"},
      {"mnuEditBar1", nullptr, ""}, {"find", "搜索", "Ctrl+F"}}},
    {{"mnuTools", "工具(&T)", ""}, {{"mnuToolsOptions", "选项(&O)...", ""}}},
    {{"mnuHelp", "帮助(&H)", ""},
     {{"mnuHelpSearchForHelpOn", "帮助主题(&S)...", ""}, {"mnuHelpBar1", nullptr, ""},
      {"lianxi", "联系作者(&E)", ""}, {"wang", "作者网站(&N)", ""}, {"mnuHelpBar0", nullptr, ""},
      {"mnuHelpAbout", "关于(&A) ", ""}}},
};

struct ButtonRow {
    const char* key;  // nullptr: separator
    const char* tooltip;
    const char* imageKey;
    bool grouped;
};

const std::vector<ButtonRow> kExpectedButtons = {
    {"OpenImg", "打开图片目录（混排式，用于看小图片）", "", false},
    {"OpenList", "打开图片目录（列表式，用于看大图片）", "Copy", false},
    {"Opendir", "打开图片目录(自动搜索子目录。。。)", "Open", false},
    {nullptr, nullptr, nullptr, false},
    {"save", "另存图片", "Save", false},
    {"find", "查找", "Find", false},
    {nullptr, nullptr, nullptr, false},
    {"print", "打印", "Print", false},
    {nullptr, nullptr, nullptr, false},
    {"big", "大图列表", "View Large Icons", true},
    {"small", "小图列表", "View List", true},
    {"list", "文件列表", "View Details", true},
};

QImage imageOf(const QIcon& icon)
{
    return icon.pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32);
}

int imageIndexOfKey(const QString& key)
{
    for (int i = 1; i <= kToolbarImageCount; ++i) {
        if (toolbarImageKey(i) == key)
            return i;
    }
    return -1;
}

}  // namespace

class WindowTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir_;
    FakePlatform fakes_;

    std::unique_ptr<frmMain> openWindow(const QString& folder)
    {
        auto window = std::make_unique<frmMain>(fakes_.platform, ProgramPaths{folder, folder});
        window->show();
        if (!QTest::qWaitForWindowExposed(window.get()))
            return nullptr;
        return window;
    }

    static QString artifactPath(const QString& name)
    {
        const QString folder = qEnvironmentVariable("PICTARRE_ARTIFACTS", QDir::tempPath());
        QDir().mkpath(folder);
        return folder + QLatin1Char('/') + name;
    }

private slots:
    void windowMatchesItsDesign();
    void menusMatchTheirDesign();
    void toolbarMatchesItsDesign();
    void startUpCreatesTheWorkingFolderAndShowsTheBlankPageStatus();
    void progressBarFollowsTheBrowser();
    void resizingLaysTheViewsOut();
    void viewButtonsShowExactlyOneView();
    void itemsWithoutHandlersDoNothing();
    void closeIsFinalAndLeavesFilesOnDisk();
    void menuItemsReachTheirCommands();
    void unwritableProgramFolderUsesTheUsersDataFolder();
    void pictureWindowsCloseWithTheProgram();
};

void WindowTest::windowMatchesItsDesign()
{
    auto window = openWindow(dir_.path());
    QVERIFY(window);
    QCOMPARE(window->windowTitle(), QStringLiteral("Pictarre"));
    QVERIFY(!window->windowIcon().isNull());
    QCOMPARE(window->ScaleWidth(), 11880.0f);
    QCOMPARE(window->ScaleHeight(), 7185.0f);

    // Views lie on top of one another; only the gallery shows at start.
    QVERIFY(window->Web->isVisible());
    QVERIFY(!window->Webt->isVisible());
    QVERIFY(!window->Text1->isVisible());
    QVERIFY(!window->Image1->isVisible());
    QCOMPARE(window->Web->pos(), QPoint(0, 26));
    QCOMPARE(window->Webt->pos(), window->Web->pos());
    QCOMPARE(window->Text1->pos(), window->Web->pos());
    QCOMPARE(window->Text1->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QCOMPARE(window->Text1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QVERIFY(window->Text1->toPlainText().isEmpty());

    // The progress frame inside the toolbar and the bar in it, 15 twips wide.
    QCOMPARE(window->Picture1->parentWidget(), window->Toolbar1);
    QCOMPARE(window->Pic->parentWidget(), window->Picture1);
    QCOMPARE(window->Picture1->geometry(), QRect(488, 3, 281, 17));
    QCOMPARE(window->picWidth(), 15.0f);
    QCOMPARE(window->Pic->width(), 1);
    QCOMPARE(window->Pic->grab().toImage().pixelColor(0, 10), QColor(0, 0, 0));

    // The status bar: eight panels with their widths; date and time show and move on.
    StatusBar* bar = window->sbStatusBar;
    QCOMPARE(bar->panelCount(), 8);
    const int widths[] = {6000, 300, 2000, 250, 1800, 250, 3000, 1440};
    for (int i = 1; i <= 8; ++i) {
        QCOMPARE(StatusBar::panelWidthTwips(i), static_cast<float>(widths[i - 1]));
        QCOMPARE(bar->panel(i)->minimumWidth(), static_cast<int>(std::lround(widths[i - 1] / 15.0)));
        QCOMPARE(bar->panel(i)->frameShadow(), QFrame::Sunken);
    }
    QVERIFY(!bar->panelText(5).isEmpty());
    QVERIFY(!bar->panelText(7).isEmpty());
    QCOMPARE(bar->panelText(5), QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat));
    QVERIFY(bar->panelText(2).isEmpty());
    QVERIFY(bar->panelText(8).isEmpty());

    // Centred on the screen.
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    QVERIFY2(qAbs(window->frameGeometry().center().x() - screen.center().x()) <= 3,
             qPrintable(QStringLiteral("window %1 screen %2").arg(window->frameGeometry().width()).arg(window->centralWidget()->width())));

    QTRY_COMPARE_WITH_TIMEOUT(bar->panelText(3), QStringLiteral("图片总数：0"), 20000);
    const QString shot = artifactPath(QStringLiteral("window-start.png"));
    QVERIFY(window->grab().save(shot));
    qInfo("screenshot: %s", qPrintable(shot));
}

void WindowTest::menusMatchTheirDesign()
{
    auto window = openWindow(dir_.path());
    QVERIFY(window);
    const QList<QAction*> tops = window->menuBar()->actions();
    QCOMPARE(tops.size(), static_cast<qsizetype>(kExpectedMenus.size()));
    for (std::size_t m = 0; m < kExpectedMenus.size(); ++m) {
        const auto& [top, items] = kExpectedMenus[m];
        QAction* topAction = tops[static_cast<qsizetype>(m)];
        QCOMPARE(topAction->text(), QString::fromUtf8(top.caption));
        QCOMPARE(window->menuItem(QString::fromLatin1(top.name)), topAction);
        const QList<QAction*> actions = topAction->menu()->actions();
        QCOMPARE(actions.size(), static_cast<qsizetype>(items.size()));
        for (std::size_t i = 0; i < items.size(); ++i) {
            QAction* action = actions[static_cast<qsizetype>(i)];
            const MenuRow& row = items[i];
            QCOMPARE(action->objectName(), QString::fromLatin1(row.name));
            QCOMPARE(action->isSeparator(), row.caption == nullptr);
            if (row.caption) {
                QCOMPARE(action->text(), QString::fromUtf8(row.caption));
                QCOMPARE(action->shortcut(), QKeySequence(QString::fromLatin1(row.shortcut)));
                QVERIFY(action->isEnabled());
                QVERIFY(action->isVisible());
                QVERIFY(!action->isChecked());
            }
        }
    }
}

void WindowTest::toolbarMatchesItsDesign()
{
    auto window = openWindow(dir_.path());
    QVERIFY(window);
    const QList<QAction*> actions = window->toolbarActions();
    QCOMPARE(actions.size(), static_cast<qsizetype>(kExpectedButtons.size()));
    QActionGroup* group = nullptr;
    for (std::size_t i = 0; i < kExpectedButtons.size(); ++i) {
        QAction* action = actions[static_cast<qsizetype>(i)];
        const ButtonRow& row = kExpectedButtons[i];
        QCOMPARE(action->isSeparator(), row.key == nullptr);
        if (!row.key)
            continue;
        QCOMPARE(action->data().toString(), QString::fromLatin1(row.key));
        QCOMPARE(action->toolTip(), QString::fromUtf8(row.tooltip));
        QVERIFY(action->text().isEmpty());
        const int image = imageIndexOfKey(QString::fromLatin1(row.imageKey));
        QVERIFY(image > 0);
        QCOMPARE(imageOf(action->icon()), imageOf(QIcon(toolbarImage(image))));
        auto* button = qobject_cast<QToolButton*>(window->Toolbar1->widgetForAction(action));
        QVERIFY(button);
        QCOMPARE(button->width(), 41);
        QVERIFY(button->geometry().bottom() < window->Toolbar1->height());
        QCOMPARE(action->actionGroup() != nullptr, row.grouped);
        if (row.grouped) {
            group = group ? group : action->actionGroup();
            QCOMPARE(action->actionGroup(), group);
        }
    }
    QVERIFY(group && group->isExclusive());
    QVERIFY(window->toolbarButton(QStringLiteral("big"))->isChecked());

    // The image list: thirteen distinct 16 x 16 images with their keys, the mask colour clear.
    QSet<QByteArray> seen;
    for (int i = 1; i <= kToolbarImageCount; ++i) {
        const QImage image = toolbarImage(i).toImage().convertToFormat(QImage::Format_ARGB32);
        QCOMPARE(image.size(), QSize(16, 16));
        for (int y = 0; y < 16; ++y) {
            for (int x = 0; x < 16; ++x) {
                const QColor c = image.pixelColor(x, y);
                QVERIFY2(c.alpha() == 0 || c.rgb() != qRgb(192, 192, 192), "mask colour left opaque");
            }
        }
        seen.insert(QByteArray(reinterpret_cast<const char*>(image.constBits()), image.sizeInBytes()));
    }
    QCOMPARE(seen.size(), kToolbarImageCount);
    QCOMPARE(toolbarImageKey(13), QStringLiteral("Help What's This"));

    // Pressing "small" releases "big"; pressing it again leaves it pressed.
    QToolButton* small = qobject_cast<QToolButton*>(
        window->Toolbar1->widgetForAction(window->toolbarButton(QStringLiteral("small"))));
    QTest::mouseClick(small, Qt::LeftButton);
    QVERIFY(window->toolbarButton(QStringLiteral("small"))->isChecked());
    QVERIFY(!window->toolbarButton(QStringLiteral("big"))->isChecked());
    QTest::mouseClick(small, Qt::LeftButton);
    QVERIFY(window->toolbarButton(QStringLiteral("small"))->isChecked());
}

void WindowTest::startUpCreatesTheWorkingFolderAndShowsTheBlankPageStatus()
{
    QTemporaryDir fresh;
    QVERIFY(!QDir(fresh.path() + QStringLiteral("/temp")).exists());
    {
        auto window = openWindow(fresh.path());
        QVERIFY(window);
        QVERIFY(QDir(fresh.path() + QStringLiteral("/temp")).exists());
        QVERIFY(window->sbStatusBar->panelText(1).isEmpty() || window->sbStatusBar->panelText(1) == QStringLiteral("当前路径： "));
        QTRY_COMPARE_WITH_TIMEOUT(window->sbStatusBar->panelText(1), QStringLiteral("当前路径： "), 20000);
        QCOMPARE(window->sbStatusBar->panelText(3), QStringLiteral("图片总数：0"));
        QCOMPARE(window->Web->url(), QUrl(QStringLiteral("about:blank")));
        QVERIFY(!window->state.Unloading);
    }
    // A second start with the folder present goes on silently.
    QFile marker(fresh.path() + QStringLiteral("/temp/keep.txt"));
    QVERIFY(marker.open(QIODevice::WriteOnly));
    marker.close();
    auto again = openWindow(fresh.path());
    QVERIFY(again);
    QVERIFY(marker.exists());
    QTRY_COMPARE_WITH_TIMEOUT(again->sbStatusBar->panelText(3), QStringLiteral("图片总数：0"), 20000);
}

void WindowTest::progressBarFollowsTheBrowser()
{
    auto window = openWindow(dir_.path());
    QVERIFY(window);
    const float frame = window->picture1Width();
    QCOMPARE(frame, 4215.0f);

    window->ProgressChange(50, 100);
    QCOMPARE(window->picWidth(), static_cast<float>(frame * 50.0 / 100));
    // Full width fills and empties in the same report.
    window->ProgressChange(100, 100);
    QCOMPARE(window->picWidth(), 0.0f);
    window->ProgressChange(30, 100);
    const float before = window->picWidth();
    window->ProgressChange(5, 0);
    QCOMPARE(window->picWidth(), before);
    window->ProgressChange(-1, 100);
    QCOMPARE(window->picWidth(), before);
    // Reports past the end restart the bar instead of overflowing it.
    window->ProgressChange(300, 100);
    QCOMPARE(window->picWidth(), 0.0f);
    window->ProgressChange(std::numeric_limits<int>::max(), 1);
    QCOMPARE(window->picWidth(), 0.0f);

    // A real load drives it through the browser's own reports.
    QSignalSpy progress(window->Web, &WebBrowser::ProgressChange);
    QSignalSpy complete(window->Web, &WebBrowser::DownloadComplete);
    window->Web->Navigate(QStringLiteral("about:blank#again"));
    QTRY_VERIFY_WITH_TIMEOUT(complete.count() >= 1, 20000);
    QVERIFY(progress.count() >= 1);
    QCOMPARE(window->picWidth(), 0.0f);
}

void WindowTest::resizingLaysTheViewsOut()
{
    auto window = openWindow(dir_.path());
    QVERIFY(window);
    window->resize(900, 600);
    QTRY_COMPARE(window->Web->widthTwips(), window->ScaleWidth());
    const float height = window->ScaleHeight();
    QCOMPARE(window->Web->heightTwips(), static_cast<float>(std::lround((height - 650) / 15) * 15));
    QCOMPARE(window->Webt->size(), window->Web->size());
    QCOMPARE(window->Text1->size(), window->Web->size());

    // Shorter than 650 twips: the browsers keep their heights, the text box copies Web's.
    const QSize before = window->Web->size();
    window->resize(700, 30 + window->menuBar()->height());
    QTRY_COMPARE(window->Web->width(), window->centralWidget()->width());
    QVERIFY(window->ScaleHeight() < 650);
    QCOMPARE(window->Web->height(), before.height());
    QCOMPARE(window->Webt->height(), before.height());
    QCOMPARE(window->Text1->height(), before.height());

    // Minimised: no width, heights kept; restored: the full layout again.
    window->resize(900, 600);
    QTRY_COMPARE(window->Web->widthTwips(), window->ScaleWidth());
    const int kept = window->Web->height();
    window->setWindowState(Qt::WindowMinimized);
    QTRY_COMPARE(window->Web->width(), 0);
    QCOMPARE(window->Text1->width(), 0);
    QCOMPARE(window->Web->height(), kept);
    window->setWindowState(Qt::WindowNoState);
    QTRY_COMPARE(window->Web->widthTwips(), window->ScaleWidth());
    QCOMPARE(window->Web->height(), kept);
}

void WindowTest::viewButtonsShowExactlyOneView()
{
    auto window = openWindow(dir_.path());
    QVERIFY(window);
    const struct {
        const char* key;
        QWidget* shown;
    } rows[] = {{"small", window->Webt}, {"list", window->Text1}, {"big", window->Web}};
    for (const auto& row : rows) {
        window->state.PictureCount = 7;
        window->state.CurrentFolder = "/somewhere/";
        window->state.ImageListText = "x\r\n";
        window->Toolbar1_ButtonClick(QString::fromLatin1(row.key));
        for (QWidget* view : {static_cast<QWidget*>(window->Web), static_cast<QWidget*>(window->Webt),
                              static_cast<QWidget*>(window->Text1)})
            QCOMPARE(view->isVisible(), view == row.shown);
        QCOMPARE(window->state.PictureCount, 0);
        QVERIFY(window->state.CurrentFolder.empty());
        QVERIFY(window->state.ImageListText.empty());
    }
    // Keys differing only in letter case, or unknown, select nothing but still clear.
    window->Toolbar1_ButtonClick(QStringLiteral("small"));
    for (const char* key : {"Big", "LIST", "opendir", "", "Save"}) {
        window->state.PictureCount = 3;
        window->Toolbar1_ButtonClick(QString::fromLatin1(key));
        QVERIFY(window->Webt->isVisible());
        QCOMPARE(window->state.PictureCount, 0);
    }
    // "find" while the gallery is hidden does nothing and does not loop back through Ctrl+F.
    window->Toolbar1_ButtonClick(QStringLiteral("find"));
    QVERIFY(!window->Web->findDialog() || !window->Web->findDialog()->isVisible());
    window->Toolbar1_ButtonClick(QStringLiteral("big"));
    window->activateWindow();
    QTest::keyClick(window.get(), Qt::Key_F, Qt::ControlModifier);
    QTRY_VERIFY(window->Web->findDialog() && window->Web->findDialog()->isVisible());
    window->Web->findDialog()->close();
}

void WindowTest::itemsWithoutHandlersDoNothing()
{
    auto window = openWindow(dir_.path());
    QVERIFY(window);
    window->state.CurrentFolder = "/kept/";
    window->state.PictureCount = 4;
    const int dialogsBefore = fakes_.browserDialogs.saveAsked + fakes_.browserDialogs.printAsked;
    for (const char* name : {"mnuFileOpen", "print", "mnuEditUndo", "mnuEditCut", "mnuEditCopy",
                             "mnuEditPaste", "mnuToolsOptions"})
        window->menuItem(QString::fromLatin1(name))->trigger();
    window->activateWindow();
    for (Qt::Key key : {Qt::Key_X, Qt::Key_C, Qt::Key_V})
        QTest::keyClick(window.get(), key, Qt::ControlModifier);
    QVERIFY(window->isVisible());
    QCOMPARE(window->state.CurrentFolder, std::string("/kept/"));
    QCOMPARE(window->state.PictureCount, 4);
    QCOMPARE(fakes_.browserDialogs.saveAsked + fakes_.browserDialogs.printAsked, dialogsBefore);
    QVERIFY(fakes_.shell.opened.empty() && fakes_.shell.ran.empty());
    QVERIFY(fakes_.messages.shown.empty());
}

void WindowTest::closeIsFinalAndLeavesFilesOnDisk()
{
    QTemporaryDir folder;
    auto window = openWindow(folder.path());
    QVERIFY(window);
    QFile page(window->pagePath());
    QVERIFY(page.open(QIODevice::WriteOnly));
    page.write("<body></body>");
    page.close();
    QFile list(window->listFilePath());
    QVERIFY(list.open(QIODevice::WriteOnly));
    list.write("\r\n");
    list.close();

    window->menuItem(QStringLiteral("mnuFileExit"))->trigger();
    QVERIFY(!window->isVisible());
    QVERIFY(window->state.Unloading);
    QVERIFY(page.exists());
    QVERIFY(list.exists());

    // Loading again after a close request closes at once: the window does not come back.
    window->show();
    window->Form_Load();
    QTRY_VERIFY(!window->isVisible());
    QVERIFY(window->state.Unloading);
}

void WindowTest::menuItemsReachTheirCommands()
{
    FakePlatform fakes;
    QTemporaryDir folder;
    frmMain window(fakes.platform, ProgramPaths{folder.path(), folder.path()});
    for (const char* name : {"xian", "mypc", "myfriend", "email", "lianxi", "wang"})
        window.menuItem(QString::fromLatin1(name))->trigger();
    QCOMPARE(fakes.shell.opened.size(), std::size_t{6});
    QCOMPARE(fakes.shell.opened[0].file, folder.path() + QStringLiteral("/sys/viewdesk.scf"));
    QCOMPARE(fakes.shell.opened[3].file, QStringLiteral("mailto:"));
    QVERIFY(fakes.shell.opened[4].file.endsWith(QStringLiteral("?subject=联系作者")));
    QCOMPARE(fakes.shell.opened[5].showCommand, ShowCommand::Hidden);
    for (const char* name : {"zhuo", "myie"})
        window.menuItem(QString::fromLatin1(name))->trigger();
    QCOMPARE(fakes.shell.ran.size(), std::size_t{2});
    QCOMPARE(fakes.shell.ran[0].first, QStringLiteral("rundll32 shell32,Control_RunDLL desk.cpl"));

    window.menuItem(QStringLiteral("mnuHelpSearchForHelpOn"))->trigger();
    window.menuItem(QStringLiteral("mnuHelpAbout"))->trigger();
    QCOMPARE(fakes.messages.shown.size(), std::size_t{2});
    QCOMPARE(fakes.messages.shown[0].title, QStringLiteral("Vistelle"));
    QVERIFY(fakes.messages.shown[0].text.startsWith(QStringLiteral("    Pictarre是")));
    QCOMPARE(fakes.messages.shown[1].text, QStringLiteral("Pictarre"));
    QVERIFY(fakes.messages.shown[1].hasIcon);
}

void WindowTest::unwritableProgramFolderUsesTheUsersDataFolder()
{
    QStandardPaths::setTestModeEnabled(true);
    const auto leaveTestMode = qScopeGuard([] { QStandardPaths::setTestModeEnabled(false); });
    const ProgramPaths own = ProgramPaths::forProgramFolder(dir_.path());
    QCOMPARE(own.dataFolder, dir_.path());

    // An installed copy's folder that the user cannot write (here: one that cannot be made).
    const QString installed = QStringLiteral("/nonexistent/pictarre");
    const ProgramPaths paths = ProgramPaths::forProgramFolder(installed);
    QCOMPARE(paths.programFolder, installed);
    QVERIFY(paths.dataFolder != installed);
    auto window = openWindow(paths.dataFolder);
    QVERIFY(window);
    QVERIFY(QDir(paths.dataFolder + QStringLiteral("/temp")).exists());
    QFile probe(window->pagePath());
    QVERIFY(probe.open(QIODevice::WriteOnly));
    probe.close();
    QVERIFY(probe.remove());
}

void WindowTest::pictureWindowsCloseWithTheProgram()
{
    QTemporaryDir folder;
    auto window = openWindow(folder.path());
    QVERIFY(window);
    QFile page(folder.filePath(QStringLiteral("links.htm")));
    QVERIFY(page.open(QIODevice::WriteOnly));
    page.write("<body><a id=l target=\"_blank\" href=\"links.htm\">open</a></body>");
    page.close();
    QSignalSpy loaded(window->Web, &WebBrowser::DownloadComplete);
    window->Web->Navigate(page.fileName());
    QVERIFY(loaded.wait(20000));
    QSignalSpy opened(window->Web, &WebBrowser::windowOpened);
    window->Web->page()->runJavaScript(QStringLiteral("document.getElementById('l').click()"));
    QVERIFY(opened.wait(20000));
    QPointer<WebBrowser> picture = opened.last().at(0).value<WebBrowser*>();
    QVERIFY(picture && picture->isVisible());
    QVERIFY(!picture->testAttribute(Qt::WA_QuitOnClose));

    window->close();
    QTRY_VERIFY(!picture || !picture->isVisible());
}

QTEST_MAIN(WindowTest)
#include "tst_window.moc"
