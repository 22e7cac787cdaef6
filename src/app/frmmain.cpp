#include "app/frmmain.h"

#include <QShortcut>

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLayout>
#include <QLockFile>
#include <QWebEnginePage>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QScreen>
#include <QStandardPaths>
#include <QToolBar>
#include <QToolButton>

#include "actions/menuactions.h"
#include "app/artwork.h"
#include "app/statusbar.h"
#include "gallery/getsize.h"
#include "platform/filelistbox.h"
#include "platform/twips.h"
#include "platform/webbrowser.h"

namespace pictarre {

// The window's client area below the menu bar, where controls sit at fixed positions the way
// the window was designed; it tells the window when its size changes, and when a control on
// it (the status bar, after a change of font) asks for another size.
class FormArea : public QWidget {
public:
    explicit FormArea(frmMain* form) : QWidget(form), form_(form) {}

protected:
    void resizeEvent(QResizeEvent* event) override
    {
        QWidget::resizeEvent(event);
        form_->Form_Resize();
    }

    bool event(QEvent* event) override
    {
        if (event->type() == QEvent::LayoutRequest)
            form_->Form_Resize();
        return QWidget::event(event);
    }

private:
    frmMain* form_;
};

namespace {

// A menu item and what choosing it runs: a handler of the window, one of the menu actions, or
// nothing (the item closes its menu and does nothing else).
struct MenuEntry {
    const char* name;
    const char* caption = nullptr;  // nullptr for a separator
    const char* shortcut = nullptr;
    void (frmMain::*onWindow)() = nullptr;
    void (MenuActions::*onAction)() = nullptr;
};

struct MenuDefinition {
    const char* name;
    const char* caption;
    std::initializer_list<MenuEntry> items;
};

const MenuDefinition kMenus[] = {
    {"mnuFile", "文件(&F)",
     {{.name = "mnuFileOpen", .caption = "打开(&O)..."},
      {.name = "print", .caption = "打印(&P)"},
      {.name = "mnuFileBar0"},
      {.name = "mnuFileSaveAs", .caption = "另存为(&A)...", .onWindow = &frmMain::mnuFileSaveAs_Click},
      {.name = "mnuFileBar1"},
      {.name = "xian", .caption = "显示桌面", .onAction = &MenuActions::xian_Click},
      {.name = "zhuo", .caption = "桌面设置", .onAction = &MenuActions::zhuo_Click},
      {.name = "mnuFileBar5"},
      {.name = "mypc", .caption = "我的电脑", .onAction = &MenuActions::mypc_Click},
      {.name = "myfriend", .caption = "网上邻居", .onAction = &MenuActions::myfriend_Click},
      {.name = "myie", .caption = "IE浏览器", .onAction = &MenuActions::myie_Click},
      {.name = "email", .caption = "电子邮件", .onAction = &MenuActions::email_Click},
      {.name = "mnuFileBar2"},
      {.name = "mnuFileExit", .caption = "退出(&X)", .onWindow = &frmMain::mnuFileExit_Click}}},
    {"mnuEdit", "编辑(&E)",
     {{.name = "mnuEditUndo", .caption = "撤消(&U)"},
      {.name = "mnuEditBar0"},
      {.name = "mnuEditCut", .caption = "剪切(&T)", .shortcut = "Ctrl+X"},
      {.name = "mnuEditCopy", .caption = "复制(&C)", .shortcut = "Ctrl+C"},
      {.name = "mnuEditPaste", .caption = "粘贴(&P)", .shortcut = "Ctrl+V"},
      {.name = "mnuEditBar1"},
      {.name = "find", .caption = "搜索", .shortcut = "Ctrl+F", .onWindow = &frmMain::find_Click}}},
    {"mnuTools", "工具(&T)", {{.name = "mnuToolsOptions", .caption = "选项(&O)..."}}},
    {"mnuHelp", "帮助(&H)",
     {{.name = "mnuHelpSearchForHelpOn", .caption = "帮助主题(&S)...",
       .onAction = &MenuActions::mnuHelpSearchForHelpOn_Click},
      {.name = "mnuHelpBar1"},
      {.name = "lianxi", .caption = "联系作者(&E)", .onAction = &MenuActions::lianxi_Click},
      {.name = "wang", .caption = "作者网站(&N)", .onAction = &MenuActions::wang_Click},
      {.name = "mnuHelpBar0"},
      {.name = "mnuHelpAbout", .caption = "关于(&A) ", .onAction = &MenuActions::mnuHelpAbout_Click}}},
};

struct ButtonDefinition {
    const char* key;  // nullptr for a separator
    const char* tooltip;
    int image;
    bool grouped;
};

const ButtonDefinition kButtons[] = {
    {"OpenImg", "打开图片目录（混排式，用于看小图片）", 2, false},
    {"OpenList", "打开图片目录（列表式，用于看大图片）", 4, false},
    {"Opendir", "打开图片目录(自动搜索子目录。。。)", 1, false},
    {nullptr, nullptr, 0, false},
    {"save", "另存图片", 3, false},
    {"find", "查找", 8, false},
    {nullptr, nullptr, 0, false},
    {"print", "打印", 9, false},
    {nullptr, nullptr, 0, false},
    {"big", "大图列表", 12, true},
    {"small", "小图列表", 10, true},
    {"list", "文件列表", 11, true},
};

// Design-time geometry, in twips.
constexpr float kClientWidth = 11880;
constexpr float kClientHeight = 7185;
constexpr float kToolbarHeight = 420;
constexpr float kStatusBarHeight = 255;
constexpr float kButtonWidth = 609;
constexpr float kButtonHeight = 582;
const QRectF kViewRect(0, 390, 7335, 5415);
const QRectF kPicture1Rect(7320, 50, 4215, 255);
const QRectF kPicRect(-10, -50, 15, 300);
const QRectF kImage1Rect(8040, 2160, 855, 735);
const QRectF kFile1Rect(7800, 1320, 2415, 450);

QRect pixelRect(const QRectF& r)
{
    return QRect(pixels(static_cast<float>(r.x())), pixels(static_cast<float>(r.y())),
                 pixels(static_cast<float>(r.width())), pixels(static_cast<float>(r.height())));
}

}  // namespace

namespace {

// A lock that the first open window of the program with this data folder holds; nothing when
// another window holds it. It lives in the user's runtime folder, named after the data folder.
std::unique_ptr<QLockFile> lockFirstWindow(const QString& dataFolder)
{
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (runtime.isEmpty())
        return std::make_unique<QLockFile>(QString());  // no place to tell: counted as the first
    const QByteArray key = QCryptographicHash::hash(dataFolder.toUtf8(), QCryptographicHash::Sha1).toHex().left(16);
    auto lock = std::make_unique<QLockFile>(runtime + QStringLiteral("/pictarre-window-") + QLatin1String(key)
                                            + QStringLiteral(".lock"));
    lock->setStaleLockTime(0);
    if (!lock->tryLock(0) && lock->error() == QLockFile::LockFailedError)
        return nullptr;
    return lock;
}

}  // namespace

frmMain::frmMain(Platform& platform, ProgramPaths paths, QWidget* parent)
    : QMainWindow(parent), platform_(platform), paths_(std::move(paths))
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Pictarre"));
    setWindowIcon(programIcon());
    form_ = new FormArea(this);
    setCentralWidget(form_);

