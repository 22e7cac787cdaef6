// Draws pictures of many kinds in the real browser engine twice, at the same size: the
// original file, and the copy scaledPicture serves in its place. The two must look the same:
// turned the same way, in the same colours, transparent in the same places.
#include <cmath>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>
#include <QWebEngineSettings>
#include <QWebEngineView>

#include <fcntl.h>
#include <unistd.h>

#include "enginepictures.h"
#include "gallery/header.h"
#include "gallery/scaledpicture.h"
#include "support/artifacts.h"
#include "support/sandbox.h"
#include "support/webtest.h"

using namespace pictarre;
using namespace pictarre::test;

namespace {

struct Kind {
    QString name;
    std::string file;  // a name with its extension
    std::string bytes;
    // The copy may be refused, and the original served: kinds whose colours a copy cannot promise.
    bool originalServed = false;
};

constexpr int kWidth = 400;
constexpr int kHeight = 300;

std::uint32_t rgbAt(const QImage& image, int x, int y) { return image.pixel(x, y) & 0xFFFFFF; }

std::string cut(std::string bytes, double share)
{
    bytes.resize(static_cast<std::size_t>(double(bytes.size()) * share));
    return bytes;
}

// RLE8 rows that leave pixels undefined three ways: a delta jumps over the middle of some
// rows, some rows end early, and the file ends (EOB) before the top rows.
std::string sparseRle8()
{
    std::string data;
    auto put = [&data](int a, int b) {
        data += static_cast<char>(a);
        data += static_cast<char>(b);
    };
    auto runs = [&](int from, int to) {
        for (int x = from; x < to; x += 25)
            put(std::min(25, to - x), x / 25);
    };
    for (int y = kHeight - 1; y >= 0; --y) {
        if (y < 60) {
            put(0, 1);
            break;
        }
        if (y >= 120 && y < 180) {
            runs(0, 150);
            put(0, 2);
            put(100, 0);
            runs(250, kWidth);
        } else {
            runs(0, y >= 200 && y < 240 ? 200 : kWidth);
        }
        put(0, 0);
    }
    return data;
}

std::vector<Kind> kinds()
{
    const QImage picture = scene(kWidth, kHeight);
    const QImage portrait = scene(kHeight, kWidth);
    std::vector<std::uint32_t> bands;
    for (int i = 0; i < 16; ++i)
        bands.push_back(static_cast<std::uint32_t>(QColor::fromHsv(i * 22, 200, 120 + i * 8).rgb() & 0xFFFFFF));
    std::vector<std::uint32_t> greys;
    for (std::uint32_t i = 0; i < 256; ++i)
        greys.push_back(i * 0x010101u);
    auto rgb24 = [&picture](bool topDown) {
        return bmpRows(kWidth, kHeight, 24, topDown, [&](int x, int y) { return rgbAt(picture, x, y); });
    };
    const auto lum = [&picture](int x, int y) { return qGray(picture.pixel(x, y)); };
    // Text on a page: strokes two pixels wide, in words, in lines.
    const auto ink = [](int x, int y) {
        const bool line = y % 30 >= 8 && y % 30 < 26;
        const bool word = (x / 36) % 5 != 4 && x > 20 && x < kWidth - 20;
        return line && word && x % 4 < 2 ? 0u : 1u;
    };
    return {
        {"JPEG", "plain.jpg", jpegFile(picture, {})},
        {"JPEG orientation 6", "o6.jpg", jpegFile(portrait, {.app1 = {exifBody(6, 0)}})},
        {"JPEG orientation 5", "o5.jpg", jpegFile(portrait, {.app1 = {exifBody(5, 0)}})},
        {"JPEG orientation 8", "o8.jpg", jpegFile(portrait, {.app1 = {exifBody(8, 0)}})},
        {"JPEG XMP then EXIF 6", "xmp6.jpg", jpegFile(portrait, {.app1 = {xmpBody(), exifBody(6, 0)}})},
        {"JPEG 6 in IFD1 only", "ifd1.jpg", jpegFile(picture, {.app1 = {exifBody(0, 6)}})},
        {"JPEG wide RGB ICC", "wide.jpg", jpegFile(picture, {.icc = wideRgbProfile()})},
        {"JPEG grey, grey ICC", "grey.jpg", jpegFile(picture, {.model = JpegModel::Grey, .icc = greyLinearProfile()})},
        {"JPEG CMYK", "cmyk.jpg", jpegFile(picture, {.model = JpegModel::Cmyk})},
        {"JPEG CMYK, CMYK ICC", "cmykicc.jpg", jpegFile(picture, {.model = JpegModel::Cmyk, .icc = cmykProfile()}),
         true},
        {"JPEG cut at 60%", "cut.jpg", cut(jpegFile(picture, {}), 0.6)},
        {"BMP 24-bit", "rgb.bmp", bmpFile({}, kWidth, kHeight, rgb24(false))},
        {"BMP top-down", "topdown.bmp", bmpFile({.topDown = true}, kWidth, kHeight, rgb24(true))},
        {"BMP core 24-bit", "core.bmp", bmpFile({.headerSize = 12}, kWidth, kHeight, rgb24(false))},
        {"BMP 8-bit grey", "grey.bmp",
         bmpFile({.bitCount = 8, .palette = greys}, kWidth, kHeight, bmpRows(kWidth, kHeight, 8, false, lum))},
        {"BMP 32-bit, alpha 0", "alpha0.bmp",
         bmpFile({.headerSize = 124, .bitCount = 32, .compression = 3, .masks = {0xFF0000, 0xFF00, 0xFF, 0xFF000000u}},
                 kWidth, kHeight,
                 bmpRows(kWidth, kHeight, 32, false, [&](int x, int y) { return (rgbAt(picture, x, y) >> 1) & 0x7F7F7Fu; }))},
        {"BMP 16-bit 1555", "a1555.bmp",
         bmpFile({.headerSize = 124, .bitCount = 16, .compression = 3, .masks = {0x7C00, 0x03E0, 0x001F, 0x8000}},
                 kWidth, kHeight, bmpRows(kWidth, kHeight, 16, false, [&](int x, int y) {
                     const QRgb c = picture.pixel(x, y);
                     const bool hole = std::hypot(x - 200, y - 150) < 90;
                     return (hole ? 0u : 0x8000u) | (qRed(c) >> 3 << 10) | (qGreen(c) >> 3 << 5) | (qBlue(c) >> 3);
                 }))},
        {"BMP 1-bit blue/yellow", "by.bmp",
         bmpFile({.bitCount = 1, .palette = {0x2040C0, 0xF0D020}}, kWidth, kHeight,
                 bmpRows(kWidth, kHeight, 1, false,
                         [&](int x, int y) { return x > 250 && y > 150 ? unsigned(x % 2) : unsigned(lum(x, y) > 128); }))},
        {"BMP 1-bit scan", "scan.bmp",
         bmpFile({.bitCount = 1, .palette = {0x000000, 0xFFFFFF}}, kWidth, kHeight,
                 bmpRows(kWidth, kHeight, 1, false, ink))},
        {"BMP RLE8 sparse", "rle8.bmp",
         bmpFile({.bitCount = 8, .compression = 1, .palette = bands}, kWidth, kHeight, sparseRle8())},
        {"BMP cut at 60%", "cut.bmp", cut(bmpFile({}, kWidth, kHeight, rgb24(false)), 0.6)},
    };
}

struct Difference {
    double mean = 0;  // mean absolute difference over the colour channels
    double outliers = 0;  // share of pixels with a channel more than 48 apart
};

Difference compare(const QImage& a, const QImage& b)
{
    Difference d;
    const qint64 n = qint64(a.width()) * a.height();
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            const int dr = std::abs(qRed(p) - qRed(q));
            const int dg = std::abs(qGreen(p) - qGreen(q));
            const int db = std::abs(qBlue(p) - qBlue(q));
            d.mean += dr + dg + db;
            d.outliers += std::max({dr, dg, db}) > 48 ? 1 : 0;
        }
    d.mean /= 3.0 * double(n);
    d.outliers /= double(n);
    return d;
}

}  // namespace

