// Faults in the middle of the window's commands, with the real window and browser: the window
// closed during a search and during a page write, a data folder that cannot be written or is
// full, the image list file taken away between the search and the page write, and the searched
// folder removed while it is listed. Each checks that the window survives and stays usable,
// that no file is left open, that the page is complete or the previous one, and that the status
// agrees with what was found.
#include <filesystem>
#include <fstream>
#include <functional>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <unistd.h>

#include "app/windowfixture.h"
#include "hostile/hostiletree.h"
#include "support/fifo.h"
#include "platform/webbrowser.h"
#include "support/picturefiles.h"
#include "support/sandbox.h"

namespace fs = std::filesystem;
using namespace pictarre;
using namespace pictarre::test;

namespace {

const QString kSearching = QStringLiteral("正在搜索图象文件……");
const QString kWritingPage = QStringLiteral("正在提取图象信息，请稍等……");
const std::string kPreviousPage = "<body>the previous page</body>\r\n";

QString q(const std::string& bytes)
{
    return QString::fromStdString(bytes);
}

// A tree of `perFolder` small BMPs in each of `folders` subfolders and one text file beside
// each picture.
void fillTree(Sandbox& tree, int folders, int perFolder)
{
    const std::string bmp = makeBmp(BmpForm::Info40, 4, 4);
    for (int f = 0; f < folders; ++f) {
        for (int i = 0; i < perFolder; ++i) {
            const std::string stem = "f" + std::to_string(f) + "/p" + std::to_string(i);
            tree.write(stem + ".bmp", bmp);
            tree.write(stem + ".txt", "x");
        }
    }
}

// What a fault does to the program's files, and when.
enum class When { SearchRuns, ListShown, PageWriteRuns };

struct Fault {
    When when;
    std::function<void(const fs::path& program, const fs::path& tree)> act;
};

}  // namespace

class FaultsTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<WindowFixture> f_;

    frmMain& window() { return f_->window(); }
    fs::path programFolder() const { return f_->paths().dataFolder.toStdString(); }
    std::string pageBytes() const { return f_->pageBytes(); }
    bool waitForPage() { return f_->waitForPage(); }

    // Runs the Open-folder command on `tree`, doing `fault` at its moment; true when it ran.
    bool openFolderWith(const Sandbox& tree, const Fault& fault)
    {
        f_->fakes().dialogs.folderAnswers.push_back(q(tree.root().string()));
        bool done = false;
        const auto act = [&] {
            if (!done) {
                done = true;
                fault.act(programFolder(), tree.root());
            }
        };
        // The list is shown right before the list file is written: the one moment between the
        // search and the page write the window lets anything in.
        const auto shown = connect(&f_->Text1(), &QPlainTextEdit::textChanged, this, [&] {
            if (fault.when == When::ListShown && window().isBusy())
                act();
        });
        QTimer watcher;
        watcher.setInterval(0);
        connect(&watcher, &QTimer::timeout, this, [&] {
            const QString status = f_->status(StatusPanel::Folder);
            if (window().isBusy() && ((fault.when == When::SearchRuns && status == kSearching) ||
                                      (fault.when == When::PageWriteRuns && status == kWritingPage)))
                act();
        });
        watcher.start();
        f_->click("Opendir");
        watcher.stop();
        disconnect(shown);
        return done;
    }

    // The window after a command: not busy, the normal pointer, none of our files open.
    void checkSettled(const Sandbox& tree)
    {
        QVERIFY(!window().isBusy());
        QCOMPARE(window().cursor().shape(), Qt::ArrowCursor);
        QCOMPARE(openDescriptorsUnder(programFolder().string()), 0);
        QCOMPARE(openDescriptorsUnder(tree.root().string()), 0);
    }

    // The page on disk is either the previous one or a complete row page of `count` pictures.
    void checkPageWholeOrPrevious(int count)
    {
        const std::string page = pageBytes();
        if (page == kPreviousPage)
            return;
        const ParsedPage parsed = parsePage(page, Layout::Rows);
        QVERIFY2(parsed.wellFormed, parsed.problem.c_str());
        QCOMPARE(static_cast<int>(parsed.entries.size()), count);
    }

    // The status shows the count found and, once the gallery has loaded, the folder with the
    // count the command kept.
    void checkStatus(const Sandbox& tree, int count)
    {
        QCOMPARE(f_->status(StatusPanel::Count), QStringLiteral("图片总数：") + QString::number(count));
        QVERIFY(waitForPage());
        QCOMPARE(f_->status(StatusPanel::Folder), QStringLiteral("当前路径： ") + q(tree.folder()));
        QCOMPARE(f_->shownCount(), count);
    }

    // A later command on a sound tree writes the whole page: the window is still usable.
    void checkUsableAfterwards()
    {
        Sandbox fresh;
        fillTree(fresh, 1, 3);
        f_->fakes().dialogs.folderAnswers.push_back(q(fresh.root().string()));
        f_->click("Opendir");
        QCOMPARE(f_->shownCount(), 3);
        const ParsedPage parsed = parsePage(pageBytes(), Layout::Rows);
        QVERIFY2(parsed.wellFormed, parsed.problem.c_str());
        QCOMPARE(static_cast<int>(parsed.entries.size()), 3);
        checkSettled(fresh);
        QVERIFY(waitForPage());
    }

    void closeWhen(When when);