    createViews();
    createToolBar();
    createStatusBar();
    createMenus();

    form_->resize(pixels(kClientWidth), pixels(kClientHeight));
    resize(pixels(kClientWidth), pixels(kClientHeight) + menuBar()->sizeHint().height());
    // The program's window opens centred on the screen; a second one, while the first is open,
    // goes where the desktop places new windows instead of exactly over it.
    firstWindow_ = lockFirstWindow(paths_.dataFolder);
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (firstWindow_ && screen) {
        QRect frame(QPoint(), size());
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    Form_Load();
}

frmMain::~frmMain() = default;

namespace {

// A control of the form, named and placed as the design has it, shown or hidden at start.
template <typename Control>
Control* place(Control* control, const char* name, const QRectF& rect, bool shown)
{
    control->setObjectName(QString::fromLatin1(name));
    control->setGeometry(pixelRect(rect));
    control->setVisible(shown);
    return control;
}

}  // namespace

void frmMain::createViews()
{
    // Created in the design's order; Web lies on top at start, Webt and Text1 hidden below it.
    Text1 = place(new QPlainTextEdit(form_), "Text1", kViewRect, false);
    Text1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Text1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Text1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    File1 = place(new FileListBox(form_), "File1", kFile1Rect, false);

    Web = place(new WebBrowser(platform_.browserDialogs, form_), "Web", kViewRect, true);
    connect(Web, &WebBrowser::ProgressChange, this, &frmMain::ProgressChange);
    connect(Web, &WebBrowser::DownloadComplete, this, &frmMain::DownloadComplete);
    connect(Web, &WebBrowser::pageLost, this, &frmMain::galleryLost);
    connect(Web, &WebBrowser::printProgress, this, &frmMain::printProgress);
    connect(Web, &WebBrowser::printDone, this, &frmMain::printEnded);
    connect(Web, &WebBrowser::saveProgress, this, &frmMain::saveProgress);
    connect(Web, &WebBrowser::saveDone, this, &frmMain::saveEnded);
    // Esc stops a print under way, as the toolbar's print button does then, and a search or
    // page write, as the folder button does then.
    stopPrint_ = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    stopPrint_->setEnabled(false);
    connect(stopPrint_, &QShortcut::activated, this, [this] {
        if (Web->isPrinting())
            Web->stopPrint();
        stopRun();
    });
    Webt = place(new WebBrowser(platform_.browserDialogs, form_), "Webt", kViewRect, false);
    // The folder view is browsed as a browser is: Alt+Left and Backspace go back.
    Webt->enableHistoryKeys();
    Image1 = place(new QLabel(form_), "Image1", kImage1Rect, false);

    setTabOrder(Web, Webt);
    setTabOrder(Webt, Text1);
}

void frmMain::createToolBar()
{
    Toolbar1 = new QToolBar(form_);
    Toolbar1->setObjectName(QStringLiteral("Toolbar1"));
    Toolbar1->setMovable(false);
    Toolbar1->setFloatable(false);
    Toolbar1->setIconSize(QSize(16, 16));
    Toolbar1->setToolButtonStyle(Qt::ToolButtonIconOnly);
    Toolbar1->setStyleSheet(QStringLiteral("QToolBar#Toolbar1 { border: 0; padding: 0; spacing: 0; }"));
    Toolbar1->layout()->setContentsMargins(1, 1, 1, 1);

    auto* viewGroup = new QActionGroup(this);
    viewGroup->setExclusive(true);
    for (const auto& def : kButtons) {
        if (def.key == nullptr) {
            Toolbar1->addSeparator();
            continue;
        }
        const QString key = QString::fromLatin1(def.key);
        // Owned by the toolbar, so that a button and a menu item of the same name ("find",
        // "print") are found apart.
        auto* button = new QAction(QIcon(toolbarImage(def.image)), QString(), Toolbar1);
        button->setObjectName(key);
        button->setData(key);
        button->setToolTip(QString::fromUtf8(def.tooltip));
        if (def.grouped) {
            button->setCheckable(true);
            viewGroup->addAction(button);
        }
        Toolbar1->addAction(button);
        // Buttons keep their designed width; their height is held to the toolbar's, which the
        // views below it start right under.
        if (auto* widget = qobject_cast<QToolButton*>(Toolbar1->widgetForAction(button)))
            widget->setFixedSize(pixels(kButtonWidth), std::min(pixels(kButtonHeight), pixels(kToolbarHeight) - 2));
        connect(button, &QAction::triggered, this, [this, key] { Toolbar1_ButtonClick(key); });
        if (key == QLatin1String("big"))
            button->setChecked(true);
    }

    // The progress frame sits inside the toolbar, the bar inside the frame.
    Picture1 = new QFrame(Toolbar1);
    Picture1->setObjectName(QStringLiteral("Picture1"));
    Picture1->setFrameStyle(QFrame::Box | QFrame::Plain);
    Picture1->setAutoFillBackground(true);
    Picture1->setPalette(QPalette(QColor(255, 255, 255)));
    Picture1->setStyleSheet(QStringLiteral("#Picture1 { background: rgb(255,255,255); border: 1px solid black; }"));
    Picture1->setGeometry(pixelRect(kPicture1Rect));
    Pic = new QFrame(Picture1);
    Pic->setObjectName(QStringLiteral("Pic"));
    Pic->setStyleSheet(QStringLiteral("#Pic { background: rgb(0,0,255); border: 1px solid black; }"));
    Pic->setGeometry(pixelRect(kPicRect));
    picWidthTwips_ = static_cast<float>(kPicRect.width());
}

void frmMain::createStatusBar()
{
    sbStatusBar = new StatusBar(form_);
    sbStatusBar->setObjectName(QStringLiteral("sbStatusBar"));
}

void frmMain::createMenus()
{
    actions_ = std::make_unique<MenuActions>(platform_, this, paths_.programFolder);
    for (const auto& menuDef : kMenus) {
        QMenu* menu = menuBar()->addMenu(QString::fromUtf8(menuDef.caption));
        menu->setObjectName(QString::fromLatin1(menuDef.name));
        for (const auto& item : menuDef.items) {
            QAction* action = item.caption ? menu->addAction(QString::fromUtf8(item.caption))
                                           : menu->addSeparator();
            action->setObjectName(QString::fromLatin1(item.name));
            if (item.shortcut)
                action->setShortcut(QKeySequence(QString::fromLatin1(item.shortcut)));
            if (item.onWindow)
                connect(action, &QAction::triggered, this, [this, run = item.onWindow] { (this->*run)(); });
            else if (item.onAction)
                connect(action, &QAction::triggered, this,
                        [actions = actions_.get(), run = item.onAction] { (actions->*run)(); });
        }
    }
}

float frmMain::ScaleWidth() const
{
    return isMinimized() ? 0.0f : twips(form_->width());
}

float frmMain::ScaleHeight() const
{
    return isMinimized() ? 0.0f : twips(form_->height());
}

float frmMain::picture1Width() const
{
    return twips(Picture1->width());
}

void frmMain::setPicWidth(float value)
{
    if (!(value >= 0.0f) || value > 1.0e7f)
        return;
    picWidthTwips_ = value;
    Pic->resize(pixels(value), Pic->height());
}

void frmMain::layOutAlignedControls()
{
    // The toolbar is aligned to the top and the status bar to the bottom of the client area.
    Toolbar1->setGeometry(0, 0, form_->width(), pixels(kToolbarHeight));
    const int statusHeight = sbStatusBar->sizeHint().height();
    sbStatusBar->setGeometry(0, form_->height() - statusHeight, form_->width(), statusHeight);
    Toolbar1->raise();
    sbStatusBar->raise();
}

void frmMain::Form_Load()
{
    // The size reader stands in for the file-system helper object the size queries go through.
    FileSystem = std::make_unique<SizeReader>(defaultSizeQueries([this] { return Web->widthTwips(); }));
    Web->Navigate(QStringLiteral("about:blank"));
    QDir().mkpath(paths_.workingFolder());
    if (state.Unloading)
        close();
    else
        state.Unloading = false;
}

void frmMain::Form_Resize()
{
    layOutAlignedControls();
    const float width = ScaleWidth();
    // The 650 twips the views leave below their top hold the status bar at its designed 255;
    // a bar that the font makes taller takes its extra height from the views, so that no view
    // ends behind it. As designed, a window too short for the views keeps their heights.
    const float barExtra = std::max(0.0f, twips(sbStatusBar->height()) - kStatusBarHeight);
    const float height = ScaleHeight() - 650.0f - barExtra;
    Web->setWidthTwips(width);
    Web->setHeightTwips(height);
    Webt->setWidthTwips(width);
    Webt->setHeightTwips(height);
    setWidthTwips(*Text1, width);
    setHeightTwips(*Text1, Web->heightTwips());
}

void frmMain::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    // Minimising leaves a client area of no size; restoring brings the real one back.
    if (event->type() == QEvent::WindowStateChange) {
        Form_Resize();
        // The engine keeps drawing, and animating, pages of a minimised window unless told
        // that they are out of sight.
        for (WebBrowser* view : {Web, Webt})
            view->page()->setVisible(view->isVisible() && !isMinimized());
    }
}

