// The gallery page as the browser view shows it, in the real engine: pictures fetched only near
// the screen and let go far from it, rows brought in above in order when scrolling up, every picture printed, the page file saved as written,
// the page read in the locale's encoding whatever names its folders have, and every link
// opening its own picture.
#include <functional>

#include <QColor>
#include <QDir>
#include <QHash>
#include <QImage>
#include <QLineEdit>
#include <QPdfDocument>
#include <QPdfSelection>
#include <QSet>
#include <QSignalSpy>
#include <QDesktopServices>
#include <QMessageBox>
#include <QTcpServer>
#include <QUdpSocket>
#include <QTest>
#include <QTimer>
#include <QWebEngineUrlRequestInterceptor>

#include "fakes/fakeplatform.h"
#include "gallery/gallery.h"
#include "gallery/makefile.h"
#include "platform/finddialog.h"
#include "platform/galleryscheme.h"
#include "platform/webbrowser.h"
#include "support/artifacts.h"
#include "support/picturefiles.h"
#include "support/sandbox.h"
#include "support/webtest.h"

using namespace pictarre;
using namespace pictarre::test;

namespace {

// Records the addresses a page hands to the desktop.
class DesktopOpens : public QObject {
    Q_OBJECT
public slots:
    void open(const QUrl& url) { urls.append(url); }

public:
    QList<QUrl> urls;
};

// Records the pictures the engine asks for, whichever scheme serves them.
class ImageRequests : public QWebEngineUrlRequestInterceptor {
public:
    void interceptRequest(QWebEngineUrlRequestInfo& info) override
    {
        if (info.resourceType() == QWebEngineUrlRequestInfo::ResourceTypeImage)
            urls.append(info.requestUrl());
    }
    QList<QUrl> urls;
};

QString q(const std::string& bytes)
{
    return QFile::decodeName(QByteArray::fromStdString(bytes));
}

// A gallery of rows for `paths`, each drawn at `width` x `height`, with its page written to
// `name` in `folder` as the page writer writes it.
std::shared_ptr<Gallery> rowGallery(Sandbox& folder, const std::string& name, const std::vector<std::string>& paths,
                                    int width, int height)
{
    auto gallery = std::make_shared<Gallery>((folder.root() / name).string());
    for (const auto& path : paths)
        gallery->addRow(path, width, height);
    gallery->close();
    std::string page;
    gallery->writePage([&page](std::string_view piece) {
        page += piece;
        return true;
    });
    folder.write(name, page);
    return gallery;
}

// `count` small GIFs written into `folder`, the one numbered i under the name `nameOf(i)`;
// their paths.
std::vector<std::string> writeGifs(Sandbox& folder, int count, const std::function<std::string(int)>& nameOf)
{
    const std::string gif = makeGif({});
    std::vector<std::string> paths;
    for (int i = 0; i < count; ++i)
        paths.push_back(folder.write(nameOf(i), gif).string());
    return paths;
}

// The flow gallery of a folder, written by the program's page writer.
std::shared_ptr<Gallery> flowGallery(const std::string& folder, const std::vector<std::string>& names,
                                     const std::string& pagePath)
{
    auto gallery = std::make_shared<Gallery>(pagePath);
    SizeReader sizes(defaultSizeQueries([] { return 12000.0f; }));
    std::string list;
    GalleryHooks hooks;
    hooks.record = gallery.get();
    (void)makefile(pagePath, FolderSource{folder, names}, sizes, list, hooks);
    return gallery;
}

const char* const kDrawn = "document.images.length ? Array.from(document.images).filter("
                           "i => i.complete && i.naturalWidth > 0 && i.currentSrc).length : -1";

// True when every picture that intersects the view is drawn.
const char* const kScreenDrawn =
    "(function(){ var h = innerHeight, all = true, any = false;"
    " for (var i of document.images) { var r = i.getBoundingClientRect();"
    "  if (r.bottom > 0 && r.top < h) { any = true; all = all && i.complete && i.naturalWidth > 0; } }"
    " return any && all; })()";

// The entry of the first picture in the page when the pictures' entries follow one another
// without a gap, else -1.
const char* const kFirstOfConsecutive =
    "(function(){ var n = Array.from(document.images).map(i => Number(i.dataset.n));"
    " return n.length && n.every((v, k) => k === 0 || v === n[k - 1] + 1) ? n[0] : -1; })()";

// The colours of each page of a printed PDF, on their top bits, with how many pixels have each.
QList<QHash<QRgb, int>> pdfColours(const QString& path)
{
    QList<QHash<QRgb, int>> pages;
    QPdfDocument pdf;
    if (pdf.load(path) != QPdfDocument::Error::None)
        return pages;
    for (int page = 0; page < pdf.pageCount(); ++page) {
        const QSizeF points = pdf.pagePointSize(page);
        const QImage image = pdf.render(page, (points / 2).toSize()).convertToFormat(QImage::Format_RGB32);
        QHash<QRgb, int> seen;
        for (int y = 0; y < image.height(); y += 2) {
            for (int x = 0; x < image.width(); x += 2)
                ++seen[image.pixel(x, y) & 0xF0F0F0];
        }
        pages.append(seen);
    }
    return pages;
}

// The first page that shows an area of `colour` (to a few units: its box and the neighbouring
// ones; not the few pixels where text or edges blend), or -1.
int firstPageWith(const QList<QHash<QRgb, int>>& pages, const QColor& colour)
{
    const QRgb c = colour.rgb();
    for (int page = 0; page < pages.size(); ++page) {
        for (int dr = -16; dr <= 16; dr += 16)
            for (int dg = -16; dg <= 16; dg += 16)
                for (int db = -16; db <= 16; db += 16)
                    if (pages[page].value(qRgb(std::clamp(qRed(c) + dr, 0, 255), std::clamp(qGreen(c) + dg, 0, 255),
                                                std::clamp(qBlue(c) + db, 0, 255)) & 0xF0F0F0) >= 40)
                        return page;
    }
    return -1;
}

}  // namespace

