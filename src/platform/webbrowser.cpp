#include "platform/webbrowser.h"

#include <algorithm>
#include <sys/stat.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPrinter>
#include <QSaveFile>
#include <QScreen>
#include <QShortcut>
#include <QWebEngineDownloadRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInterceptor>

#include "gallery/archive.h"
#include "gallery/galleryprotocol.h"
#include "gallery/pageencoding.h"
#include "gallery/pagewriter.h"
#include "platform/finddialog.h"
#include "platform/gallerysaver.h"
#include "platform/galleryscheme.h"
#include "platform/printjob.h"
#include "platform/twips.h"

namespace pictarre {

namespace {

QUrl urlFromAddress(const QString& address)
{
    return address.startsWith(QLatin1Char('/')) ? QUrl::fromLocalFile(address) : QUrl(address);
}


// The views show local pictures, pages and folders, and need nothing from the network.
// Only the program's own gallery page runs a script, its own. Every other page, which may come
// from a folder that someone else filled, runs none: it can read no file, open no window or
// dialog, and send nothing. The engine's listing of a folder is its own page and is made only
// by its own script (the names in it are the engine's escaped strings), so it keeps that. A
// file page keeps the engine's file access, without which the engine refuses it its own
// pictures; with no script it shows them and reads nothing. The gallery reads no local file:
// its pictures come through its scheme.
bool isListing(const QUrl& url)
{
    return url.isLocalFile() && QFileInfo(url.toLocalFile()).isDir();
}

void allowFor(QWebEngineSettings& settings, const QUrl& url, bool gallery)
{
    settings.setAttribute(QWebEngineSettings::JavascriptEnabled, gallery || isListing(url));
    settings.setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, url.isLocalFile());
}

// The engine's flags that keep any page from opening a peer connection: no UDP without a
// proxy, and the views have none, so no STUN, TURN or ICE packet leaves the program. Set when
// the program is loaded, before the engine reads its flags.
const bool kNoPeerTraffic = [] {
    QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    flags += " --force-webrtc-ip-handling-policy=disable_non_proxied_udp"
             " --webrtc-ip-handling-policy=disable_non_proxied_udp";
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags.trimmed());
    return true;
}();

bool isNetworkScheme(const QString& scheme)
{
    static const QStringList kNetwork = {QStringLiteral("http"), QStringLiteral("https"), QStringLiteral("ws"),
                                         QStringLiteral("wss"), QStringLiteral("ftp")};
    return kNetwork.contains(scheme, Qt::CaseInsensitive);
}

// The schemes a view goes to: the program's own, files and blank pages. Any other (mail,
// shares, chat, telephone...) the engine would hand to the desktop, with whatever the page put
// in the address.
bool isViewScheme(const QString& scheme)
{
    return scheme == QLatin1String(kGalleryScheme) || scheme == QLatin1String("file")
        || scheme == QLatin1String("about");
}

// Refuses every request of the views' profile that would leave the machine.
class LocalOnly : public QWebEngineUrlRequestInterceptor {
public:
    void interceptRequest(QWebEngineUrlRequestInfo& info) override
    {
        if (isNetworkScheme(info.requestUrl().scheme()))
            info.block(true);
    }
};