void frmMain::ProgressChange(int progress, int progressMax)
{
    if (progressMax != 0) {
        const double fill = static_cast<double>(picture1Width()) * progress / progressMax;
        setPicWidth(static_cast<float>(fill));
    }
    if (picWidth() >= picture1Width())
        setPicWidth(0.0f);
    // The report arrives from the browser engine's own event; returning from it lets the
    // window process its pending events. Pumping them here instead would run whole commands
    // nested inside the engine's callback.
}

void frmMain::galleryLost()
{
    // The engine's page process died (out of memory, a crash): say so where the folder would
    // stand; the next command shows a gallery again in a new process.
    sbStatusBar->setText(StatusPanel::Folder, QStringLiteral("图片页面意外关闭（可能是内存不足），请重新打开图片。"));
    setPicWidth(0.0f);
}

void frmMain::printProgress(int prepared, int total)
{
    // A print of a large gallery waits for its pictures: panel 1 says how far it is, the
    // cursor shows that the program works, and Esc or the print button stops it.
    if (!stopPrint_->isEnabled()) {
        stopPrint_->setEnabled(true);
        statusBeforePrint_ = sbStatusBar->text(StatusPanel::Folder);
        setCursor(Qt::BusyCursor);
    }
    sbStatusBar->setText(StatusPanel::Folder,
                         prepared < total ? QStringLiteral("正在准备打印：已载入 %1 / %2 张图片（按 Esc 停止）").arg(prepared).arg(total)
                                          : QStringLiteral("正在打印……（按 Esc 停止）"));
}