class GalleryPageTest : public QObject {
    Q_OBJECT

private:
    FakeBrowserDialogs dialogs_;
    std::unique_ptr<WebBrowser> view_;
    ImageRequests requests_;

    bool show(std::shared_ptr<const Gallery> gallery)
    {
        requests_.urls.clear();
        QSignalSpy complete(view_.get(), &WebBrowser::DownloadComplete);
        view_->showGallery(std::move(gallery));
        return complete.wait(60000);
    }

    // True when every picture that intersects the view is drawn.
    bool screenDrawn() const { return evaluate(*view_, QString::fromLatin1(kScreenDrawn)).toBool(); }

    // Requests for the picture of entry `index`.
    int requestsFor(std::size_t index) const
    {
        const QString name = QStringLiteral("/pic/%1").arg(index);
        int count = 0;
        for (const QUrl& url : requests_.urls)
            count += url.path().endsWith(name) ? 1 : 0;
        return count;
    }

    // Clicks the link `index` of the page with the mouse and gives the window it opens.
    WebBrowser* openLink(int index)
    {
        evaluate(*view_, QStringLiteral("document.links[%1].scrollIntoView()").arg(index));
        QTest::qWait(200);
        const QVariantList box = evaluate(*view_, QStringLiteral(
            "(function(){var r=document.links[%1].getBoundingClientRect();"
            "return [r.left + r.width / 2, r.top + r.height / 2];})()").arg(index)).toList();
        if (box.size() != 2)
            return nullptr;
        QSignalSpy opened(view_.get(), &WebBrowser::windowOpened);
        QWidget* target = view_->focusProxy() ? view_->focusProxy() : view_.get();
        QTest::mouseClick(target, Qt::LeftButton, {}, QPoint(box[0].toInt(), box[1].toInt()));
        if (!opened.wait(10000))
            return nullptr;
        return opened.last().at(0).value<WebBrowser*>();
    }

    // Every picture of the page shows, and every link opens a window on its own file.
    void checkEveryPictureAndLink(const std::vector<std::string>& paths)
    {
        QCOMPARE(evaluate(*view_, QStringLiteral("document.characterSet")).toString(), QStringLiteral("UTF-8"));
        QTRY_COMPARE_WITH_TIMEOUT(evaluate(*view_, QString::fromLatin1(kDrawn)).toInt(), int(paths.size()), 20000);
        const int links = evaluate(*view_, QStringLiteral("document.links.length")).toInt();
        QCOMPARE(links, int(paths.size()));
        for (int i = 0; i < links; ++i) {
            WebBrowser* window = openLink(i);
            QVERIFY2(window, qPrintable(QStringLiteral("link %1 opened nothing").arg(i)));
            QTRY_VERIFY_WITH_TIMEOUT(!window->url().isEmpty(), 10000);
            const QByteArray opened = QByteArray::fromPercentEncoding(window->url().path(QUrl::FullyEncoded).toLatin1());
            QCOMPARE(window->url().scheme(), QStringLiteral("file"));
            QVERIFY2(opened == QByteArray::fromStdString(paths[i]) || opened == '/' + QByteArray::fromStdString(paths[i]),
                     opened.constData());
            // The window shows the picture itself, not an error page.
            QTRY_VERIFY_WITH_TIMEOUT(
                evaluate(*window, QStringLiteral("document.images.length === 1 && document.images[0].naturalWidth > 0")).toBool(),
                10000);
            window->close();
        }
    }

private slots:
    void init()
    {
        view_ = std::make_unique<WebBrowser>(dialogs_);
        view_->page()->setUrlRequestInterceptor(&requests_);
        view_->resize(640, 600);
        view_->show();
        QVERIFY(QTest::qWaitForWindowExposed(view_.get()));
    }
    void cleanup()
    {
        view_.reset();
        requests_.urls.clear();
    }

    void fetchesOnlyThePicturesNearTheScreenAndTheLastOnesAtTheEnd();
    void scrollingUpBringsRowsInAboveInOrder();
    void findReachesRowsThatAreNotInThePage();
    void printedPageHoldsEveryPicture();
    void aPrintTellsItsProgress();
    void printedPicturesFitThePaperWithTheirPaths();
    void rowsFollowTheViewsWidth();
    void aPageWrittenAnewChangesNothingShown();
    void galleriesAndFoldersShownAgainOpenAtTheTop();
    void theSchemeAnswersOnlyItsOwnGalleryToItsOwnPage();
    void otherLocalPagesAndFoldersOpenAsFiles();
    void onlyTheGalleryRunsAScriptAndNothingLeavesTheMachine();
    void savedHtmlIsThePageFileByteForByte();
    void savedWholePageHoldsEveryRowAndPicture();
    void foldersNamedInChineseShowEveryPicture_data();
    void foldersNamedInChineseShowEveryPicture();
    void namesFromOtherSystemsShowAndOpen();
};

