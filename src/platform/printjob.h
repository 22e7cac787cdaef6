#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <thread>

#include <QByteArray>
#include <QString>

#include <QPageLayout>
#include <QPageRanges>
#include <QVariant>

class QObject;
class QPrinter;
class QTimer;

namespace pictarre {

// What a print asks of the view whose page it prints: to run a script in the page, and to have
// the engine render the page into a PDF document. Either answer may never come (the page is
// torn down); the job then ends by its patience or by its owner.
struct PrintPage {
    std::function<void(const QString& script, std::function<void(const QVariant&)> answer)> runScript;
    std::function<void(const QPageLayout&, const QPageRanges&, std::function<void(QByteArray pdf)> answer)> render;
};

// One print of a view's page, from the click to the last page. A gallery shows only what is
// near the screen: the job first asks its script for every row and picture and waits until the
// page tells that all have come (the page's steps reach the job through pageStep), with a
// patience that ends a print whose page brings nothing for long. The browser engine then
// renders the page into a PDF document, which the job hands to its printer on a thread of its
// own: a printer that writes a PDF file gets the document itself, written whole or not at all;
// any other printer gets its pages painted in order at up to 300 dpi, since painting at printer
// resolution takes long. The job owns the printer: destroying it stops the print at any step
// (painting after the current page, the thread joined; an answer of the page or the engine
// that comes later finds the job gone), the printer goes with it, and a PDF file it had begun
// to paint is removed rather than left looking complete.
class PrintJob {
public:
    struct Reports {
        std::function<void(int prepared, int total)> progress;  // while a gallery prepares
        std::function<void(bool ok)> done;  // once, after the job has ended (false: failed)
    };

    // Prints `page`, a gallery of `galleryEntries` entries, or a page printed as it stands when
    // 0. Reports run on `receiver`'s thread; `done` never from inside a call to the job, and
    // not once `receiver` or the job is gone.
    PrintJob(PrintPage page, std::unique_ptr<QPrinter> printer, std::size_t galleryEntries, QObject* receiver,
             Reports reports);
    ~PrintJob();
    PrintJob(const PrintJob&) = delete;
    PrintJob& operator=(const PrintJob&) = delete;

    QPrinter& printer() { return *printer_; }

    void start();
    // What the gallery's script tells: "progress N", "ready" or "failed".
    void pageStep(const QString& step);
    // Another page starts loading in the view, or the page's process died: a print that still
    // prepares ends as failed.
    void pageLeaving();

private:
    void render();
    void paint(QByteArray pdf);
    bool writePdfFile(const QByteArray& pdf);
    bool paintPages(const QByteArray& pdf);
    void finish(bool ok);

    PrintPage page_;
    std::unique_ptr<QPrinter> printer_;
    std::size_t entries_;
    QObject* receiver_;
    Reports reports_;
    std::unique_ptr<QTimer> patience_;
    bool rendering_ = false;
    std::atomic<bool> finished_{false};
    std::atomic<bool> stopping_{false};
    std::shared_ptr<int> alive_ = std::make_shared<int>();
    std::thread painter_;
};

}  // namespace pictarre
