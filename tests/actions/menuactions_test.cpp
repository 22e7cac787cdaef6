#include <gtest/gtest.h>

#include <memory>
#include <ostream>

#include <QApplication>
#include <QIcon>
#include <QPixmap>
#include <QWidget>

#include "actions/menuactions.h"
#include "fakes/fakeplatform.h"

namespace pictarre {

// Readable failures for whole requests.
void PrintTo(const ShellOpenRequest& r, std::ostream* os)
{
    const auto text = [](const std::optional<QString>& s) {
        return s ? "\"" + s->toStdString() + "\"" : std::string("none");
    };
    *os << "{verb \"" << r.verb.toStdString() << "\", file \"" << r.file.toStdString()
        << "\", parameters " << text(r.parameters) << ", directory " << text(r.directory)
        << ", show " << static_cast<int>(r.showCommand) << "}";
}

}  // namespace pictarre

using namespace pictarre;
using namespace pictarre::test;

namespace {

QApplication& application()
{
    static int argc = 1;
    static char name[] = "menuactions_test";
    static char* argv[] = {name, nullptr};
    static QApplication app(argc, argv);
    return app;
}

const QString kProgramFolder = QStringLiteral("/opt/pictarre");

// Makes the application before the fixture's widgets exist.
struct WithApplication {
    WithApplication() { application(); }
};

class MenuActionsTest : public ::testing::Test, private WithApplication {
protected:
    MenuActionsTest()
    {
        QPixmap pixmap(32, 32);
        pixmap.fill(Qt::blue);
        owner.setWindowTitle(QStringLiteral("Pictarre"));
        owner.setWindowIcon(QIcon(pixmap));
    }

