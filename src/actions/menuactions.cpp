#include "actions/menuactions.h"

#include <QDir>
#include <QIcon>
#include <QWidget>

namespace pictarre {

namespace {

constexpr qsizetype kFolderBufferLength = 50;

// A text of length zero, as opposed to no text at all (std::nullopt).
std::optional<QString> emptyText()
{
    return QString();
}

}  // namespace

QString Maker::mailAddress()
{
    return QStringLiteral("pictarre@example.org");
}

QString Maker::webAddress()
{
    return QStringLiteral("https://example.org/");
}

QString Maker::authorName()
{
    return QStringLiteral("Pictarre 开发组");
}

QString windowsDrive(const QString& windowsFolder)
{
    QString buffer(kFolderBufferLength, QLatin1Char(' '));
    // The system writes the folder and its NUL only when both fit; else it leaves the buffer alone.
    if (windowsFolder.size() + 1 <= kFolderBufferLength)
        buffer.replace(0, windowsFolder.size() + 1, windowsFolder + QChar(u'\0'));
    while (buffer.endsWith(QLatin1Char(' ')))
        buffer.chop(1);
    buffer.chop(1);
    return buffer.left(2);
}

QString systemFolder()
{
    return QDir::rootPath();
}

QString browserCommandLine(const QString& drive)
{
    const QString installPath = QStringLiteral("/Program Files/Internet Explorer/iexplore.exe");
    return drive.endsWith(QLatin1Char('/')) ? drive + installPath.mid(1) : drive + installPath;
}

QString helpText(const QString& caption)
{
    const QString paragraph = QStringLiteral("\r\n\r\n");
    return QStringLiteral("    ") + caption
        + QStringLiteral("是《Tarnwick》的子工具，只能随同《Tarnwick》一起安装、使用，"
                         "非常感谢您的安装使用，请多提宝贵意见给我们")
        + paragraph + QStringLiteral("《Tarnwick》网站：") + Maker::webAddress()
        + paragraph + QStringLiteral("联系信箱：") + Maker::mailAddress() + QStringLiteral(" ");
}

MenuActions::MenuActions(Platform& platform, QWidget* owner, QString programFolder)
    : platform_(platform)
    , owner_(owner)
    , programFolder_(std::move(programFolder))
    , drive_(windowsDrive(systemFolder()))
{
}

QString MenuActions::caption() const
{
    return owner_ ? owner_->windowTitle() : QString();
}

void MenuActions::xian_Click()
{
    platform_.shell.openDocument({QStringLiteral("Open"), programFolder_ + QStringLiteral("/sys/viewdesk.scf"),
                                  emptyText(), emptyText(), ShowCommand::Normal});
}

void MenuActions::zhuo_Click()
{
    platform_.shell.runProgram(QStringLiteral("rundll32 shell32,Control_RunDLL desk.cpl"), ShowCommand::Minimized);
}

void MenuActions::mypc_Click()
{
    platform_.shell.openDocument({QStringLiteral("open"), QStringLiteral("explorer"),
                                  QStringLiteral("::{20D04FE0-3AEA-1069-A2D8-08002B30309D}"),
                                  std::nullopt, ShowCommand::Normal});
}

void MenuActions::myfriend_Click()
{
    platform_.shell.openDocument({QStringLiteral("open"), QStringLiteral("explorer"),
                                  QStringLiteral("::{208D2C60-3AEA-1069-A2D7-08002B30309D}"),
                                  std::nullopt, ShowCommand::Normal});
}

void MenuActions::myie_Click()
{
    platform_.shell.runProgram(browserCommandLine(drive_), ShowCommand::Normal);
}

void MenuActions::email_Click()
{
    platform_.shell.openDocument({QStringLiteral("Open"), QStringLiteral("mailto:"), emptyText(),
                                  emptyText(), ShowCommand::Normal});
}

void MenuActions::mnuHelpSearchForHelpOn_Click()
{
    platform_.messages.information(owner_, QStringLiteral("Vistelle"), helpText(caption()));
}

void MenuActions::lianxi_Click()
{
    platform_.shell.openDocument({QStringLiteral("Open"),
                                  QStringLiteral("mailto:") + Maker::mailAddress()
                                      + QStringLiteral("?subject=联系作者"),
                                  emptyText(), emptyText(), ShowCommand::Normal});
}

void MenuActions::wang_Click()
{
    platform_.shell.openDocument({QStringLiteral("open"), Maker::webAddress(), std::nullopt,
                                  std::nullopt, ShowCommand::Hidden});
}

void MenuActions::mnuHelpAbout_Click()
{
    platform_.messages.about(owner_, caption(),
                             QStringLiteral("由 ") + Maker::authorName()
                                 + QStringLiteral(" 创意设计，编程制作。 谢谢使用！"),
                             owner_ ? owner_->windowIcon() : QIcon());
}

}  // namespace pictarre
