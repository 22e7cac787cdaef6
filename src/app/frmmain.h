#pragma once

#include <memory>
#include <optional>
#include <string>

#include <QHash>
#include <QMainWindow>

#include "app/sharedstate.h"
#include "gallery/makefile.h"
#include "platform/platform.h"
#include "platform/programpaths.h"

class QAction;
class QActionGroup;
class QFrame;
class QLabel;
class QPlainTextEdit;
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
// the status bar, with the menus and their handlers.
class frmMain : public QMainWindow {
    Q_OBJECT
public:
    frmMain(Platform& platform, ProgramPaths paths, QWidget* parent = nullptr);
    ~frmMain() override;

    // Controls, named as the window's design names them.
    WebBrowser* Web = nullptr;
    WebBrowser* Webt = nullptr;
    QPlainTextEdit* Text1 = nullptr;
    QToolBar* Toolbar1 = nullptr;
    QFrame* Picture1 = nullptr;
    QFrame* Pic = nullptr;
    StatusBar* sbStatusBar = nullptr;
    QLabel* Image1 = nullptr;
    FileListBox* File1 = nullptr;

    SharedState state;

    // The client area's size in twips (the toolbar and status bar lie inside it).
    float ScaleWidth() const;
    float ScaleHeight() const;
    // The progress bar's width and its frame's, in twips.
    float picWidth() const { return picWidthTwips_; }
    float picture1Width() const;
    void setPicWidth(float twips);

    // A menu item or toolbar button by its design name or key.
    QAction* menuItem(const QString& name) const { return menuItems_.value(name); }
    QAction* toolbarButton(const QString& key) const { return buttons_.value(key); }
    QList<QAction*> toolbarActions() const;

    const ProgramPaths& paths() const { return paths_; }
    // The gallery page, the working folder and the image list file (native paths).
    QString pagePath() const;
    QString workingFolder() const;
    QString listFilePath() const;
    // A path below the data folder, with one separator between them (none doubled at "/").
    QString dataPath(const char* relative) const;

    // Handlers of the window's events.
    void Form_Load();
    void Form_Resize();
    void ProgressChange(int progress, int progressMax);
    void DownloadComplete();
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
    // How often long work lets the window process its events (8 ms unless changed).
    void setYieldInterval(qint64 nanoseconds) { yieldInterval_ = nanoseconds; }
    void mnuFileExit_Click();
    void mnuFileSaveAs_Click();
    void find_Click();

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void createViews();
    void createToolBar();
    void createMenus();
    void createStatusBar();
    void layOutAlignedControls();
    void Form_QueryUnload();
    void showOnly(QWidget* view);
    void yieldOnce();
    bool yieldIfDue();
    void OpenPicture();
    void OpenPictureFile(const QString& chosen);
    void OpenFolder();
    void OpenFolderPath(const std::string& folder);
    static std::string chosenFolder(const QString& chosen);
    void showList(const std::string& text);
    std::optional<std::string> BrowseFolder();

    Platform& platform_;
    ProgramPaths paths_;
    FormArea* form_ = nullptr;
    QActionGroup* viewGroup_ = nullptr;
    QHash<QString, QAction*> menuItems_;
    QHash<QString, QAction*> buttons_;
    float picWidthTwips_ = 15.0f;
    bool busy_ = false;
    qint64 lastYield_ = 0;
    qint64 yieldInterval_ = 8'000'000;
    std::unique_ptr<SizeReader> FileSystem;
    std::unique_ptr<MenuActions> actions_;
};

}  // namespace pictarre