// The view's page. Only the program opens a gallery: a page or a frame that asks to go to an
// address in the gallery scheme, other than the one the program is loading, is refused. A page
// that asks to load a local file into a window of its own (a link to a picture opened in its
// window) may not be allowed to by the engine; such a load is taken over by the view, as if
// the program had asked for it.
class ViewPage : public QWebEnginePage {
public:
    using QWebEnginePage::QWebEnginePage;
    QUrl galleryAllowed;
    // The print steps the gallery's own script tells.
    std::function<void(const QString&)> printStep;
    // A link to a file clicked in the gallery, to open in front (true) or behind.
    std::function<void(const QUrl&, bool)> openLink;
    // Set when a blank page has made way for the page asked for: the blank's end is no end of
    // a load for the program.
    bool wayMade = false;

protected:
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message, int line,
                                  const QString& source) override
    {
        const QString marker = protocolName(protocol::kPrintMarker);
        const bool fromGallery = !galleryAllowed.isEmpty() && QUrl(source) == galleryAllowed;
        if (printStep && fromGallery && message.startsWith(marker)) {
            printStep(message.mid(marker.size()));
            return;
        }
        const QString open = protocolName(protocol::kOpenMarker);
        if (openLink && fromGallery && message.startsWith(open)) {
            const QString how = message.mid(open.size()).section(QLatin1Char(' '), 0, 0);
            const QUrl link(message.mid(open.size()).section(QLatin1Char(' '), 1), QUrl::StrictMode);
            if (link.isLocalFile())
                openLink(link, how == QLatin1String("window"));
            return;
        }
        QWebEnginePage::javaScriptConsoleMessage(level, message, line, source);
    }

    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override
    {
        if ((url.scheme() == QLatin1String(kGalleryScheme) && !(isMainFrame && url == galleryAllowed))
            || !isViewScheme(url.scheme()))
            return false;
        const bool scripted = (!galleryAllowed.isEmpty() && url == galleryAllowed) || isListing(url);
        if (isMainFrame && scripted && !settings()->testAttribute(QWebEngineSettings::JavascriptEnabled)
            && !isBlank(this->url())) {
            if (type == NavigationTypeBackForward) {
                // A step back or forward stays a step in the history: the page comes without
                // script first and, once the page it replaced is gone, again with it.
                settings()->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, url.isLocalFile());
                reloadWithScript_ = true;
                return true;
            }
            // Script would be on while the page shown goes, and that page's own handlers of
            // its leaving would run: it makes way for a blank page first.
            afterBlank_ = url;
            QMetaObject::invokeMethod(this, [this] { load(QUrl(QStringLiteral("about:blank"))); }, Qt::QueuedConnection);
            return false;
        }
        // Going back or forward in the view's history stays a step in that history.
        if (url.isLocalFile() && isMainFrame && type != NavigationTypeTyped && type != NavigationTypeReload
            && type != NavigationTypeBackForward) {
            QMetaObject::invokeMethod(this, [this, url] { load(url); }, Qt::QueuedConnection);
            return false;
        }
        if (isMainFrame)
            allowFor(*settings(), url, !galleryAllowed.isEmpty() && url == galleryAllowed);
        return true;
    }

private:
    static bool isBlank(const QUrl& url) { return url.isEmpty() || url.scheme() == QLatin1String("about"); }

    void goOnAfterBlank()
    {
        if (std::exchange(reloadWithScript_, false)) {
            allowFor(*settings(), url(), !galleryAllowed.isEmpty() && url() == galleryAllowed);
            triggerAction(QWebEnginePage::Reload);
            return;
        }
        if (!afterBlank_.isEmpty() && isBlank(url())) {
            wayMade = true;
            load(std::exchange(afterBlank_, QUrl()));
        }
    }

    QUrl afterBlank_;  // where to go once the blank page has replaced a page without script
    bool reloadWithScript_ = false;  // a history step reached a page with script, shown without
    const QMetaObject::Connection onBlank_ = connect(this, &QWebEnginePage::loadFinished, this, [this] { goOnAfterBlank(); });
};


QWebEngineDownloadRequest::SavePageFormat engineFormat(SaveFormat format)
{
    switch (format) {
    case SaveFormat::HtmlOnly:
        return QWebEngineDownloadRequest::SingleHtmlSaveFormat;
    case SaveFormat::SingleFile:
        return QWebEngineDownloadRequest::MimeHtmlSaveFormat;
    case SaveFormat::CompletePage:
    case SaveFormat::PlainText:
        break;
    }
    return QWebEngineDownloadRequest::CompleteHtmlSaveFormat;
}