    QWidget owner;
    FakePlatform fakes;
    MenuActions actions{fakes.platform, &owner, kProgramFolder};
};

// One row per menu item: the handler and the one request it must make each time.
struct ShellRow {
    const char* item;
    void (MenuActions::*click)();
    std::optional<ShellOpenRequest> opened;
    std::optional<std::pair<QString, ShowCommand>> ran;
};

// A failing row prints what it expects, not its bytes.
void PrintTo(const ShellRow& row, std::ostream* os)
{
    *os << row.item << ": ";
    if (row.opened)
        pictarre::PrintTo(*row.opened, os);
    if (row.ran)
        *os << "run \"" << row.ran->first.toStdString() << "\" style " << static_cast<int>(row.ran->second);
}

const QString kEmpty = QString();

class ShellItemTest : public MenuActionsTest, public ::testing::WithParamInterface<ShellRow> {};

TEST_P(ShellItemTest, MakesExactlyItsRequestEachTimeItIsChosen)
{
    const ShellRow& row = GetParam();
    for (int i = 0; i < 3; ++i)
        (actions.*row.click)();

    const std::size_t expectedOpened = row.opened ? 3 : 0;
    const std::size_t expectedRan = row.ran ? 3 : 0;
    ASSERT_EQ(fakes.shell.opened.size(), expectedOpened);
    ASSERT_EQ(fakes.shell.ran.size(), expectedRan);
    for (const ShellOpenRequest& request : fakes.shell.opened)
        EXPECT_EQ(request, *row.opened);
    for (const auto& [commandLine, style] : fakes.shell.ran) {
        EXPECT_EQ(commandLine.toStdString(), row.ran->first.toStdString());
        EXPECT_EQ(static_cast<int>(style), static_cast<int>(row.ran->second));
    }
    EXPECT_TRUE(fakes.messages.shown.empty());
}

INSTANTIATE_TEST_SUITE_P(
    MenuItems, ShellItemTest,
    ::testing::Values(
        ShellRow{"xian", &MenuActions::xian_Click,
                 ShellOpenRequest{"Open", "/opt/pictarre/sys/viewdesk.scf", kEmpty, kEmpty, ShowCommand::Normal}, {}},
        ShellRow{"zhuo", &MenuActions::zhuo_Click, {},
                 std::pair{QStringLiteral("rundll32 shell32,Control_RunDLL desk.cpl"), ShowCommand::Minimized}},
        ShellRow{"mypc", &MenuActions::mypc_Click,
                 ShellOpenRequest{"open", "explorer", QStringLiteral("::{20D04FE0-3AEA-1069-A2D8-08002B30309D}"),
                                  std::nullopt, ShowCommand::Normal},
                 {}},
        ShellRow{"myfriend", &MenuActions::myfriend_Click,
                 ShellOpenRequest{"open", "explorer", QStringLiteral("::{208D2C60-3AEA-1069-A2D7-08002B30309D}"),
                                  std::nullopt, ShowCommand::Normal},
                 {}},
        // The system root stands for the Windows folder; its drive is the root itself.
        ShellRow{"myie", &MenuActions::myie_Click, {},
                 std::pair{QStringLiteral("/Program Files/Internet Explorer/iexplore.exe"), ShowCommand::Normal}},
        ShellRow{"email", &MenuActions::email_Click,
                 ShellOpenRequest{"Open", "mailto:", kEmpty, kEmpty, ShowCommand::Normal}, {}},
        ShellRow{"lianxi", &MenuActions::lianxi_Click,
                 ShellOpenRequest{"Open", QStringLiteral("mailto:pictarre@example.org?subject=联系作者"), kEmpty, kEmpty,
                                  ShowCommand::Normal},
                 {}},
        ShellRow{"wang", &MenuActions::wang_Click,
                 ShellOpenRequest{"open", "https://example.org/", std::nullopt, std::nullopt, ShowCommand::Hidden}, {}}),
    [](const ::testing::TestParamInfo<ShellRow>& info) { return std::string(info.param.item); });

TEST_F(MenuActionsTest, ContactAddressCarriesTheSubjectOnceRightAfterTheMailbox)
{
    actions.lianxi_Click();
    ASSERT_EQ(fakes.shell.opened.size(), 1u);
    const QString file = fakes.shell.opened[0].file;
    EXPECT_EQ(file.count(QStringLiteral("?subject=联系作者")), 1);
    EXPECT_EQ(file.indexOf(QLatin1Char('?')), 27);  // right after "mailto:pictarre@example.org"
    // Not percent-encoded: the Chinese subject stands as it is.
    EXPECT_FALSE(file.contains(QLatin1Char('%')));
    // The help text names the same mailbox.
    actions.mnuHelpSearchForHelpOn_Click();
    EXPECT_TRUE(fakes.messages.shown.back().text.contains(QStringLiteral("联系信箱：pictarre@example.org ")));
}

TEST_F(MenuActionsTest, HelpTextIsTheSevenPiecesByteForByte)
{
    actions.mnuHelpSearchForHelpOn_Click();
    ASSERT_EQ(fakes.messages.shown.size(), 1u);
    const auto& box = fakes.messages.shown[0];
    EXPECT_EQ(box.kind, QStringLiteral("information"));
    EXPECT_EQ(box.title.toStdString(), "Vistelle");

    const std::string expected =
        "    Pictarre是《Tarnwick》的子工具，只能随同《Tarnwick》一起安装、使用，非常感谢您的安装使用，"
        "请多提宝贵意见给我们\r\n\r\n《Tarnwick》网站：https://example.org/\r\n\r\n"
        "联系信箱：pictarre@example.org ";
    const QByteArray actual = box.text.toUtf8();
    EXPECT_EQ(std::string(actual.constData(), actual.size()), expected);
    EXPECT_TRUE(fakes.shell.opened.empty());
    EXPECT_TRUE(fakes.shell.ran.empty());
}

TEST_F(MenuActionsTest, HelpAndAboutReadTheCaptionAtTheTimeOfTheCall)
{
    owner.setWindowTitle(QStringLiteral("Renamed"));
    actions.mnuHelpSearchForHelpOn_Click();
    actions.mnuHelpAbout_Click();
    ASSERT_EQ(fakes.messages.shown.size(), 2u);
    EXPECT_TRUE(fakes.messages.shown[0].text.startsWith(QStringLiteral("    Renamed是")));
    EXPECT_EQ(fakes.messages.shown[1].text, QStringLiteral("Renamed"));
}

TEST_F(MenuActionsTest, AboutBoxGetsCaptionCreditLineAndTheWindowIcon)
{
    for (int i = 0; i < 3; ++i)
        actions.mnuHelpAbout_Click();
    ASSERT_EQ(fakes.messages.shown.size(), 3u);
    for (const auto& box : fakes.messages.shown) {
        EXPECT_EQ(box.kind, QStringLiteral("about"));
        EXPECT_EQ(box.text, QStringLiteral("Pictarre"));
        EXPECT_EQ(box.other.toStdString(), "由 Pictarre 开发组 创意设计，编程制作。 谢谢使用！");
        EXPECT_TRUE(box.hasIcon);
    }

    owner.setWindowIcon(QIcon());
    // A window without an icon of its own falls back to the application's, which has none here.
    actions.mnuHelpAbout_Click();
    EXPECT_FALSE(fakes.messages.shown.back().hasIcon);
}

TEST(WindowsDrive, IsTheFirstTwoCharactersOfTheWindowsFolder)
{
    EXPECT_EQ(windowsDrive(QStringLiteral("D:\\WINDOWS")), QStringLiteral("D:"));
    EXPECT_EQ(windowsDrive(QStringLiteral("C:\\Windows")), QStringLiteral("C:"));
    EXPECT_EQ(windowsDrive(QStringLiteral("/")), QStringLiteral("/"));
    // Only the buffer's padding after the NUL is trimmed, never the folder's own blanks.
    EXPECT_EQ(windowsDrive(QStringLiteral("E ")), QStringLiteral("E "));
}

TEST(WindowsDrive, EmptyOrTooLongFolderGivesNoDrive)
{
    EXPECT_EQ(windowsDrive(QString()), QString());
    const QString fits = QStringLiteral("F:\\") + QString(46, QLatin1Char('w'));
    ASSERT_EQ(fits.size(), 49);
    EXPECT_EQ(windowsDrive(fits), QStringLiteral("F:"));
    EXPECT_EQ(windowsDrive(fits + QLatin1Char('w')), QString());
}

TEST(BrowserCommandLine, FollowsTheDriveWithTheInstallPath)
{
    EXPECT_EQ(browserCommandLine(QStringLiteral("D:")),
              QStringLiteral("D:/Program Files/Internet Explorer/iexplore.exe"));
    EXPECT_EQ(browserCommandLine(QStringLiteral("/")),
              QStringLiteral("/Program Files/Internet Explorer/iexplore.exe"));
    EXPECT_EQ(browserCommandLine(QString()), QStringLiteral("/Program Files/Internet Explorer/iexplore.exe"));
}

}  // namespace
