#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWebEnginePage>

#include "fakes/fakeplatform.h"
#include "support/webtest.h"
#include "platform/finddialog.h"
#include "platform/galleryscheme.h"
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

}  // namespace

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
    void printWritesAPdfThroughTheDialog();
    void saveAsWritesThePage();
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
    QCOMPARE(view_->url(), galleryUrl(QFile::encodeName(dir_.filePath(QStringLiteral("page.htm")))));
}

void WebBrowserTest::pageWithoutCharsetIsReadAsUtf8()
{
    QCOMPARE(localePageEncoding(), QStringLiteral("UTF-8"));  // CI runs under C.UTF-8
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
    QVERIFY(show("<body oncontextmenu=self.event.returnValue=false topmargin=0><p id=t>text</p></body>"));
    QCOMPARE(evaluate(*view_, probe).toBool(), true);
    // A right click on the page opens no menu.
    QWidget* target = view_->focusProxy() ? view_->focusProxy() : view_.get();
    QTest::mouseClick(target, Qt::RightButton, {}, QPoint(20, 10));
    QTest::qWait(300);
    QVERIFY(QApplication::activePopupWidget() == nullptr);

    QVERIFY(show("<body><p id=t>text</p></body>", QStringLiteral("plain.htm")));
    QCOMPARE(evaluate(*view_, probe).toBool(), false);
}

void WebBrowserTest::findDialogHighlightsMatches()
{
    QVERIFY(show("<body>apple banana Apple cherry apple</body>"));
    view_->showFindDialog();
    FindDialog* dialog = view_->findDialog();
    QVERIFY(dialog && dialog->isVisible());
    dialog->textField()->setText(QStringLiteral("apple"));
    QSignalSpy finished(dialog, &FindDialog::searchFinished);
    dialog->findNext();
    QVERIFY(finished.wait(10000));
    QCOMPARE(finished.last().at(0).toInt(), 3);
    QCOMPARE(dialog->lastMatchCount(), 3);
    dialog->textField()->setText(QStringLiteral("durian"));
    dialog->findNext();
    QVERIFY(finished.wait(10000));
    QCOMPARE(finished.last().at(0).toInt(), 0);
    // One dialog per view, shown again rather than duplicated.
    view_->showFindDialog();
    QCOMPARE(view_->findDialog(), dialog);
}

void WebBrowserTest::printWritesAPdfThroughTheDialog()
{
    QVERIFY(show("<body><h1>print me</h1></body>"));
    dialogs_.pdfPath.clear();
    QVERIFY(!view_->ExecWB(6, 0));  // the dialog was cancelled
    dialogs_.pdfPath = dir_.filePath(QStringLiteral("out.pdf"));
    QSignalSpy done(view_.get(), &WebBrowser::printDone);
    QVERIFY(view_->ExecWB(6, 0));
    QVERIFY(!view_->ExecWB(6, 0));  // one job at a time
    QVERIFY(done.wait(30000));
    QCOMPARE(done.last().at(0).toBool(), true);
    QFile pdf(dialogs_.pdfPath);
    QVERIFY(pdf.open(QIODevice::ReadOnly));
    QVERIFY(pdf.read(5) == "%PDF-");
    QCOMPARE(dialogs_.printAsked, 3 - 1);
    QVERIFY(!view_->ExecWB(5, 0));  // only save and print are known commands
}

void WebBrowserTest::saveAsWritesThePage()
{
    QVERIFY(show("<body><p>saved words</p></body>"));
    dialogs_.saveAnswer.reset();
    QVERIFY(!view_->ExecWB(4, 0));

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
        QVERIFY(view_->ExecWB(4, 0));
        QVERIFY2(done.wait(30000), row.name);
        QVERIFY2(done.last().at(0).toBool(), row.name);
        QFile saved(dialogs_.saveAnswer->path);
        QVERIFY2(saved.open(QIODevice::ReadOnly), row.name);
        QVERIFY2(saved.readAll().contains(row.expected), row.name);
    }
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
