// The text encoding the browser gives pages that declare none, under the locale the process
// runs in: CTest starts this test once under each locale of the table below, the non-UTF-8
// ones made for it in the build tree.
#include <clocale>

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWebEngineSettings>

#include "fakes/fakeplatform.h"
#include "gallery/pagewriter.h"
#include "platform/webbrowser.h"
#include "support/webtest.h"

using namespace pictarre;
using namespace pictarre::test;

namespace {

struct LocaleCase {
    const char* locale;    // LC_ALL of the test process
    const char* encoding;  // what the browser is to decode pages with
    QByteArray page;       // a page in that encoding, without a charset
    const char* text;      // what it reads as (UTF-8)
};

const LocaleCase kCases[] = {
    // The C locale names plain ASCII; file names are UTF-8 in practice.
    {"C", "UTF-8", "<body><p id=x>\xE5\x9B\xBE\xE7\x89\x87\xE6\x80\xBB\xE6\x95\xB0</p></body>", "图片总数"},
    {"zh_CN.GB18030", "GB18030", "<body><p id=x>\xCD\xBC\xC6\xAC\xD7\xDC\xCA\xFD</p></body>", "图片总数"},
    {"en_US.ISO-8859-1", "ISO-8859-1", "<body><p id=x>caf\xE9 na\xEFve</p></body>", "café naïve"},
};

const LocaleCase* caseOfThisProcess()
{
    const QByteArray locale = qgetenv("LC_ALL");
    for (const LocaleCase& c : kCases) {
        if (locale == c.locale)
            return &c;
    }
    return nullptr;
}

}  // namespace

class PageEncodingTest : public QObject {
    Q_OBJECT

private slots:
    void pagesWithoutCharsetAreReadInTheLocalesEncoding()
    {
        const LocaleCase* c = caseOfThisProcess();
        if (!c)
            QFAIL("run under LC_ALL=C, zh_CN.GB18030 or en_US.ISO-8859-1 (see tests/platform/CMakeLists.txt)");
        // The application object took the locale from the environment.
        QCOMPARE(QByteArray(std::setlocale(LC_CTYPE, nullptr)), QByteArray(c->locale));
        QCOMPARE(localePageEncoding(), QString::fromLatin1(c->encoding));

        FakeBrowserDialogs dialogs;
        WebBrowser view(dialogs);
        view.resize(400, 300);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QTemporaryDir dir;
        QFile page(dir.filePath(QStringLiteral("page.htm")));
        QVERIFY(page.open(QIODevice::WriteOnly));
        page.write(c->page);
        page.close();
        QSignalSpy complete(&view, &WebBrowser::DownloadComplete);
        view.Navigate(page.fileName());
        QVERIFY(complete.wait(20000));
        QCOMPARE(evaluate(view, QStringLiteral("document.getElementById('x').textContent")).toString(),
                 QString::fromUtf8(c->text));
    }

    void galleryRowsShowWhateverBytesTheirNamesHold()
    {
        // The row layout's texts and markup reach the page as script strings, read in the
        // locale's encoding like the page. A backslash or quote next to a character of two
        // bytes must not break them: under GB18030, 中 in UTF-8 (E4 B8 AD) followed by a
        // backslash reads as two characters, the second ending in that backslash.
        const std::vector<std::string> names = {"\xE4\xB8\xAD\\x.gif", "q\"u\\ote.gif", "\x81\\y.gif",
                                                "\xCD\xBC\xC6\xAC.gif", "plain.gif"};
        QTemporaryDir dir;
        std::string page;
        appendPageHeader(page);
        for (const auto& name : names)
            appendRowEntry(page, dir.path().toStdString() + "/" + name, 20, 10);
        appendPageFooter(page);
        QFile file(dir.filePath(QStringLiteral("picture.htm")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(page.data(), static_cast<qint64>(page.size()));
        file.close();

        FakeBrowserDialogs dialogs;
        WebBrowser view(dialogs);
        view.resize(400, 300);
        view.show();
        QSignalSpy complete(&view, &WebBrowser::DownloadComplete);
        view.Navigate(file.fileName());
        QVERIFY(complete.wait(20000));
        QTRY_COMPARE_WITH_TIMEOUT(evaluate(view, QStringLiteral("document.links.length")).toInt(),
                                  static_cast<int>(names.size()), 10000);
        QVERIFY(evaluate(view, QStringLiteral("document.links[4].textContent.endsWith('/plain.gif')")).toBool());
    }

    void aViewLeavesTheProcessLocaleAlone()
    {
        // A process that has chosen another character type keeps it when a view is made, and
        // the view follows it.
        const QByteArray before = std::setlocale(LC_CTYPE, nullptr);
        std::setlocale(LC_CTYPE, "C");
        {
            FakeBrowserDialogs dialogs;
            WebBrowser view(dialogs);
            QCOMPARE(QByteArray(std::setlocale(LC_CTYPE, nullptr)), QByteArray("C"));
            QCOMPARE(view.settings()->defaultTextEncoding(), QStringLiteral("UTF-8"));
        }
        std::setlocale(LC_CTYPE, before.constData());
        QCOMPARE(QByteArray(std::setlocale(LC_CTYPE, nullptr)), before);
    }
};

QTEST_MAIN(PageEncodingTest)
#include "tst_pageencoding.moc"
