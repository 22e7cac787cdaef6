#include "platform/galleryscheme.h"

#include <memory>
#include <optional>
#include <utility>

#include <unistd.h>

#include <QBuffer>
#include <QFile>
#include <QPointer>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QWebEngineProfile>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>

#include "gallery/gallery.h"
#include "gallery/galleryprotocol.h"
#include "gallery/header.h"
#include "gallery/pageencoding.h"
#include "gallery/pagewriter.h"

namespace pictarre {

namespace {

// The engine learns of a scheme only before the application object exists, so it is
// registered while the program is loaded.
const bool kRegistered = [] {
    QWebEngineUrlScheme scheme(kGalleryScheme);
    scheme.setSyntax(QWebEngineUrlScheme::Syntax::Path);
    // Not local: its page reaches no file: address, only its own scheme (its links to pictures
    // are opened by the program). Each page is an origin of its own, so that no other page can
    // read it, and the handler answers only the program and the gallery page itself.
    scheme.setFlags({});
    QWebEngineUrlScheme::registerScheme(scheme);
    return true;
}();

constexpr qsizetype kTokenLength = 32;

QByteArray latin1(std::string_view text)
{
    return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}

// The page's file name as the last part of its address.
QByteArray pageName(const Gallery& gallery)
{
    const std::string& path = gallery.pagePath();
    return QByteArray::fromStdString(percentEncodePath(path.substr(path.rfind('/') + 1)));
}

// A whole number of at most `digits` decimal digits, nothing else.
std::optional<quint64> number(const QByteArray& text, int digits)
{
    if (text.isEmpty() || text.size() > digits)
        return std::nullopt;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
    }
    return text.toULongLong();
}

// The page as the engine reads it, made piece by piece from the gallery held in memory.
class PageDevice : public QIODevice {
public:
    explicit PageDevice(ServedPage page) : page_(std::move(page)) { open(QIODevice::ReadOnly); }

    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override { return qint64(out_.size() - taken_) + QIODevice::bytesAvailable(); }
    bool atEnd() const override { return ended_ && taken_ == out_.size() && QIODevice::atEnd(); }

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        while (taken_ == out_.size() && !ended_) {
            out_.clear();
            taken_ = 0;
            ended_ = !page_.next(out_);
        }
        const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(maxSize), out_.size() - taken_);
        std::copy_n(out_.data() + taken_, n, data);
        taken_ += n;
        return ended_ && n == 0 ? -1 : static_cast<qint64>(n);
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    ServedPage page_;
    std::string out_;
    std::size_t taken_ = 0;
    bool ended_ = false;
};

// What goes before the page: a base address that keeps the page's own relative addresses
// resolving against its folder's file: address, as for the page opened as a file, then the
// boundary's values and the page script.
std::string pagePrologue(const Gallery& gallery)
{
    // The model first: the page script calls it.
    static const std::string script = [] {
        std::string text;
        for (const char* name : {":/pictarre/gallerymodel.js", ":/pictarre/gallerypage.js"}) {
            QFile file(QString::fromLatin1(name));
            if (file.open(QIODevice::ReadOnly))
                text += file.readAll().toStdString() + '\n';
        }
        return text;
    }();
    using namespace protocol;
    const auto quoted = [](std::string_view text) { return '"' + std::string(text) + '"'; };
    const std::string config = "{object:" + quoted(kScriptObject) + ",rows:" + quoted(std::string(kRowsName) + '?')
                               + ",batchKey:" + quoted(kBatchKey) + ",picture:" + quoted(std::string(kPictureName) + '/')
                               + ",widthKey:" + quoted(kWidthKey) + ",heightKey:" + quoted(kHeightKey)
                               + ",keepAll:" + std::to_string(kKeepAll) + ",printMarker:" + quoted(kPrintMarker)
                               + ",openMarker:" + quoted(kOpenMarker) + '}';
    return "<base href=\"" + gallery.folderUrl() + "\"><script>const pictarreProtocol = " + config + ";\n" + script
           + "</script>\r\n";
}

void replyWith(QWebEngineUrlRequestJob* job, const QByteArray& mimeType, QIODevice* device)
{
    // The engine reads the device until the job ends, and does not own it.
    QObject::connect(job, &QObject::destroyed, device, &QObject::deleteLater);
    job->reply(mimeType, device);
}

void replyWith(QWebEngineUrlRequestJob* job, const QByteArray& mimeType, const QByteArray& bytes)
{
    auto* buffer = new QBuffer;
    buffer->setData(bytes);
    replyWith(job, mimeType, buffer);
}

}  // namespace

namespace {

// Copies of large pictures are kept in the user's cache folder, ~/.cache/pictarre/copies; in
// memory only those of the last few screens, since the disk gives the others back in a moment.
PictureServiceOptions pictureServiceOptions()
{
    PictureServiceOptions options;
    options.cacheBytes = std::size_t(16) << 20;
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (!cache.isEmpty())
        options.disk = std::make_shared<DiskCache>(QFile::encodeName(cache + QStringLiteral("/pictarre/copies")).toStdString());
    return options;
}

}  // namespace

GalleryScheme::GalleryScheme(QObject* parent) : QWebEngineUrlSchemeHandler(parent), pictures_(pictureServiceOptions()) {}

GalleryScheme::~GalleryScheme() = default;

GalleryScheme* GalleryScheme::on(QWebEngineProfile* profile)
{
    Q_UNUSED(kRegistered);
    if (auto* installed = qobject_cast<GalleryScheme*>(
            const_cast<QWebEngineUrlSchemeHandler*>(profile->urlSchemeHandler(kGalleryScheme))))
        return installed;
    auto* handler = new GalleryScheme(profile);
    profile->installUrlSchemeHandler(kGalleryScheme, handler);
    return handler;
}

