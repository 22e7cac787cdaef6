// pictarre-print-bench: prints a gallery of pictures to a PDF file in the real browser view, as
// the print button does, and reports the time from the click to the end of the print.
//
//   pictarre-print-bench [--copies N] FOLDER
//
// FOLDER's *.jpg, *.gif and *.bmp files (by name) make a gallery of rows drawn 900 pixels wide,
// as the row layout draws them in a window of that width. --copies 2 makes the printer paint
// its pages one by one, as a printer that is not a PDF file does. One line of key=value
// figures on standard output: pictures, print_ms, pdf_bytes, status (ok or failed).
#include <chrono>
#include <cstdio>

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QPrinter>
#include <QSignalSpy>
#include <QTemporaryDir>

#include "gallery/gallery.h"
#include "gallery/header.h"
#include "platform/browserdialogs.h"
#include "platform/webbrowser.h"

namespace {

using namespace pictarre;

class PdfDialogs final : public BrowserDialogs {
public:
    PdfDialogs(QString pdf, int copies) : pdf_(std::move(pdf)), copies_(copies) {}
    std::optional<SaveAsChoice> askSaveAs(QWidget*, const QString&) override { return std::nullopt; }
    bool askPrint(QWidget*, QPrinter& printer) override
    {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdf_);
        printer.setCopyCount(copies_);
        return true;
    }

private:
    QString pdf_;
    int copies_;
};

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    int copies = 1;
    if (args.size() == 3 && args[0] == QLatin1String("--copies")) {
        copies = args[1].toInt();
        args = args.mid(2);
    }
    if (args.size() != 1 || copies < 1) {
        std::fprintf(stderr, "usage: pictarre-print-bench [--copies N] FOLDER\n");
        return 2;
    }
    const QDir folder(args[0]);
    QTemporaryDir out;
    auto gallery = std::make_shared<Gallery>((out.path() + QStringLiteral("/picture.htm")).toStdString());
    for (const QFileInfo& file : folder.entryInfoList({QStringLiteral("*.jpg"), QStringLiteral("*.gif"), QStringLiteral("*.bmp")},
                                                      QDir::Files, QDir::Name)) {
        const std::string path = QFile::encodeName(file.absoluteFilePath()).toStdString();
        const auto size = readPictureSize(path);
        const int width = 900;
        const int height = size && size->width > 0 ? static_cast<int>(900.0 * size->height / size->width) : 675;
        gallery->addRow(path, width, height);
    }
    gallery->close();

    PdfDialogs dialogs(out.path() + QStringLiteral("/out.pdf"), copies);
    WebBrowser view(dialogs);
    view.resize(960, 720);
    view.show();
    QSignalSpy shown(&view, &WebBrowser::DownloadComplete);
    view.showGallery(gallery);
    if (!shown.wait(60000)) {
        std::printf("pictures=%zu status=failed\n", gallery->size());
        return 1;
    }
    QSignalSpy done(&view, &WebBrowser::printDone);
    const auto start = std::chrono::steady_clock::now();
    view.ExecWB(BrowserCommand::Print);
    const bool ended = done.wait(3'600'000);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    const bool ok = ended && done.last().at(0).toBool();
    std::printf("pictures=%zu copies=%d print_ms=%lld pdf_bytes=%lld status=%s\n", gallery->size(), copies,
                static_cast<long long>(ms), static_cast<long long>(QFileInfo(out.path() + QStringLiteral("/out.pdf")).size()),
                ok ? "ok" : "failed");
    return ok ? 0 : 1;
}
