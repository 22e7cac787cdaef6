#include "platform/dialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QStandardPaths>
#include <QUrl>

namespace pictarre {

QString qtNameFilter(const QString& filter)
{
    const auto bar = filter.indexOf(QLatin1Char('|'));
    if (bar < 0)
        return filter;
    QString patterns = filter.mid(bar + 1);
    patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
    return filter.left(bar) + QStringLiteral(" (") + patterns + QLatin1Char(')');
}

namespace {

// The folder the user chose a folder in last, for this run of the program.
QString& lastFolderPickerPlace()
{
    static QString place;
    return place;
}

}  // namespace

void sizeFileDialog(QFileDialog& dialog, QWidget* owner)
{
    // Large enough to read the names, sizes and dates of a file list: 900 × 600, or most of a
    // smaller screen.
    const QScreen* screen = owner ? owner->screen() : QGuiApplication::primaryScreen();
    QSize size(900, 600);
    if (screen)
        size = size.boundedTo(screen->availableSize() * 0.9);
    dialog.resize(size.expandedTo(dialog.minimumSizeHint()));
}

void addUserPlaces(QFileDialog& dialog)
{
    QList<QUrl> places{QUrl::fromLocalFile(QDir::homePath())};
    for (const auto location : {QStandardPaths::DesktopLocation, QStandardPaths::DocumentsLocation,
                                QStandardPaths::PicturesLocation, QStandardPaths::DownloadLocation}) {
        const QString folder = QStandardPaths::writableLocation(location);
        if (QFileInfo(folder).isDir() && !places.contains(QUrl::fromLocalFile(folder)))
            places.append(QUrl::fromLocalFile(folder));
    }
    for (const QUrl& place : dialog.sidebarUrls()) {
        if (!places.contains(place))
            places.append(place);
    }
    dialog.setSidebarUrls(places);
}

std::optional<QString> QtDialogs::chooseFolder(QWidget* owner, const QString& title)
{
    QFileDialog dialog(owner, title);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    // The first time at the top of the user's places, the home folder; then where the user
    // chose the last folder.
    QString& place = lastFolderPickerPlace();
    dialog.setDirectory(!place.isEmpty() && QFileInfo(place).isDir() ? place : QDir::homePath());
    addUserPlaces(dialog);
    sizeFileDialog(dialog, owner);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    place = dialog.directory().absolutePath();
    return dialog.selectedFiles().constFirst();
}

QString QtDialogs::chooseOpenFile(QWidget* owner, const QString& filter, const QString& initialFolder)
{
    QFileDialog dialog(owner);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilter(qtNameFilter(filter));
    // Where the user last opened a picture, else among the user's pictures.
    const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (!initialFolder.isEmpty())
        dialog.setDirectory(initialFolder);
    else
        dialog.setDirectory(QFileInfo(pictures).isDir() ? pictures : QDir::homePath());
    addUserPlaces(dialog);
    sizeFileDialog(dialog, owner);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().constFirst();
}

}  // namespace pictarre
