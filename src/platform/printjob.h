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
// paints that document's pages onto its printer on a thread of its own, since painting at
// printer resolution takes long. The job owns the printer: destroying the job stops the
// painting after the current page and waits for the thread, so no page is ever painted into a
// printer that is gone, and the printer goes with the job.
class PrintJob {
public:
    using Done = std::function<void(bool ok)>;

    // `done` runs once, on `receiver`'s thread, after the job has ended (false when it failed);
    // it does not run when `receiver` or the job is gone by then.
    PrintJob(std::unique_ptr<QPrinter> printer, QObject* receiver, Done done);
    ~PrintJob();
    PrintJob(const PrintJob&) = delete;
    PrintJob& operator=(const PrintJob&) = delete;

    QPrinter& printer() { return *printer_; }

    // Starts painting the rendered document; an empty one (the engine could not render the
    // page) ends the job as failed.
    void paint(QByteArray pdf);

private:
    bool paintPages(const QByteArray& pdf);
    void finish(bool ok);

    std::unique_ptr<QPrinter> printer_;
    QObject* receiver_;
    Done done_;
    std::atomic<bool> stopping_{false};
    std::thread painter_;
};

}  // namespace pictarre
