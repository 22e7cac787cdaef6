// Writes gallery pages of real pictures with awkward names and opens them in the real browser
// engine: every picture must load, every link must lead to its file, and no name may turn
// into markup.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>
#include <QFile>
#include <QWebEngineSettings>
#include <QWebEngineView>

#include "gallery/header.h"
#include "gallery/makefile.h"
#include "support/picturefiles.h"
#include "support/sandbox.h"

using namespace pictarre;

class GalleryInBrowser : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void flowLayoutFromAFolder();
    void rowLayoutFromAList();

private:
    QJsonObject openPage(const std::string& pagePath);
    void checkPictures(const QJsonObject& page, bool rowLayout);

    test::Sandbox sandbox_;
    std::vector<std::string> names_;
    std::vector<std::string> paths_;
};

void GalleryInBrowser::initTestCase()
{
    using test::BmpForm;
    const std::vector<std::pair<std::string, std::string>> files = {
        {"sp ace.jpg", test::makeJpeg({.width = 40, .height = 30})},
        {"a&b.gif", test::makeGif({.screenWidth = 12, .screenHeight = 7, .frameLeft = 4, .frameTop = 2,
                                   .frameWidth = 10, .frameHeight = 9, .extensions = true})},
        {"hash#1.bmp", test::makeBmp(BmpForm::Info40, 21, 13)},
        {"pct%41.jpg", test::makeJpeg({.width = 24, .height = 40, .progressive = true})},
        {"中文 照片.jpg", test::makeJpeg({.width = 48, .height = 16, .exif = true, .orientation = 6,
                                       .thumbWidth = 16, .thumbHeight = 16})},
        {"a&amp;b.jpg", test::makeJpeg({.width = 33, .height = 17, .exif = true, .exifBigEndian = true,
                                        .thumbWidth = 8, .thumbHeight = 8, .fillBytes = 2})},
        {"a&copy.gif", test::makeGif({.version89a = false, .screenWidth = 9, .screenHeight = 9,
                                      .frameWidth = 9, .frameHeight = 9})},
        {"n&#35.bmp", test::makeBmp(BmpForm::Core12, 11, 6)},
        {"q?x.bmp", test::makeBmp(BmpForm::V5Header124, 7, 9, true)},
        {"back\\slash.bmp", test::makeBmp(BmpForm::Os2Long64, 8, 5)},
        {"lt<b>gt.bmp", test::makeBmp(BmpForm::V4Header108, 6, 4)},
        {"quo\"te.bmp", test::makeBmp(BmpForm::Info56, 5, 5)},
    };
    for (const auto& [name, bytes] : files) {
        names_.push_back(name);
        paths_.push_back(sandbox_.write("pics/" + name, bytes).string());
    }
}

QJsonObject GalleryInBrowser::openPage(const std::string& pagePath)
{
    QWebEngineView view;
    view.resize(1000, 800);
    view.show();
    QSignalSpy loaded(&view, &QWebEngineView::loadFinished);
    // The page declares no encoding; given as a file, the engine would guess one from its
    // bytes, and a guess may read the UTF-8 names as another encoding. The program states the
    // encoding when it hands the page over; so does this check.
    QFile page(QString::fromStdString(pagePath));
    if (!page.open(QIODevice::ReadOnly))
        return {};
    view.setContent(page.readAll(), QStringLiteral("text/html;charset=UTF-8"),
                    QUrl::fromLocalFile(QString::fromStdString(pagePath)));
    if (!loaded.wait(60000) || !loaded.first().first().toBool())
        return {};
    const QString script = QStringLiteral(R"(JSON.stringify({
        imgs: Array.from(document.images).map(i => ({src: i.src, w: i.naturalWidth, h: i.naturalHeight})),
        links: Array.from(document.links).map(a => ({href: a.href, text: a.textContent})),
        tags: Array.from(document.querySelectorAll('*')).map(e => e.localName)}))");
    QString json;
    view.page()->runJavaScript(script, [&json](const QVariant& result) { json = result.toString(); });
    if (!QTest::qWaitFor([&json] { return !json.isEmpty(); }, 30000))
        return {};
    return QJsonDocument::fromJson(json.toUtf8()).object();
}

void GalleryInBrowser::checkPictures(const QJsonObject& page, bool rowLayout)
{
    const QJsonArray imgs = page.value("imgs").toArray();
    const QJsonArray links = page.value("links").toArray();
    QCOMPARE(imgs.size(), qsizetype(paths_.size()));
    QCOMPARE(links.size(), qsizetype(paths_.size()));
    for (qsizetype i = 0; i < imgs.size(); ++i) {
        const QString path = QString::fromStdString(paths_[static_cast<std::size_t>(i)]);
        const QUrl fileUrl = QUrl::fromLocalFile(path);
        const QJsonObject img = imgs[i].toObject();
        const QJsonObject link = links[i].toObject();
        QCOMPARE(QUrl(img.value("src").toString()), fileUrl);
        QCOMPARE(QUrl(link.value("href").toString()), fileUrl);
        // The engine draws each picture at the size our header reader reports.
        const auto size = readPictureSize(paths_[static_cast<std::size_t>(i)]);
        QVERIFY2(size.has_value(), qPrintable(path));
        QVERIFY2(img.value("w").toInt() != 0, qPrintable(path));
        QCOMPARE(img.value("w").toInt(), int(size->width));
        QCOMPARE(img.value("h").toInt(), int(size->height));
        if (rowLayout)
            QCOMPARE(link.value("text").toString(), path);
    }
    static const QSet<QString> expectedTags = {"html", "head", "body", "center", "table", "tbody",
                                               "tr", "td", "p", "a", "img"};
    for (const auto& tag : page.value("tags").toArray())
        QVERIFY2(expectedTags.contains(tag.toString()), qPrintable(tag.toString()));
}

void GalleryInBrowser::flowLayoutFromAFolder()
{
    const std::string pagePath = (sandbox_.root() / "flow.htm").string();
    SizeReader sizes(defaultSizeQueries([] { return 15000.0f; }));
    std::string imageList;
    const FolderSource source{(sandbox_.root() / "pics").string(), names_};
    QCOMPARE(makefile(pagePath, source, sizes, imageList, GalleryHooks{}), RunResult::Completed);
    const QJsonObject page = openPage(pagePath);
    QVERIFY(!page.isEmpty());
    checkPictures(page, false);
}

void GalleryInBrowser::rowLayoutFromAList()
{
    std::string list;
    for (const auto& path : paths_)
        list += path + "\r\n";
    list += "\r\n";
    const std::string listPath = sandbox_.write("opendir.tmp", list).string();
    const std::string pagePath = (sandbox_.root() / "rows.htm").string();
    SizeReader sizes(defaultSizeQueries([] { return 15000.0f; }));
    std::string imageList;
    const ListSource source{listPath, static_cast<std::int32_t>(paths_.size())};
    QCOMPARE(makefile(pagePath, source, sizes, imageList, GalleryHooks{}), RunResult::Completed);
    const QJsonObject page = openPage(pagePath);
    QVERIFY(!page.isEmpty());
    checkPictures(page, true);
}

QTEST_MAIN(GalleryInBrowser)
#include "webengine_qtest.moc"