// Gives the file the permissions a new file of the user gets (0666 less the umask).
// The umask is read where the kernel tells it, not set and set back: another thread may be
// creating a file meanwhile.
void withUsualPermissions(const QString& path)
{
    QFile status(QStringLiteral("/proc/self/status"));
    mode_t mask = 022;
    if (status.open(QIODevice::ReadOnly)) {
        for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine()) {
            if (line.startsWith("Umask:")) {
                bool ok = false;
                const uint read = line.mid(6).trimmed().toUInt(&ok, 8);
                if (ok)
                    mask = static_cast<mode_t>(read);
                break;
            }
        }
    }
    ::chmod(QFile::encodeName(path).constData(), 0666 & ~mask);
}

// The download the engine starts for saving `page` to `path`.
bool savesTo(const QWebEngineDownloadRequest& download, const QWebEnginePage* page, const QString& path)
{
    return download.isSavePageDownload() && download.page() == page
        && QDir::cleanPath(QDir(download.downloadDirectory()).filePath(download.downloadFileName()))
               == QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

}  // namespace

// A print rendering that the engine has not answered yet. The engine cannot let go of a page
// while it renders it for print: a view that goes meanwhile leaves its page here, and the
// answer takes the page away instead of handing it to the print job.
struct WebBrowser::PendingRender {
    QWebEnginePage* orphan = nullptr;
    bool answered = false;
};

WebBrowser::WebBrowser(BrowserDialogs& dialogs, QWidget* parent)
    : QWebEngineView(parent), dialogs_(dialogs)
{
    // The view's page is no child of the view, so that it can outlive the view while the
    // engine renders it for print; the view deletes it otherwise.
    auto* viewPage = new ViewPage;
    setPage(viewPage);
    viewPage->printStep = [this](const QString& step) {
        if (printJob_)
            printJob_->pageStep(step);
    };
    viewPage->openLink = [this](const QUrl& link, bool inFront) { openPictureWindow(inFront)->load(link); };
    GalleryScheme::on(page()->profile());
    static LocalOnly localOnly;
    page()->profile()->setUrlRequestInterceptor(&localOnly);
    Q_UNUSED(kNoPeerTraffic);
    QWebEngineSettings* s = settings();
    s->setDefaultTextEncoding(QString::fromStdString(pageEncoding()));
    allowFor(*s, QUrl(), false);
    s->setAttribute(QWebEngineSettings::WebRTCPublicInterfacesOnly, true);
    s->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, true);

    connect(this, &QWebEngineView::loadProgress, this,
            [this](int percent) { emit ProgressChange(percent, 100); });
    connect(this, &QWebEngineView::loadStarted, this, [this] {
        pageLost_ = false;
        // A print still waiting for the page's pictures does not go on with another page.
        if (printJob_)
            printJob_->pageLeaving();
    });
    connect(this, &QWebEngineView::loadFinished, this, [this, viewPage](bool) {
        if (std::exchange(viewPage->wayMade, false))
            return;
        // The engine keeps the scroll of a page loaded again; a page the program opens anew
        // starts at its top.
        if (std::exchange(toTop_, false))
            page()->runJavaScript(QStringLiteral("window.scrollTo(0, 0)"), QWebEngineScript::ApplicationWorld);
        emit ProgressChange(-1, 100);
        // A page whose process died did not finish loading, whatever the engine says after.
        if (!pageLost_)
            emit DownloadComplete();
    });
    connect(this, &QWebEngineView::renderProcessTerminated, this,
            [this](QWebEnginePage::RenderProcessTerminationStatus, int) {
                pageLost_ = true;
                // A print still waiting for the page's pictures waits no more.
                if (printJob_)
                    printJob_->pageLeaving();
                emit pageLost();
            });
}

WebBrowser::~WebBrowser()
{
    // The engine answers scripts still pending while it tears the page down, after this
    // object is gone: those answers find the token expired.
    alive_.reset();
    // A print still under way stops here; its page goes once the engine has let go of it.
    printJob_.reset();
    for (const auto& window : windows_)
        delete window.data();
    QWebEnginePage* own = page();
    if (render_ && !render_->answered)
        render_->orphan = own;
    else
        delete own;
}

void WebBrowser::NavigateWhenShown(const QString& address)
{
    if (isVisible())
        Navigate(address);
    else
        whenShown_ = address;
}