void GalleryPageTest::fetchesOnlyThePicturesNearTheScreenAndTheLastOnesAtTheEnd()
{
    Sandbox folder;
    const auto paths = writeGifs(folder, 3000, [](int i) { return "p/" + std::to_string(i) + ".gif"; });
    // Four rows fit the screen; with the rows kept ready above and below, a few dozen at most.
    QVERIFY(show(rowGallery(folder, "picture.htm", paths, 200, 150)));
    QTRY_VERIFY_WITH_TIMEOUT(screenDrawn(), 20000);
    QTest::qWait(500);
    QVERIFY2(requests_.urls.size() >= 3 && requests_.urls.size() <= 40, qPrintable(QString::number(requests_.urls.size())));
    QCOMPARE(requestsFor(0), 1);
    QCOMPARE(requestsFor(100), 0);

    // End: the last pictures come, the first ones are let go again.
    view_->setFocus();
    QTest::keyClick(view_->focusProxy(), Qt::Key_End);
    QTRY_VERIFY_WITH_TIMEOUT(evaluate(*view_, QStringLiteral("scrollY > 0")).toBool(), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(screenDrawn(), 20000);
    QCOMPARE(requestsFor(paths.size() - 1), 1);
    QVERIFY2(requests_.urls.size() <= 80, qPrintable(QString::number(requests_.urls.size())));
    // The page holds the rows near the end only: the first picture's row is gone again.
    QVERIFY(evaluate(*view_, QStringLiteral("document.images.length")).toInt() <= 60);
    QVERIFY(!evaluate(*view_, QStringLiteral("Array.from(document.images).some(i => i.dataset.src.endsWith('/p/0.gif'))")).toBool());
}

void GalleryPageTest::scrollingUpBringsRowsInAboveInOrder()
{
    Sandbox folder;
    const auto paths = writeGifs(folder, 3000, [](int i) { return "p/" + std::to_string(i) + ".gif"; });
    QVERIFY(show(rowGallery(folder, "picture.htm", paths, 200, 150)));
    QTRY_VERIFY_WITH_TIMEOUT(screenDrawn(), 20000);
    view_->setFocus();
    QTest::keyClick(view_->focusProxy(), Qt::Key_End);
    QTRY_VERIFY_WITH_TIMEOUT(evaluate(*view_, QStringLiteral("scrollY > 0")).toBool(), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(screenDrawn(), 20000);
    const auto firstRow = [this] { return evaluate(*view_, QString::fromLatin1(kFirstOfConsecutive)).toInt(); };
    int first = firstRow();
    QVERIFY2(first > 2900, qPrintable(QString::number(first)));

    // A screen up at a time: the rows kept stay, those above come in before them.
    const int atEnd = first;
    for (int step = 0; step < 12; ++step) {
        const double before = evaluate(*view_, QStringLiteral("scrollY")).toDouble();
        QTest::keyClick(view_->focusProxy(), Qt::Key_PageUp);
        QTRY_VERIFY_WITH_TIMEOUT(evaluate(*view_, QStringLiteral("scrollY")).toDouble() < before, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(screenDrawn(), 20000);
        const int now = firstRow();
        QVERIFY2(now >= 0 && now <= first, qPrintable(QStringLiteral("step %1: %2 after %3").arg(step).arg(now).arg(first)));
        first = now;
    }
    QVERIFY2(first < atEnd, qPrintable(QString::number(first)));

    QTest::keyClick(view_->focusProxy(), Qt::Key_Home);
    QTRY_COMPARE_WITH_TIMEOUT(evaluate(*view_, QStringLiteral("scrollY")).toDouble(), 0.0, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(screenDrawn(), 20000);
    QCOMPARE(firstRow(), 0);
}

void GalleryPageTest::findReachesRowsThatAreNotInThePage()
{
    Sandbox folder;
    const auto paths = writeGifs(folder, 2000, [](int i) {
        return "p/n" + std::to_string(i) + (i == 1777 ? "-Needle.gif" : ".gif");
    });
    QVERIFY(show(rowGallery(folder, "picture.htm", paths, 200, 150)));
    QTRY_VERIFY_WITH_TIMEOUT(screenDrawn(), 20000);
    QVERIFY(!evaluate(*view_, QStringLiteral("document.body.innerText.includes('needle')")).toBool());

    view_->showFindDialog();
    FindDialog* dialog = view_->findDialog();
    QCOMPARE(findText(*dialog, QStringLiteral("needle")), 1);
    QTRY_COMPARE_WITH_TIMEOUT(evaluate(*view_, QStringLiteral("window.getSelection().toString()")).toString(),
                              QStringLiteral("Needle"), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(screenDrawn(), 20000);
    // The match is on the screen, and the dialog does not cover it.
    const QVariantList box = evaluate(*view_, QStringLiteral(
        "(function(){ var r = window.getSelection().getRangeAt(0).getBoundingClientRect();"
        " return [r.left, r.top, r.width, r.height]; })()")).toList();
    QCOMPARE(box.size(), 4);
    const QRect match(view_->mapToGlobal(QPoint(box[0].toInt(), box[1].toInt())), QSize(box[2].toInt(), box[3].toInt()));
    QVERIFY(match.top() >= view_->mapToGlobal(QPoint(0, 0)).y() && match.bottom() <= view_->mapToGlobal(QPoint(0, view_->height())).y());
    QVERIFY2(!dialog->frameGeometry().intersects(match), qPrintable(QStringLiteral("dialog %1,%2 %3x%4 over the match at %5,%6")
        .arg(dialog->frameGeometry().x()).arg(dialog->frameGeometry().y()).arg(dialog->frameGeometry().width())
        .arg(dialog->frameGeometry().height()).arg(match.x()).arg(match.y())));

    // Every row's text counts, and the next match follows the one shown.
    QCOMPARE(findText(*dialog, QStringLiteral("/n1")), 1111);
    QCOMPARE(findNext(*dialog), 1111);
    dialog->close();
    QTRY_COMPARE_WITH_TIMEOUT(evaluate(*view_, QStringLiteral("window.getSelection().toString()")).toString(), QString(), 5000);
    // Opened again, it tells nothing of the search before.
    view_->showFindDialog();
    QCOMPARE(dialog->lastMatchCount(), -1);
}

void GalleryPageTest::printedPageHoldsEveryPicture()
{
    // Forty pictures of forty colours, more than the screen shows at once.
    Sandbox folder;
    std::vector<std::string> paths;
    QList<QColor> colours;
    for (int i = 0; i < 40; ++i) {
        const QColor colour = QColor::fromHsv(i * 9, 255, 230);
        QImage image(160, 120, QImage::Format_RGB32);
        image.fill(colour);
        const std::string path = folder.root().string() + "/c" + std::to_string(i) + ".bmp";
        QVERIFY(image.save(q(path), "BMP"));
        paths.push_back(path);
        colours.append(colour);
    }
    QVERIFY(show(rowGallery(folder, "picture.htm", paths, 160, 120)));

    // The engine's document written as it is, and its pages painted one by one (as for a
    // printer, or for copies).
    for (const int copies : {1, 2}) {
    dialogs_.pdfPath = q(folder.root().string() + "/out.pdf");
    dialogs_.copies = copies;
    dialogs_.dotsPerInch = copies > 1 ? 100 : 0;  // painted pages at a resolution quick to paint
    QSignalSpy done(view_.get(), &WebBrowser::printDone);
    QVERIFY(view_->ExecWB(BrowserCommand::Print));
    QVERIFY(done.wait(120000));
    QVERIFY(done.last().at(0).toBool());

    // Every colour is printed, in the gallery's order: the page each first shows on never
    // comes before an earlier colour's (compared for colours far enough apart to tell).
    const QList<QHash<QRgb, int>> pages = pdfColours(dialogs_.pdfPath);
    int lastPage = 0;
    for (int i = 0; i < colours.size(); ++i) {
        const int page = firstPageWith(pages, colours[i]);
        QVERIFY2(page >= 0, qPrintable(QStringLiteral("picture %1 is missing from the print").arg(i)));
        if (i % 4 != 0)
            continue;
        QVERIFY2(page >= lastPage, qPrintable(QStringLiteral("picture %1 is printed before picture %2").arg(i).arg(i - 4)));
        lastPage = page;
    }
    QVERIFY(lastPage > 0);
    }
    QCOMPARE(screenDrawn(), true);  // back to the screen's pictures
}

void GalleryPageTest::aPrintTellsItsProgress()
{
    // Stopping a print is checked on the job itself and from the window's buttons.
    Sandbox folder;
    const auto paths = writeGifs(folder, 300, [](int i) { return "p/" + std::to_string(i) + ".gif"; });
    QVERIFY(show(rowGallery(folder, "picture.htm", paths, 200, 150)));
    dialogs_.pdfPath = q(folder.root().string() + "/out.pdf");
    QSignalSpy progress(view_.get(), &WebBrowser::printProgress);
    QSignalSpy done(view_.get(), &WebBrowser::printDone);

    // It tells how many of the 300 pictures have come, rising to all of them.
    QVERIFY(view_->ExecWB(BrowserCommand::Print));
    QVERIFY(!view_->ExecWB(BrowserCommand::Print));  // one print at a time
    QVERIFY(done.wait(120000));
    QVERIFY(done.last().at(0).toBool());
    QVERIFY(progress.count() >= 2);
    int last = -1;
    for (const auto& step : progress) {
        QCOMPARE(step.at(1).toInt(), 300);
        QVERIFY(step.at(0).toInt() >= last);
        last = step.at(0).toInt();
    }
    QCOMPARE(last, 300);
}

void GalleryPageTest::printedPicturesFitThePaperWithTheirPaths()
{
    // Fifteen photos as a 768-pixel window writes them: two to a sheet, each whole and with
    // its path. Then forty pictures of forty heights, so that some sheet has room for a
    // picture but not for its path: no sheet begins with a path.
    struct Case {
        int count, mostPages;
        std::function<QSize(int)> written;
        const char* pdf;
    };
    for (const Case& c : {Case{15, 8, [](int) { return QSize(744, 558); }, "print-15-photos.pdf"},
                          Case{40, 18, [](int i) { return QSize(320, 100 + i * 53 % 300); }, "print-40-heights.pdf"}}) {
        Sandbox folder;
        auto gallery = std::make_shared<Gallery>((folder.root() / "picture.htm").string());
        std::vector<QColor> colours;
        for (int i = 0; i < c.count; ++i) {
            const QSize size = c.written(i);
            colours.push_back(c.count == 15 ? QColor::fromHsv(i * 12, 255, 230) : QColor(0, 200, 0));  // never the links' blue
            QImage image(size.width() * 4 / 3, size.height() * 4 / 3, QImage::Format_RGB32);
            image.fill(colours.back());
            const std::string path = folder.root().string() + "/c" + std::to_string(i) + ".bmp";
            QVERIFY(image.save(q(path), "BMP"));
            gallery->addRow(path, size.width(), size.height(), image.width());
        }
        gallery->close();
        QVERIFY(show(gallery));
        dialogs_.pdfPath = artifactPath(QString::fromLatin1(c.pdf));
        dialogs_.copies = 1;  // the engine's document itself, with its text
        dialogs_.dotsPerInch = 0;
        QSignalSpy done(view_.get(), &WebBrowser::printDone);
        QVERIFY(view_->ExecWB(BrowserCommand::Print));
        QVERIFY(done.wait(120000));
        QVERIFY(done.last().at(0).toBool());

        QPdfDocument pdf;
        QCOMPARE(pdf.load(dialogs_.pdfPath), QPdfDocument::Error::None);
        QVERIFY2(pdf.pageCount() <= c.mostPages, qPrintable(QString::number(pdf.pageCount())));
        const QList<QHash<QRgb, int>> pages = pdfColours(dialogs_.pdfPath);
        QString text;
        for (int page = 0; page < pdf.pageCount(); ++page) {
            text += pdf.getAllText(page).text();
            // The first picture on the sheet lies above its first path.
            const QImage image = pdf.render(page, pdf.pagePointSize(page).toSize()).convertToFormat(QImage::Format_RGB32);
            int pictureTop = image.height();
            for (int y = 0; y < image.height() && pictureTop == image.height(); ++y)
                for (int x = 0; x < image.width(); x += 2) {
                    const QColor pixel = image.pixelColor(x, y);
                    if (pixel.hsvSaturation() > 150 && pixel.hsvHue() < 200)
                        pictureTop = y;
                }
            QVERIFY2(pictureTop < pdf.getAllText(page).boundingRectangle().top(),
                     qPrintable(QStringLiteral("page %1 begins with a path").arg(page + 1)));
        }
        for (int i = 0; i < c.count; ++i) {
            const QString name = QStringLiteral("/c%1.bmp").arg(i);
            QVERIFY2(text.contains(name), qPrintable(QStringLiteral("path %1 is missing").arg(i)));
            if (c.count != 15)
                continue;
            const int page = firstPageWith(pages, colours[i]);
            QVERIFY2(page >= 0, qPrintable(QStringLiteral("picture %1 is missing").arg(i)));
            QVERIFY2(pdf.getAllText(page).text().contains(name),
                     qPrintable(QStringLiteral("picture %1 on page %2 without its path").arg(i).arg(page + 1)));
            QVERIFY2(page + 1 == pages.size() || firstPageWith(pages.mid(page + 1), colours[i]) < 0,
                     qPrintable(QStringLiteral("picture %1 is cut across pages").arg(i)));
        }
    }
}

void GalleryPageTest::rowsFollowTheViewsWidth()
{
    // 600 rows written while the window changed size: pictures of 1024 pixels fitted to a
    // 640- and to an 800-pixel window, and small ones at their own size. At every width of the
    // view each row is as wide as the view, no picture reaches beyond it, and the rows still
    // reach to the last.
    Sandbox folder;
    const auto paths = writeGifs(folder, 600, [](int i) { return "p/" + std::to_string(i) + ".gif"; });
    auto gallery = std::make_shared<Gallery>((folder.root() / "picture.htm").string());
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (i % 3 == 2)
            gallery->addRow(paths[i], 200, 150);
        else
            gallery->addRow(paths[i], i % 3 == 0 ? 616 : 776, i % 3 == 0 ? 462 : 582, 1024);
    }
    gallery->close();
    QVERIFY(show(gallery));
    // What does not fit: the page's width beyond the view, rows not as wide as the view, and
    // pictures not as wide as they should be (their own width, at most the room there is).
    const QString misfits = QStringLiteral(
        "(function(){ var d = document.documentElement, room = innerWidth - 24, bad = [];"
        " if (d.scrollWidth > d.clientWidth) bad.push('page ' + d.scrollWidth + ' in ' + d.clientWidth);"
        " for (const r of document.getElementById('AutoNumber1').rows)"
        "   if (Math.abs(r.getBoundingClientRect().width - d.clientWidth) > 1) bad.push('row ' + r.getBoundingClientRect().width);"
        " for (const i of document.images) { var own = i.dataset.n % 3 == 2 ? 200 : 1024;"
        "   if (i.getBoundingClientRect().width !== Math.min(own, room)) bad.push(i.dataset.n + ': ' + i.getBoundingClientRect().width); }"
        " return document.images.length > 0 ? bad.slice(0, 5).join(', ') : 'no pictures'; })()");
    for (const int width : {640, 1280, 500, 640}) {
        view_->resize(width, 600);
        QTRY_COMPARE_WITH_TIMEOUT(evaluate(*view_, misfits).toString(), QString(), 10000);
    }
    view_->resize(1280, 600);
    QTRY_COMPARE_WITH_TIMEOUT(evaluate(*view_, misfits).toString(), QString(), 10000);
    view_->setFocus();
    QTest::keyClick(view_->focusProxy(), Qt::Key_End);
    QTRY_VERIFY_WITH_TIMEOUT(evaluate(*view_, QStringLiteral(
        "document.links.length > 0 && document.links[document.links.length - 1].textContent.endsWith('/p/599.gif')"
        " && document.links[document.links.length - 1].getBoundingClientRect().bottom <= innerHeight")).toBool(), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(evaluate(*view_, misfits).toString(), QString(), 10000);
}

void GalleryPageTest::aPageWrittenAnewChangesNothingShown()
{
    // The next command, or another window of the program, rewrites the page file while this
    // gallery is on screen: the view goes on showing, and saves, the gallery it opened.
    Sandbox folder;
    const auto paths = writeGifs(folder, 2000, [](int i) { return "old/o" + std::to_string(i) + ".gif"; });
    QVERIFY(show(rowGallery(folder, "picture.htm", paths, 200, 150)));
    const std::string written = readFileBytes(folder.root() / "picture.htm");
    QTRY_VERIFY_WITH_TIMEOUT(screenDrawn(), 20000);

    rowGallery(folder, "picture.htm", writeGifs(folder, 1, [](int) { return "new/n.gif"; }), 200, 150);
    evaluate(*view_, QStringLiteral("window.scrollTo(0, document.documentElement.scrollHeight)"));
    QTRY_VERIFY_WITH_TIMEOUT(evaluate(*view_, QStringLiteral("document.body.innerHTML.includes('/old/o1999.gif')")).toBool(), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(screenDrawn(), 20000);
    QVERIFY(!evaluate(*view_, QStringLiteral("document.body.innerHTML.includes('/new/')")).toBool());

    dialogs_.saveAnswer = SaveAsChoice{q(folder.root().string() + "/saved.htm"), SaveFormat::HtmlOnly};
    QSignalSpy done(view_.get(), &WebBrowser::saveDone);
    QVERIFY(view_->ExecWB(BrowserCommand::SaveAs));
    QVERIFY(done.wait(30000));
    QCOMPARE(readFileBytes(folder.root() / "saved.htm"), written);

    // Its text holds every path, not only the rows in the page at the moment.
    dialogs_.saveAnswer = SaveAsChoice{q(folder.root().string() + "/saved.txt"), SaveFormat::PlainText};
    QVERIFY(view_->ExecWB(BrowserCommand::SaveAs));
    QVERIFY(done.wait(30000));
    const QStringList lines = q(readFileBytes(folder.root() / "saved.txt")).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 2000);
    QCOMPARE(lines.first(), q(paths.front()));
    QCOMPARE(lines.last(), q(paths.back()));
}

void GalleryPageTest::galleriesAndFoldersShownAgainOpenAtTheTop()
{
    Sandbox folder;
    const auto paths = writeGifs(folder, 600, [](int i) { return "p/" + std::to_string(i) + ".gif"; });
    const auto scrolledDown = [this] {
        evaluate(*view_, QStringLiteral("window.scrollTo(0, document.documentElement.scrollHeight)"));
        return QTest::qWaitFor([this] { return evaluate(*view_, QStringLiteral("scrollY")).toInt() > 1000; }, 10000);
    };
    const auto atTop = [this] { return evaluate(*view_, QStringLiteral("scrollY")).toInt() == 0; };
    for (int i = 0; i < 2; ++i) {
        QVERIFY(show(rowGallery(folder, "picture.htm", paths, 200, 150)));
        QTRY_VERIFY_WITH_TIMEOUT(screenDrawn(), 20000);
        QVERIFY(atTop());
        QVERIFY(scrolledDown());
    }
    for (int i = 0; i < 2; ++i) {
        QSignalSpy complete(view_.get(), &WebBrowser::DownloadComplete);
        view_->Navigate(q(folder.root().string() + "/p/"));
        QVERIFY(complete.wait(20000));
        QTRY_VERIFY_WITH_TIMEOUT(atTop(), 5000);
        QVERIFY(scrolledDown());
    }
}

namespace {

// Asks for each address from a page, as a script (or as a picture where the address ends in
// "#img"), and says which were answered: "served" or "refused", in the order given.
QStringList probe(QWebEngineView& view, const QStringList& addresses)
{
    const QString list = QStringLiteral("['") + addresses.join(QStringLiteral("','")) + QStringLiteral("']");
    evaluate(view, QStringLiteral(
        "window.probed = %1.map(() => null); %1.forEach((address, i) => {"
        " const picture = address.endsWith('#img');"
        " const e = document.createElement(picture ? 'img' : 'script');"
        " e.onload = () => probed[i] = 'served'; e.onerror = () => probed[i] = 'refused';"
        " e.src = picture ? address.slice(0, -4) : address; document.body.appendChild(e); }); 0").arg(list));
    if (!QTest::qWaitFor([&] { return evaluate(view, QStringLiteral("probed.every(r => r)")).toBool(); }, 20000))
        return {};
    return evaluate(view, QStringLiteral("probed")).toStringList();
}

}  // namespace

void GalleryPageTest::theSchemeAnswersOnlyItsOwnGalleryToItsOwnPage()
{
    Sandbox folder;
    const auto paths = writeGifs(folder, 3, [](int i) { return "p/" + std::to_string(i) + ".gif"; });
    folder.write("secret.txt", "window.leaked = true;");
    const std::string other = folder.write("other.htm", "<body>a local page</body>").string();
    QVERIFY(show(rowGallery(folder, "picture.htm", paths, 16, 8)));
    const QString gallery = view_->url().toString();
    const QString token = view_->url().path().section(QLatin1Char('/'), 1, 1);
    const QString base = QStringLiteral("pictarre:/") + token + QLatin1Char('/');
    const QString dir = q(folder.root().string());

    struct Request {
        QString address;
        bool fromGallery;  // answered when the gallery page asks
    };
    const std::vector<Request> table = {
        {base + QStringLiteral("rows?batch=0"), true},
        {base + QStringLiteral("pic/2#img"), true},
        {base + QStringLiteral("pic/2?w=8&h=4#img"), true},
        {QStringLiteral("pictarre:/etc/passwd"), false},
        {QStringLiteral("pictarre:/proc/self/environ"), false},
        {QStringLiteral("pictarre:") + dir + QStringLiteral("/secret.txt"), false},
        {QStringLiteral("pictarre:") + dir + QStringLiteral("/secret.txt%00.htm"), false},
        {QStringLiteral("pictarre:") + dir + QStringLiteral("/picture.htm?rows=0&count=2147483647"), false},
        {base + QStringLiteral("rows?batch=1"), false},
        {base + QStringLiteral("rows?batch=0&count=2147483647"), false},
        {base + QStringLiteral("pic/3#img"), false},
        {base + QStringLiteral("pic/-1#img"), false},
        {base + QStringLiteral("pic/0?w=8#img"), false},
        {base + QStringLiteral("secret.txt%00.htm"), false},
        {base + QStringLiteral("..") + dir + QStringLiteral("/secret.txt"), false},
        {base + QStringLiteral("picture.htm?rows=0"), false},
        {QStringLiteral("pictarre:/0123456789abcdef0123456789abcdef/picture.htm"), false},
        {QStringLiteral("pictarre:/0123456789abcdef0123456789abcdef/rows?batch=0"), false},
    };
    QStringList addresses;
    QStringList fromGallery;
    for (const Request& r : table) {
        addresses << r.address;
        fromGallery << (r.fromGallery ? QStringLiteral("served") : QStringLiteral("refused"));
    }
    QCOMPARE(probe(*view_, addresses), fromGallery);
    QVERIFY(!evaluate(*view_, QStringLiteral("window.leaked === true")).toBool());
    // Nor does the gallery page read any file but through its scheme.
    evaluate(*view_, QStringLiteral("window.passwd = null; fetch('file:///etc/passwd').then("
                                    "r => passwd = 'read ' + r.status, () => passwd = 'refused'); 0"));
    QTRY_COMPARE_WITH_TIMEOUT(evaluate(*view_, QStringLiteral("passwd")).toString(), QStringLiteral("refused"), 10000);
    QCOMPARE(evaluate(*view_, QStringLiteral("(function(){ try { var x = new XMLHttpRequest();"
                                             " x.open('GET', 'file:///etc/passwd', false); x.send(); return 'read ' + x.status; }"
                                             " catch (e) { return 'refused'; } })()")).toString(),
             QStringLiteral("refused"));

    // Another page of the program's views, even one that knows the gallery's token, is
    // answered nothing, and cannot go into the scheme or frame the gallery.
    WebBrowser local(dialogs_);
    local.resize(400, 300);
    local.show();
    QSignalSpy loaded(&local, &WebBrowser::DownloadComplete);
    local.Navigate(q(other));
    QVERIFY(loaded.wait(20000));
    // (It runs no script of its own: the pictures it would show are asked for.)
    QStringList pictures;
    for (const QString& address : addresses)
        pictures << (address.endsWith(QLatin1String("#img")) ? address : address + QStringLiteral("#img"));
    QCOMPARE(probe(local, pictures), QStringList(addresses.size(), QStringLiteral("refused")));
    // Nor can it send what it reads anywhere: nothing of a view reaches the network.
    QTcpServer listener;
    QVERIFY(listener.listen(QHostAddress::LocalHost));
    const QString out = QStringLiteral("http://127.0.0.1:%1/leak").arg(listener.serverPort());
    QCOMPARE(probe(local, {out + QStringLiteral(".gif#img")}), QStringList(1, QStringLiteral("refused")));
    evaluate(local, QStringLiteral("fetch('%1'); window.open('%1'); 0").arg(out));
    QTest::qWait(1000);
    QVERIFY(!listener.hasPendingConnections());
    evaluate(local, QStringLiteral("document.body.innerHTML += '<iframe src=\"%1\"></iframe>'; location.href = '%1'; 0").arg(gallery));
    QTest::qWait(1000);
    QCOMPARE(local.url(), QUrl::fromLocalFile(q(other)));
    QCOMPARE(local.shownFile(), QByteArray::fromStdString(other));
}

void GalleryPageTest::otherLocalPagesAndFoldersOpenAsFiles()
{
    // Pages the program did not write open as files, as the engine reads them: with their
    // byte-order mark, document type and own encoding; a folder named like a page shows its
    // files.
    Sandbox folder;
    folder.write("bom.htm", "\xEF\xBB\xBF<!doctype html><p id=x>\xC3\xA9t\xC3\xA9</p>");
    folder.write("latin.htm", "<meta charset=\"windows-1252\"><p id=x>\xE9t\xE9</p>");
    folder.write("gal.htm/p.gif", makeGif({}));
    struct Case {
        const char* name;
        const char* script;
        QVariant expected;
    };
    const std::vector<Case> cases = {
        {"bom.htm", "document.characterSet + ' ' + document.compatMode + ' ' + x.textContent", QStringLiteral("UTF-8 CSS1Compat été")},
        {"latin.htm", "document.characterSet + ' ' + x.textContent", QStringLiteral("windows-1252 été")},
        {"gal.htm", "document.body.innerText.includes('p.gif')", true},
    };
    for (const Case& c : cases) {
        QSignalSpy complete(view_.get(), &WebBrowser::DownloadComplete);
        view_->Navigate(q((folder.root() / c.name).string()));
        QVERIFY2(complete.wait(20000), c.name);
        QCOMPARE(view_->url().scheme(), QStringLiteral("file"));
        QTRY_COMPARE_WITH_TIMEOUT(evaluate(*view_, QString::fromLatin1(c.script)), c.expected, 10000);
    }
}

void GalleryPageTest::onlyTheGalleryRunsAScriptAndNothingLeavesTheMachine()
{
    Sandbox folder;
    const auto paths = writeGifs(folder, 2, [](int i) { return std::to_string(i) + ".gif"; });
    const std::string titled = folder.write("titled.htm", "<title>kept</title><img src=\"0.gif\">"
                                            "<script>document.title = 'changed by script'</script>").string();
    const std::string alerts = folder.write("alerts.htm", "<title>alerts</title><script>for (;;) alert('again')</script>").string();
    const std::string mail = folder.write("mail.htm",
        "<a id=m href=\"mailto:x@example.org?body=SECRET\" style=\"display:block;height:40px\">mail</a>"
        "<form action=\"mailto:x@example.org\" method=post><input name=body value=SECRET>"
        "<input id=s type=submit style=\"display:block;height:40px\"></form>"
        "<a id=t href=\"tel:123\" style=\"display:block;height:40px\">tel</a>").string();
    // Any message box a page opens is counted and closed.
    int boxes = 0;
    QTimer closer;
    connect(&closer, &QTimer::timeout, this, [&boxes] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
                ++boxes;
                box->close();
            }
        }
    });
    closer.start(50);
    DesktopOpens desktop;
    for (const char* scheme : {"mailto", "tel"})
        QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), &desktop, "open");

    // A page from the folder keeps its title and draws its picture; one that loops on alert()
    // shows nothing.
    for (const std::string& page : {titled, alerts}) {
        QSignalSpy complete(view_.get(), &WebBrowser::DownloadComplete);
        view_->Navigate(q(page));
        QVERIFY(complete.wait(20000));
    }
    QTest::qWait(500);
    QCOMPARE(view_->title(), QStringLiteral("alerts"));
    QCOMPARE(boxes, 0);
    QSignalSpy complete(view_.get(), &WebBrowser::DownloadComplete);
    view_->Navigate(q(titled));
    QVERIFY(complete.wait(20000));
    QTRY_COMPARE_WITH_TIMEOUT(evaluate(*view_, QString::fromLatin1(kDrawn)).toInt(), 1, 10000);
    QCOMPARE(view_->title(), QStringLiteral("kept"));

    // A mail or telephone link clicked, and a form posted to a mail address, start nothing.
    view_->Navigate(q(mail));
    QVERIFY(complete.wait(20000));
    for (const char* id : {"m", "s", "t"}) {
        const QVariantList box = evaluate(*view_, QStringLiteral("(function(){ var r = document.getElementById('%1')"
                                                                 ".getBoundingClientRect(); return [r.left + 10, r.top + 10]; })()")
                                                      .arg(QLatin1String(id))).toList();
        QCOMPARE(box.size(), 2);
        QWidget* target = view_->focusProxy() ? view_->focusProxy() : view_.get();
        QTest::mouseClick(target, Qt::LeftButton, {}, QPoint(box[0].toInt(), box[1].toInt()));
    }
    QTest::qWait(1500);
    QVERIFY2(desktop.urls.isEmpty(), qPrintable(desktop.urls.value(0).toString()));
    for (const char* scheme : {"mailto", "tel"})
        QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));

    // The gallery runs its own script, and even it opens no peer connection: a STUN and TURN
    // server on a loopback port hears nothing, and no candidate is found.
    QVERIFY(show(rowGallery(folder, "picture.htm", paths, 16, 8)));
    QUdpSocket stun;
    QVERIFY(stun.bind(QHostAddress::LocalHost));
    evaluate(*view_, QStringLiteral(
        "window.candidates = []; window.pc = new RTCPeerConnection({iceServers: [{urls: 'stun:127.0.0.1:%1'},"
        " {urls: 'turn:127.0.0.1:%1?transport=udp', username: 'SECRET', credential: 'x'}]});"
        " pc.onicecandidate = e => e.candidate && candidates.push(e.candidate.candidate);"
        " pc.createDataChannel('out'); pc.createOffer().then(o => pc.setLocalDescription(o)); 0").arg(stun.localPort()));
    QTest::qWait(3000);
    QVERIFY(!stun.hasPendingDatagrams());
    QCOMPARE(evaluate(*view_, QStringLiteral("candidates.join(' ')")).toString(), QString());
    QCOMPARE(boxes, 0);
}

