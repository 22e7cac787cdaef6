#include <functional>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QScopeGuard>
#include <QScreen>
#include <QGroupBox>
#include <QLabel>
#include <QPrinter>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTreeView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "app/startup.h"
#include "app/windowfixture.h"
#include "platform/browserdialogs.h"
#include "platform/dialogs.h"
#include "platform/messageboxes.h"
#include "platform/webbrowser.h"
#include "support/picturefiles.h"
#include "support/sandbox.h"
#include "support/webtest.h"

using namespace pictarre;
using namespace pictarre::test;

namespace {

// What a user reads on a modal dialog: its title and the visible texts of its buttons, labels,
// group boxes, tabs and the choices of its lists.
struct DialogSeen {
    bool shown = false;
    QString title;
    QStringList texts;
    QString folder;  // where a file dialog opened
    QSize size;
};

void collectTexts(const QDialog& dialog, QStringList& texts)
{
    const auto add = [&texts](const QWidget* widget, const QString& text) {
        if (widget->isVisible() && !text.trimmed().isEmpty())
            texts << text;
    };
    for (const auto* button : dialog.findChildren<QAbstractButton*>()) {
        add(button, button->text());
        add(button, button->toolTip());
    }
    for (const auto* label : dialog.findChildren<QLabel*>())
        add(label, label->text());
    for (const auto* box : dialog.findChildren<QGroupBox*>())
        add(box, box->title());
    for (const auto* tabs : dialog.findChildren<QTabWidget*>()) {
        for (int i = 0; i < tabs->count(); ++i)
            add(tabs, tabs->tabText(i));
    }
    for (const auto* list : dialog.findChildren<QComboBox*>()) {
        for (int i = 0; i < list->count(); ++i)
            add(list, list->itemText(i));
    }
    // The column heads of a file list and what it says of each entry besides its name.
    for (const auto* view : dialog.findChildren<QTreeView*>()) {
        const QAbstractItemModel* model = view->model();
        if (!model)
            continue;
        const QModelIndex root = view->rootIndex();
        for (int column = 0; column < model->columnCount(root); ++column) {
            add(view, model->headerData(column, Qt::Horizontal).toString());
            for (int row = 0; column == 2 && row < model->rowCount(root); ++row)
                add(view, model->index(row, column, root).data().toString());
        }
    }
}

// Runs `open`, which shows a modal dialog and returns when it closes; half a second after the
// dialog shows, reads its texts, saves a picture of it as `screenshot` and cancels it (or has
// `close` close it).
DialogSeen seeDialog(const std::function<void()>& open, const QString& screenshot,
                     const std::function<void(QDialog&)>& close = {})
{
    DialogSeen seen;
    int visibleTicks = 0;
    QTimer poll;
    poll.setInterval(50);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible() || ++visibleTicks < 10)
            return;
        poll.stop();
        seen.shown = true;
        seen.title = dialog->windowTitle();
        collectTexts(*dialog, seen.texts);
        if (const auto* files = qobject_cast<QFileDialog*>(dialog))
            seen.folder = files->directory().absolutePath();
        seen.size = dialog->size();
        dialog->grab().save(artifactPath(screenshot));
        if (close)
            close(*dialog);
        else
            dialog->reject();
    });
    poll.start();
    open();
    return seen;
}

// The texts of `seen` that hold a word of Latin letters, other than the ones in `allowed`
// (texts the program itself puts there, such as file patterns).
QStringList latinTexts(const DialogSeen& seen, const QStringList& allowed)
{
    static const QRegularExpression word(QStringLiteral("[A-Za-z]{2,}"));
    QStringList found;
    for (QString text : seen.texts + QStringList{seen.title}) {
        for (const QString& part : allowed)
            text.remove(part);
        if (text.contains(word))
            found << text;
    }
    return found;
}

}  // namespace

class LanguageTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // As the program does, before the first browser view starts the engine.
        useProgramLanguage(*QCoreApplication::instance());
    }

    void standardDialogsSpeakChinese();
    void dialogsOpenWhereTheUserLooksAndLargeEnoughToRead();
    void folderViewListsTheFolderInChinese();
    void statusBarDatesKeepTheSystemLocale();
};

