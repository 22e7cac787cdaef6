#include "platform/printjob.h"

#include <algorithm>

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QPdfDocument>
#include <QPrinter>
#include <QSaveFile>
#include <QTimer>

#include "gallery/galleryprotocol.h"
#include "platform/galleryscheme.h"

namespace pictarre {

namespace {
constexpr qreal kMostDotsPerInch = 300;
// The longest side, in pixels, of a picture sent to the printer: enough for a print, and it
// keeps a page of thousands of large photos from needing gigabytes.
constexpr int kPrintPictureSide = 1600;
// How long a print waits for the page's rows and pictures while none of them arrives.
constexpr int kPatienceMs = 120'000;

}  // namespace

PrintJob::PrintJob(PrintPage page, std::unique_ptr<QPrinter> printer, std::size_t galleryEntries, QObject* receiver,
                   Reports reports)
    : page_(std::move(page)), printer_(std::move(printer)), entries_(galleryEntries), receiver_(receiver),
      reports_(std::move(reports)), patience_(std::make_unique<QTimer>())
{
    patience_->setSingleShot(true);
    patience_->setInterval(kPatienceMs);
    QObject::connect(patience_.get(), &QTimer::timeout, [this] {
        if (!rendering_)
            finish(false);
    });
}

PrintJob::~PrintJob()
{
    alive_.reset();
    stopping_ = true;
    if (painter_.joinable())
        painter_.join();
}

void PrintJob::start()
{
    const int total = static_cast<int>(entries_);
    if (reports_.progress)
        reports_.progress(0, total);
    if (entries_ == 0) {
        render();
        return;
    }
    // The page tells how far its rows and pictures have come, and when all are there.
    patience_->start();
    page_.runScript(QStringLiteral("window.%1 ? %2(%3) : false")
                        .arg(protocolName(protocol::kScriptObject), protocolName(protocol::kLoadAllCall))
                        .arg(kPrintPictureSide),
                    [this, alive = std::weak_ptr<int>(alive_)](const QVariant& started) {
                        // A page without the gallery's script prints as it stands.
                        if (!alive.expired() && !rendering_ && !finished_ && !started.toBool())
                            render();
                    });
}

void PrintJob::pageStep(const QString& step)
{
    if (rendering_ || finished_)
        return;
    const int total = static_cast<int>(entries_);
    if (step == QLatin1String("ready")) {
        if (reports_.progress)
            reports_.progress(total, total);
        render();
    } else if (step == QLatin1String("failed")) {
        finish(false);
    } else if (step.startsWith(QLatin1String("progress "))) {
        patience_->start();
        if (reports_.progress)
            reports_.progress(std::min(step.mid(9).toInt(), total), total);
    }
}

void PrintJob::pageLeaving()
{
    if (!rendering_ && !finished_)
        finish(false);
}

void PrintJob::render()
{
    rendering_ = true;
    patience_->stop();
    page_.render(printer_->pageLayout(), printer_->pageRanges(), [this, alive = std::weak_ptr<int>(alive_)](QByteArray pdf) {
        if (!alive.expired())
            paint(std::move(pdf));
    });
}

void PrintJob::paint(QByteArray pdf)
{
    if (painter_.joinable())
        return;
    const bool toFile = printer_->outputFormat() == QPrinter::PdfFormat && !printer_->outputFileName().isEmpty()
                        && printer_->copyCount() == 1 && printer_->pageOrder() == QPrinter::FirstPageFirst;
    painter_ = std::thread([this, toFile, pdf = std::move(pdf)] { finish(toFile ? writePdfFile(pdf) : paintPages(pdf)); });
}

void PrintJob::finish(bool ok)
{
    // Posted, never called from here: the receiver may destroy this job in `done`, and the job
    // must not be destroyed from its own thread. A receiver or a job that is gone drops the
    // call, so a stopped job cannot end the next one.
    finished_ = true;
    QMetaObject::invokeMethod(receiver_, [done = reports_.done, alive = std::weak_ptr<int>(alive_), ok] {
        if (!alive.expired() && done)
            done(ok);
    }, Qt::QueuedConnection);
}

bool PrintJob::writePdfFile(const QByteArray& pdf)
{
    // The engine's document is already laid out for the printer's paper, with its page range.
    QSaveFile file(printer_->outputFileName());
    if (pdf.isEmpty() || !file.open(QIODevice::WriteOnly) || file.write(pdf) != pdf.size() || stopping_) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

bool PrintJob::paintPages(const QByteArray& pdf)
{
    if (pdf.isEmpty())
        return false;
    QBuffer source;
    source.setData(pdf);
    source.open(QIODevice::ReadOnly);
    QPdfDocument document;
    document.load(&source);
    if (document.status() != QPdfDocument::Status::Ready || document.pageCount() == 0)
        return false;

    QPrinter& printer = *printer_;
    const int copies = printer.supportsMultipleCopies() ? 1 : std::max(1, printer.copyCount());
    const bool collate = printer.collateCopies();
    const bool forward = printer.pageOrder() == QPrinter::FirstPageFirst;
    const int pages = document.pageCount();
    // Pages are drawn as pictures. Past 300 dpi they only grow (an A4 page at a PDF printer's
    // 1200 dpi is a 560 MB image); each is drawn at most at 300 dpi and stretched to the page.
    const qreal dpi = printer.resolution();
    const qreal drawnDpi = std::min(dpi, kMostDotsPerInch);
    const QSizeF area = printer.pageLayout().paintRectPixels(static_cast<int>(dpi)).size();

    QPainter painter;
    // A PDF file that was begun and could not be finished must not stay behind looking whole.
    const auto fail = [&printer, &painter] {
        if (painter.isActive()) {
            printer.abort();
            painter.end();
            if (printer.outputFormat() == QPrinter::PdfFormat && !printer.outputFileName().isEmpty())
                QFile::remove(printer.outputFileName());
        }
        return false;
    };
    for (int run = 0; run < (collate ? copies : 1); ++run) {
        for (int i = 0; i < pages; ++i) {
            const int page = forward ? i : pages - 1 - i;
            for (int copy = 0; copy < (collate ? 1 : copies); ++copy) {
                if (stopping_)
                    return fail();
                // The document was laid out for this printer's paper; it is scaled into the
                // printable area as a whole page.
                const QSizeF target = (document.pagePointSize(page) * dpi / 72.0).scaled(area, Qt::KeepAspectRatio);
                const bool started = painter.isActive() ? printer.newPage() : painter.begin(&printer);
                if (!started)
                    return fail();
                const QImage image = document.render(page, (target * drawnDpi / dpi).toSize());
                if (image.isNull())
                    return fail();
                painter.drawImage(QRectF(QPointF(0, 0), target), image);
            }
        }
    }
    return painter.end();
}

}  // namespace pictarre
