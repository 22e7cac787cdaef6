// One print as one object, with the page it prints faked: it asks the gallery for everything,
// waits for the page's "ready" however long a picture takes, renders once, writes the document,
// and stops at any step without leaving a file or a late report behind.
#include <QFile>
#include <QPrinter>
#include <QTemporaryDir>
#include <QTest>

#include "platform/printjob.h"

using namespace pictarre;

class PrintJobTest : public QObject {
    Q_OBJECT

    struct Fake {
        QStringList scripts;
        std::function<void(QByteArray)> pendingRender;
        QList<std::pair<int, int>> progress;
        QList<bool> done;
    };

    std::unique_ptr<PrintJob> makeJob(Fake& fake, const QString& pdf, std::size_t entries)
    {
        PrintPage page;
        page.runScript = [&fake](const QString& script, std::function<void(const QVariant&)> answer) {
            fake.scripts << script;
            answer(true);
        };
        page.render = [&fake](const QPageLayout&, const QPageRanges&, std::function<void(QByteArray)> answer) {
            fake.pendingRender = std::move(answer);
        };
        auto printer = std::make_unique<QPrinter>();
        printer->setOutputFormat(QPrinter::PdfFormat);
        printer->setOutputFileName(pdf);
        PrintJob::Reports reports;
        reports.progress = [&fake](int prepared, int total) { fake.progress.append({prepared, total}); };
        reports.done = [&fake](bool ok) { fake.done.append(ok); };
        return std::make_unique<PrintJob>(std::move(page), std::move(printer), entries, this, std::move(reports));
    }

private slots:
    void waitsForTheSlowestPictureThenPrintsOnce()
    {
        QTemporaryDir dir;
        Fake fake;
        auto job = makeJob(fake, dir.filePath(QStringLiteral("out.pdf")), 3);
        job->start();
        QCOMPARE(fake.scripts.size(), 1);
        QVERIFY(fake.scripts[0].contains(QStringLiteral("loadAll")));
        // Two pictures came; the third is slow: nothing is rendered yet, however long it takes.
        job->pageStep(QStringLiteral("progress 2"));
        QTest::qWait(50);
        QVERIFY(!fake.pendingRender);
        job->pageStep(QStringLiteral("ready"));
        QVERIFY(fake.pendingRender);
        job->pageStep(QStringLiteral("ready"));  // a late second word renders nothing more
        fake.pendingRender(QByteArray("%PDF-1.4 the engine's document"));
        QTRY_COMPARE(fake.done, QList<bool>{true});
        QCOMPARE(fake.progress, (QList<std::pair<int, int>>{{0, 3}, {2, 3}, {3, 3}}));
        QFile out(dir.filePath(QStringLiteral("out.pdf")));
        QVERIFY(out.open(QIODevice::ReadOnly));
        QCOMPARE(out.readAll(), QByteArray("%PDF-1.4 the engine's document"));
    }

    void stopsAtEveryStepWithoutAFileOrALateReport()
    {
        QTemporaryDir dir;
        const QString pdf = dir.filePath(QStringLiteral("out.pdf"));
        for (const char* step : {"preparing", "rendering", "leaving", "failed"}) {
            Fake fake;
            auto job = makeJob(fake, pdf, 2);
            job->start();
            const QByteArray name(step);
            if (name == "rendering")
                job->pageStep(QStringLiteral("ready"));
            if (name == "leaving")
                job->pageLeaving();  // another page starts before the pictures came
            if (name == "failed")
                job->pageStep(QStringLiteral("failed"));
            if (name == "preparing" || name == "rendering") {
                std::function<void(QByteArray)> late = fake.pendingRender;
                job.reset();  // the owner stops it
                if (late)
                    late(QByteArray("%PDF-1.4 too late"));
                QTest::qWait(50);
                QVERIFY2(fake.done.isEmpty(), step);
            } else {
                QTRY_COMPARE(fake.done, QList<bool>{false});
                QVERIFY2(!fake.pendingRender, step);
            }
            QVERIFY2(!QFile::exists(pdf), step);
        }
    }
};

QTEST_MAIN(PrintJobTest)
#include "tst_printjob.moc"