void LanguageTest::standardDialogsSpeakChinese()
{
    Sandbox tree;
    tree.write("照片/a.jpg", makeBmp(BmpForm::Info40, 4, 4));
    tree.write("旅行/b.bmp", makeBmp(BmpForm::Info40, 4, 4));
    tree.write("c.jpg", makeBmp(BmpForm::Info40, 4, 4));
    const QString start = QString::fromStdString(tree.root().string());
    const QString before = QDir::currentPath();
    QDir::setCurrent(start);
    const QByteArray home = qgetenv("HOME");
    qputenv("HOME", QFile::encodeName(start));
    const auto restoreHome = qScopeGuard([&] { qputenv("HOME", home); });

    QWidget owner;
    owner.resize(800, 600);
    owner.show();
    QtDialogs dialogs;
    QtBrowserDialogs browserDialogs;
    QtMessageBoxes messages;
    QPrinter printer;
    const QStringList patterns = {QStringLiteral("BMP,JPG,GIF"), QStringLiteral("*.bmp"), QStringLiteral("*.jpg"),
                                  QStringLiteral("*.gif"), QStringLiteral("*.htm"), QStringLiteral("*.html"),
                                  QStringLiteral("*.mht"), QStringLiteral("*.txt"), QStringLiteral("HTML"),
                                  QStringLiteral("Web"), QStringLiteral("untitled.htm"), QStringLiteral("Pictarre"),
                                  QStringLiteral("PDF"), QStringLiteral("JPEG"), start};
    const struct {
        const char* name;
        std::function<void()> open;
        const char* cancel;  // the text of the button that closes the dialog without acting
    } rows[] = {
        {"folder-chooser-zh.png", [&] { dialogs.chooseFolder(&owner, QStringLiteral("请您在下面选择一个文件夹的路径：")); }, "取消"},
        {"open-dialog-zh.png", [&] { dialogs.chooseOpenFile(&owner, QStringLiteral("图片(BMP,JPG,GIF)|*.bmp;*.jpg;*.gif"), start); }, "取消"},
        {"save-dialog-zh.png", [&] { browserDialogs.askSaveAs(&owner, QStringLiteral("untitled.htm")); }, "取消"},
        {"print-dialog-zh.png", [&] { browserDialogs.askPrint(&owner, printer); }, "取消"},
        {"message-box-zh.png", [&] { messages.information(&owner, QStringLiteral("Pictarre"), QStringLiteral("你好")); }, "确定"},
    };
    for (const auto& row : rows) {
        const DialogSeen seen = seeDialog(row.open, QString::fromLatin1(row.name));
        QVERIFY2(seen.shown, row.name);
        QVERIFY2(seen.texts.contains(QString::fromUtf8(row.cancel)), qPrintable(seen.texts.join(QStringLiteral(" | "))));
        const QStringList english = latinTexts(seen, patterns);
        QVERIFY2(english.isEmpty(), qPrintable(QString::fromLatin1(row.name) + QStringLiteral(": ") + english.join(QStringLiteral(" | "))));
    }
    QDir::setCurrent(before);
}

