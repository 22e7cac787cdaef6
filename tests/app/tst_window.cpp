#include <QAction>
#include <QActionGroup>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPointer>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QWebEngineScript>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <QWebEnginePage>

#include "app/artwork.h"
#include "app/windowfixture.h"
#include "platform/webbrowser.h"
#include "support/picturefiles.h"
#include "support/sandbox.h"
#include "support/webtest.h"

using namespace pictarre;
using namespace pictarre::test;

namespace {

// The whole menu bar as a user reads it, in order: each item's name, caption and shortcut;
// a separator has no caption.
const QStringList kExpectedMenus = {
    "mnuFile 文件(&F)",
    "  mnuFileOpen 打开(&O)...",
    "  print 打印(&P)",
    "  mnuFileBar0 -",
    "  mnuFileSaveAs 另存为(&A)...",
    "  mnuFileBar1 -",
    "  xian 显示桌面",
    "  zhuo 桌面设置",
    "  mnuFileBar5 -",
    "  mypc 我的电脑",
    "  myfriend 网上邻居",
    "  myie IE浏览器",
    "  email 电子邮件",
    "  mnuFileBar2 -",
    "  mnuFileExit 退出(&X)",
    "mnuEdit 编辑(&E)",
    "  mnuEditUndo 撤消(&U)",
    "  mnuEditBar0 -",
    "  mnuEditCut 剪切(&T) [Ctrl+X]",
    "  mnuEditCopy 复制(&C) [Ctrl+C]",
    "  mnuEditPaste 粘贴(&P) [Ctrl+V]",
    "  mnuEditBar1 -",
    "  find 搜索 [Ctrl+F]",
    "mnuTools 工具(&T)",
    "  mnuToolsOptions 选项(&O)...",
    "mnuHelp 帮助(&H)",
    "  mnuHelpSearchForHelpOn 帮助主题(&S)...",
    "  mnuHelpBar1 -",
    "  lianxi 联系作者(&E)",
    "  wang 作者网站(&N)",
    "  mnuHelpBar0 -",
    "  mnuHelpAbout 关于(&A) ",
};

// The toolbar as a user reads it: each button's key, tooltip, image and whether it is one of
// the view group; a separator is "|".
const QStringList kExpectedButtons = {
    "OpenImg 打开图片目录（混排式，用于看小图片） image:",
    "OpenList 打开图片目录（列表式，用于看大图片） image:Copy",
    "Opendir 打开图片目录(自动搜索子目录。。。) image:Open",
    "|",
    "save 另存图片 image:Save",
    "find 查找 image:Find",
    "|",
    "print 打印 image:Print",
    "|",
    "big 大图列表 image:View Large Icons grouped",
    "small 小图列表 image:View List grouped",
    "list 文件列表 image:View Details grouped",
};

QImage imageOf(const QIcon& icon)
{
    return icon.pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32);
}

// The key of the image list's picture that an icon shows, or "?" when it shows none of them.
QString imageKeyOf(const QIcon& icon)
{
    for (int i = 1; i <= kToolbarImageCount; ++i) {
        if (imageOf(icon) == imageOf(QIcon(toolbarImage(i))))
            return toolbarImageKey(i);
    }
    return QStringLiteral("?");
}

QString describeMenuItem(const QString& name, const QAction* action)
{
    QString row = name + QLatin1Char(' ') + (action->isSeparator() ? QStringLiteral("-") : action->text());
    if (!action->shortcut().isEmpty())
        row += QStringLiteral(" [") + action->shortcut().toString() + QLatin1Char(']');
    if (!action->isSeparator() && (!action->isEnabled() || !action->isVisible() || action->isChecked()))
        row += QStringLiteral(" (not enabled, visible and unchecked)");
    return row;
}

QString q(const std::filesystem::path& path)
{
    return QString::fromStdString(path.string());
}

std::string jpeg(int width, int height)
{
    JpegOptions options;
    options.width = static_cast<std::uint16_t>(width);
    options.height = static_cast<std::uint16_t>(height);
    return makeJpeg(options);
}

// A folder of pictures whose gallery a command can show.
struct PictureFolder {
    Sandbox folder;
    PictureFolder()
    {
        folder.write("a.jpg", jpeg(64, 48));
        folder.write("b.bmp", makeBmp(BmpForm::Info40, 32, 32));
    }
    QString picture() const { return q(folder.root()) + QStringLiteral("/a.jpg"); }
    QString path() const { return q(folder.root()); }
};

