#pragma once

#include <QPointer>
#include <QString>
#include <QWebEngineView>

#include "platform/browserdialogs.h"
#include "platform/finddialog.h"

class QPrinter;

namespace pictarre {



// The embedded browser control: a web view with the handful of operations and events the
// window uses, in the window's own units (twips, 15 to a pixel).
class WebBrowser : public QWebEngineView {
    Q_OBJECT
public:
    explicit WebBrowser(BrowserDialogs& dialogs, QWidget* parent = nullptr);
    ~WebBrowser() override;

    // Starts loading "about:blank", a local file or a folder (shown as the engine's file
    // listing), or any URL; returns at once. The end of the load is signalled by
    // DownloadComplete.
    void Navigate(const QString& address);

    // The browser commands: 4 saves the shown document under a name the user picks, 6 prints it
    // after the print dialog. Returns false when the command is refused (unknown command, no
    // document, the user cancelled, or the command is already under way).
    bool ExecWB(int command, int option);

    // Takes the keyboard focus; fails (false) when the view is hidden.
    bool SetFocus();

    // Opens the find-in-page dialog over this view (non-modal; one per view).
    void showFindDialog();
    FindDialog* findDialog() const { return findDialog_; }

    // Size in twips. A negative size is refused and the old one stays.
    float widthTwips() const;
    float heightTwips() const;
    bool setWidthTwips(float twips);
    bool setHeightTwips(float twips);

    // Windows opened by links with target "_blank" that are still open.
    QList<WebBrowser*> openedWindows() const;

signals:
    // Load progress: Progress of ProgressMax, and Progress -1 when the load is over.
    void ProgressChange(int progress, int progressMax);
    // A load has finished, successfully or not.
    void DownloadComplete();
    // A print job started by ExecWB(6) has finished.
    void printDone(bool ok);
    // A save started by ExecWB(4) has finished.
    void saveDone(bool ok);
    // A link opened a new browser window.
    void windowOpened(pictarre::WebBrowser* view);
    // The process that showed the page ended without being asked to (out of memory, a crash):
    // the view is empty until the next Navigate.
    void pageLost();

protected:
    QWebEngineView* createWindow(QWebEnginePage::WebWindowType type) override;

private:
    bool saveAs();
    bool print();
    void printWhenPicturesArrive();

    BrowserDialogs& dialogs_;
    QPointer<FindDialog> findDialog_;
    QPrinter* printer_ = nullptr;
    bool pageLost_ = false;
    QList<QPointer<WebBrowser>> windows_;
};

// The text encoding for pages that declare none: the locale's, or UTF-8 where the locale names
// none (the C/POSIX locale).
QString localePageEncoding();

}  // namespace pictarre