void frmMain::printEnded(bool)
{
    if (!stopPrint_->isEnabled())
        return;
    stopPrint_->setEnabled(busy_);
    sbStatusBar->setText(StatusPanel::Folder, statusBeforePrint_);
    if (!busy_)
        unsetCursor();
}

void frmMain::setRunActionsEnabled(bool enabled)
{
    // The commands that would touch the run's page, list or count cannot run meanwhile: they
    // look so, and their tooltips say why. The folder button stops the run instead.
    static const QString kWhy = QStringLiteral("（正在搜索或写入图片页面，请等它完成，或按 Esc 停止）");
    const auto hold = [&](QAction* action) {
        if (!action)
            return;
        if (!enabled && !action->property("toolTipAtRest").isValid())
            action->setProperty("toolTipAtRest", action->toolTip());
        const QString atRest = action->property("toolTipAtRest").toString();
        action->setEnabled(enabled);
        action->setToolTip(enabled ? atRest : atRest + kWhy);
    };
    for (const char* key : {"OpenImg", "OpenList", "save", "find", "print"})
        hold(Toolbar1->findChild<QAction*>(QLatin1String(key), Qt::FindDirectChildrenOnly));
    for (const char* name : {"mnuFileSaveAs", "find", "print"})
        hold(menuBar()->findChild<QAction*>(QLatin1String(name)));
    if (auto* opendir = Toolbar1->findChild<QAction*>(QStringLiteral("Opendir"), Qt::FindDirectChildrenOnly)) {
        if (!opendir->property("toolTipAtRest").isValid())
            opendir->setProperty("toolTipAtRest", opendir->toolTip());
        opendir->setToolTip(enabled ? opendir->property("toolTipAtRest").toString()
                                    : QStringLiteral("停止搜索和写入图片页面（Esc）"));
    }
    stopPrint_->setEnabled(!enabled || Web->isPrinting());
}

