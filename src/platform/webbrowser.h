#pragma once

#include <memory>
#include <optional>

#include <QPointer>
#include <QString>
#include <QWebEngineView>

#include "gallery/gallery.h"
#include "platform/browserdialogs.h"
#include "platform/finddialog.h"

namespace pictarre {

class PrintJob;

// The commands the window asks a browser to carry out, numbered as the browser control
// numbers them. Each runs with the control's default option: the browser asks the user.
enum class BrowserCommand : int {
    SaveAs = 4,  // save the shown document under a name and a file type the user picks
    Print = 6,   // print the shown document after the print dialog
};

// The embedded browser control: a web view with the handful of operations and events the
// window uses, in the window's own units (twips, 15 to a pixel).
class WebBrowser : public QWebEngineView {
    Q_OBJECT
public:
    explicit WebBrowser(BrowserDialogs& dialogs, QWidget* parent = nullptr);
    ~WebBrowser() override;

    // Starts loading "about:blank", a local file or a folder (shown as the engine's file
    // listing), or any URL; returns at once. The end of the load is signalled by
    // DownloadComplete. A page or folder loaded again opens at its top.
    void Navigate(const QString& address);
    // Navigates now when the view is shown, otherwise when it is next shown: a view the user
    // has not looked at holds no page and no page process.
    void NavigateWhenShown(const QString& address);
    // What the view shows, or will show once shown.
    QUrl address() const;

    // Starts showing the gallery page the program wrote, through the gallery scheme: read in
    // the locale's encoding, its rows and pictures loaded by the screen. The view keeps the
    // gallery while it shows it; it saves and prints it from there.
    void showGallery(std::shared_ptr<const Gallery> gallery);

    // The local file the view shows (native bytes), or empty when it shows something else.
    QByteArray shownFile() const;

    // Carries out a browser command. Returns false when it is refused (unknown command, the
    // user cancelled, or a print is already under way); saveDone or printDone tells its end.
    bool ExecWB(BrowserCommand command);

    // A print is under way (preparing the page, rendering or painting).
    bool isPrinting() const { return printJob_ != nullptr; }
    // Stops the print under way: nothing more is printed, and a file it was writing is
    // removed; printDone(false) tells the end.
    void stopPrint();

    // The file the last save was asked to write.
    QString lastSavePath() const { return lastSavePath_; }

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

    // Picture windows opened from this view's links that are still open.
    QList<WebBrowser*> openedWindows() const;

    // Lets the keys of a browser's history work in this view: Alt+Left and Backspace go back,
    // Alt+Right forward.
    void enableHistoryKeys();

signals:
    // Load progress: Progress of ProgressMax, and Progress -1 when the load is over.
    void ProgressChange(int progress, int progressMax);
    // A load has finished, successfully or not.
    void DownloadComplete();
    // A print prepares a gallery: `prepared` of its `total` pictures have come. When all have,
    // the page is being printed.
    void printProgress(int prepared, int total);
    // The print started by BrowserCommand::Print has ended.
    void printDone(bool ok);
    // The save started by BrowserCommand::SaveAs has ended.
    void saveDone(bool ok);
    // A long save of a gallery (the page with its pictures, or an archive) has saved `done` of
    // its `total` pictures; told at its start and a few times a second after.
    void saveProgress(int done, int total);
    // A link opened a picture window.
    void windowOpened(pictarre::WebBrowser* view);
    // The process that showed the page ended without being asked to (out of memory, a crash):
    // the view stays empty until the next Navigate.
    void pageLost();

protected:
    QWebEngineView* createWindow(QWebEnginePage::WebWindowType type) override;
    void showEvent(QShowEvent* event) override;

private:
    struct PendingRender;

    bool saveAs();
    bool saveGallery(const QString& target, SaveFormat format);
    void followSave(QWebEnginePage* page, const QString& path);
    bool print();
    void endPrint(bool ok);
    WebBrowser* openPictureWindow(bool activate);

    BrowserDialogs& dialogs_;
    QPointer<FindDialog> findDialog_;
    std::unique_ptr<PrintJob> printJob_;
    std::shared_ptr<PendingRender> render_;
    QMetaObject::Connection saveWatch_;
    std::shared_ptr<int> alive_ = std::make_shared<int>();
    bool pageLost_ = false;
    QString lastSavePath_;
    QList<QPointer<WebBrowser>> windows_;
    std::shared_ptr<const Gallery> gallery_;  // the gallery shown, while it is shown
    bool toTop_ = false;                      // the page loading was shown before: scroll up
    std::optional<QString> whenShown_;        // the address to go to once the view is shown
};

}  // namespace pictarre