QUrl WebBrowser::address() const
{
    if (!whenShown_)
        return url();
    // The engine shows a folder under its address with a final slash.
    QUrl target = urlFromAddress(*whenShown_);
    if (target.isLocalFile() && !target.path().endsWith(QLatin1Char('/')) && QFileInfo(target.toLocalFile()).isDir())
        target.setPath(target.path() + QLatin1Char('/'));
    return target;
}

void WebBrowser::showEvent(QShowEvent* event)
{
    QWebEngineView::showEvent(event);
    if (const std::optional<QString> address = std::exchange(whenShown_, std::nullopt))
        Navigate(*address);
}

void WebBrowser::Navigate(const QString& address)
{
    whenShown_.reset();
    const QUrl target = urlFromAddress(address);
    toTop_ = target == url();
    gallery_.reset();
    static_cast<ViewPage*>(page())->galleryAllowed.clear();
    load(target);
}

void WebBrowser::showGallery(std::shared_ptr<const Gallery> gallery)
{
    whenShown_.reset();
    const QUrl address = GalleryScheme::on(page()->profile())->publish(gallery);
    gallery_ = std::move(gallery);
    toTop_ = false;
    static_cast<ViewPage*>(page())->galleryAllowed = address;
    load(address);
}

QByteArray WebBrowser::shownFile() const
{
    if (url().scheme() == QLatin1String(kGalleryScheme))
        return gallery_ ? QByteArray::fromStdString(gallery_->pagePath()) : QByteArray();
    return url().isLocalFile() ? QFile::encodeName(url().toLocalFile()) : QByteArray();
}

bool WebBrowser::ExecWB(BrowserCommand command)
{
    switch (command) {
    case BrowserCommand::SaveAs:
        return saveAs();
    case BrowserCommand::Print:
        return print();
    }
    return false;
}

bool WebBrowser::saveAs()
{
    const QByteArray shown = shownFile();
    QString suggested = QFileInfo(QFile::decodeName(shown)).fileName();
    if (suggested.isEmpty())
        suggested = QStringLiteral("untitled.htm");
    const auto choice = dialogs_.askSaveAs(this, suggested);
    if (!choice || choice->path.isEmpty())
        return false;
    lastSavePath_ = choice->path;

    // The view shows a gallery page built for loading by the screen; what is saved is the
    // page as it was written.
    if (gallery_ && url().scheme() == QLatin1String(kGalleryScheme))
        return saveGallery(choice->path, choice->format);
    if (choice->format == SaveFormat::PlainText) {
        const QString path = choice->path;
        // The answer may come while the page is torn down, with no text: nothing is written then.
        page()->toPlainText([this, alive = std::weak_ptr<void>(alive_), path](const QString& text) {
            if (alive.expired())
                return;
            if (text.isNull()) {
                emit saveDone(false);
                return;
            }
            QSaveFile out(path);
            const bool ok = out.open(QIODevice::WriteOnly) && out.write(text.toUtf8()) >= 0 && out.commit();
            emit saveDone(ok);
        });
        return true;
    }
    followSave(page(), choice->path);
    page()->save(choice->path, engineFormat(choice->format));
    return true;
}

