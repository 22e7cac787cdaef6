#include <cstdio>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QPlainTextDocumentLayout>
#include <QPlainTextEdit>
#include <QTextDocument>
#include <QTextCursor>

#include "app/frmmain.h"
#include "app/statusbar.h"
#include "collect/listfile.h"
#include "collect/paths.h"
#include "collect/search.h"
#include "gallery/makefile.h"
#include "platform/filelistbox.h"
#include "platform/webbrowser.h"

namespace pictarre {

namespace {

const QString kSettingsApplication = QStringLiteral("Quillmark");
const QString kSettingsSection = QStringLiteral("mypic");
const QString kSettingsKey = QStringLiteral("filepath");
const QString kOpenFilter = QStringLiteral("图片(BMP,JPG,GIF)|*.bmp;*.jpg;*.gif");
const QString kFolderTitle = QStringLiteral("请您在下面选择一个文件夹的路径：");

std::string nativeBytes(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

QString displayText(const std::string& bytes)
{
    return QFile::decodeName(QByteArray::fromStdString(bytes));
}

QElapsedTimer& clock()
{
    static QElapsedTimer timer = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return timer;
}

}  // namespace

// How often panel 1 tells a long run's progress, and how long a refusal stays there.
constexpr qint64 kTickInterval = 250'000'000;
constexpr qint64 kRefusalShown = 3'000'000'000;
// One sweep of the progress bar while the search walks: it cannot know how much is left.
constexpr qint64 kSweepPeriod = 1'500'000'000;

// Marks a search or page write under way: the window is busy, with the hourglass pointer over
// all of it (the browser views included), the commands that cannot run meanwhile disabled, and
// Esc stopping the run, for as long as the guard lives. The work's first yield comes one
// interval after its start, its first progress report one tick after it. Everything comes back
// on every way out.
class frmMain::BusyGuard {
public:
    explicit BusyGuard(frmMain& window) : window_(window)
    {
        window_.busy_ = true;
        window_.stopRequested_ = false;
        window_.runCommitted_ = false;
        window_.refusedAt_ = -1;
        window_.runStart_ = window_.lastTick_ = window_.lastYield_ = clock().nsecsElapsed();
        window_.setCursor(Qt::WaitCursor);
        QApplication::setOverrideCursor(Qt::WaitCursor);
        window_.setRunActionsEnabled(false);
    }
    ~BusyGuard()
    {
        window_.busy_ = false;
        window_.searching_ = false;
        window_.setRunActionsEnabled(true);
        QApplication::restoreOverrideCursor();
        window_.unsetCursor();
    }
    BusyGuard(const BusyGuard&) = delete;
    BusyGuard& operator=(const BusyGuard&) = delete;

private:
    frmMain& window_;
};

bool frmMain::yieldIfDue()
{
    const qint64 now = clock().nsecsElapsed();
    // Events are pumped at most every yieldInterval_ during long work: often enough to keep the
    // window responsive, rarely enough that the pumping costs little next to the work.
    if (now - lastYield_ >= yieldInterval_) {
        // The run's progress is told by time, a few times a second, never per entry.
        if (busy_ && now - lastTick_ >= kTickInterval) {
            lastTick_ = now;
            showActivity();
        }
        QCoreApplication::processEvents();
        lastYield_ = clock().nsecsElapsed();
    }
    // Whether the work goes on: not once the window has been asked to close or the user has
    // stopped the run.
    return !state.Unloading && !stopRequested_;
}

void frmMain::setActivity(const QString& text)
{
    activity_ = text;
    sbStatusBar->setText(StatusPanel::Folder, text);
}

void frmMain::showActivity()
{
    const qint64 now = clock().nsecsElapsed();
    QString text = activity_;
    if (searching_) {
        text += QStringLiteral("已找到 %1 张图片").arg(state.PictureCount);
        sbStatusBar->showPictureCount(state.PictureCount);
        // How much of the tree is left is unknown: the bar sweeps to show that the walk goes on.
        const double phase = static_cast<double>((now - runStart_) % kSweepPeriod) / kSweepPeriod;
        setPicWidth(static_cast<float>(picture1Width() * phase));
    }
    if (refusedAt_ >= 0 && now - refusedAt_ < kRefusalShown)
        text += QStringLiteral("。请等它完成后再试，或按 Esc 停止");
    else
        text += QStringLiteral("（按 Esc 停止）");
    sbStatusBar->setText(StatusPanel::Folder, text);
}

void frmMain::tellRefused()
{
    refusedAt_ = clock().nsecsElapsed();
    showActivity();
}

void frmMain::stopRun()
{
    // Once the run's page has taken its place there is nothing left to keep whole.
    if (busy_ && !runCommitted_)
        stopRequested_ = true;
}

void frmMain::reportStopped()
{
    setPicWidth(0.0f);
    sbStatusBar->setText(StatusPanel::Count, countBeforeRun_);
    sbStatusBar->setText(StatusPanel::Folder, searching_ || state.UseSearchList
                                                  ? QStringLiteral("已停止搜索：原来的图片页面和文件列表保持不变")
                                                  : QStringLiteral("已停止：原来的图片页面保持不变"));
}

std::unique_ptr<QTextDocument> frmMain::listDocument(const std::string& text)
{
    // A long list is put in piece by piece, each piece decoded on its own, with the window's
    // events between the pieces: decoding or laying out tens of thousands of lines at once
    // would leave the window deaf for a noticeable time. It goes into a document of its own,
    // which the list view shows once it is whole.
    constexpr std::size_t kPiece = 1 << 16;
    auto document = std::make_unique<QTextDocument>();
    document->setDocumentLayout(new QPlainTextDocumentLayout(document.get()));
    document->setDefaultFont(Text1->document()->defaultFont());
    document->setUndoRedoEnabled(false);
    QTextCursor cursor(document.get());
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t lineEnd = text.find('\n', std::min(text.size(), start + kPiece));
        const std::size_t end = lineEnd == std::string::npos ? text.size() : lineEnd + 1;
        QString piece = displayText(text.substr(start, end - start));
        piece.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        cursor.movePosition(QTextCursor::End);
        cursor.insertText(piece);
        start = end;
        if (!yieldIfDue())
            return nullptr;
    }
    document->setUndoRedoEnabled(true);
    return document;
}

std::unique_ptr<QTextDocument> frmMain::showList(std::unique_ptr<QTextDocument> document)
{
    if (!document)
        return nullptr;
    // The view deletes a document of its own when given another: the one shown so far is taken
    // out of its hands first, so that a stopped run can show it again.
    std::unique_ptr<QTextDocument> previous(Text1->document());
    previous->setParent(nullptr);
    document->setParent(Text1);
    Text1->setDocument(document.release());
    return previous;
}

std::string frmMain::chosenFolder(const QString& chosen)
{
    std::string folder = nativeBytes(chosen);
    appendSeparator(folder);
    return folder;
}

std::optional<std::string> frmMain::BrowseFolder()
{
    const auto chosen = platform_.dialogs.chooseFolder(this, kFolderTitle);
    if (!chosen || chosen->isEmpty())
        return std::nullopt;
    return chosenFolder(*chosen);
}

namespace {

// A page or list is written beside the file it replaces and takes its place only when whole:
// a stopped or failed run leaves the previous one as it was.
QString partialOf(const QString& path)
{
    return path + QStringLiteral(".part");
}

bool replaceWith(const QString& partial, const QString& path)
{
    return ::rename(QFile::encodeName(partial).constData(), QFile::encodeName(path).constData()) == 0;
}

}  // namespace

RunResult frmMain::makefile()
{
    SizeReader& sizes = *FileSystem;
    GalleryHooks hooks;
    hooks.setStatus = [this](std::string_view text) {
        setActivity(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
    };
    hooks.frameWidth = [this] { return picture1Width(); };
    hooks.setProgress = [this](float width) { setPicWidth(width); };
    hooks.yield = [this] { return yieldIfDue(); };
    hooks.listLayout = [this] { return state.ListLayout; };

    const std::string page = nativeBytes(paths_.pagePath());
    const std::string partial = nativeBytes(partialOf(paths_.pagePath()));
    auto gallery = std::make_shared<Gallery>(page);
    hooks.record = gallery.get();
    RunResult result = RunResult::Failed;
    if (state.UseSearchList) {
        const QString list = pendingList_.isEmpty() ? paths_.listFilePath() : pendingList_;
        result = pictarre::makefile(partial, ListSource{nativeBytes(list), state.PictureCount}, sizes,
                                    state.ImageListText, hooks);
    } else {
        result = pictarre::makefile(partial, FolderSource{File1->Path(), File1->names()}, sizes, state.ImageListText,
                                    hooks);
        if (File1->ListCount() > 0)
            File1->setListIndex(File1->ListCount() - 1);
    }
    // A stop asked for after the last entry comes too late: the page is whole.
    runCommitted_ = result != RunResult::Stopped;
    if (runCommitted_)
        stopRequested_ = false;
    if (!commitRun(result))
        return RunResult::Failed;
    // A page that was stopped or failed left the previous page as it was, and that is shown.
    if (result == RunResult::Completed)
        written_ = std::move(gallery);
    return result;
}

bool frmMain::commitRun(RunResult result)
{
    // The list a search wrote goes with the page written from it: both, or neither when the
    // run was stopped. A page that failed leaves the previous page, and the whole list found.
    // False when the page did not take its place.
    const QString list = std::exchange(pendingList_, QString());
    if (result == RunResult::Stopped) {
        QFile::remove(list);
        QFile::remove(partialOf(paths_.pagePath()));
        return true;
    }
    if (!list.isEmpty() && !replaceWith(list, paths_.listFilePath()))
        QFile::remove(list);
    if (result == RunResult::Completed && replaceWith(partialOf(paths_.pagePath()), paths_.pagePath()))
        return true;
    QFile::remove(partialOf(paths_.pagePath()));
    return false;
}

void frmMain::discardRun()
{
    if (!pendingList_.isEmpty())
        QFile::remove(std::exchange(pendingList_, QString()));
}

void frmMain::showGallery()
{
    // The page as this window wrote it, whatever the file holds by now; a page the program
    // has not written in this run is shown from the file.
    if (written_)
        Web->showGallery(written_);
    else
        Web->Navigate(paths_.pagePath());
}

void frmMain::OpenPicture()
{
    state.UseSearchList = false;
    const QString initial = platform_.settings.read(kSettingsApplication, kSettingsSection, kSettingsKey);
    const QString chosen = platform_.dialogs.chooseOpenFile(this, kOpenFilter, initial);
    if (!chosen.isEmpty())
        OpenPictureFile(chosen);
}

void frmMain::OpenPictureFile(const QString& chosen)
{
    state.UseSearchList = false;
    if (!File1->setPath(folderOfFile(nativeBytes(chosen))))
        return;
    const QString folder = displayText(File1->Path());
    platform_.settings.write(kSettingsApplication, kSettingsSection, kSettingsKey, folder);

    countBeforeRun_ = sbStatusBar->text(StatusPanel::Count);
    BusyGuard busy(*this);
    setActivity(QStringLiteral("正在载入图象列表……"));
    sbStatusBar->showPictureCount(File1->ListCount());
    state.CurrentFolder = File1->Path();
    state.PictureCount = File1->ListCount();
    // A stopped write ends the command; after a failed one the page is shown as it stands.
    if (makefile() == RunResult::Stopped || state.Unloading) {
        if (!state.Unloading)
            reportStopped();
        return;
    }
    showGallery();
    showList(listDocument(state.ImageListText));
    if (state.Unloading)
        return;
    Webt->NavigateWhenShown(folder);
}

void frmMain::OpenFolder()
{
    if (const auto folder = BrowseFolder())
        OpenFolderPath(*folder);
}

void frmMain::OpenFolderPath(const std::string& folder)
{
    state.CurrentFolder = folder;
    state.UseSearchList = true;

    countBeforeRun_ = sbStatusBar->text(StatusPanel::Count);
    BusyGuard busy(*this);
    Webt->NavigateWhenShown(displayText(state.CurrentFolder));
    setActivity(QStringLiteral("正在搜索图象文件……"));
    searching_ = true;
    const bool walked =
        SearchPictures(state.CurrentFolder, state.PictureCount, state.ImageListText, [this] { return yieldIfDue(); });
    if (state.Unloading)
        return;
    if (!walked) {
        reportStopped();
        return;
    }
    searching_ = false;
    setPicWidth(0.0f);
    sbStatusBar->showPictureCount(state.PictureCount);
    std::unique_ptr<QTextDocument> list = listDocument(state.ImageListText);
    if (state.Unloading)
        return;
    if (stopRequested_) {
        reportStopped();
        return;
    }
    // The list shown before comes back should the page write be stopped.
    std::unique_ptr<QTextDocument> previousList = showList(std::move(list));
    // The list is written beside the one it replaces; the page writer reads it from there, and
    // it takes the old one's place with the page.
    // A list that could not be written is no list to write the page from: the previous page
    // stays, as it would with a page that cannot be written.
    pendingList_ = partialOf(paths_.listFilePath());
    // One that could not take its place (a folder stands there) counts as not written.
    const bool listWritten = writeImageListFile(nativeBytes(pendingList_), state.ImageListText)
                             && !QFileInfo(paths_.listFilePath()).isDir();
    if (!listWritten)
        discardRun();
    if ((listWritten && makefile() == RunResult::Stopped) || state.Unloading) {
        if (!state.Unloading) {
            showList(std::move(previousList));
            reportStopped();
        }
        return;
    }
    setActivity(QStringLiteral("正在载入图象列表……"));
    showGallery();
}

}  // namespace pictarre
