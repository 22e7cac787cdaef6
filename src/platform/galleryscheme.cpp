#include "platform/galleryscheme.h"

#include <cerrno>
#include <memory>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QBuffer>
#include <QFile>
#include <QPointer>
#include <QUrlQuery>
#include <QWebEngineProfile>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>

#include "collect/filedescriptor.h"
#include "gallery/lazypage.h"
#include "gallery/scaledpicture.h"
#include "platform/webbrowser.h"

namespace pictarre {

namespace {

// The engine learns of a scheme only before the application object exists, so it is
// registered while the program is loaded.
const bool kRegistered = [] {
    QWebEngineUrlScheme scheme(kGalleryScheme);
    scheme.setSyntax(QWebEngineUrlScheme::Syntax::Path);
    // Local like file: pages, and allowed to reach file: addresses, so the page's links to
    // pictures open them as before.
    scheme.setFlags(QWebEngineUrlScheme::LocalScheme | QWebEngineUrlScheme::LocalAccessAllowed);
    QWebEngineUrlScheme::registerScheme(scheme);
    return true;
}();

constexpr qsizetype kScaledCacheBytes = 64 << 20;

QByteArray mimeTypeOf(const QByteArray& head)
{
    if (head.startsWith("\xFF\xD8"))
        return "image/jpeg";
    if (head.startsWith("GIF8"))
        return "image/gif";
    if (head.startsWith("BM"))
        return "image/bmp";
    if (head.startsWith("\x89PNG"))
        return "image/png";
    return "application/octet-stream";
}

// The page file as the engine reads it, after `prologue`: line by line through LazyPage, on
// the engine's own thread, so that a page of any size streams without being held in memory.
class PageDevice : public QIODevice {
public:
    PageDevice(FileDescriptor file, std::string prologue) : out_(std::move(prologue))
    {
        file_.open(file.release(), QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
        open(QIODevice::ReadOnly);
    }

    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override { return qint64(out_.size() - taken_) + QIODevice::bytesAvailable(); }
    bool atEnd() const override { return ended_ && taken_ == out_.size() && QIODevice::atEnd(); }

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        while (taken_ == out_.size() && !ended_)
            refill();
        const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(maxSize), out_.size() - taken_);
        std::copy_n(out_.data() + taken_, n, data);
        taken_ += n;
        return ended_ && n == 0 ? -1 : static_cast<qint64>(n);
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    void refill()
    {
        out_.clear();
        taken_ = 0;
        const auto transform = [this](std::string_view line) {
            page_.transform(line, out_);
            return true;
        };
        char block[1 << 16];
        const qint64 got = file_.read(block, sizeof block);
        if (got <= 0) {
            lines_.finish(transform);
            page_.finish(out_);
            ended_ = true;
            return;
        }
        lines_.feed(std::string_view(block, static_cast<std::size_t>(got)), transform);
    }