class CopyFidelity : public QObject {
    Q_OBJECT

private slots:
    void copiesLookAsTheEngineDrawsTheOriginals();

private:
    Sandbox sandbox_;
};

void CopyFidelity::copiesLookAsTheEngineDrawsTheOriginals()
{
    for (const std::string& profile : {greyLinearProfile(), wideRgbProfile(), cmykProfile()})
        QVERIFY(!profile.empty());
    const std::vector<Kind> all = kinds();
    QString html = QStringLiteral("<html><body style='margin:4px;background:#fff'>");
    QStringList missing;
    for (std::size_t i = 0; i < all.size(); ++i) {
        const Kind& kind = all[i];
        const std::string path = sandbox_.write("pics/" + kind.file, kind.bytes).string();
        const auto size = readPictureSize(path);
        QVERIFY2(size.has_value(), qPrintable(kind.name));
        const int w = int(size->width) / 4;
        const int h = int(size->height) / 4;
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        QVERIFY(fd >= 0);
        const auto copy = scaledPicture(fd, std::uint32_t(w), std::uint32_t(h));
        ::close(fd);
        QString copyUrl = QUrl::fromLocalFile(QString::fromStdString(path)).toString();
        if (copy) {
            const std::string name = "copies/" + std::to_string(i) + (copy->mimeType == "image/png" ? ".png" : ".jpg");
            copyUrl = QUrl::fromLocalFile(QString::fromStdString(sandbox_.write(name, copy->bytes).string())).toString();
        } else if (!kind.originalServed) {
            missing << kind.name;
        }
        html += QStringLiteral("<div style='display:inline-block;margin:3px;font:9px sans-serif'>"
                               "<img id='o%1' src='%2' width=%3 height=%4> <img id='c%1' src='%5' width=%3 height=%4>"
                               "<br>%6</div>")
                    .arg(i)
                    .arg(QUrl::fromLocalFile(QString::fromStdString(path)).toString())
                    .arg(w)
                    .arg(h)
                    .arg(copyUrl, kind.name.toHtmlEscaped());
    }
    html += QStringLiteral("</body></html>");

    QWebEngineView view;
    view.resize(1200, 720);
    view.show();
    QSignalSpy loaded(&view, &QWebEngineView::loadFinished);
    view.setHtml(html, QUrl::fromLocalFile(QString::fromStdString((sandbox_.root() / "page.htm").string())));
    QVERIFY(loaded.wait(60000));
    QTRY_VERIFY_WITH_TIMEOUT(evaluate(view, "Array.from(document.images).every(i => i.complete)").toBool(), 20000);
    // Drawn when two grabs a moment apart agree.
    QImage shot;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            const QImage before = view.grab().toImage();
            QTest::qWait(200);
            shot = view.grab().toImage();
            return shot == before;
        }(),
        20000);
    shot = shot.convertToFormat(QImage::Format_RGB32);
    shot.save(artifactPath(QStringLiteral("copyfidelity.png")));
    const QJsonArray rects = QJsonDocument::fromJson(evaluate(view, R"(JSON.stringify(Array.from(document.images).map(i => {
        const r = i.getBoundingClientRect(); return [r.x, r.y, r.width, r.height]; })))").toString().toUtf8()).array();
    QCOMPARE(rects.size(), qsizetype(2 * all.size()));

    QStringList wrong;
    for (std::size_t i = 0; i < all.size(); ++i) {
        auto region = [&](qsizetype at) {
            const QJsonArray r = rects[at].toArray();
            return shot.copy(qRound(r[0].toDouble()), qRound(r[1].toDouble()), qRound(r[2].toDouble()),
                             qRound(r[3].toDouble()));
        };
        const Difference d = compare(region(qsizetype(2 * i)), region(qsizetype(2 * i + 1)));
        // A copy is a q90 JPEG or a PNG shrunk by area, drawn 1:1; the original is shrunk by
        // the engine's own filter. Their edges differ a little, their colours hardly at all.
        const bool same = d.mean <= 3.0 && d.outliers <= 0.02;
        qInfo("%-24s mean %6.2f  outliers %5.1f %%  %s", qPrintable(all[i].name), d.mean, 100 * d.outliers,
              same ? "same" : "DIFFERENT");
        if (!same)
            wrong << all[i].name;
    }
    QVERIFY2(wrong.isEmpty(), qPrintable("copies that look otherwise: " + wrong.join(", ")));
    QVERIFY2(missing.isEmpty(), qPrintable("served whole, no copy: " + missing.join(", ")));
}

QTEST_MAIN(CopyFidelity)
#include "copyfidelity_qtest.moc"
