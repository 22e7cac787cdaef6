#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
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

// Marks a search or page write under way: the window is busy, with the hourglass pointer, for
// as long as the guard lives, and the work's first yield comes one interval after its start.
// The pointer comes back on every way out.
class frmMain::BusyGuard {
public:
    explicit BusyGuard(frmMain& window) : window_(window)
    {
        window_.busy_ = true;
        window_.lastYield_ = clock().nsecsElapsed();
        window_.setCursor(Qt::WaitCursor);
    }
    ~BusyGuard()
    {
        window_.busy_ = false;
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
        QCoreApplication::processEvents();
        lastYield_ = clock().nsecsElapsed();
    }
    // Whether the work goes on: not once the window has been asked to close.
    return !state.Unloading;
}

void frmMain::showList(const std::string& text)
{
    // A long list is put in piece by piece, each piece decoded on its own, with the window's
    // events between the pieces: decoding or laying out tens of thousands of lines at once
    // would leave the window deaf for a noticeable time.
    constexpr std::size_t kPiece = 1 << 16;
    Text1->clear();
    Text1->setUndoRedoEnabled(false);
    QTextCursor cursor(Text1->document());
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t lineEnd = text.find('\n', std::min(text.size(), start + kPiece));
        const std::size_t end = lineEnd == std::string::npos ? text.size() : lineEnd + 1;
        QString piece = displayText(text.substr(start, end - start));
        piece.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        cursor.movePosition(QTextCursor::End);
        cursor.insertText(piece);
        start = end;
        if (!yieldIfDue())
            break;
    }
    Text1->setUndoRedoEnabled(true);
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

RunResult frmMain::makefile()
{
    SizeReader& sizes = *FileSystem;
    GalleryHooks hooks;
    hooks.setStatus = [this](std::string_view text) {
        sbStatusBar->setText(StatusPanel::Folder, QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
    };
    hooks.frameWidth = [this] { return picture1Width(); };
    hooks.setProgress = [this](float width) { setPicWidth(width); };
    hooks.yield = [this] { return yieldIfDue(); };
    hooks.listLayout = [this] { return state.ListLayout; };

    const std::string page = nativeBytes(paths_.pagePath());
    auto gallery = std::make_shared<Gallery>(page);
    hooks.record = gallery.get();
    RunResult result = RunResult::Failed;
    if (state.UseSearchList) {
        result = pictarre::makefile(page, ListSource{nativeBytes(paths_.listFilePath()), state.PictureCount}, sizes,
                                    state.ImageListText, hooks);
    } else {
        result = pictarre::makefile(page, FolderSource{File1->Path(), File1->names()}, sizes, state.ImageListText,
                                    hooks);
        if (File1->ListCount() > 0)
            File1->setListIndex(File1->ListCount() - 1);
    }
    // A run that failed before it wrote anything left the previous page as it was.
    if (result != RunResult::Failed || gallery->size() > 0)
        written_ = std::move(gallery);
    return result;
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

    BusyGuard busy(*this);
    sbStatusBar->setText(StatusPanel::Folder, QStringLiteral("正在载入图象列表……"));
    sbStatusBar->showPictureCount(File1->ListCount());
    state.CurrentFolder = File1->Path();
    state.PictureCount = File1->ListCount();
    // A stopped write ends the command; after a failed one the page is shown as it stands.
    if (makefile() == RunResult::Stopped || state.Unloading)
        return;
    showGallery();
    showList(state.ImageListText);
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

    BusyGuard busy(*this);
    Webt->NavigateWhenShown(displayText(state.CurrentFolder));
    sbStatusBar->setText(StatusPanel::Folder, QStringLiteral("正在搜索图象文件……"));
    SearchPictures(state.CurrentFolder, state.PictureCount, state.ImageListText, [this] { return yieldIfDue(); });
    if (state.Unloading)
        return;
    sbStatusBar->showPictureCount(state.PictureCount);
    showList(state.ImageListText);
    if (state.Unloading)
        return;
    writeImageListFile(nativeBytes(paths_.listFilePath()), state.ImageListText);
    if (makefile() == RunResult::Stopped || state.Unloading)
        return;
    sbStatusBar->setText(StatusPanel::Folder, QStringLiteral("正在载入图象列表……"));
    showGallery();
}

}  // namespace pictarre
