#include <QApplication>
#include <QDir>
#include <sys/stat.h>

#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QShortcut>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWebEnginePage>
#include <QWebEngineProfile>

#include "fakes/fakeplatform.h"
#include "support/sandbox.h"
#include "support/webtest.h"
#include "platform/finddialog.h"
#include "platform/galleryscheme.h"
#include "gallery/pageencoding.h"
#include "platform/webbrowser.h"

using namespace pictarre;
using namespace pictarre::test;

namespace {

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Clicks the element with the given id the way a user does, with the mouse.
bool clickElement(WebBrowser& view, const QString& id)
{
    const QVariantList box = evaluate(view, QStringLiteral(
        "(function(){var r=document.getElementById('%1').getBoundingClientRect();"
        "return [r.left + r.width / 2, r.top + r.height / 2];})()").arg(id)).toList();
    if (box.size() != 2)
        return false;
    QWidget* target = view.focusProxy() ? view.focusProxy() : &view;
    QTest::mouseClick(target, Qt::LeftButton, {}, QPoint(box[0].toInt(), box[1].toInt()));
    return true;
}

// A browser whose new-window hook the test calls the way the engine does.
class OpeningBrowser : public WebBrowser {
public:
    using WebBrowser::WebBrowser;
    using WebBrowser::createWindow;
};

// A page long enough for several printed pages.
QByteArray longPage()
{
    QByteArray html = "<body>";
    for (int i = 0; i < 400; ++i)
        html += "<p>line " + QByteArray::number(i) + " of the page to print</p>";
    return html + "</body>";
}

}  // namespace

Q_DECLARE_METATYPE(QWebEnginePage::WebWindowType)

class WebBrowserTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir_;
    FakeBrowserDialogs dialogs_;
    std::unique_ptr<WebBrowser> view_;

    // Shows `html` (raw bytes, no charset) from a file in the test folder and waits for the load.
    bool show(const QByteArray& html, const QString& name = QStringLiteral("page.htm"))
    {
        const QString path = dir_.filePath(name);
        if (!writeFile(path, html))
            return false;
        QSignalSpy complete(view_.get(), &WebBrowser::DownloadComplete);
        view_->Navigate(path);
        return complete.wait(20000);
    }

private slots:
    void init()
    {
        view_ = std::make_unique<WebBrowser>(dialogs_);
        view_->resize(640, 480);
        view_->show();
        QVERIFY(QTest::qWaitForWindowExposed(view_.get()));
    }
    void cleanup() { view_.reset(); }

    void localPageLoadsAndReportsProgress();
    void pageWithoutCharsetIsReadAsUtf8();
    void folderAddressShowsItsFiles();
    void blankTargetAndFileLinksOpenNewWindows();
    void bodyHandlerSuppressesTheContextMenu();
    void findDialogHighlightsMatches();
    void closingTheFindDialogClearsItsHighlights_data();
    void closingTheFindDialogClearsItsHighlights();
    void newWindowsFollowTheirType_data();
    void newWindowsFollowTheirType();
    void modifiedClicksAndScriptsOpenTheirWindows();
    void printWritesAPdfThroughTheDialog();
    void viewDestroyedWhilePrintingLeavesNothingBehind_data();
    void viewDestroyedWhilePrintingLeavesNothingBehind();
    void saveAsWritesThePage();
    void saveThatNeverEndsCannotMakeTheNextReportTwice();
    void focusAndSizesFollowTheControlRules();
};

void WebBrowserTest::localPageLoadsAndReportsProgress()
{
    QSignalSpy progress(view_.get(), &WebBrowser::ProgressChange);
    QVERIFY(show("<body><p id=x>hello</p></body>"));
    QVERIFY(progress.count() >= 2);
    // Progress runs against a maximum and ends with -1 when the load is over.
    QCOMPARE(progress.last().at(0).toInt(), -1);
    for (const auto& report : progress) {
        QVERIFY(report.at(0).toInt() <= report.at(1).toInt());
    }
    QCOMPARE(evaluate(*view_, QStringLiteral("document.getElementById('x').textContent")).toString(),
             QStringLiteral("hello"));
    // A page other than the program's gallery opens as a file, as the engine reads it.
    QCOMPARE(view_->url(), QUrl::fromLocalFile(dir_.filePath(QStringLiteral("page.htm"))));
}