void frmMain::saveProgress(int done, int total)
{
    // A save that copies every picture takes a while: the pointer and panel 1 say that it goes on.
    if (!saving_) {
        saving_ = true;
        QApplication::setOverrideCursor(Qt::BusyCursor);
    }
    sbStatusBar->setText(StatusPanel::Folder, QStringLiteral("正在保存网页：已保存 %1 / %2 张图片……").arg(done).arg(total));
    if (!busy_ && total > 0)
        setPicWidth(static_cast<float>(static_cast<double>(picture1Width()) * done / total));
}

void frmMain::saveEnded(bool ok)
{
    if (std::exchange(saving_, false)) {
        QApplication::restoreOverrideCursor();
        if (!busy_)
            setPicWidth(0.0f);
    }
    const QString name = QDir::toNativeSeparators(Web->lastSavePath());
    sbStatusBar->setText(StatusPanel::Folder, ok ? QStringLiteral("网页已保存：%1").arg(name)
                                                 : QStringLiteral("网页未能保存：%1").arg(name));
}

void frmMain::DownloadComplete()
{
    sbStatusBar->setText(StatusPanel::Folder,
                         QStringLiteral("当前路径： ") + QFile::decodeName(QByteArray::fromStdString(state.CurrentFolder)));
    sbStatusBar->showPictureCount(state.PictureCount);
}

void frmMain::showOnly(QWidget* view)
{
    for (QWidget* candidate : {static_cast<QWidget*>(Web), static_cast<QWidget*>(Webt), static_cast<QWidget*>(Text1)})
        candidate->setVisible(candidate == view);
}

void frmMain::mnuFileExit_Click()
{
    close();
}

void frmMain::mnuFileSaveAs_Click()
{
    // A page still being written is no page to save: refused while a run is under way, from the
    // menu as from the toolbar.
    if (busy_) {
        tellRefused();
        return;
    }
    Web->ExecWB(BrowserCommand::SaveAs);
}

void frmMain::find_Click()
{
    if (busy_) {
        tellRefused();
        return;
    }
    // The find dialog opens over the gallery only when it can take the focus; a hidden gallery
    // ends the command without effect (sending Ctrl+F to the window would choose this again).
    if (!Web->SetFocus())
        return;
    Web->showFindDialog();
}

void frmMain::Form_QueryUnload()
{
    // A close request is final: running commands see the flag at their next yield and stop,
    // closing their files on the way out.
    state.Unloading = true;
}

void frmMain::closeEvent(QCloseEvent* event)
{
    Form_QueryUnload();
    // Pictures opened from the gallery in windows of their own close with the program.
    for (WebBrowser* view : {Web, Webt}) {
        for (WebBrowser* opened : view->openedWindows())
            opened->close();
    }
    event->accept();
    QMainWindow::closeEvent(event);
}

}  // namespace pictarre