bool WebBrowser::saveGallery(const QString& target, SaveFormat format)
{
    const Gallery& gallery = *gallery_;
    if (format == SaveFormat::HtmlOnly || format == SaveFormat::PlainText) {
        QSaveFile out(target);
        bool ok = out.open(QIODevice::WriteOnly);
        if (format == SaveFormat::HtmlOnly) {
            // The page as it was written, byte for byte.
            ok = ok && gallery.writePage([&out](std::string_view piece) {
                return out.write(piece.data(), static_cast<qint64>(piece.size())) == static_cast<qint64>(piece.size());
            });
        } else {
            // The page's text: every picture's path as its link shows it, also of the rows that
            // are not in the page at the moment.
            QString text;
            for (std::size_t i = 0; i < gallery.size(); ++i) {
                if (gallery.entry(i).layout != Gallery::Layout::Row)
                    continue;
                PageTextDecoder decoder(gallery.path(i));
                char32_t c = 0;
                std::size_t length = 0;
                while (decoder.next(c, length))
                    text += QString::fromUcs4(&c, 1);
                text += QLatin1Char('\n');
            }
            ok = ok && out.write(text.toUtf8()) >= 0;
        }
        ok = ok && out.commit();
        QMetaObject::invokeMethod(this, [this, ok] { emit saveDone(ok); }, Qt::QueuedConnection);
        return true;
    }
    // The page with a copy of every picture beside it, each under its own name, or one archive
    // file with the pictures inside, made on a worker: a gallery of large photos takes a while.
    const std::string to = QFile::encodeName(target).toStdString();
    std::function<bool(const SaveProgress&)> save;
    if (format == SaveFormat::CompletePage) {
        save = [gallery = gallery_, to, head = "<meta charset=\"" + pageEncoding() + "\">\r\n"](const SaveProgress& progress) {
            return savePageWithPictures(*gallery, to, head, progress);
        };
    } else {
        save = [gallery = gallery_, to](const SaveProgress& progress) { return saveArchive(*gallery, to, progress); };
    }
    emit saveProgress(0, static_cast<int>(gallery.size()));
    saveInBackground(this, std::move(save), [this](int done, int total) { emit saveProgress(done, total); },
                     [this](bool ok) { emit saveDone(ok); });
    return true;
}

void WebBrowser::followSave(QWebEnginePage* saving, const QString& path)
{
    // The engine reports the save as a download of the profile; the one to this path is
    // followed to its end. Only the latest save is waited for: one whose download never came
    // is forgotten, so it cannot claim the download of a later save.
    disconnect(saveWatch_);
    saveWatch_ = connect(saving->profile(), &QWebEngineProfile::downloadRequested, this,
                         [this, saving, path](QWebEngineDownloadRequest* download) {
                             if (!savesTo(*download, saving, path))
                                 return;
                             disconnect(saveWatch_);
                             connect(download, &QWebEngineDownloadRequest::isFinishedChanged, this,
                                     [this, download, path] {
                                         const bool ok = download->state() == QWebEngineDownloadRequest::DownloadCompleted;
                                         // The engine writes its archives for the owner alone; a saved
                                         // page gets the permissions the user's other files get.
                                         if (ok)
                                             withUsualPermissions(path);
                                         emit saveDone(ok);
                                     });
                         });
}

bool WebBrowser::print()
{
    if (printJob_)
        return false;  // one print at a time
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    if (!dialogs_.askPrint(this, *printer))
        return false;
    PrintPage lent;
    lent.runScript = [this](const QString& script, std::function<void(const QVariant&)> answer) {
        page()->runJavaScript(script, std::move(answer));
    };
    lent.render = [this](const QPageLayout& layout, const QPageRanges& ranges, std::function<void(QByteArray)> answer) {
        render_ = std::make_shared<PendingRender>();
        page()->printToPdf([render = render_, answer = std::move(answer)](const QByteArray& pdf) {
            render->answered = true;
            if (render->orphan)
                render->orphan->deleteLater();
            else
                answer(pdf);
        }, layout, ranges);
    };
    const std::size_t entries = gallery_ && url().scheme() == QLatin1String(kGalleryScheme) ? gallery_->size() : 0;
    PrintJob::Reports reports;
    reports.progress = [this](int prepared, int total) { emit printProgress(prepared, total); };
    reports.done = [this](bool ok) { endPrint(ok); };
    printJob_ = std::make_unique<PrintJob>(std::move(lent), std::move(printer), entries, this, std::move(reports));
    printJob_->start();
    return true;
}

void WebBrowser::stopPrint()
{
    if (printJob_)
        endPrint(false);
}

void WebBrowser::endPrint(bool ok)
{
    printJob_.reset();
    if (gallery_)
        page()->runJavaScript(QStringLiteral("window.%1 && %2()").arg(protocolName(protocol::kScriptObject), protocolName(protocol::kResumeCall)));
    emit printDone(ok);
}

