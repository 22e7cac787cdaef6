// The text encoding the browser gives pages that declare none, under the locale the process
// runs in: CTest starts this test once under each locale of the table below, the non-UTF-8
// ones made for it in the build tree.
#include <climits>
#include <clocale>
#include <cwchar>
#include <fstream>

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWebEngineSettings>

#include "fakes/fakeplatform.h"
#include "gallery/makefile.h"
#include "gallery/pageencoding.h"
#include "platform/webbrowser.h"
#include "support/picturefiles.h"
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
        QCOMPARE(QString::fromStdString(pageEncoding()), QString::fromLatin1(c->encoding));

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

    void aGalleryShowsEveryPictureAndNameInTheLocalesEncoding()
    {
        // The row layout's texts and markup reach the page as script strings. A quote after a
        // character of two bytes once broke its whole batch under GB18030 (the escape's
        // backslash joined the character), and names valid in the locale's encoding once
        // showed as replacement characters.
        const std::vector<std::wstring> wanted = {L"\u4E2D\",x.gif", L"\u4E2D\u6587.gif", L"q\"u\\ote.gif"};
        QTemporaryDir dir;
        std::vector<std::string> names;
        QStringList shown;
        for (int i = 0; i < 10; ++i) {
            // In the locale's encoding; a character it lacks becomes a byte of its own.
            const std::wstring name = i < 3 ? wanted[static_cast<std::size_t>(i)] : L"plain" + std::to_wstring(i) + L".gif";
            std::string bytes;
            bool encodable = true;
            for (const wchar_t c : name) {
                char out[MB_LEN_MAX];
                std::mbstate_t state{};
                const std::size_t n = std::wcrtomb(out, c, &state);
                encodable = encodable && n != static_cast<std::size_t>(-1);
                bytes += n == static_cast<std::size_t>(-1) ? std::string("\xE9") : std::string(out, n);
            }
            names.push_back(bytes);
            // Named by its bytes: Qt would read the name as UTF-8.
            std::ofstream(dir.path().toStdString() + '/' + bytes, std::ios::binary) << makeGif({});
            shown << (encodable ? QString::fromStdWString(name) : QString());
        }
        const std::string pagePath = dir.filePath(QStringLiteral("picture.htm")).toStdString();
        auto gallery = std::make_shared<Gallery>(pagePath);
        SizeReader sizes(defaultSizeQueries([] { return 6000.0f; }));
        std::string list;
        GalleryHooks hooks;
        hooks.listLayout = [] { return true; };
        hooks.record = gallery.get();
        QCOMPARE(makefile(pagePath, FolderSource{dir.path().toStdString(), names}, sizes, list, hooks), RunResult::Completed);

        FakeBrowserDialogs dialogs;
        WebBrowser view(dialogs);
        view.resize(400, 300);
        view.show();
        QSignalSpy complete(&view, &WebBrowser::DownloadComplete);
        view.showGallery(gallery);
        QVERIFY(complete.wait(20000));
        QTRY_COMPARE_WITH_TIMEOUT(evaluate(view, QStringLiteral("document.links.length")).toInt(), 10, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(
            evaluate(view, QStringLiteral("Array.from(document.images).filter(i => i.naturalWidth > 0).length")).toInt(),
            10, 10000);
        const QStringList texts = evaluate(view, QStringLiteral("Array.from(document.links, a => a.textContent)")).toStringList();
        QCOMPARE(texts.size(), 10);
        for (int i = 0; i < 10; ++i) {
            if (!shown[i].isEmpty())
                QCOMPARE(texts[i], dir.path() + QLatin1Char('/') + shown[i]);
        }
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
