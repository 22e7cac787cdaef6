#pragma once

#include <memory>
#include <string>

#include <QString>
#include <QTemporaryDir>

#include "app/frmmain.h"
#include "app/statusbar.h"
#include "fakes/fakeplatform.h"
#include "support/artifacts.h"

class QAction;
class QPlainTextEdit;
class QToolBar;
class QToolButton;

namespace pictarre::test {

// The main window as the window tests drive it: built on the platform's fakes, with a program
// folder of its own, its controls found by their design names the way a user finds them by
// sight, and its state read through what it shows.
class WindowFixture {
public:
    // A window whose program and data folder is `folder`, or a temporary folder of its own.
    explicit WindowFixture(const QString& folder = {});
    explicit WindowFixture(ProgramPaths paths);
    ~WindowFixture();
    WindowFixture(const WindowFixture&) = delete;
    WindowFixture& operator=(const WindowFixture&) = delete;

    frmMain& window() { return *window_; }
    FakePlatform& fakes() { return *fakes_; }
    const ProgramPaths& paths() const { return paths_; }

    // Shows the window and waits until it is on screen.
    bool show();
    // Shows the window and waits for its start-up page to load, as the user sees it ready.
    bool showReady();
    // Waits until a page has loaded and the status bar names its folder.
    bool waitForPage(int milliseconds = 30000);

    // A control by its design name.
    template <typename T>
    T* control(const char* name) const
    {
        return window_->findChild<T*>(QString::fromLatin1(name));
    }
    WebBrowser& Web() const;
    WebBrowser& Webt() const;
    QPlainTextEdit& Text1() const;
    QToolBar& Toolbar1() const;
    StatusBar& statusBar() const;
    // A menu item by its name, a toolbar button by its key and the tool button that shows it.
    QAction* menuItem(const char* name) const;
    QAction* button(const char* key) const;
    QToolButton* toolButton(const char* key) const;

    // The text of a status panel, and the picture count it shows (-1 when it shows none).
    QString status(StatusPanel panel) const;
    int shownCount() const;
    // Runs a toolbar command as a click on its button would.
    void click(const char* key);

    // The gallery page's bytes as they are on disk.
    std::string pageBytes() const;
    std::string listFileBytes() const;

private:
    std::unique_ptr<QTemporaryDir> folder_;
    ProgramPaths paths_;
    std::unique_ptr<FakePlatform> fakes_;
    std::unique_ptr<frmMain> window_;
};

}  // namespace pictarre::test