// Runs "OpenList" on the folder's picture, as if the user chose it in the dialog.
void openGallery(WindowFixture& f, const PictureFolder& pictures)
{
    f.fakes().dialogs.openAnswers.push_back(pictures.picture());
    f.click("OpenList");
}

}  // namespace

class WindowTest : public QObject {
    Q_OBJECT

private slots:
    void windowMatchesItsDesign();
    void statusBarShowsDateAndTimeInTheSystemsShortForms();
    void menusMatchTheirDesign();
    void toolbarMatchesItsDesign();
    void startUpCreatesTheWorkingFolderAndShowsTheBlankPageStatus();
    void progressBarFollowsTheBrowser();
    void resizingLaysTheViewsOut();
    void statusBarReadsAtEveryWidth_data();
    void statusBarReadsAtEveryWidth();
    void statusBarFollowsTheFont();
    void viewButtonsShowOneViewAndClearTheCommandsValues();
    void itemsWithoutHandlersDoNothing();
    void closeIsFinalAndLeavesFilesOnDisk();
    void menuItemsReachTheirCommands();
    void unwritableProgramFolderUsesTheUsersDataFolder();
    void pictureWindowsCloseWithTheProgram();
    void galleryRowsFollowAMaximisedWindow();
    void folderViewGoesBackAndForthWithTheBrowsersKeys();
    void aSecondWindowIsNotPlacedOverTheFirst();
};