bool WebBrowser::SetFocus()
{
    if (!isVisible() || !isEnabled())
        return false;
    setFocus(Qt::OtherFocusReason);
    return true;
}

void WebBrowser::showFindDialog()
{
    if (!findDialog_)
        findDialog_ = new FindDialog(this);
    findDialog_->openForSearch();
}

float WebBrowser::widthTwips() const
{
    return twips(width());
}

float WebBrowser::heightTwips() const
{
    return twips(height());
}

bool WebBrowser::setWidthTwips(float value)
{
    return pictarre::setWidthTwips(*this, value);
}

bool WebBrowser::setHeightTwips(float value)
{
    return pictarre::setHeightTwips(*this, value);
}

QList<WebBrowser*> WebBrowser::openedWindows() const
{
    QList<WebBrowser*> open;
    for (const auto& window : windows_) {
        if (window)
            open.append(window);
    }
    return open;
}

void WebBrowser::enableHistoryKeys()
{
    const struct {
        QKeySequence keys;
        QWebEnginePage::WebAction action;
    } bindings[] = {
        {QKeySequence(Qt::ALT | Qt::Key_Left), QWebEnginePage::Back},
        {QKeySequence(Qt::Key_Backspace), QWebEnginePage::Back},
        {QKeySequence(Qt::ALT | Qt::Key_Right), QWebEnginePage::Forward},
    };
    for (const auto& binding : bindings) {
        auto* shortcut = new QShortcut(binding.keys, this);
        shortcut->setContext(Qt::WidgetWithChildrenShortcut);
        connect(shortcut, &QShortcut::activated, this, [this, action = binding.action] { triggerPageAction(action); });
    }
}

QWebEngineView* WebBrowser::createWindow(QWebEnginePage::WebWindowType type)
{
    switch (type) {
    case QWebEnginePage::WebBrowserTab:     // a link with target "_blank"
    case QWebEnginePage::WebBrowserWindow:  // a link opened in a new window (Shift+click)
        return openPictureWindow(true);
    case QWebEnginePage::WebBrowserBackgroundTab:  // Ctrl+click or a middle click
        return openPictureWindow(false);
    case QWebEnginePage::WebDialog:
        // A script's pop-up with a size of its own: the gallery and the pages it opens have
        // none, and a page from elsewhere does not get one.
        return nullptr;
    }
    return nullptr;
}

WebBrowser* WebBrowser::openPictureWindow(bool activate)
{
    // A picture gets a browser window of its own, with its own find shortcut; one asked for in
    // the background leaves the focus where it is.
    auto* view = new WebBrowser(dialogs_);
    view->setAttribute(Qt::WA_DeleteOnClose);
    // Picture windows never keep the program running after the main window has closed.
    view->setAttribute(Qt::WA_QuitOnClose, false);
    view->resize(size().isEmpty() ? QSize(800, 600) : size());
    // Over the middle of the window the link was in, within that window's screen.
    const QRect over = window()->frameGeometry();
    QRect placed(QPoint(), view->size());
    placed.moveCenter(over.center());
    if (const QScreen* screen = window()->screen()) {
        const QRect room = screen->availableGeometry();
        placed.moveLeft(std::clamp(placed.left(), room.left(), std::max(room.left(), room.right() - placed.width())));
        placed.moveTop(std::clamp(placed.top(), room.top(), std::max(room.top(), room.bottom() - placed.height())));
    }
    view->move(placed.topLeft());
    connect(view, &QWebEngineView::titleChanged, view, &QWidget::setWindowTitle);
    auto* find = new QShortcut(QKeySequence::Find, view);
    connect(find, &QShortcut::activated, view, &WebBrowser::showFindDialog);
    // A picture's window closes as a browser's window or tab does.
    for (const QKeySequence& keys : {QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W)}) {
        auto* closing = new QShortcut(keys, view);
        connect(closing, &QShortcut::activated, view, &QWidget::close);
    }
    view->setAttribute(Qt::WA_ShowWithoutActivating, !activate);
    view->show();
    windows_.append(view);
    emit windowOpened(view);
    return view;
}

}  // namespace pictarre
