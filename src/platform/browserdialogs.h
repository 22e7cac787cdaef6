#pragma once

#include <optional>

#include <QString>

class QPrinter;
class QWidget;

namespace pictarre {

// How a page is saved: the whole page with its files, the HTML alone, one archive file, or
// the page's text.
enum class SaveFormat { CompletePage, HtmlOnly, SingleFile, PlainText };

struct SaveAsChoice {
    QString path;
    SaveFormat format = SaveFormat::CompletePage;
};

// The modal dialogs of the browser's own commands; tests replace them.
class BrowserDialogs {
public:
    virtual ~BrowserDialogs() = default;
    // Asks where and how to save the shown document; nothing when cancelled.
    virtual std::optional<SaveAsChoice> askSaveAs(QWidget* parent, const QString& suggestedName) = 0;
    // Shows the print dialog for `printer`; false when cancelled.
    virtual bool askPrint(QWidget* parent, QPrinter& printer) = 0;
};

// The real dialogs: Qt's file dialog with the browser's file types, and Qt's print dialog.
class QtBrowserDialogs final : public BrowserDialogs {
public:
    std::optional<SaveAsChoice> askSaveAs(QWidget* parent, const QString& suggestedName) override;
    bool askPrint(QWidget* parent, QPrinter& printer) override;
};

}  // namespace pictarre