void LanguageTest::dialogsOpenWhereTheUserLooksAndLargeEnoughToRead()
{
    Sandbox tree;
    tree.write("照片/a.jpg", makeBmp(BmpForm::Info40, 4, 4));
    tree.write("Documents/old.htm", "<p>");
    const QString home = QString::fromStdString(tree.root().string());
    const QByteArray before = qgetenv("HOME");
    qputenv("HOME", QFile::encodeName(home));
    const auto restoreHome = qScopeGuard([&] { qputenv("HOME", before); });
    QWidget owner;
    owner.resize(800, 600);
    owner.show();
    QtDialogs dialogs;
    QtBrowserDialogs browserDialogs;
    const QString title = QStringLiteral("请您在下面选择一个文件夹的路径：");
    const QString pictures = home + QStringLiteral("/照片");
    const auto choose = [&](const QString& folder) {
        return [folder](QDialog& dialog) {
            static_cast<QFileDialog&>(dialog).setDirectory(folder);
            dialog.accept();
        };
    };

    // The picker first opens at home, later where the user chose; Save opens among the user's
    // documents, not in the picture folder; every file dialog is large enough to read.
    const QSize readable = QSize(900, 600).boundedTo(owner.screen()->availableSize() * 0.9);
    const struct {
        const char* name;
        std::function<void()> open;
        QString expected;
        std::function<void(QDialog&)> close;
    } rows[] = {
        {"folder-chooser-first.png", [&] { dialogs.chooseFolder(&owner, title); }, home, choose(pictures)},
        {"folder-chooser-again.png", [&] { dialogs.chooseFolder(&owner, title); }, pictures, {}},
        {"open-dialog-first.png", [&] { dialogs.chooseOpenFile(&owner, QStringLiteral("图片|*.jpg"), QString()); }, home, {}},
        {"save-dialog-first.png", [&] { browserDialogs.askSaveAs(&owner, QStringLiteral("picture.htm")); },
         home + QStringLiteral("/Documents"), {}},
    };
    for (const auto& row : rows) {
        const DialogSeen seen = seeDialog(row.open, QString::fromLatin1(row.name), row.close);
        QVERIFY2(seen.shown, row.name);
        QCOMPARE(seen.folder, row.expected);
        QVERIFY2(seen.size.width() >= readable.width() && seen.size.height() >= readable.height(),
                 qPrintable(QStringLiteral("%1: %2 x %3").arg(QString::fromLatin1(row.name)).arg(seen.size.width()).arg(seen.size.height())));
    }

    // The print dialog offers the file the last print of this run went to.
    const QString pdf = home + QStringLiteral("/Documents/gallery.pdf");
    QPrinter first;
    first.setOutputFileName(pdf);
    QVERIFY(seeDialog([&] { QVERIFY(browserDialogs.askPrint(&owner, first)); }, QStringLiteral("print-first.png"),
                      [](QDialog& dialog) { dialog.accept(); }).shown);
    QPrinter next;
    QVERIFY(seeDialog([&] { browserDialogs.askPrint(&owner, next); }, QStringLiteral("print-again.png")).shown);
    QCOMPARE(next.outputFileName(), pdf);
}

void LanguageTest::folderViewListsTheFolderInChinese()
{
    Sandbox tree;
    tree.write("照片/a.jpg", makeBmp(BmpForm::Info40, 4, 4));
    tree.write("b.bmp", makeBmp(BmpForm::Info40, 4, 4));
    const QString folder = QString::fromStdString(tree.folder());
    WindowFixture f;
    QVERIFY(f.show());

    f.window().openArgument(folder);
    f.click("small");
    QVERIFY(f.Webt().isVisible());
    QString text;
    QVERIFY(QTest::qWaitFor([&] {
        text = evaluate(f.Webt(), QStringLiteral("document.body ? document.body.innerText : ''")).toString();
        return text.contains(QStringLiteral("b.bmp"));
    }, 30000));
    // The engine's own listing: its heading, its link up and its column heads.
    QVERIFY2(text.startsWith(folder + QStringLiteral(" 的索引")), qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("[上级目录]")), qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("名称\t大小\t修改日期")), qPrintable(text));
    QVERIFY2(!text.contains(QStringLiteral("Index of")), qPrintable(text));
    QVERIFY(f.window().grab().save(artifactPath(QStringLiteral("folder-view-zh.png"))));
}

void LanguageTest::statusBarDatesKeepTheSystemLocale()
{
    // The tests run under the C locale, whose short date is day, month name and year; the
    // program's own language would write year/month/day.
    QCOMPARE(QLocale::system().name(), QStringLiteral("C"));
    StatusBar bar;
    const QDate today = QDate::currentDate();
    QCOMPARE(bar.text(StatusPanel::Date), today.toString(QStringLiteral("d MMM yyyy")));
    QVERIFY(bar.text(StatusPanel::Date) != QLocale().toString(today, QLocale::ShortFormat));
}

QTEST_MAIN(LanguageTest)
#include "tst_language.moc"
