#include "platform/browserdialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QPrintDialog>
#include <QPrinter>
#include <QStandardPaths>

#include "platform/dialogs.h"

namespace pictarre {

namespace {

struct SaveType {
    const char* filter;
    SaveFormat format;
};

// The file types the browser's own save dialog offers, first one preselected.
constexpr SaveType kSaveTypes[] = {
    {"网页，全部 (*.htm *.html)", SaveFormat::CompletePage},
    {"Web 档案，单一文件 (*.mht)", SaveFormat::SingleFile},
    {"网页，仅 HTML (*.htm *.html)", SaveFormat::HtmlOnly},
    {"文本文件 (*.txt)", SaveFormat::PlainText},
};

// What the dialogs keep for this run of the program: the folder a page was last saved in, and
// the printer or file the last print went to.
struct Remembered {
    QString saveFolder;
    QString printerName;
    QString printFile;
};

Remembered& remembered()
{
    static Remembered kept;
    return kept;
}

// Where a page is saved when none has been in this run: the user's documents, else downloads,
// else home; never the picture folder the gallery shows.
QString firstSaveFolder()
{
    for (const auto location : {QStandardPaths::DocumentsLocation, QStandardPaths::DownloadLocation}) {
        const QString folder = QStandardPaths::writableLocation(location);
        if (QFileInfo(folder).isDir())
            return folder;
    }
    return QDir::homePath();
}

}  // namespace

std::optional<SaveAsChoice> QtBrowserDialogs::askSaveAs(QWidget* parent, const QString& suggestedName)
{
    QStringList filters;
    for (const auto& type : kSaveTypes)
        filters << QString::fromUtf8(type.filter);
    QFileDialog dialog(parent, QStringLiteral("保存网页"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilters(filters);
    QString& folder = remembered().saveFolder;
    dialog.setDirectory(!folder.isEmpty() && QFileInfo(folder).isDir() ? folder : firstSaveFolder());
    dialog.selectFile(suggestedName);
    addUserPlaces(dialog);
    sizeFileDialog(dialog, parent);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    folder = QFileInfo(dialog.selectedFiles().constFirst()).absolutePath();
    const auto index = filters.indexOf(dialog.selectedNameFilter());
    SaveAsChoice choice;
    choice.path = dialog.selectedFiles().constFirst();
    choice.format = kSaveTypes[index < 0 ? 0 : index].format;
    return choice;
}

bool QtBrowserDialogs::askPrint(QWidget* parent, QPrinter& printer)
{
    // The dialog offers what the last print of this run went to: its file, or its printer.
    Remembered& last = remembered();
    if (!last.printFile.isEmpty())
        printer.setOutputFileName(last.printFile);
    else if (!last.printerName.isEmpty())
        printer.setPrinterName(last.printerName);
    QPrintDialog dialog(&printer, parent);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    last.printFile = printer.outputFileName();
    last.printerName = printer.printerName();
    return true;
}

}  // namespace pictarre
