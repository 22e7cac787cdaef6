#include "platform/gallerysaver.h"

#include <chrono>

#include <QCoreApplication>
#include <QPointer>
#include <QThreadPool>

namespace pictarre {

namespace {

constexpr auto kReportInterval = std::chrono::milliseconds(100);

}  // namespace

void saveInBackground(QObject* owner, std::function<bool(const SaveProgress&)> save,
                      std::function<void(int, int)> progress, std::function<void(bool)> done)
{
    const QPointer<QObject> alive(owner);
    QThreadPool::globalInstance()->start([alive, save = std::move(save), progress = std::move(progress),
                                          done = std::move(done)] {
        // Reported by time, not per picture: a folder of small pictures would flood the window.
        auto last = std::chrono::steady_clock::now();
        const SaveProgress report = [&](std::size_t finished, std::size_t total) {
            const auto now = std::chrono::steady_clock::now();
            if (now - last >= kReportInterval || finished == total) {
                last = now;
                QMetaObject::invokeMethod(QCoreApplication::instance(), [alive, progress, finished, total] {
                    if (alive)
                        progress(static_cast<int>(finished), static_cast<int>(total));
                }, Qt::QueuedConnection);
            }
            return true;
        };
        const bool ok = save(report);
        // The owner is looked at on its own thread only: it may go while the save runs.
        QMetaObject::invokeMethod(QCoreApplication::instance(), [alive, done, ok] {
            if (alive)
                done(ok);
        }, Qt::QueuedConnection);
    });
}

}  // namespace pictarre
