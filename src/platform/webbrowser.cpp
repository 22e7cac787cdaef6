#include "platform/webbrowser.h"

#include <clocale>
#include <cmath>
#include <langinfo.h>

#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPrinter>
#include <QSaveFile>
#include <QShortcut>
#include <QTimer>
#include <QWebEngineDownloadRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>

#include "platform/finddialog.h"
#include "platform/galleryscheme.h"
#include "platform/twips.h"

namespace pictarre {

namespace {

QUrl urlFromAddress(const QString& address)
{
    if (!address.startsWith(QLatin1Char('/')))
        return QUrl(address);
    const QByteArray path = QFile::encodeName(address);
    return isGalleryPage(path) ? galleryUrl(path) : QUrl::fromLocalFile(address);
}

// The longest side, in pixels, of a picture sent to the printer.
constexpr int kPrintPictureSide = 1600;

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

}  // namespace

QString localePageEncoding()
{
    // The codeset of the user's locale; the C/POSIX locale names plain ASCII, where file names
    // are UTF-8 in practice.
    std::setlocale(LC_CTYPE, "");
    const QString codeset = QString::fromLatin1(nl_langinfo(CODESET));
    if (codeset.isEmpty() || codeset == QLatin1String("ANSI_X3.4-1968")
        || codeset.compare(QLatin1String("ASCII"), Qt::CaseInsensitive) == 0)
        return QStringLiteral("UTF-8");
    return codeset;
}

WebBrowser::WebBrowser(BrowserDialogs& dialogs, QWidget* parent)
    : QWebEngineView(parent), dialogs_(dialogs)
{
    GalleryScheme::on(page()->profile());
    QWebEngineSettings* s = settings();
    s->setDefaultTextEncoding(localePageEncoding());
    s->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, true);
    s->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, true);

    connect(this, &QWebEngineView::loadProgress, this,
            [this](int percent) { emit ProgressChange(percent, 100); });
    connect(this, &QWebEngineView::loadStarted, this, [this] { pageLost_ = false; });
    connect(this, &QWebEngineView::loadFinished, this, [this](bool) {
        emit ProgressChange(-1, 100);
        // A page whose process died did not finish loading, whatever the engine says after.
        if (!pageLost_)
            emit DownloadComplete();
    });
    connect(this, &QWebEngineView::renderProcessTerminated, this,
            [this](QWebEnginePage::RenderProcessTerminationStatus, int) {
                pageLost_ = true;
                emit pageLost();
            });
    connect(this, &QWebEngineView::printFinished, this, [this](bool ok) {
        delete printer_;
        printer_ = nullptr;
        page()->runJavaScript(QStringLiteral("window.pictarreGallery && pictarreGallery.resume()"));
        emit printDone(ok);
    });
}

WebBrowser::~WebBrowser()
{
    // A print job still under way prints into its printer on another thread, which may outlive
    // this view by a moment: the printer is left to the end of the process rather than freed
    // under the job.
    printer_ = nullptr;
    for (const auto& window : windows_)
        delete window.data();
}

void WebBrowser::Navigate(const QString& address)
{
    load(urlFromAddress(address));
}

bool WebBrowser::ExecWB(int command, int /*option*/)
{
    switch (command) {
    case 4:
        return saveAs();
    case 6:
        return print();
    default:
        return false;
    }
}

