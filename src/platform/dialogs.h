#pragma once

#include <optional>

#include <QString>

class QFileDialog;
class QWidget;

namespace pictarre {

// The program's own modal dialogs; tests replace them with fakes.
class Dialogs {
public:
    virtual ~Dialogs() = default;
    // The desktop's folder chooser, owned by `owner`: the chosen folder's path (real folders
    // only), or nothing when cancelled.
    virtual std::optional<QString> chooseFolder(QWidget* owner, const QString& title) = 0;
    // The Open dialog for one existing file: the chosen path, or empty when cancelled.
    // `filter` is "description|pattern;pattern"; `initialFolder` may be empty.
    virtual QString chooseOpenFile(QWidget* owner, const QString& filter, const QString& initialFolder) = 0;
};

class QtDialogs final : public Dialogs {
public:
    std::optional<QString> chooseFolder(QWidget* owner, const QString& title) override;
    QString chooseOpenFile(QWidget* owner, const QString& filter, const QString& initialFolder) override;
};

// Turns "description|*.a;*.b" into Qt's "description (*.a *.b)" name filter.
QString qtNameFilter(const QString& filter);

// Gives a file dialog a size at which its columns can be read, within `owner`'s screen.
void sizeFileDialog(QFileDialog& dialog, QWidget* owner);
// Puts the user's places first in a file dialog's side bar: the home folder, then those of the
// desktop, documents, pictures and downloads that exist, then the dialog's own.
void addUserPlaces(QFileDialog& dialog);

}  // namespace pictarre
