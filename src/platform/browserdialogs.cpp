#include "platform/browserdialogs.h"

#include <QFileDialog>
#include <QPrintDialog>
#include <QPrinter>

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

}  // namespace

std::optional<SaveAsChoice> QtBrowserDialogs::askSaveAs(QWidget* parent, const QString& suggestedName)
{
    QStringList filters;
    for (const auto& type : kSaveTypes)
        filters << QString::fromUtf8(type.filter);
    QFileDialog dialog(parent, QStringLiteral("保存网页"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilters(filters);
    dialog.selectFile(suggestedName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    const auto index = filters.indexOf(dialog.selectedNameFilter());
    SaveAsChoice choice;
    choice.path = dialog.selectedFiles().constFirst();
    choice.format = kSaveTypes[index < 0 ? 0 : index].format;
    return choice;
}

bool QtBrowserDialogs::askPrint(QWidget* parent, QPrinter& printer)
{
    QPrintDialog dialog(&printer, parent);
    return dialog.exec() == QDialog::Accepted;
}

}  // namespace pictarre
