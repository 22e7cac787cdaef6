#include <QAction>
#include <QPlainTextEdit>

#include "app/frmmain.h"
#include "platform/webbrowser.h"

namespace pictarre {

namespace {

bool isViewKey(const QString& key)
{
    return key == QLatin1String("big") || key == QLatin1String("small") || key == QLatin1String("list");
}

}  // namespace

void frmMain::Toolbar1_ButtonClick(const QString& key, const QString& chosen)
{
    // While a search or a page write runs, its count, list and page must not be touched: only
    // the views can be switched, the folder button stops the run, and every other button is
    // refused with a word in panel 1 (the window disables them meanwhile).
    if (busy_ && !isViewKey(key)) {
        key == QLatin1String("Opendir") ? stopRun() : tellRefused();
        return;
    }
    if (!busy_) {
        state.PictureCount = 0;
        state.CurrentFolder.clear();
        state.ImageListText.clear();
    }

    // Keys are compared exactly, letter case included; an unknown key selects nothing.
    if (key == QLatin1String("OpenImg")) {
        state.ListLayout = false;
        chosen.isEmpty() ? OpenPicture() : OpenPictureFile(chosen);
    } else if (key == QLatin1String("OpenList")) {
        state.ListLayout = true;
        chosen.isEmpty() ? OpenPicture() : OpenPictureFile(chosen);
    } else if (key == QLatin1String("Opendir")) {
        chosen.isEmpty() ? OpenFolder() : OpenFolderPath(chosenFolder(chosen));
    } else if (key == QLatin1String("save")) {
        mnuFileSaveAs_Click();
    } else if (key == QLatin1String("find")) {
        find_Click();
    } else if (key == QLatin1String("print")) {
        // Pressed again while a print is under way, it stops that print.
        Web->isPrinting() ? Web->stopPrint() : static_cast<void>(Web->ExecWB(BrowserCommand::Print));
    } else if (key == QLatin1String("big")) {
        showOnly(Web);
    } else if (key == QLatin1String("small")) {
        showOnly(Webt);
    } else if (key == QLatin1String("list")) {
        showOnly(Text1);
    }
}

}  // namespace pictarre