QUrl GalleryScheme::publish(const std::shared_ptr<const Gallery>& gallery)
{
    QByteArray token;
    for (int i = 0; i < kTokenLength / 8; ++i)
        token += QByteArray::number(QRandomGenerator::system()->generate(), 16).rightJustified(8, '0');
    {
        const QMutexLocker lock(&lock_);
        published_.removeIf([](const auto& item) { return item.value().expired(); });
        published_.insert(token, gallery);
    }
    return QUrl::fromEncoded(QByteArray(kGalleryScheme) + ":/" + token + '/' + pageName(*gallery), QUrl::StrictMode);
}

void GalleryScheme::requestStarted(QWebEngineUrlRequestJob* job)
{
    // An address is answered only when it is, to the byte, one that a published page names:
    // its token, then the page, a batch of its rows or one of its pictures. No escapes are
    // taken, so no address reaches anything by a decoded NUL, slash or dot. And only the
    // program (which loads the page) and the gallery page itself (whose origin is the scheme's,
    // which no other page has: only the program opens the scheme's pages) ask: a local file's page is refused even if it knew the address.
    const QUrl url = job->requestUrl();
    const QByteArray path = url.path(QUrl::FullyEncoded).toLatin1();
    const QByteArray query = url.query(QUrl::FullyEncoded).toLatin1();
    const QUrl initiator = job->initiator();
    std::shared_ptr<const Gallery> gallery;
    if (job->requestMethod() == "GET" && (initiator.isEmpty() || initiator.toString() == QLatin1String(kGalleryScheme) + QLatin1Char(':'))
        && url.scheme() == QLatin1String(kGalleryScheme) && url.host().isEmpty()
        && !url.hasFragment() && path.size() > kTokenLength + 2 && path[0] == '/' && path[kTokenLength + 1] == '/') {
        const QMutexLocker lock(&lock_);
        gallery = published_.value(path.mid(1, kTokenLength)).lock();
    }
    if (!gallery) {
        job->fail(QWebEngineUrlRequestJob::RequestDenied);
        return;
    }
    const QByteArray name = path.mid(kTokenLength + 2);
    const QByteArray picturePrefix = latin1(protocol::kPictureName) + '/';
    if (name == pageName(*gallery) && !url.hasQuery()) {
        replyWith(job, "text/html; charset=" + QByteArray::fromStdString(pageEncoding()),
                  new PageDevice(ServedPage(gallery, pagePrologue(*gallery))));
        return;
    }
    if (name == latin1(protocol::kRowsName) && query.startsWith(latin1(protocol::kBatchKey) + '=')) {
        const auto batch = number(query.mid(protocol::kBatchKey.size() + 1), 9);
        if (const auto script = batch ? rowsScript(*gallery, *batch) : std::nullopt) {
            replyWith(job, "text/javascript; charset=US-ASCII", QByteArray::fromStdString(*script));
            return;
        }
    } else if (name.startsWith(picturePrefix)) {
        const auto index = number(name.mid(picturePrefix.size()), 9);
        std::optional<quint64> width = 0;
        std::optional<quint64> height = 0;
        if (url.hasQuery()) {
            const QList<QByteArray> keys = query.split('&');
            const QByteArray widthKey = latin1(protocol::kWidthKey) + '=';
            const QByteArray heightKey = latin1(protocol::kHeightKey) + '=';
            const bool shaped = keys.size() == 2 && keys[0].startsWith(widthKey) && keys[1].startsWith(heightKey);
            width = shaped ? number(keys[0].mid(widthKey.size()), 5) : std::nullopt;
            height = shaped ? number(keys[1].mid(heightKey.size()), 5) : std::nullopt;
        }
        if (index && *index < gallery->size() && width && height) {
            servePicture(job, std::string(gallery->path(static_cast<std::size_t>(*index))), static_cast<uint>(*width),
                         static_cast<uint>(*height));
            return;
        }
    }
    job->fail(QWebEngineUrlRequestJob::RequestDenied);
}

void GalleryScheme::servePicture(QWebEngineUrlRequestJob* job, const std::string& path, uint width, uint height)
{
    // The answer comes on a worker; it reaches the request on the handler's thread, unless the
    // engine dropped the request meanwhile, which also cancels it in the service.
    QPointer<QWebEngineUrlRequestJob> pending(job);
    const PictureService::Ticket ticket = pictures_.request(path, width, height, [this, pending](PictureAnswer answer) {
        QByteArray mimeType = QByteArray::fromStdString(answer.mimeType);
        if (answer.original.isOpen()) {
            char head[8] = {};
            const ssize_t got = ::pread(answer.original.get(), head, sizeof head, 0);
            mimeType = latin1(pictureMimeType(std::string_view(head, got > 0 ? static_cast<std::size_t>(got) : 0)));
        }
        auto given = std::make_shared<PictureAnswer>(std::move(answer));
        QMetaObject::invokeMethod(this, [pending, given, mimeType] {
            if (!pending)
                return;
            if (given->copy) {
                const std::string& copy = *given->copy;
                replyWith(pending, mimeType, QByteArray(copy.data(), static_cast<qsizetype>(copy.size())));
            } else if (given->original.isOpen()) {
                // The file's own bytes, read by the engine as it needs them.
                auto* device = new QFile;
                device->open(given->original.release(), QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
                replyWith(pending, mimeType, device);
            } else {
                pending->fail(QWebEngineUrlRequestJob::UrlNotFound);
            }
        }, Qt::QueuedConnection);
    });
    connect(job, &QObject::destroyed, this, [this, ticket] { pictures_.cancel(ticket); });
}

}  // namespace pictarre