void WebBrowserTest::pageWithoutCharsetIsReadAsUtf8()
{
    QCOMPARE(QString::fromStdString(pageEncoding()), QStringLiteral("UTF-8"));  // CI runs under C.UTF-8
    QVERIFY(show(QStringLiteral("<body><p id=x>图片总数 照片</p></body>").toUtf8()));
    QCOMPARE(evaluate(*view_, QStringLiteral("document.getElementById('x').textContent")).toString(),
             QStringLiteral("图片总数 照片"));
}

void WebBrowserTest::folderAddressShowsItsFiles()
{
    QTemporaryDir folder;
    QVERIFY(writeFile(folder.filePath(QStringLiteral("风景 1.jpg")), "x"));
    QSignalSpy complete(view_.get(), &WebBrowser::DownloadComplete);
    view_->Navigate(folder.path() + QLatin1Char('/'));
    QVERIFY(complete.wait(20000));
    const QString text = evaluate(*view_, QStringLiteral("document.body ? document.body.innerText : ''")).toString();
    QVERIFY2(text.contains(QStringLiteral("风景 1.jpg")), qPrintable(text.left(300)));
}

void WebBrowserTest::blankTargetAndFileLinksOpenNewWindows()
{
    QVERIFY(writeFile(dir_.filePath(QStringLiteral("other.htm")), "<body>other</body>"));
    QVERIFY(writeFile(dir_.filePath(QStringLiteral("a b.txt")), "plain file"));
    const QByteArray fileUrl = QUrl::fromLocalFile(dir_.filePath(QStringLiteral("a b.txt"))).toEncoded();
    QVERIFY(show("<body><a id=n href=\"other.htm\" target=\"_blank\">n</a>"
                 "<a id=f target=\"_blank\" href=\"" + fileUrl + "\">f</a></body>"));

    QSignalSpy opened(view_.get(), &WebBrowser::windowOpened);
    QVERIFY(clickElement(*view_, QStringLiteral("n")));
    QVERIFY(opened.wait(20000));
    WebBrowser* first = opened.last().at(0).value<WebBrowser*>();
    QTRY_COMPARE_WITH_TIMEOUT(first->url(), QUrl::fromLocalFile(dir_.filePath(QStringLiteral("other.htm"))), 20000);
    QVERIFY(first->isWindow() && first->isVisible());

    QVERIFY(clickElement(*view_, QStringLiteral("f")));
    QVERIFY(opened.wait(20000));
    WebBrowser* second = opened.last().at(0).value<WebBrowser*>();
    QTRY_COMPARE_WITH_TIMEOUT(second->url(), QUrl::fromLocalFile(dir_.filePath(QStringLiteral("a b.txt"))), 20000);
    QTRY_COMPARE_WITH_TIMEOUT(evaluate(*second, QStringLiteral("document.body.innerText")).toString().trimmed(),
                              QStringLiteral("plain file"), 20000);
    QCOMPARE(view_->openedWindows().size(), 2);
}

void WebBrowserTest::bodyHandlerSuppressesTheContextMenu()
{
    const QString probe = QStringLiteral(
        "(function(){var e=new MouseEvent('contextmenu',{bubbles:true,cancelable:true});"
        "document.getElementById('t').dispatchEvent(e);return e.defaultPrevented;})()");
    // A page from a file runs no script, not even its body's handler; the gallery page, which
    // runs its own, keeps its handler (tst_gallerypage).
    QVERIFY(show("<body oncontextmenu=self.event.returnValue=false topmargin=0><p id=t>text</p></body>"));
    QCOMPARE(evaluate(*view_, probe).toBool(), false);
    QVERIFY(show("<body><p id=t>text</p></body>", QStringLiteral("plain.htm")));
    QCOMPARE(evaluate(*view_, probe).toBool(), false);
}