void GalleryPageTest::savedHtmlIsThePageFileByteForByte()
{
    Sandbox folder;
    std::vector<std::string> paths;
    for (const char* name : {"a&b.gif", "中文.gif", "x#1.gif"})
        paths.push_back(folder.write(name, makeGif({})).string());
    QVERIFY(show(rowGallery(folder, "picture.htm", paths, 16, 8)));
    const std::filesystem::path page = folder.root() / "picture.htm";

    dialogs_.saveAnswer = SaveAsChoice{q(folder.root().string() + "/saved.htm"), SaveFormat::HtmlOnly};
    QSignalSpy done(view_.get(), &WebBrowser::saveDone);
    QVERIFY(view_->ExecWB(BrowserCommand::SaveAs));
    QVERIFY(done.wait(30000));
    QVERIFY(done.last().at(0).toBool());
    QCOMPARE(readFileBytes(folder.root() / "saved.htm"), readFileBytes(page));
}

void GalleryPageTest::savedWholePageHoldsEveryRowAndPicture()
{
    // More rows than a gallery keeps in the page at once, and names that a saved page's
    // addresses or its copies' names once broke.
    Sandbox folder;
    auto paths = writeGifs(folder, 700, [](int i) { return "p/" + std::to_string(i) + ".gif"; });
    const std::vector<std::string> odd = {"hash#tag.gif", "a&amp;c.gif", "semi;colon.gif", "0.gif"};
    for (const auto& path : writeGifs(folder, 4, [&odd](int i) { return "q/" + odd[static_cast<std::size_t>(i)]; }))
        paths.push_back(path);
    QVERIFY(show(rowGallery(folder, "picture.htm", paths, 16, 8)));
    QVERIFY(evaluate(*view_, QStringLiteral("document.links.length")).toInt() < 700);

    for (const auto& [format, name] : {std::pair{SaveFormat::CompletePage, "whole.htm"}, std::pair{SaveFormat::SingleFile, "whole.mht"}}) {
        const std::string target = folder.root().string() + "/" + name;
        dialogs_.saveAnswer = SaveAsChoice{q(target), format};
        QSignalSpy done(view_.get(), &WebBrowser::saveDone);
        QVERIFY(view_->ExecWB(BrowserCommand::SaveAs));
        QVERIFY2(done.wait(120000), name);
        QVERIFY2(done.last().at(0).toBool(), name);
        const std::string saved = readFileBytes(target);
        for (const int i : {0, 350, 699})
            QVERIFY2(saved.find("/p/" + std::to_string(i) + ".gif") != std::string::npos, name);
        QVERIFY2(saved.find("pictarreGallery") == std::string::npos, name);  // the page as written
    }
    // Every picture is copied under its own name, and the saved page shows each.
    QDir files(q(folder.root().string() + "/whole_files"));
    QCOMPARE(files.entryList(QDir::Files).size(), 704);
    for (const QString& name : {QStringLiteral("hash#tag.gif"), QStringLiteral("a&amp;c.gif"), QStringLiteral("semi;colon.gif"),
                                QStringLiteral("0 (2).gif")})
        QVERIFY2(files.exists(name), qPrintable(name));
    QSignalSpy complete(view_.get(), &WebBrowser::DownloadComplete);
    view_->Navigate(q(folder.root().string() + "/whole.htm"));
    QVERIFY(complete.wait(30000));
    QTRY_COMPARE_WITH_TIMEOUT(evaluate(*view_, QString::fromLatin1(kDrawn)).toInt(), 704, 30000);
}

