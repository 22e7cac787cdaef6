#include "platform/printjob.h"

#include <algorithm>

#include <QBuffer>
#include <QImage>
#include <QPainter>
#include <QPdfDocument>
#include <QPrinter>

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
    stopping_ = true;
    if (painter_.joinable())
        painter_.join();
}

void PrintJob::paint(QByteArray pdf)
{
    if (painter_.joinable())
        return;
    painter_ = std::thread([this, pdf = std::move(pdf)] { finish(paintPages(pdf)); });
}

void PrintJob::finish(bool ok)
{
    // Posted, never called from here: the receiver may destroy this job in `done`, and the job
    // must not be destroyed from its own thread. A receiver that is gone drops the call.
    QMetaObject::invokeMethod(receiver_, [done = done_, ok] { done(ok); }, Qt::QueuedConnection);
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
    for (int run = 0; run < (collate ? copies : 1); ++run) {
        for (int i = 0; i < pages; ++i) {
            const int page = forward ? i : pages - 1 - i;
            for (int copy = 0; copy < (collate ? 1 : copies); ++copy) {
                if (stopping_) {
                    printer.abort();
                    return false;
                }
                // The document was laid out for this printer's paper; it is scaled into the
                // printable area as a whole page.
                const QSizeF target = (document.pagePointSize(page) * dpi / 72.0).scaled(area, Qt::KeepAspectRatio);
                const bool started = painter.isActive() ? printer.newPage() : painter.begin(&printer);
                if (!started)
                    return false;
                const QImage image = document.render(page, (target * drawnDpi / dpi).toSize());
                if (image.isNull())
                    return false;
                painter.drawImage(QRectF(QPointF(0, 0), target), image);
            }
        }
    }
    return painter.end();
}

}  // namespace pictarre