void WebBrowserTest::findDialogHighlightsMatches()
{
    QVERIFY(show("<body>apple banana Apple cherry apple</body>"));
    view_->showFindDialog();
    FindDialog* dialog = view_->findDialog();
    QVERIFY(dialog && dialog->isVisible());
    QCOMPARE(findText(*dialog, QStringLiteral("apple")), 3);
    QCOMPARE(dialog->lastMatchCount(), 3);
    QCOMPARE(findText(*dialog, QStringLiteral("durian")), 0);
    // One dialog per view, shown again rather than duplicated.
    view_->showFindDialog();
    QCOMPARE(view_->findDialog(), dialog);
}

void WebBrowserTest::closingTheFindDialogClearsItsHighlights_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("Cancel button") << QStringLiteral("cancel");
    QTest::newRow("Esc") << QStringLiteral("escape");
    QTest::newRow("close box") << QStringLiteral("close");
}

void WebBrowserTest::closingTheFindDialogClearsItsHighlights()
{
    QFETCH(QString, how);
    QVERIFY(show("<body style='font-size:40px'>apple banana apple cherry</body>"));
    QTest::qWait(300);
    const QImage plain = view_->grab().toImage();
    view_->showFindDialog();
    FindDialog* dialog = view_->findDialog();
    QCOMPARE(findText(*dialog, QStringLiteral("apple")), 2);
    // The matches show in the page.
    QTRY_VERIFY_WITH_TIMEOUT(view_->grab().toImage() != plain, 5000);

    if (how == QLatin1String("cancel")) {
        const auto buttons = dialog->findChildren<QPushButton*>();
        const auto cancel = std::find_if(buttons.begin(), buttons.end(),
                                         [](QPushButton* b) { return b->text() == QStringLiteral("取消"); });
        QVERIFY(cancel != buttons.end());
        QTest::mouseClick(*cancel, Qt::LeftButton);
    } else if (how == QLatin1String("escape")) {
        QTest::keyClick(dialog, Qt::Key_Escape);
    } else {
        dialog->close();
    }
    QVERIFY(!dialog->isVisible());
    // The last match is no longer selected, and the page looks as it did before the search.
    QTRY_COMPARE_WITH_TIMEOUT(evaluate(*view_, QStringLiteral("window.getSelection().toString()")).toString(),
                              QString(), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(view_->grab().toImage(), plain, 10000);
}

void WebBrowserTest::newWindowsFollowTheirType_data()
{
    QTest::addColumn<QWebEnginePage::WebWindowType>("type");
    QTest::addColumn<bool>("opens");
    QTest::addColumn<bool>("takesFocus");
    QTest::newRow("new tab: a picture window") << QWebEnginePage::WebBrowserTab << true << true;
    QTest::newRow("new window: a picture window") << QWebEnginePage::WebBrowserWindow << true << true;
    QTest::newRow("background tab: a picture window behind") << QWebEnginePage::WebBrowserBackgroundTab << true << false;
    QTest::newRow("script pop-up: none") << QWebEnginePage::WebDialog << false << false;
}

void WebBrowserTest::newWindowsFollowTheirType()
{
    QFETCH(QWebEnginePage::WebWindowType, type);
    QFETCH(bool, opens);
    QFETCH(bool, takesFocus);
    OpeningBrowser view(dialogs_);
    QSignalSpy opened(&view, &WebBrowser::windowOpened);
    QWebEngineView* window = view.createWindow(type);
    QCOMPARE(window != nullptr, opens);
    QCOMPARE(opened.count(), opens ? 1 : 0);
    QCOMPARE(view.openedWindows().size(), opens ? 1 : 0);
    if (!opens)
        return;
    QCOMPARE(qobject_cast<WebBrowser*>(window), view.openedWindows().constFirst());
    QVERIFY(window->isWindow() && window->isVisible());
    QCOMPARE(window->testAttribute(Qt::WA_ShowWithoutActivating), !takesFocus);
    QVERIFY(window->testAttribute(Qt::WA_DeleteOnClose));
    QVERIFY(!window->testAttribute(Qt::WA_QuitOnClose));
    // Its own find shortcut.
    const auto* find = window->findChild<QShortcut*>();
    QVERIFY(find && find->key() == QKeySequence(QKeySequence::Find));
}

void WebBrowserTest::modifiedClicksAndScriptsOpenTheirWindows()
{
    QVERIFY(writeFile(dir_.filePath(QStringLiteral("other.htm")), "<body>other</body>"));
    QVERIFY(show("<body><p><a id=n href=\"other.htm\">plain link</a></p></body>"));
    QSignalSpy opened(view_.get(), &WebBrowser::windowOpened);
    // Ctrl+click asks for a background tab: a picture window that leaves the focus alone.
    const QVariantList box = evaluate(*view_, QStringLiteral(
        "(function(){var r=document.getElementById('n').getBoundingClientRect();"
        "return [r.left + r.width / 2, r.top + r.height / 2];})()")).toList();
    QCOMPARE(box.size(), 2);
    QWidget* target = view_->focusProxy() ? view_->focusProxy() : view_.get();
    QTest::mouseClick(target, Qt::LeftButton, Qt::ControlModifier, QPoint(box[0].toInt(), box[1].toInt()));
    QVERIFY(opened.wait(20000));
    QVERIFY(opened.last().at(0).value<WebBrowser*>()->testAttribute(Qt::WA_ShowWithoutActivating));
    // A script's sized pop-up gets no window.
    view_->page()->runJavaScript(QStringLiteral("window.open('other.htm', 'x', 'width=200,height=100')"));
    QTest::qWait(1500);
    QCOMPARE(opened.count(), 1);
    QCOMPARE(view_->openedWindows().size(), 1);
}

void WebBrowserTest::printWritesAPdfThroughTheDialog()
{
    QVERIFY(show("<body><h1>print me</h1></body>"));
    dialogs_.pdfPath.clear();
    QVERIFY(!view_->ExecWB(BrowserCommand::Print));  // the dialog was cancelled
    dialogs_.pdfPath = dir_.filePath(QStringLiteral("out.pdf"));
    QSignalSpy done(view_.get(), &WebBrowser::printDone);
    QVERIFY(view_->ExecWB(BrowserCommand::Print));
    QVERIFY(!view_->ExecWB(BrowserCommand::Print));  // one job at a time
    QVERIFY(done.wait(30000));
    QCOMPARE(done.last().at(0).toBool(), true);
    QFile pdf(dialogs_.pdfPath);
    QVERIFY(pdf.open(QIODevice::ReadOnly));
    QVERIFY(pdf.read(5) == "%PDF-");
    QCOMPARE(dialogs_.printAsked, 3 - 1);
    QVERIFY(!view_->ExecWB(static_cast<BrowserCommand>(5)));  // only save and print are known commands
}

void WebBrowserTest::viewDestroyedWhilePrintingLeavesNothingBehind_data()
{
    QTest::addColumn<bool>("whilePainting");
    QTest::newRow("while the engine renders the page") << false;
    QTest::newRow("while the pages are painted") << true;
}

void WebBrowserTest::viewDestroyedWhilePrintingLeavesNothingBehind()
{
    QFETCH(bool, whilePainting);
    QVERIFY(show(longPage()));
    dialogs_.pdfPath = dir_.filePath(QStringLiteral("cut.pdf"));
    dialogs_.copies = whilePainting ? 2 : 1;  // copies are painted page by page
    QObject witness;
    bool reported = false;
    connect(view_.get(), &WebBrowser::printDone, &witness, [&] { reported = true; });
    QVERIFY(view_->ExecWB(BrowserCommand::Print));
    // Painting has begun once the printer has opened its file.
    if (whilePainting)
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dialogs_.pdfPath), 30000);
    QVERIFY(!reported);
    const QPointer<QWebEnginePage> page = view_->page();
    view_.reset();

    // Nothing of the job is left: no file is held open, nothing reports afterwards, and the
    // page goes too once the engine has let go of it.
    QCOMPARE(openDescriptorsUnder(dir_.path().toStdString()), 0);
    QTRY_VERIFY_WITH_TIMEOUT(!page, 30000);
    QTest::qWait(500);
    QVERIFY(!reported);
    QCOMPARE(openDescriptorsUnder(dir_.path().toStdString()), 0);
    // A file begun and not finished is not left behind looking whole.
    QVERIFY(!QFile::exists(dialogs_.pdfPath));
}

