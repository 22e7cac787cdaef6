#pragma once

#include <memory>
#include <string_view>
#include <string>

#include <QByteArray>
#include <QHash>
#include <QMutex>
#include <QString>
#include <QUrl>
#include <QWebEngineUrlSchemeHandler>

#include "gallery/pictureservice.h"

class QWebEngineProfile;

namespace pictarre {

class Gallery;

// The URL scheme through which a browser view is given the gallery page the program wrote, its
// rows and its pictures (galleryprotocol.h has the addresses and the sequence). It is a narrow
// channel, not a file server: each gallery is reachable only under an address with a random
// token, while its view holds it, and only at the addresses its page names; every other
// request is refused.
inline constexpr char kGalleryScheme[] = "pictarre";

// A name of the boundary (galleryprotocol.h) as the scripts the program runs in the page use it.
inline QString protocolName(std::string_view name)
{
    return QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size()));
}

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
    void servePicture(QWebEngineUrlRequestJob* job, const std::string& path, uint width, uint height);

    QMutex lock_;
    QHash<QByteArray, std::weak_ptr<const Gallery>> published_;  // by token
    // Last, so that its workers end before the rest of the handler goes.
    PictureService pictures_;
};

}  // namespace pictarre
