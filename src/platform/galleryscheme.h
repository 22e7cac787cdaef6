#pragma once

#include <functional>

#include <QByteArray>
#include <QCache>
#include <QMutex>
#include <QThreadPool>
#include <QUrl>
#include <QWebEngineUrlSchemeHandler>

class QWebEngineProfile;

namespace pictarre {

// The URL scheme through which the browser views are given local pages and their pictures.
// A page comes with its encoding stated (the engine would otherwise guess one from the bytes)
// and with its pictures loaded as they come near the screen; a picture far larger than the
// size it is drawn at comes decoded and scaled to that size.
inline constexpr char kGalleryScheme[] = "pictarre";

// The gallery-scheme address of a local file (native bytes).
QUrl galleryUrl(const QByteArray& path);

// The local file (native bytes) a gallery-scheme address names.
QByteArray galleryPath(const QUrl& url);

// True for a local file the views show through the gallery scheme: an HTML page.
bool isGalleryPage(const QByteArray& path);

// Answers the engine's requests in the gallery scheme. Installed once on a profile.
class GalleryScheme : public QWebEngineUrlSchemeHandler {
    Q_OBJECT
public:
    // The handler of `profile`, installed on first use.
    static GalleryScheme* on(QWebEngineProfile* profile);

    ~GalleryScheme() override;
    void requestStarted(QWebEngineUrlRequestJob* job) override;

private:
    explicit GalleryScheme(QObject* parent);
    void servePage(QWebEngineUrlRequestJob* job, const QByteArray& path);
    void serveRows(QWebEngineUrlRequestJob* job, const QByteArray& path);
    // What a worker found, to give the request on the handler's thread.
    using Answer = std::function<void(QWebEngineUrlRequestJob*)>;
    void onWorker(QWebEngineUrlRequestJob* job, std::function<Answer()> work);
    void servePicture(QWebEngineUrlRequestJob* job, const QByteArray& path);
    QByteArray cachedPicture(const QByteArray& key);
    void keepPicture(const QByteArray& key, const QByteArray& bytes);

    QMutex cacheLock_;
    QCache<QByteArray, QByteArray> scaled_;
    QThreadPool workers_;
    int order_ = 0;
};

}  // namespace pictarre