private slots:
    void init()
    {
        f_ = std::make_unique<WindowFixture>();
        window().setYieldInterval(0);
        QVERIFY(f_->showReady());
        QFile page(f_->paths().pagePath());
        QVERIFY(page.open(QIODevice::WriteOnly));
        page.write(kPreviousPage.data(), static_cast<qint64>(kPreviousPage.size()));
    }

    void cleanup()
    {
        // A fault may have left obstacles that the temporary folder cannot remove by itself.
        std::error_code ec;
        fs::permissions(programFolder(), fs::perms::owner_all, fs::perm_options::add, ec);
        fs::permissions(programFolder() / "temp", fs::perms::owner_all, fs::perm_options::add, ec);
        f_.reset();
    }

    void closeDuringTheSearch() { closeWhen(When::SearchRuns); }
    void closeDuringThePageWrite() { closeWhen(When::PageWriteRuns); }
    void dataFolderCannotTakeTheFiles_data();
    void dataFolderCannotTakeTheFiles();
    void listFileTakenAway_data();
    void listFileTakenAway();
    void folderRemovedWhileListed_data();
    void folderRemovedWhileListed();
    void pictureReplacedByAFifoBeforeThePageWrite();
};

void FaultsTest::closeWhen(When when)
{
    Sandbox tree;
    fillTree(tree, 4, 15);
    const QUrl before = f_->Web().url();
    QVERIFY(openFolderWith(tree, {when, [&](const fs::path&, const fs::path&) { window().close(); }}));

    QVERIFY(!window().isVisible());
    checkSettled(tree);
    const std::string page = pageBytes();
    if (when == When::SearchRuns) {
        // The search stopped: neither the list file nor the page was written.
        QCOMPARE(page, kPreviousPage);
        QVERIFY(!QFile::exists(f_->paths().listFilePath()));
    } else {
        // The page write stopped after an entry: the page it was writing is gone, the previous
        // one stays whole.
        QCOMPARE(page, kPreviousPage);
        QVERIFY(!QFile::exists(f_->paths().pagePath() + QStringLiteral(".part")));
    }
    QCOMPARE(f_->Web().url(), before);  // the stopped page is never shown
    // A close request is final: nothing brings the window back.
    QTest::qWait(300);
    QVERIFY(!window().isVisible());
    f_->fakes().dialogs.folderAnswers.push_back(q(tree.root().string()));
    f_->click("Opendir");
    QVERIFY(!window().isVisible());
    checkSettled(tree);
}

void FaultsTest::dataFolderCannotTakeTheFiles_data()
{
    QTest::addColumn<QString>("obstacle");
    QTest::addColumn<bool>("needsNonRoot");
    QTest::newRow("temp replaced by a file") << QStringLiteral("tempFile") << false;
    QTest::newRow("page path taken by a folder") << QStringLiteral("pageFolder") << false;
    QTest::newRow("list file on a full disk") << QStringLiteral("listFull") << false;
    QTest::newRow("page on a full disk") << QStringLiteral("pageFull") << false;
    QTest::newRow("data folder read-only") << QStringLiteral("readOnly") << true;
}

