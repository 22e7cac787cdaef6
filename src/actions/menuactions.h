#pragma once

#include <QString>

#include "platform/platform.h"

class QWidget;

namespace pictarre {

// The maker's fixed endpoints and name: the help text names the same addresses that the
// contact and web-site items open, and the about box credits the author.
struct Maker {
    static QString mailAddress();
    static QString webAddress();  // a site's root page, ending with "/"
    static QString authorName();
};

// The drive of the Windows folder, found the way the program always found it: the folder is
// written into a buffer of 50 blanks followed by a NUL, the trailing blanks and then the NUL are
// removed, and the first two characters are kept. A folder that does not fit leaves the buffer
// blank and gives an empty drive.
QString windowsDrive(const QString& windowsFolder);

// The folder that stands for the Windows folder on this system: the root "/".
QString systemFolder();

// The web-browser command line for a Windows drive: the drive, then the browser's standard
// install path, with no quotes and no doubled separator after a root drive such as "/".
QString browserCommandLine(const QString& drive);

// The help message for a window caption, exactly as it is shown.
QString helpText(const QString& caption);

// The shell shortcuts of the File menu and the help, contact and about items of the Help menu.
// Each handler hands one request to the platform and returns at once (the two boxes return
// when closed); none reports a failure.
class MenuActions {
public:
    // `owner` is the main window, whose caption and icon are read at each call; `programFolder`
    // is the folder of the executable, which holds the installed "sys" folder.
    MenuActions(Platform& platform, QWidget* owner, QString programFolder);

    void xian_Click();      // show the desktop
    void zhuo_Click();      // display settings
    void mypc_Click();      // the computer in the file manager
    void myfriend_Click();  // network places in the file manager
    void myie_Click();      // the web browser
    void email_Click();     // a new, empty mail message
    void mnuHelpSearchForHelpOn_Click();
    void lianxi_Click();    // a mail to the maker
    void wang_Click();      // the maker's web site
    void mnuHelpAbout_Click();

    // The Windows drive found at construction.
    const QString& drive() const { return drive_; }

private:
    QString caption() const;

    Platform& platform_;
    QWidget* owner_;
    QString programFolder_;
    QString drive_;
};

}  // namespace pictarre