void WebBrowserTest::saveAsWritesThePage()
{
    QVERIFY(show("<body><p>saved words</p></body>"));
    dialogs_.saveAnswer.reset();
    QVERIFY(!view_->ExecWB(BrowserCommand::SaveAs));

    const struct {
        SaveFormat format;
        const char* name;
        const char* expected;
    } rows[] = {
        {SaveFormat::HtmlOnly, "copy.htm", "saved words"},
        {SaveFormat::CompletePage, "full.htm", "saved words"},
        {SaveFormat::SingleFile, "one.mht", "saved words"},
        {SaveFormat::PlainText, "text.txt", "saved words"},
    };
    for (const auto& row : rows) {
        dialogs_.saveAnswer = SaveAsChoice{dir_.filePath(QString::fromLatin1(row.name)), row.format};
        QSignalSpy done(view_.get(), &WebBrowser::saveDone);
        QVERIFY(view_->ExecWB(BrowserCommand::SaveAs));
        QVERIFY2(done.wait(30000), row.name);
        QVERIFY2(done.last().at(0).toBool(), row.name);
        QFile saved(dialogs_.saveAnswer->path);
        QVERIFY2(saved.open(QIODevice::ReadOnly), row.name);
        QVERIFY2(saved.readAll().contains(row.expected), row.name);
        // Every kind is saved with the permissions of the user's other new files.
        const mode_t mask = ::umask(0);
        ::umask(mask);
        struct stat st {};
        QVERIFY2(::stat(QFile::encodeName(saved.fileName()).constData(), &st) == 0, row.name);
        QVERIFY2((st.st_mode & 0777) == (0666 & ~mask), row.name);
    }
}

