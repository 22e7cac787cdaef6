#include "app/windowfixture.h"

#include <QAction>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

#include "platform/webbrowser.h"
#include "support/sandbox.h"

namespace pictarre::test {

namespace {

const QString kCountLabel = QStringLiteral("图片总数：");

ProgramPaths pathsIn(const QString& folder)
{
    return ProgramPaths{folder, folder};
}

}  // namespace

WindowFixture::WindowFixture(const QString& folder)
    : folder_(folder.isEmpty() ? std::make_unique<QTemporaryDir>() : nullptr)
    , paths_(pathsIn(folder.isEmpty() ? folder_->path() : folder))
    , fakes_(std::make_unique<FakePlatform>())
    , window_(std::make_unique<frmMain>(fakes_->platform, paths_))
{
}

WindowFixture::WindowFixture(ProgramPaths paths)
    : paths_(std::move(paths))
    , fakes_(std::make_unique<FakePlatform>())
    , window_(std::make_unique<frmMain>(fakes_->platform, paths_))
{
}

WindowFixture::~WindowFixture()
{
    window_.reset();
    fakes_.reset();
}

bool WindowFixture::show()
{
    window_->show();
    return QTest::qWaitForWindowExposed(window_.get());
}

bool WindowFixture::showReady()
{
    return show() && waitForPage();
}

bool WindowFixture::waitForPage(int milliseconds)
{
    return QTest::qWaitFor([&] { return status(StatusPanel::Folder).startsWith(QStringLiteral("当前路径")); },
                           milliseconds);
}

WebBrowser& WindowFixture::Web() const
{
    return *control<WebBrowser>("Web");
}

WebBrowser& WindowFixture::Webt() const
{
    return *control<WebBrowser>("Webt");
}

QPlainTextEdit& WindowFixture::Text1() const
{
    return *control<QPlainTextEdit>("Text1");
}

QToolBar& WindowFixture::Toolbar1() const
{
    return *control<QToolBar>("Toolbar1");
}

StatusBar& WindowFixture::statusBar() const
{
    return *control<StatusBar>("sbStatusBar");
}

QAction* WindowFixture::menuItem(const char* name) const
{
    const QString wanted = QString::fromLatin1(name);
    if (auto* menu = window_->menuBar()->findChild<QMenu*>(wanted))
        return menu->menuAction();
    return window_->menuBar()->findChild<QAction*>(wanted);
}

QAction* WindowFixture::button(const char* key) const
{
    return Toolbar1().findChild<QAction*>(QString::fromLatin1(key), Qt::FindDirectChildrenOnly);
}

QToolButton* WindowFixture::toolButton(const char* key) const
{
    return qobject_cast<QToolButton*>(Toolbar1().widgetForAction(button(key)));
}

QString WindowFixture::status(StatusPanel panel) const
{
    return statusBar().text(panel);
}

int WindowFixture::shownCount() const
{
    const QString text = status(StatusPanel::Count);
    bool ok = false;
    const int count = text.startsWith(kCountLabel) ? text.mid(kCountLabel.size()).toInt(&ok) : -1;
    return ok ? count : -1;
}

void WindowFixture::click(const char* key)
{
    window_->Toolbar1_ButtonClick(QString::fromLatin1(key));
}

std::string WindowFixture::pageBytes() const
{
    return readFileBytes(paths_.pagePath().toStdString());
}

std::string WindowFixture::listFileBytes() const
{
    return readFileBytes(paths_.listFilePath().toStdString());
}

}  // namespace pictarre::test