bool WebBrowser::saveAs()
{
    QString suggested = url().isLocalFile() ? QFileInfo(url().toLocalFile()).fileName() : QString();
    if (suggested.isEmpty())
        suggested = QStringLiteral("untitled.htm");
    const auto choice = dialogs_.askSaveAs(this, suggested);
    if (!choice || choice->path.isEmpty())
        return false;

    const QByteArray shownFile = url().scheme() == QLatin1String(kGalleryScheme) ? galleryPath(url()) : QByteArray();
    if (choice->format == SaveFormat::HtmlOnly && !shownFile.isEmpty()) {
        // The page as it was written, byte for byte: the view shows a form of it built for
        // loading pictures by the screen, which is not the document to keep.
        QFile in(QFile::decodeName(shownFile));
        QSaveFile out(choice->path);
        const bool ok = in.open(QIODevice::ReadOnly) && out.open(QIODevice::WriteOnly)
                        && out.write(in.readAll()) == in.size() && out.commit();
        QMetaObject::invokeMethod(this, [this, ok] { emit saveDone(ok); }, Qt::QueuedConnection);
        return true;
    }

    if (choice->format == SaveFormat::PlainText) {
        const QString path = choice->path;
        // The answer may come while the page is torn down, with no text: nothing is written then.
        page()->toPlainText([self = QPointer<WebBrowser>(this), path](const QString& text) {
            if (!self)
                return;
            if (text.isNull()) {
                emit self->saveDone(false);
                return;
            }
            QSaveFile out(path);
            const bool ok = out.open(QIODevice::WriteOnly) && out.write(text.toUtf8()) >= 0 && out.commit();
            emit self->saveDone(ok);
        });
        return true;
    }

    // The engine reports the save as a download of the profile; follow that one to its end.
    const QString path = choice->path;
    auto* profile = page()->profile();
    auto watch = std::make_shared<QMetaObject::Connection>();
    *watch = connect(profile, &QWebEngineProfile::downloadRequested, this,
                     [this, watch](QWebEngineDownloadRequest* download) {
                         if (!download->isSavePageDownload() || download->page() != page())
                             return;
                         disconnect(*watch);
                         connect(download, &QWebEngineDownloadRequest::isFinishedChanged, this,
                                 [this, download] {
                                     emit saveDone(download->state()
                                                   == QWebEngineDownloadRequest::DownloadCompleted);
                                 });
                     });
    page()->save(path, engineFormat(choice->format));
    return true;
}

bool WebBrowser::print()
{
    if (printer_ != nullptr)
        return false;  // one print job at a time: the printer must live until it finishes
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    if (!dialogs_.askPrint(this, *printer))
        return false;
    printer_ = printer.release();
    // A gallery shows only the pictures near the screen; the print needs all of them, at no
    // more than kPrintPictureSide pixels a side so a page of large photos stays printable.
    page()->runJavaScript(QStringLiteral("window.pictarreGallery ? pictarreGallery.loadAll(%1) : 0").arg(kPrintPictureSide),
                          [self = QPointer<WebBrowser>(this)](const QVariant&) {
                              if (self)
                                  self->printWhenPicturesArrive();
                          });
    return true;
}

void WebBrowser::printWhenPicturesArrive()
{
    page()->runJavaScript(QStringLiteral("window.pictarreGallery ? pictarreGallery.pending() : 0"),
                          [self = QPointer<WebBrowser>(this)](const QVariant& pending) {
                              if (!self || !self->printer_)
                                  return;
                              if (pending.toInt() > 0)
                                  QTimer::singleShot(100, self, &WebBrowser::printWhenPicturesArrive);
                              else
                                  self->QWebEngineView::print(self->printer_);
                          });
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
    findDialog_->show();
    findDialog_->raise();
    findDialog_->activateWindow();
    findDialog_->textField()->setFocus();
    findDialog_->textField()->selectAll();
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

QWebEngineView* WebBrowser::createWindow(QWebEnginePage::WebWindowType)
{
    // A link with target "_blank" gets a browser window of its own, with its own find shortcut.
    auto* view = new WebBrowser(dialogs_);
    view->setAttribute(Qt::WA_DeleteOnClose);
    // Picture windows never keep the program running after the main window has closed.
    view->setAttribute(Qt::WA_QuitOnClose, false);
    view->resize(size().isEmpty() ? QSize(800, 600) : size());
    connect(view, &QWebEngineView::titleChanged, view, &QWidget::setWindowTitle);
    auto* find = new QShortcut(QKeySequence::Find, view);
    connect(find, &QShortcut::activated, view, &WebBrowser::showFindDialog);
    view->show();
    windows_.append(view);
    emit windowOpened(view);
    return view;
}

}  // namespace pictarre
