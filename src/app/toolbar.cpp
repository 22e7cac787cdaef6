#include <QAction>
#include <QPlainTextEdit>

#include "app/frmmain.h"
#include "platform/webbrowser.h"

namespace pictarre {

void frmMain::Toolbar1_ButtonClick(const QString& key)
{
    state.PictureCount = 0;
    state.CurrentFolder.clear();
    state.ImageListText.clear();

    // Keys are compared exactly, letter case included; an unknown key selects nothing.
    if (key == QLatin1String("save")) {
        Web->ExecWB(4, 0);
    } else if (key == QLatin1String("find")) {
        find_Click();
    } else if (key == QLatin1String("print")) {
        Web->ExecWB(6, 0);
    } else if (key == QLatin1String("big")) {
        showOnly(Web);
    } else if (key == QLatin1String("small")) {
        showOnly(Webt);
    } else if (key == QLatin1String("list")) {
        showOnly(Text1);
    }
}

}  // namespace pictarre
