#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

#include <QByteArray>

class QObject;
class QPrinter;

namespace pictarre {

// One print run of a page. The browser engine renders the page into a PDF document; the job
// hands that document to its printer on a thread of its own: a printer that writes a PDF file
// gets the document itself, written whole or not at all; any other printer gets its pages
// painted at up to 300 dpi, since painting at printer resolution takes long. The job owns the
// printer: destroying the job stops the painting after the current page and waits for the
// thread, so no page is ever painted into a printer that is gone, the printer goes with the
// job, and a PDF file it had begun to paint is removed rather than left looking complete.
class PrintJob {
public:
    using Done = std::function<void(bool ok)>;

    // `done` runs once, on `receiver`'s thread, after the job has ended (false when it failed or
    // was stopped); it does not run when `receiver` or the job is gone by then.
    PrintJob(std::unique_ptr<QPrinter> printer, QObject* receiver, Done done);
    ~PrintJob();
    PrintJob(const PrintJob&) = delete;
    PrintJob& operator=(const PrintJob&) = delete;

    QPrinter& printer() { return *printer_; }

    // Starts painting the rendered document; an empty one (the engine could not render the
    // page) ends the job as failed.
    void paint(QByteArray pdf);

private:
    bool writePdfFile(const QByteArray& pdf);
    bool paintPages(const QByteArray& pdf);
    void finish(bool ok);

    std::unique_ptr<QPrinter> printer_;
    QObject* receiver_;
    Done done_;
    std::atomic<bool> stopping_{false};
    std::shared_ptr<int> alive_ = std::make_shared<int>();
    std::thread painter_;
};

}  // namespace pictarre