void WebBrowserTest::saveThatNeverEndsCannotMakeTheNextReportTwice()
{
    QVERIFY(show("<body><p>saved words</p></body>"));
    QSignalSpy done(view_.get(), &WebBrowser::saveDone);
    // The first save's download never reaches the view: the profile tells nobody about it.
    // (The whole page is saved through the engine; the HTML alone is the page file, copied.)
    const QString path = dir_.filePath(QStringLiteral("twice.htm"));
    dialogs_.saveAnswer = SaveAsChoice{path, SaveFormat::CompletePage};
    QWebEngineProfile* profile = view_->page()->profile();
    profile->blockSignals(true);
    QVERIFY(view_->ExecWB(BrowserCommand::SaveAs));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(path), 20000);
    QTest::qWait(300);
    profile->blockSignals(false);
    QVERIFY(QFile::remove(path));

    // The next save, to the same file, reports once.
    QVERIFY(view_->ExecWB(BrowserCommand::SaveAs));
    QVERIFY(done.wait(30000));
    QTest::qWait(1000);
    QCOMPARE(done.count(), 1);
    QVERIFY(done.last().at(0).toBool());
    QVERIFY(QFile::exists(path));
}

void WebBrowserTest::focusAndSizesFollowTheControlRules()
{
    QVERIFY(view_->SetFocus());
    view_->hide();
    QVERIFY(!view_->SetFocus());
    view_->show();

    QVERIFY(view_->setWidthTwips(12000));
    QCOMPARE(view_->width(), 800);
    QCOMPARE(view_->widthTwips(), 12000.0f);
    QVERIFY(view_->setHeightTwips(3000));
    QCOMPARE(view_->heightTwips(), 3000.0f);
    QVERIFY(!view_->setHeightTwips(-650));
    QCOMPARE(view_->heightTwips(), 3000.0f);
    QVERIFY(view_->setWidthTwips(0));
    QCOMPARE(view_->width(), 0);
}

QTEST_MAIN(WebBrowserTest)
#include "tst_webbrowser.moc"