void GalleryPageTest::foldersNamedInChineseShowEveryPicture_data()
{
    QTest::addColumn<QString>("folderName");
    // Names that an engine guessing the page's encoding reads as something else.
    for (const char* name : {"可见", "图片", "照片", "新建文件夹", "我的图片", "壁纸", "春节", "上海", "北京 2019",
                             "旅行", "家庭", "朋友", "风景", "猫", "狗", "花园", "海边", "日落", "雪景", "毕业",
                             "生日快乐", "中文名"})
        QTest::newRow(name) << QString::fromUtf8(name);
}

void GalleryPageTest::foldersNamedInChineseShowEveryPicture()
{
    QFETCH(QString, folderName);
    Sandbox root;
    const std::string folder = root.root().string() + '/' + folderName.toStdString();
    std::vector<std::string> names = {"a.jpg", "b.jpg", "c.jpg"};
    std::vector<std::string> paths;
    for (const auto& name : names)
        paths.push_back(root.write(folderName.toStdString() + '/' + name, makeJpeg({.width = 40, .height = 30})).string());
    QVERIFY(show(flowGallery(folder, names, root.root().string() + "/picture.htm")));
    checkEveryPictureAndLink(paths);
}

void GalleryPageTest::namesFromOtherSystemsShowAndOpen()
{
    Sandbox root;
    const std::vector<std::string> names = {"8 图.gif", "café.gif", "caf\xe9.gif", "\xd5\xd5\xc6\xac.gif", "bad-\xff\xfe.gif"};
    std::vector<std::string> paths;
    for (const auto& name : names)
        paths.push_back(root.write("mixed/" + name, makeGif({})).string());
    const std::string folder = root.root().string() + "/mixed";

    QVERIFY(show(flowGallery(folder, names, root.root().string() + "/flow.htm")));
    checkEveryPictureAndLink(paths);

    QVERIFY(show(rowGallery(root, "rows.htm", paths, 16, 8)));
    checkEveryPictureAndLink(paths);
    QCOMPARE(evaluate(*view_, QStringLiteral("document.links[2].textContent")).toString(),
             q(folder) + QStringLiteral("/caf\uFFFD.gif"));
}

QTEST_MAIN(GalleryPageTest)
#include "tst_gallerypage.moc"
