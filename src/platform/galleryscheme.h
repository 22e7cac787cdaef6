#pragma once

#include <functional>
#include <memory>

#include <QByteArray>
#include <QCache>
#include <QHash>
#include <QMutex>
#include <QThreadPool>
#include <QUrl>
#include <QWebEngineUrlSchemeHandler>

class QWebEngineProfile;

namespace pictarre {

class Gallery;

// The URL scheme through which a browser view is given the gallery page the program wrote, its
// rows and its pictures (galleryprotocol.h has the addresses and the sequence). It is a narrow
// channel, not a file server: each gallery is reachable only under an address with a random
// token, while its view holds it, and only at the addresses its page names; every other
// request is refused.
inline constexpr char kGalleryScheme[] = "pictarre";

// Answers the engine's requests in the gallery scheme. Installed once on a profile.
class GalleryScheme : public QWebEngineUrlSchemeHandler {
    Q_OBJECT
public:
    // The handler of `profile`, installed on first use.
    static GalleryScheme* on(QWebEngineProfile* profile);

    ~GalleryScheme() override;

    // Makes `gallery` reachable under an address of its own, for as long as others hold it;
    // returns the page's address.
    QUrl publish(const std::shared_ptr<const Gallery>& gallery);

    void requestStarted(QWebEngineUrlRequestJob* job) override;

private:
    explicit GalleryScheme(QObject* parent);
    void servePicture(QWebEngineUrlRequestJob* job, std::shared_ptr<const Gallery> gallery, std::size_t index,
                      uint width, uint height);
    // What a worker found, to give the request on the handler's thread.
    using Answer = std::function<void(QWebEngineUrlRequestJob*)>;
    void onWorker(QWebEngineUrlRequestJob* job, std::function<Answer()> work);
    QByteArray cachedPicture(const QByteArray& key);
    void keepPicture(const QByteArray& key, const QByteArray& bytes);

    QMutex lock_;
    QHash<QByteArray, std::weak_ptr<const Gallery>> published_;  // by token
    QCache<QByteArray, QByteArray> scaled_;
    QThreadPool workers_;
    int order_ = 0;
};

}  // namespace pictarre