void FaultsTest::dataFolderCannotTakeTheFiles()
{
    QFETCH(QString, obstacle);
    QFETCH(bool, needsNonRoot);
    if (needsNonRoot && ::geteuid() == 0)
        QSKIP("running as root: permission bits do not stop root's writes; the file and device "
              "obstacles of the other rows stand in for a read-only data folder");
    const fs::path program = programFolder();
    if (obstacle == QLatin1String("tempFile")) {
        fs::remove_all(program / "temp");
        std::ofstream(program / "temp") << "not a folder";
    } else if (obstacle == QLatin1String("pageFolder")) {
        fs::remove(program / "picture.htm");
        fs::create_directory(program / "picture.htm");
    } else if (obstacle == QLatin1String("listFull")) {
        // A full disk cannot be mounted here; /dev/full fails every write the same way. It
        // stands where the list and the page are written before they take their places.
        fs::create_symlink("/dev/full", program / "temp/opendir.tmp.part");
    } else if (obstacle == QLatin1String("pageFull")) {
        fs::create_symlink("/dev/full", program / "picture.htm.part");
    } else {
        fs::permissions(program / "picture.htm", fs::perms::owner_read);
        fs::permissions(program / "temp", fs::perms::owner_read | fs::perms::owner_exec);
        fs::permissions(program, fs::perms::owner_read | fs::perms::owner_exec);
    }

    Sandbox tree;
    fillTree(tree, 2, 5);
    f_->fakes().dialogs.folderAnswers.push_back(q(tree.root().string()));
    f_->click("Opendir");

    checkSettled(tree);
    QCOMPARE(f_->Text1().toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts).size(), 10);
    if (obstacle == QLatin1String("pageFolder"))
        QVERIFY(fs::is_directory(program / "picture.htm"));
    else
        checkPageWholeOrPrevious(10);
    if (obstacle == QLatin1String("tempFile") || obstacle == QLatin1String("listFull") ||
        obstacle == QLatin1String("readOnly"))
        QCOMPARE(pageBytes(), kPreviousPage);  // no list to write it from
    if (obstacle == QLatin1String("pageFull"))
        QCOMPARE(pageBytes(), kPreviousPage);  // a page cut short never takes its place
    checkStatus(tree, 10);

    // With the obstacle gone the next command writes the whole page.
    std::error_code ec;
    fs::permissions(program, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::permissions(program / "temp", fs::perms::owner_all, fs::perm_options::add, ec);
    fs::permissions(program / "picture.htm", fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(program / "picture.htm", ec);
    if (!fs::is_directory(program / "temp")) {
        fs::remove(program / "temp", ec);
        fs::create_directory(program / "temp", ec);
    }
    fs::remove(program / "temp/opendir.tmp", ec);
    fs::remove(program / "temp/opendir.tmp.part", ec);
    fs::remove(program / "picture.htm.part", ec);
    checkUsableAfterwards();
}

void FaultsTest::listFileTakenAway_data()
{
    QTest::addColumn<int>("when");
    QTest::addColumn<QString>("action");
    QTest::addColumn<bool>("pageComplete");
    QTest::newRow("temp deleted before the list is written")
        << static_cast<int>(When::ListShown) << QStringLiteral("removeTemp") << false;
    QTest::newRow("list replaced by a folder before it is written")
        << static_cast<int>(When::ListShown) << QStringLiteral("listFolder") << false;
    QTest::newRow("list deleted while the page is written")
        << static_cast<int>(When::PageWriteRuns) << QStringLiteral("removeList") << true;
    QTest::newRow("list replaced by a folder while the page is written")
        << static_cast<int>(When::PageWriteRuns) << QStringLiteral("listFolder") << true;
}

void FaultsTest::listFileTakenAway()
{
    QFETCH(int, when);
    QFETCH(QString, action);
    QFETCH(bool, pageComplete);
    // A list from an earlier command lies there already, so a failed write cannot go unseen.
    const fs::path list = programFolder() / "temp/opendir.tmp";
    std::ofstream(list, std::ios::binary) << "/stale/old.jpg\r\n\r\n";
    Sandbox tree;
    fillTree(tree, 3, 10);
    const Fault fault{static_cast<When>(when), [&](const fs::path& program, const fs::path&) {
                          std::error_code ec;
                          if (action == QLatin1String("removeTemp")) {
                              fs::remove_all(program / "temp", ec);
                          } else if (action == QLatin1String("removeList")) {
                              fs::remove(list, ec);
                          } else {
                              fs::remove(list, ec);
                              fs::create_directory(list, ec);
                          }
                      }};
    QVERIFY(openFolderWith(tree, fault));

    checkSettled(tree);
    if (pageComplete) {
        // The writer reads the list through the file it opened; the name going away changes nothing.
        const ParsedPage parsed = parsePage(pageBytes(), Layout::Rows);
        QVERIFY2(parsed.wellFormed, parsed.problem.c_str());
        QCOMPARE(static_cast<int>(parsed.entries.size()), 30);
        for (const PageEntry& entry : parsed.entries)
            QVERIFY2(entry.path.starts_with(tree.folder()), entry.path.c_str());
    } else {
        QCOMPARE(pageBytes(), kPreviousPage);
    }
    checkStatus(tree, 30);
    std::error_code ec;
    fs::remove_all(list, ec);
    fs::create_directories(list.parent_path(), ec);
    checkUsableAfterwards();
}

void FaultsTest::folderRemovedWhileListed_data()
{
    QTest::addColumn<int>("when");
    QTest::newRow("during the search") << static_cast<int>(When::SearchRuns);
    QTest::newRow("during the page write") << static_cast<int>(When::PageWriteRuns);
}

void FaultsTest::folderRemovedWhileListed()
{
    QFETCH(int, when);
    auto tree = std::make_unique<Sandbox>();
    fillTree(*tree, 4, 10);
    const Fault fault{static_cast<When>(when), [](const fs::path&, const fs::path& root) {
                          std::error_code ec;
                          fs::remove_all(root, ec);
                      }};
    QVERIFY(openFolderWith(*tree, fault));

    checkSettled(*tree);
    QVERIFY(!fs::exists(tree->root()));
    const int count = f_->shownCount();
    // Whatever the search saw before the folder went is listed once, and the page holds it all.
    const QStringList shown = f_->Text1().toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(shown.size(), count);
    QCOMPARE(QSet<QString>(shown.begin(), shown.end()).size(), count);
    if (static_cast<When>(when) == When::PageWriteRuns)
        QCOMPARE(count, 40);
    checkPageWholeOrPrevious(count);
    if (count > 0)
        QVERIFY(pageBytes() != kPreviousPage);
    checkStatus(*tree, count);
    checkUsableAfterwards();
}

// A listed picture replaced by a FIFO between the search and the page write: the writer must not
// block on it (it used to, in open(), for good). From the moment the FIFO is made until the
// command ends, view buttons clicked whenever the window lets events in must be answered with
// never more than a second between two answers, and the page completes.
void FaultsTest::pictureReplacedByAFifoBeforeThePageWrite()
{
    Sandbox tree;
    fillTree(tree, 2, 10);
    std::unique_ptr<UnwrittenFifo> fifo;
    QElapsedTimer sinceLastAnswer;
    const Fault fault{When::ListShown, [&](const fs::path&, const fs::path& root) {
                          fs::remove(root / "f0/p0.bmp");
                          fifo = std::make_unique<UnwrittenFifo>(root / "f0/p0.bmp");
                          sinceLastAnswer.start();
                      }};
    qint64 longestWait = 0;
    int answered = 0;
    QTimer clicker;
    clicker.setInterval(0);
    connect(&clicker, &QTimer::timeout, this, [&] {
        if (!sinceLastAnswer.isValid() || !window().isBusy())
            return;
        longestWait = std::max(longestWait, sinceLastAnswer.elapsed());
        f_->click(answered % 2 ? "list" : "big");
        ++answered;
        sinceLastAnswer.start();
    });
    clicker.start();
    QVERIFY(openFolderWith(tree, fault));
    clicker.stop();
    QVERIFY(fifo && fifo->made());
    longestWait = std::max(longestWait, sinceLastAnswer.elapsed());

    QVERIFY(answered > 0);
    QVERIFY2(longestWait < 1000, qPrintable(QStringLiteral("the window was deaf for %1 ms").arg(longestWait)));
    QVERIFY(!fifo->releasedABlockedReader());
    checkSettled(tree);
    const ParsedPage parsed = parsePage(pageBytes(), Layout::Rows);
    QVERIFY2(parsed.wellFormed, parsed.problem.c_str());
    QCOMPARE(static_cast<int>(parsed.entries.size()), 20);
    QVERIFY(std::any_of(parsed.entries.begin(), parsed.entries.end(),
                        [&](const PageEntry& entry) { return entry.path == tree.folder() + "f0/p0.bmp"; }));
    checkStatus(tree, 20);
}

QTEST_MAIN(FaultsTest)
#include "tst_faults.moc"