    QFile file_;
    LazyPage page_;
    LineSplitter lines_;
    std::string out_;
    std::size_t taken_ = 0;
    bool ended_ = false;
};

// What goes before the page: the script, told which version of the page file it belongs to,
// and a base address that keeps the page's own relative addresses resolving against its
// folder's file: address, as for the page opened as a file.
std::string pagePrologue(const QByteArray& pagePath, const std::string& stamp)
{
    static const std::string script = [] {
        QFile file(QStringLiteral(":/pictarre/gallerypage.js"));
        return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
    }();
    const qsizetype slash = pagePath.lastIndexOf('/');
    const QByteArray folder = slash <= 0 ? QByteArray("/") : pagePath.left(slash);
    return "<base href=\"" + fileUrlOfFolder(std::string_view(folder.constData(), static_cast<std::size_t>(folder.size())))
           + "\"><script data-stamp=\"" + stamp + "\">" + script + "</script>\r\n";
}

void replyWith(QWebEngineUrlRequestJob* job, const QByteArray& mimeType, QIODevice* device)
{
    // The engine reads the device until the job ends, and does not own it.
    QObject::connect(job, &QObject::destroyed, device, &QObject::deleteLater);
    job->reply(mimeType, device);
}

}  // namespace

QUrl galleryUrl(const QByteArray& path)
{
    const std::string encoded = percentEncodePath(std::string_view(path.constData(), static_cast<std::size_t>(path.size())));
    return QUrl::fromEncoded(QByteArray(kGalleryScheme) + ':' + QByteArray::fromStdString(encoded), QUrl::StrictMode);
}

QByteArray galleryPath(const QUrl& url)
{
    return QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
}

bool isGalleryPage(const QByteArray& path)
{
    const QByteArray lower = path.toLower();
    return lower.endsWith(".htm") || lower.endsWith(".html");
}

GalleryScheme::GalleryScheme(QObject* parent) : QWebEngineUrlSchemeHandler(parent)
{
    scaled_.setMaxCost(kScaledCacheBytes);
}

GalleryScheme::~GalleryScheme()
{
    // Workers still running use the cache: they end before it goes.
    workers_.clear();
    workers_.waitForDone();
}

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

void GalleryScheme::requestStarted(QWebEngineUrlRequestJob* job)
{
    if (job->requestMethod() != "GET") {
        job->fail(QWebEngineUrlRequestJob::RequestDenied);
        return;
    }
    const QByteArray path = galleryPath(job->requestUrl());
    if (!isGalleryPage(path))
        servePicture(job, path);
    else if (QUrlQuery(job->requestUrl()).hasQueryItem(QStringLiteral("rows")))
        serveRows(job, path);
    else
        servePage(job, path);
}

void GalleryScheme::servePage(QWebEngineUrlRequestJob* job, const QByteArray& path)
{
    FileDescriptor file = openRegularFile(path.toStdString());
    if (!file.isOpen()) {
        job->fail(QWebEngineUrlRequestJob::UrlNotFound);
        return;
    }
    const QByteArray contentType = "text/html; charset=" + localePageEncoding().toLatin1();
    std::string prologue = pagePrologue(path, pageStamp(file.get()));
    replyWith(job, contentType, new PageDevice(std::move(file), std::move(prologue)));
}

void GalleryScheme::serveRows(QWebEngineUrlRequestJob* job, const QByteArray& path)
{
    const QUrlQuery query(job->requestUrl());
    const quint64 offset = query.queryItemValue(QStringLiteral("rows")).toULongLong();
    const int count = query.queryItemValue(QStringLiteral("count")).toInt();
    const std::string stamp = query.queryItemValue(QStringLiteral("stamp")).toStdString();
    onWorker(job, [path, offset, count, stamp]() -> Answer {
        const auto script = readRowsScript(path.toStdString(), offset, count, stamp);
        if (!script)
            return [](QWebEngineUrlRequestJob* j) { j->fail(QWebEngineUrlRequestJob::UrlNotFound); };
        return [bytes = QByteArray::fromStdString(*script)](QWebEngineUrlRequestJob* j) {
            auto* buffer = new QBuffer;
            buffer->setData(bytes);
            replyWith(j, "text/javascript; charset=" + localePageEncoding().toLatin1(), buffer);
        };
    });
}

void GalleryScheme::onWorker(QWebEngineUrlRequestJob* job, std::function<Answer()> work)
{
    // The work runs on a worker, the newest request first, since that is the one nearest to
    // what the user looks at now; its answer reaches the request on the handler's thread,
    // unless the engine dropped the request meanwhile.
    QPointer<QWebEngineUrlRequestJob> pending(job);
    workers_.start([this, pending, work = std::move(work)] {
        if (!pending)
            return;
        QMetaObject::invokeMethod(this, [pending, answer = work()] {
            if (pending)
                answer(pending);
        }, Qt::QueuedConnection);
    }, ++order_);
}

void GalleryScheme::servePicture(QWebEngineUrlRequestJob* job, const QByteArray& path)
{
    const QUrlQuery query(job->requestUrl());
    const uint width = query.queryItemValue(QStringLiteral("w")).toUInt();
    const uint height = query.queryItemValue(QStringLiteral("h")).toUInt();
    onWorker(job, [this, path, width, height]() -> Answer {
        auto file = std::make_shared<FileDescriptor>(openRegularFile(path.toStdString()));
        struct stat st {};
        if (!file->isOpen() || ::fstat(file->get(), &st) != 0)
            return [](QWebEngineUrlRequestJob* j) { j->fail(QWebEngineUrlRequestJob::UrlNotFound); };
        const QByteArray key = QByteArray::number(quint64(st.st_dev)) + ':' + QByteArray::number(quint64(st.st_ino)) + ':'
                               + QByteArray::number(qint64(st.st_size)) + ':' + QByteArray::number(qint64(st.st_mtim.tv_sec))
                               + '.' + QByteArray::number(qint64(st.st_mtim.tv_nsec)) + ':' + QByteArray::number(width) + 'x'
                               + QByteArray::number(height);
        QByteArray bytes = cachedPicture(key);
        if (bytes.isNull()) {
            if (auto picture = scaledPicture(file->get(), width, height)) {
                bytes = QByteArray::fromStdString(picture->bytes);
                keepPicture(key, bytes);
            }
        }
        if (!bytes.isNull()) {
            return [bytes](QWebEngineUrlRequestJob* j) {
                auto* buffer = new QBuffer;
                buffer->setData(bytes);
                replyWith(j, mimeTypeOf(bytes), buffer);
            };
        }
        // The file's own bytes, read by the engine as it needs them, from the start.
        ::lseek(file->get(), 0, SEEK_SET);
        char head[8] = {};
        const ssize_t got = ::pread(file->get(), head, sizeof head, 0);
        const QByteArray mimeType = mimeTypeOf(QByteArray(head, got > 0 ? static_cast<qsizetype>(got) : 0));
        return [file, mimeType](QWebEngineUrlRequestJob* j) {
            auto* device = new QFile;
            device->open(file->release(), QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
            replyWith(j, mimeType, device);
        };
    });
}

QByteArray GalleryScheme::cachedPicture(const QByteArray& key)
{
    const QMutexLocker lock(&cacheLock_);
    const QByteArray* bytes = scaled_.object(key);
    return bytes ? *bytes : QByteArray();
}

void GalleryScheme::keepPicture(const QByteArray& key, const QByteArray& bytes)
{
    const QMutexLocker lock(&cacheLock_);
    scaled_.insert(key, new QByteArray(bytes), static_cast<int>(std::min<qsizetype>(bytes.size(), kScaledCacheBytes)));
}

}  // namespace pictarre