void WindowTest::windowMatchesItsDesign()
{
    WindowFixture f;
    QVERIFY(f.show());
    frmMain& window = f.window();
    QCOMPARE(window.windowTitle(), QStringLiteral("Pictarre"));
    QVERIFY(!window.windowIcon().isNull());
    QCOMPARE(window.ScaleWidth(), 11880.0f);
    QCOMPARE(window.ScaleHeight(), 7185.0f);

    // Views lie on top of one another; only the gallery shows at start.
    QVERIFY(f.Web().isVisible());
    QVERIFY(!f.Webt().isVisible());
    QVERIFY(!f.Text1().isVisible());
    QVERIFY(!f.control<QLabel>("Image1")->isVisible());
    QCOMPARE(f.Web().pos(), QPoint(0, 26));
    QCOMPARE(f.Webt().pos(), f.Web().pos());
    QCOMPARE(f.Text1().pos(), f.Web().pos());
    QCOMPARE(f.Text1().horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QCOMPARE(f.Text1().verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QVERIFY(f.Text1().toPlainText().isEmpty());

    // The progress frame inside the toolbar and the bar in it, 15 twips wide.
    auto* frame = f.control<QFrame>("Picture1");
    auto* bar = f.control<QFrame>("Pic");
    QCOMPARE(frame->parentWidget(), &f.Toolbar1());
    QCOMPARE(bar->parentWidget(), frame);
    QCOMPARE(frame->geometry(), QRect(488, 3, 281, 17));
    QCOMPARE(window.picWidth(), 15.0f);
    QCOMPARE(bar->width(), 1);
    QCOMPARE(bar->grab().toImage().pixelColor(0, 10), QColor(0, 0, 0));

    // The status bar: eight sunken panels; the spacers and the last one stay empty, the date
    // and the time show at once.
    for (int i = 1; i <= 8; ++i) {
        auto* panel = f.statusBar().findChild<QLabel*>(QStringLiteral("panel%1").arg(i));
        QVERIFY(panel);
        QCOMPARE(panel->frameShadow(), QFrame::Sunken);
        if (i % 2 == 0 || i == 5 || i == 7)
            QCOMPARE(panel->text().isEmpty(), i % 2 == 0);
    }

    // Centred on the screen.
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    QVERIFY(qAbs(window.frameGeometry().center().x() - screen.center().x()) <= 3);

    QTRY_COMPARE_WITH_TIMEOUT(f.status(StatusPanel::Count), QStringLiteral("图片总数：0"), 20000);
    const QString shot = artifactPath(QStringLiteral("window-start.png"));
    QVERIFY(window.grab().save(shot));
    qInfo("screenshot: %s", qPrintable(shot));
}

void WindowTest::statusBarShowsDateAndTimeInTheSystemsShortForms()
{
    if (QLocale::system().name() != QLatin1String("C"))
        QSKIP("the expected texts are those of the C locale, which the test environment sets");
    WindowFixture f;
    StatusBar& bar = f.statusBar();
    // Kept current: a date shown a moment ago gives way to today's.
    bar.showClock(QDateTime(QDate(2024, 3, 9), QTime(14, 5, 7)));
    QCOMPARE(bar.text(StatusPanel::Date), QStringLiteral("9 Mar 2024"));
    QCOMPARE(bar.text(StatusPanel::Time), QStringLiteral("14:05:07"));
    QTRY_VERIFY_WITH_TIMEOUT(bar.text(StatusPanel::Date) != QStringLiteral("9 Mar 2024"), 3000);
}

void WindowTest::menusMatchTheirDesign()
{
    WindowFixture f;
    QStringList shown;
    for (QAction* top : f.window().menuBar()->actions()) {
        shown << describeMenuItem(top->menu()->objectName(), top);
        for (QAction* item : top->menu()->actions())
            shown << describeMenuItem(QStringLiteral("  ") + item->objectName(), item);
    }
    QCOMPARE(shown, kExpectedMenus);
}

void WindowTest::toolbarMatchesItsDesign()
{
    WindowFixture f;
    QVERIFY(f.show());
    QStringList shown;
    QActionGroup* group = nullptr;
    for (QAction* action : f.Toolbar1().actions()) {
        if (action->isSeparator()) {
            shown << QStringLiteral("|");
            continue;
        }
        QString row = action->data().toString() + QLatin1Char(' ') + action->toolTip() + QStringLiteral(" image:")
            + imageKeyOf(action->icon());
        if (action->actionGroup()) {
            row += QStringLiteral(" grouped");
            group = group ? group : action->actionGroup();
            QCOMPARE(action->actionGroup(), group);
        }
        shown << row;
        QVERIFY(action->text().isEmpty());
        auto* button = qobject_cast<QToolButton*>(f.Toolbar1().widgetForAction(action));
        QVERIFY(button);
        QCOMPARE(button->width(), 41);
        QVERIFY(button->geometry().bottom() < f.Toolbar1().height());
    }
    QCOMPARE(shown, kExpectedButtons);
    QVERIFY(group && group->isExclusive());
    QVERIFY(f.button("big")->isChecked());

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
    QTest::mouseClick(f.toolButton("small"), Qt::LeftButton);
    QVERIFY(f.button("small")->isChecked());
    QVERIFY(!f.button("big")->isChecked());
    QTest::mouseClick(f.toolButton("small"), Qt::LeftButton);
    QVERIFY(f.button("small")->isChecked());
}

void WindowTest::startUpCreatesTheWorkingFolderAndShowsTheBlankPageStatus()
{
    QTemporaryDir fresh;
    QVERIFY(!QDir(fresh.path() + QStringLiteral("/temp")).exists());
    {
        WindowFixture f(fresh.path());
        QVERIFY(f.show());
        QVERIFY(QDir(fresh.path() + QStringLiteral("/temp")).exists());
        QVERIFY(f.status(StatusPanel::Folder).isEmpty() || f.status(StatusPanel::Folder) == QStringLiteral("当前路径： "));
        QTRY_COMPARE_WITH_TIMEOUT(f.status(StatusPanel::Folder), QStringLiteral("当前路径： "), 20000);
        QCOMPARE(f.status(StatusPanel::Count), QStringLiteral("图片总数：0"));
        QCOMPARE(f.Web().url(), QUrl(QStringLiteral("about:blank")));
        // Not marked as closing: the window stays.
        QTest::qWait(100);
        QVERIFY(f.window().isVisible());
    }
    // A second start with the folder present goes on silently.
    QFile marker(fresh.path() + QStringLiteral("/temp/keep.txt"));
    QVERIFY(marker.open(QIODevice::WriteOnly));
    marker.close();
    WindowFixture again(fresh.path());
    QVERIFY(again.show());
    QVERIFY(marker.exists());
    QTRY_COMPARE_WITH_TIMEOUT(again.status(StatusPanel::Count), QStringLiteral("图片总数：0"), 20000);
}

void WindowTest::progressBarFollowsTheBrowser()
{
    WindowFixture f;
    QVERIFY(f.show());
    frmMain& window = f.window();
    const float frame = window.picture1Width();
    QCOMPARE(frame, 4215.0f);

    window.ProgressChange(50, 100);
    QCOMPARE(window.picWidth(), static_cast<float>(frame * 50.0 / 100));
    // Full width fills and empties in the same report.
    window.ProgressChange(100, 100);
    QCOMPARE(window.picWidth(), 0.0f);
    window.ProgressChange(30, 100);
    const float before = window.picWidth();
    window.ProgressChange(5, 0);
    QCOMPARE(window.picWidth(), before);
    window.ProgressChange(-1, 100);
    QCOMPARE(window.picWidth(), before);
    // Reports past the end restart the bar instead of overflowing it.
    window.ProgressChange(300, 100);
    QCOMPARE(window.picWidth(), 0.0f);
    window.ProgressChange(std::numeric_limits<int>::max(), 1);
    QCOMPARE(window.picWidth(), 0.0f);

    // A real load drives it through the browser's own reports.
    QSignalSpy progress(&f.Web(), &WebBrowser::ProgressChange);
    QSignalSpy complete(&f.Web(), &WebBrowser::DownloadComplete);
    f.Web().Navigate(QStringLiteral("about:blank#again"));
    QTRY_VERIFY_WITH_TIMEOUT(complete.count() >= 1, 20000);
    QVERIFY(progress.count() >= 1);
    QCOMPARE(window.picWidth(), 0.0f);
}

void WindowTest::resizingLaysTheViewsOut()
{
    WindowFixture f;
    QVERIFY(f.show());
    frmMain& window = f.window();
    WebBrowser& web = f.Web();
    window.resize(900, 600);
    QTRY_COMPARE(web.widthTwips(), window.ScaleWidth());
    QCOMPARE(f.Webt().size(), web.size());
    QCOMPARE(f.Text1().size(), web.size());
    // The views end where the status bar begins, whatever its height.
    QCOMPARE(web.geometry().bottom() + 1, f.statusBar().y());

    // With a font small enough for the bar's designed 255 twips, the views take the designed
    // height: the client area less 650 twips.
    QFont small = window.font();
    small.setPixelSize(8);
    window.setFont(small);
    QTRY_COMPARE(f.statusBar().height(), 17);
    QTRY_COMPARE(web.heightTwips(), window.ScaleHeight() - 645.0f);  // 650 twips, rounded to pixels
    QCOMPARE(web.geometry().bottom() + 1, f.statusBar().y());
    window.setFont(QFont());

    // Shorter than 650 twips: the browsers keep their heights, the text box copies Web's.
    QTRY_COMPARE(web.geometry().bottom() + 1, f.statusBar().y());
    const QSize before = web.size();
    window.resize(700, 30 + window.menuBar()->height());
    QTRY_COMPARE(web.width(), window.centralWidget()->width());
    QVERIFY(window.ScaleHeight() < 650);
    QCOMPARE(web.height(), before.height());
    QCOMPARE(f.Webt().height(), before.height());
    QCOMPARE(f.Text1().height(), before.height());

    // Minimised: no width, heights kept; restored: the full layout again.
    window.resize(900, 600);
    QTRY_COMPARE(web.widthTwips(), window.ScaleWidth());
    const int kept = web.height();
    window.setWindowState(Qt::WindowMinimized);
    QTRY_COMPARE(web.width(), 0);
    QCOMPARE(f.Text1().width(), 0);
    QCOMPARE(web.height(), kept);
    window.setWindowState(Qt::WindowNoState);
    QTRY_COMPARE(web.widthTwips(), window.ScaleWidth());
    QCOMPARE(web.height(), kept);
}

void WindowTest::statusBarReadsAtEveryWidth_data()
{
    QTest::addColumn<int>("width");
    QTest::newRow("600 px") << 600;
    QTest::newRow("792 px, the start size") << 792;
    QTest::newRow("1280 px") << 1280;
}

void WindowTest::statusBarReadsAtEveryWidth()
{
    QFETCH(int, width);
    WindowFixture f;
    QVERIFY(f.showReady());
    PictureFolder pictures;
    openGallery(f, pictures);
    QVERIFY(f.waitForPage());
    QCOMPARE(f.status(StatusPanel::Folder), QStringLiteral("当前路径： ") + pictures.path());
    // A folder too long for its panel, to see where its text ends.
    f.statusBar().setText(StatusPanel::Folder,
                          f.status(StatusPanel::Folder) + QStringLiteral("/更深的文件夹/还有一层").repeated(4));
    f.window().resize(width, f.window().height());
    QTRY_COMPARE(f.window().centralWidget()->width(), width);
    QTRY_COMPARE(f.statusBar().width(), width);

    // Each panel has its designed width, side by side from the left edge; the last one takes
    // what is left of a wide bar, and what a narrow bar cannot hold is cut off at its edge.
    const int designed[] = {400, 20, 133, 17, 120, 17, 200, 96};
    const int left[] = {0, 400, 420, 553, 570, 690, 707, 907};
    const int widths[] = {400, 20, 133, 17, 120, 17, 200, std::max(96, width - 907)};
    StatusBar& bar = f.statusBar();
    QRect previous;
    for (int i = 0; i < 8; ++i) {
        const auto* panel = bar.findChild<QLabel*>(QStringLiteral("panel%1").arg(i + 1));
        QCOMPARE(panel->minimumWidth(), designed[i]);
        QCOMPARE(panel->geometry(), QRect(left[i], 0, widths[i], bar.height()));
        QVERIFY(!panel->geometry().intersects(previous));
        previous = panel->geometry();
    }

    // Panel 1's text ends inside panel 1: the count panel shows only its own text, which starts
    // at its left edge as it does when panel 1 is empty.
    const QRect countPanel = bar.findChild<QLabel*>(QStringLiteral("panel3"))->geometry();
    const QImage full = bar.grab(countPanel).toImage();
    const QString folderText = f.status(StatusPanel::Folder);
    bar.setText(StatusPanel::Folder, QString());
    QCOMPARE(bar.grab(countPanel).toImage(), full);
    bar.setText(StatusPanel::Folder, folderText);

    // The views end above the bar, which sits at the bottom of the client area.
    QCOMPARE(bar.geometry().bottom(), f.window().centralWidget()->height() - 1);
    QTest::qWait(200);
    for (QWidget* view : {static_cast<QWidget*>(&f.Web()), static_cast<QWidget*>(&f.Webt()),
                          static_cast<QWidget*>(&f.Text1())})
        QVERIFY2(view->geometry().bottom() < bar.y(), qPrintable(view->objectName()));

    const QString shot = artifactPath(QStringLiteral("gallery-%1px.png").arg(width));
    QVERIFY(f.window().grab().save(shot));
    qInfo("screenshot: %s", qPrintable(shot));
}

void WindowTest::statusBarFollowsTheFont()
{
    WindowFixture f;
    QVERIFY(f.show());
    const int designed = f.statusBar().height();
    QFont large = f.window().font();
    large.setPixelSize(30);
    f.window().setFont(large);
    QTRY_VERIFY(f.statusBar().height() > designed + 10);
    // The bar grew upwards, and the views gave it the room.
    QTRY_COMPARE(f.Web().geometry().bottom() + 1, f.statusBar().y());
    QCOMPARE(f.statusBar().geometry().bottom(), f.window().centralWidget()->height() - 1);
    QCOMPARE(f.Text1().height(), f.Web().height());
    f.window().resize(700, 500);
    QTRY_COMPARE(f.Web().geometry().bottom() + 1, f.statusBar().y());
    QVERIFY(f.window().grab().save(artifactPath(QStringLiteral("window-large-font.png"))));
}

void WindowTest::viewButtonsShowOneViewAndClearTheCommandsValues()
{
    WindowFixture f;
    QVERIFY(f.showReady());
    PictureFolder pictures;
    const struct {
        const char* key;
        const char* shown;  // the view in front afterwards
    } rows[] = {{"small", "Webt"}, {"list", "Text1"}, {"big", "Web"}, {"small", "Webt"},
                // Keys differing only in letter case, or unknown, select nothing but still clear.
                {"Big", "Webt"}, {"LIST", "Webt"}, {"opendir", "Webt"}, {"", "Webt"}, {"Save", "Webt"}};
    for (const auto& row : rows) {
        // A command leaves its folder, count and list behind, as the next page load shows.
        openGallery(f, pictures);
        f.window().DownloadComplete();
        QCOMPARE(f.status(StatusPanel::Folder), QStringLiteral("当前路径： ") + pictures.path());
        QCOMPARE(f.shownCount(), 2);
        QVERIFY(!f.window().imageListText().empty());

        f.click(row.key);
        for (QWidget* view : {static_cast<QWidget*>(&f.Web()), static_cast<QWidget*>(&f.Webt()),
                              static_cast<QWidget*>(&f.Text1())})
            QVERIFY2(view->isVisible() == (view->objectName() == QLatin1String(row.shown)), row.key);
        f.window().DownloadComplete();
        QVERIFY2(f.status(StatusPanel::Folder) == QStringLiteral("当前路径： "), row.key);
        QVERIFY2(f.status(StatusPanel::Count) == QStringLiteral("图片总数：0"), row.key);
        QVERIFY2(f.window().imageListText().empty(), row.key);
        // The list view keeps what it shows.
        QVERIFY(!f.Text1().toPlainText().isEmpty());
    }

    // "find" while the gallery is hidden does nothing and does not loop back through Ctrl+F.
    f.click("find");
    QVERIFY(!f.Web().findDialog() || !f.Web().findDialog()->isVisible());
    f.click("big");
    f.window().activateWindow();
    QTest::keyClick(&f.window(), Qt::Key_F, Qt::ControlModifier);
    QTRY_VERIFY(f.Web().findDialog() && f.Web().findDialog()->isVisible());
    f.Web().findDialog()->close();
}

void WindowTest::itemsWithoutHandlersDoNothing()
{
    WindowFixture f;
    QVERIFY(f.showReady());
    PictureFolder pictures;
    openGallery(f, pictures);
    const std::string list = f.window().imageListText();
    for (const char* name : {"mnuFileOpen", "print", "mnuEditUndo", "mnuEditCut", "mnuEditCopy",
                             "mnuEditPaste", "mnuToolsOptions"})
        f.menuItem(name)->trigger();
    f.window().activateWindow();
    for (Qt::Key key : {Qt::Key_X, Qt::Key_C, Qt::Key_V})
        QTest::keyClick(&f.window(), key, Qt::ControlModifier);
    QVERIFY(f.window().isVisible());
    // The command's values are untouched, as the next page load shows.
    f.window().DownloadComplete();
    QCOMPARE(f.status(StatusPanel::Folder), QStringLiteral("当前路径： ") + pictures.path());
    QCOMPARE(f.shownCount(), 2);
    QCOMPARE(f.window().imageListText(), list);
    QCOMPARE(f.fakes().browserDialogs.saveAsked + f.fakes().browserDialogs.printAsked, 0);
    QVERIFY(f.fakes().shell.opened.empty() && f.fakes().shell.ran.empty());
    QVERIFY(f.fakes().messages.shown.empty());
}

void WindowTest::closeIsFinalAndLeavesFilesOnDisk()
{
    WindowFixture f;
    QVERIFY(f.show());
    QFile page(f.paths().pagePath());
    QVERIFY(page.open(QIODevice::WriteOnly));
    page.write("<body></body>");
    page.close();
    QFile list(f.paths().listFilePath());
    QVERIFY(list.open(QIODevice::WriteOnly));
    list.write("\r\n");
    list.close();

    f.menuItem("mnuFileExit")->trigger();
    QVERIFY(!f.window().isVisible());
    QVERIFY(page.exists());
    QVERIFY(list.exists());

    // Loading again after a close request closes at once: the window does not come back.
    f.window().show();
    f.window().Form_Load();
    QTRY_VERIFY(!f.window().isVisible());
    QTest::qWait(100);
    QVERIFY(!f.window().isVisible());
}

void WindowTest::menuItemsReachTheirCommands()
{
    WindowFixture f;
    FakePlatform& fakes = f.fakes();
    for (const char* name : {"xian", "mypc", "myfriend", "email", "lianxi", "wang"})
        f.menuItem(name)->trigger();
    QCOMPARE(fakes.shell.opened.size(), std::size_t{6});
    QCOMPARE(fakes.shell.opened[0].file, f.paths().programFolder + QStringLiteral("/sys/viewdesk.scf"));
    QCOMPARE(fakes.shell.opened[1].parameters, QStringLiteral("::{20D04FE0-3AEA-1069-A2D8-08002B30309D}"));
    QCOMPARE(fakes.shell.opened[2].parameters, QStringLiteral("::{208D2C60-3AEA-1069-A2D7-08002B30309D}"));
    QCOMPARE(fakes.shell.opened[3].file, QStringLiteral("mailto:"));
    QCOMPARE(fakes.shell.opened[4].file, QStringLiteral("mailto:pictarre@example.org?subject=联系作者"));
    QCOMPARE(fakes.shell.opened[5].file, QStringLiteral("https://example.org/"));
    QCOMPARE(fakes.shell.opened[5].showCommand, ShowCommand::Hidden);
    for (const char* name : {"zhuo", "myie"})
        f.menuItem(name)->trigger();
    QCOMPARE(fakes.shell.ran.size(), std::size_t{2});
    QCOMPARE(fakes.shell.ran[0].first, QStringLiteral("rundll32 shell32,Control_RunDLL desk.cpl"));
    QCOMPARE(fakes.shell.ran[1].first, QStringLiteral("/Program Files/Internet Explorer/iexplore.exe"));

    f.menuItem("mnuHelpSearchForHelpOn")->trigger();
    f.menuItem("mnuHelpAbout")->trigger();
    QCOMPARE(fakes.messages.shown.size(), std::size_t{2});
    QCOMPARE(fakes.messages.shown[0].title, QStringLiteral("Vistelle"));
    QVERIFY(fakes.messages.shown[0].text.startsWith(QStringLiteral("    Pictarre是")));
    QCOMPARE(fakes.messages.shown[1].text, QStringLiteral("Pictarre"));
    QVERIFY(fakes.messages.shown[1].hasIcon);

    // Save-as reaches the gallery's save dialog.
    f.menuItem("mnuFileSaveAs")->trigger();
    QCOMPARE(fakes.browserDialogs.saveAsked, 1);
}

void WindowTest::unwritableProgramFolderUsesTheUsersDataFolder()
{
    QStandardPaths::setTestModeEnabled(true);
    const auto leaveTestMode = qScopeGuard([] { QStandardPaths::setTestModeEnabled(false); });
    QTemporaryDir writable;
    QCOMPARE(ProgramPaths::forProgramFolder(writable.path()).dataFolder, writable.path());

    // An installed copy's folder that the user cannot write (here: one that cannot be made).
    const QString installed = QStringLiteral("/nonexistent/pictarre");
    const ProgramPaths paths = ProgramPaths::forProgramFolder(installed);
    QCOMPARE(paths.programFolder, installed);
    QVERIFY(paths.dataFolder != installed);
    WindowFixture f(paths);
    QVERIFY(f.show());
    QVERIFY(QDir(paths.dataFolder + QStringLiteral("/temp")).exists());
    QVERIFY(paths.pagePath().startsWith(paths.dataFolder + QLatin1Char('/')));
    QFile probe(paths.pagePath());
    QVERIFY(probe.open(QIODevice::WriteOnly));
    probe.close();
    QVERIFY(probe.remove());
    // The show-desktop file is still looked for beside the program.
    f.menuItem("xian")->trigger();
    QCOMPARE(f.fakes().shell.opened.back().file, QStringLiteral("/nonexistent/pictarre/sys/viewdesk.scf"));
}

void WindowTest::pictureWindowsCloseWithTheProgram()
{
    WindowFixture f;
    QVERIFY(f.show());
    QFile page(QDir(f.paths().dataFolder).filePath(QStringLiteral("links.htm")));
    QVERIFY(page.open(QIODevice::WriteOnly));
    page.write("<body><a id=l target=\"_blank\" href=\"links.htm\">open</a></body>");
    page.close();
    QSignalSpy loaded(&f.Web(), &WebBrowser::DownloadComplete);
    f.Web().Navigate(page.fileName());
    QVERIFY(loaded.wait(20000));
    QSignalSpy opened(&f.Web(), &WebBrowser::windowOpened);
    // (The page runs no script of its own; the click comes from the program's script world.)
    const auto click = [&f] {
        f.Web().page()->runJavaScript(QStringLiteral("document.getElementById('l').click()"), QWebEngineScript::ApplicationWorld);
    };
    click();
    QVERIFY(opened.wait(20000));
    QPointer<WebBrowser> picture = opened.last().at(0).value<WebBrowser*>();
    QVERIFY(picture && picture->isVisible());
    QVERIFY(!picture->testAttribute(Qt::WA_QuitOnClose));
    // Over the middle of the main window; Esc and Ctrl+W close it as a browser's window.
    const QPoint off = picture->frameGeometry().center() - f.window().frameGeometry().center();
    QVERIFY2(off.manhattanLength() <= 4, qPrintable(QStringLiteral("%1, %2").arg(off.x()).arg(off.y())));
    for (const QKeyCombination keys : {QKeyCombination(Qt::Key_Escape), QKeyCombination(Qt::ControlModifier, Qt::Key_W)}) {
        if (!picture) {
            click();
            QVERIFY(opened.wait(20000));
            picture = opened.last().at(0).value<WebBrowser*>();
        }
        picture->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(picture));
        QTest::keyClick(picture->focusProxy() ? picture->focusProxy() : picture.data(), keys.key(), keys.keyboardModifiers());
        QTRY_VERIFY(!picture);
    }
    click();
    QVERIFY(opened.wait(20000));
    picture = opened.last().at(0).value<WebBrowser*>();

    f.window().close();
    QTRY_VERIFY(!picture || !picture->isVisible());
}

void WindowTest::galleryRowsFollowAMaximisedWindow()
{
    // Photos wider than the window, written into its start size, then the window maximised and
    // restored: every row is as wide as the view, each photo as wide as the room beside the
    // scroll bar, and nothing reaches beyond the view.
    Sandbox folder;
    for (int i = 0; i < 8; ++i) {
        QImage photo(1600, 500, QImage::Format_RGB32);
        photo.fill(QColor::fromHsv(i * 40, 160, 220));
        QVERIFY(photo.save(q(folder.root()) + QStringLiteral("/p%1.jpg").arg(i), "JPG"));
    }
    WindowFixture f;
    QVERIFY(f.show());
    f.fakes().dialogs.openAnswers.push_back(q(folder.root()) + QStringLiteral("/p0.jpg"));
    f.click("OpenList");
    QVERIFY(f.waitForPage());
    const QString misfits = QStringLiteral(
        "(function(){ var d = document.documentElement, bad = [];"
        " if (d.scrollWidth > d.clientWidth) bad.push('page ' + d.scrollWidth + ' in ' + d.clientWidth);"
        " for (const r of document.getElementById('AutoNumber1').rows)"
        "   if (Math.abs(r.getBoundingClientRect().width - d.clientWidth) > 1) bad.push('row ' + r.getBoundingClientRect().width);"
        " for (const i of document.images)"
        "   if (i.getBoundingClientRect().width !== Math.min(1600, innerWidth - 24)) bad.push('picture ' + i.getBoundingClientRect().width);"
        " return document.images.length === 8 ? bad.slice(0, 5).join(', ') : 'pictures: ' + document.images.length; })()");
    QTRY_COMPARE_WITH_TIMEOUT(evaluate(f.Web(), misfits).toString(), QString(), 20000);
    const QSize start = f.window().size();
    f.window().resize(1280, 860);  // the offscreen screen is smaller than a maximised window
    QTRY_COMPARE(f.Web().width(), 1280);
    QTRY_COMPARE_WITH_TIMEOUT(evaluate(f.Web(), misfits).toString(), QString(), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(evaluate(f.Web(), QStringLiteral("document.images[0].complete")).toBool(), 10000);
    QTest::qWait(300);
    const QString shot = artifactPath(QStringLiteral("gallery-maximised.png"));
    QVERIFY(f.window().grab().save(shot));
    qInfo("screenshot: %s", qPrintable(shot));
    f.window().resize(start);
    QTRY_COMPARE(f.Web().width(), start.width());
    QTRY_COMPARE_WITH_TIMEOUT(evaluate(f.Web(), misfits).toString(), QString(), 10000);
}

void WindowTest::folderViewGoesBackAndForthWithTheBrowsersKeys()
{
    PictureFolder pictures;
    WindowFixture f;
    QVERIFY(f.show());
    f.window().openArgument(pictures.path());
    f.click("small");
    WebBrowser& view = f.Webt();
    QTRY_VERIFY_WITH_TIMEOUT(evaluate(view, QStringLiteral("document.links.length > 0")).toBool(), 30000);
    const QUrl listing = view.url();
    const QUrl picture = QUrl::fromLocalFile(pictures.picture());
    // A file clicked in the listing opens in place; the keys go back, forward and back again.
    view.page()->runJavaScript(QStringLiteral("Array.from(document.links).find(a => a.textContent === 'a.jpg').click()"));
    QTRY_COMPARE_WITH_TIMEOUT(view.url(), picture, 20000);
    const struct {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        QUrl then;
    } steps[] = {{Qt::Key_Left, Qt::AltModifier, listing}, {Qt::Key_Right, Qt::AltModifier, picture},
                 {Qt::Key_Backspace, Qt::NoModifier, listing}};
    for (const auto& step : steps) {
        // The engine may give the view a new widget for each page it shows.
        view.setFocus();
        QTest::keyClick(view.focusProxy() ? view.focusProxy() : &view, step.key, step.modifiers);
        QTRY_COMPARE_WITH_TIMEOUT(view.url(), step.then, 20000);
    }
}

void WindowTest::aSecondWindowIsNotPlacedOverTheFirst()
{
    // The first window of a program opens centred; a second one, while the first is open, is
    // left to the desktop; once the first has closed, the next is centred again.
    QTemporaryDir program;
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    auto first = std::make_unique<WindowFixture>(program.path());
    QVERIFY(first->show());
    QVERIFY(qAbs(first->window().frameGeometry().center().x() - screen.center().x()) <= 3);
    auto second = std::make_unique<WindowFixture>(program.path());
    QVERIFY(second->show());
    QVERIFY(second->window().pos() != first->window().pos());
    second.reset();
    first.reset();
    WindowFixture again(program.path());
    QVERIFY(again.show());
    QVERIFY(qAbs(again.window().frameGeometry().center().x() - screen.center().x()) <= 3);
}

QTEST_MAIN(WindowTest)
#include "tst_window.moc"
