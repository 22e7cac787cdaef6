#pragma once

#include <memory>
#include <optional>
#include <string>

#include <QMainWindow>

#include "app/sharedstate.h"
#include "gallery/makefile.h"
#include "platform/platform.h"
#include "platform/programpaths.h"

class QFrame;
class QLabel;
class QLockFile;
class QShortcut;
class QPlainTextEdit;
class QTextDocument;
class QToolBar;

namespace pictarre {

class FileListBox;
class MenuActions;
class FormArea;
class SizeReader;
class StatusBar;
class WebBrowser;

// The program's one window: the toolbar, the three content views lying on top of one another
// (the gallery page, the folder view and the plain list of found paths), the progress bar and
// the status bar, with the menus and their handlers. Its controls carry their design names as
// object names.
class frmMain : public QMainWindow {
    Q_OBJECT
public:
    frmMain(Platform& platform, ProgramPaths paths, QWidget* parent = nullptr);
    ~frmMain() override;

    // The client area's size in twips (the toolbar and status bar lie inside it).
    float ScaleWidth() const;
    float ScaleHeight() const;
    // The progress bar's width and its frame's, in twips.
    float picWidth() const { return picWidthTwips_; }
    float picture1Width() const;

    // Handlers of the window's events.
    void Form_Load();
    void Form_Resize();
    void ProgressChange(int progress, int progressMax);
    void DownloadComplete();
    // The gallery's page process died: the status bar says so.
    void galleryLost();
    // A print's progress and its end, in panel 1 and the cursor.
    void printProgress(int prepared, int total);
    void printEnded(bool ok);
    // `chosen`, for the three open commands, is the picture or folder the user already chose
    // (the program's argument): the command then runs on it instead of asking.
    void Toolbar1_ButtonClick(const QString& key, const QString& chosen = QString());
    // Opens the program's argument: a picture as the row-layout open button does with a chosen
    // picture, a folder as the folder search does with a chosen folder; a path that is missing or
    // cannot be read gets a message and nothing else.
    void openArgument(const QString& path);
    // The gallery page writer: writes the page from File1 or from the image list file.
    RunResult makefile();
    // True while a search or a page write is under way.
    bool isBusy() const { return busy_; }
    // Stops the search or page write under way (Esc, or the folder button pressed again): the
    // previous gallery page and image list file stay as they were, and panel 1 says so.
    void stopRun();
    // How often long work lets the window process its events (8 ms unless changed).
    void setYieldInterval(qint64 nanoseconds) { yieldInterval_ = nanoseconds; }
    void mnuFileExit_Click();
    // Save-as and find act on the gallery page, so they are refused while a run writes it.
    void mnuFileSaveAs_Click();
    void find_Click();

    // The shared list text as the last command left it. The page writer appends the rows it
    // writes after the list has been shown, so no control shows them; they matter only in
    // that nothing but the next command may clear them.
    const std::string& imageListText() const { return state.ImageListText; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    class BusyGuard;

    void createViews();
    void createToolBar();
    void createMenus();
    void createStatusBar();
    void layOutAlignedControls();
    void setPicWidth(float twips);
    void Form_QueryUnload();
    void showOnly(QWidget* view);
    bool yieldIfDue();
    void setActivity(const QString& text);
    void showActivity();
    void tellRefused();
    void setRunActionsEnabled(bool enabled);
    void saveProgress(int done, int total);
    void saveEnded(bool ok);
    bool commitRun(RunResult result);
    void discardRun();
    void reportStopped();
    void OpenPicture();
    void OpenPictureFile(const QString& chosen);
    void OpenFolder();
    void OpenFolderPath(const std::string& folder);
    static std::string chosenFolder(const QString& chosen);
    std::unique_ptr<QTextDocument> listDocument(const std::string& text);
    // Shows `document` in the list view (nothing when it is null); gives back the one shown before.
    std::unique_ptr<QTextDocument> showList(std::unique_ptr<QTextDocument> document);
    void showGallery();
    std::optional<std::string> BrowseFolder();

    Platform& platform_;
    ProgramPaths paths_;
    SharedState state;

    // Controls, named as the window's design names them.
    FormArea* form_ = nullptr;
    WebBrowser* Web = nullptr;
    WebBrowser* Webt = nullptr;
    QPlainTextEdit* Text1 = nullptr;
    QToolBar* Toolbar1 = nullptr;
    QFrame* Picture1 = nullptr;
    QFrame* Pic = nullptr;
    StatusBar* sbStatusBar = nullptr;
    QLabel* Image1 = nullptr;
    FileListBox* File1 = nullptr;

    float picWidthTwips_ = 15.0f;
    bool busy_ = false;
    bool searching_ = false;       // the busy run is still walking the folder tree
    bool stopRequested_ = false;   // the user asked the busy run to stop
    bool runCommitted_ = false;    // the busy run's page has replaced the previous one
    qint64 runStart_ = 0;
    qint64 lastTick_ = 0;          // when panel 1 last told the run's progress
    qint64 refusedAt_ = -1;        // when a command was last refused during the run
    QString activity_;             // what the busy run is doing, as panel 1 first said it
    QString countBeforeRun_;       // panel 3 before the run, shown again when it is stopped
    QString pendingList_;          // the list file a folder search wrote, until its page is whole
    bool saving_ = false;          // a save of the gallery is under way
    qint64 lastYield_ = 0;
    qint64 yieldInterval_ = 8'000'000;
    std::unique_ptr<SizeReader> FileSystem;
    std::shared_ptr<const Gallery> written_;  // the page as the last write left it
    std::unique_ptr<QLockFile> firstWindow_;  // held while this is the program's first window
    QShortcut* stopPrint_ = nullptr;          // Esc while a print is under way
    QString statusBeforePrint_;
    std::unique_ptr<MenuActions> actions_;
};

}  // namespace pictarre
