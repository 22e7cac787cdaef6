#include "platform/printjob.h"

#include <algorithm>

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QPdfDocument>
#include <QPrinter>
#include <QSaveFile>

namespace pictarre {

namespace {
constexpr qreal kMostDotsPerInch = 300;
}

PrintJob::PrintJob(std::unique_ptr<QPrinter> printer, QObject* receiver, Done done)
    : printer_(std::move(printer)), receiver_(receiver), done_(std::move(done))
{
}

PrintJob::~PrintJob()
{
    alive_.reset();
    stopping_ = true;
    if (painter_.joinable())
        painter_.join();
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
    QMetaObject::invokeMethod(receiver_, [done = done_, alive = std::weak_ptr<int>(alive_), ok] {
        if (!alive.expired())
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
