#include <functional>

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPixmap>
#include <QTest>
#include <QTimer>

#include "actions/menuactions.h"
#include "fakes/fakeplatform.h"
#include "platform/messageboxes.h"
#include "support/artifacts.h"

using namespace pictarre;
using namespace pictarre::test;

namespace {

// Waits for the next modal message box, hands it to `inspect` and presses its OK button.
// Returns a flag that says whether a box was found.
std::shared_ptr<bool> answerNextBox(std::function<void(QMessageBox&)> inspect)
{
    auto found = std::make_shared<bool>(false);
    auto* timer = new QTimer;
    timer->setInterval(20);
    auto tries = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, [=] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) {
            if (++*tries > 500)
                timer->deleteLater();
            return;
        }
        timer->stop();
        timer->deleteLater();
        *found = true;
        inspect(*box);
        if (QAbstractButton* ok = box->button(QMessageBox::Ok))
            ok->click();
        else
            box->reject();
    });
    timer->start();
    return found;
}

}  // namespace

// The help and about items shown in Qt's real message boxes.
class tst_MenuBoxes : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        QPixmap pixmap(32, 32);
        pixmap.fill(Qt::red);
        owner.setWindowTitle(QStringLiteral("Pictarre"));
        owner.setWindowIcon(QIcon(pixmap));
        owner.show();
    }

    void helpIsAnInformationBoxWithOnlyOk()
    {
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QMessageBox::StandardButtons buttons;
        int buttonCount = 0;
        QString title, text;
        Qt::TextFormat format = Qt::AutoText;
        QWidget* parent = nullptr;
        auto found = answerNextBox([&](QMessageBox& box) {
            icon = box.icon();
            buttons = box.standardButtons();
            buttonCount = int(box.buttons().size());
            title = box.windowTitle();
            text = box.text();
            format = box.textFormat();
            parent = box.parentWidget();
        });
        actions.mnuHelpSearchForHelpOn_Click();

        QVERIFY(*found);
        QCOMPARE(icon, QMessageBox::Information);
        QCOMPARE(buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(buttonCount, 1);
        QCOMPARE(title, QStringLiteral("Vistelle"));
        QCOMPARE(parent, &owner);
        QCOMPARE(format, Qt::PlainText);
        // The box shows the help text with its paragraph breaks as line breaks.
        QCOMPARE(text, QStringLiteral("    Pictarre是《Tarnwick》的子工具，只能随同《Tarnwick》一起安装、使用，"
                                      "非常感谢您的安装使用，请多提宝贵意见给我们\n\n"
                                      "《Tarnwick》网站：https://example.org/\n\n联系信箱：pictarre@example.org "));
    }

    void aboutShowsCaptionCreditAndIcon()
    {
        QString title, text, informative;
        bool hasPixmap = false;
        QMessageBox::StandardButtons buttons;
        bool creditWhole = false;
        auto found = answerNextBox([&](QMessageBox& box) {
            title = box.windowTitle();
            text = box.text();
            informative = box.informativeText();
            hasPixmap = !box.iconPixmap().isNull();
            buttons = box.standardButtons();
            // The credit stands on one line, wide enough for all of it: no word is broken.
            QLabel* credit = nullptr;
            for (QLabel* label : box.findChildren<QLabel*>()) {
                if (label->text() == informative)
                    credit = label;
            }
            if (credit)
                creditWhole = credit->contentsRect().width() >= credit->fontMetrics().horizontalAdvance(informative);
            box.grab().save(artifactPath(QStringLiteral("about-box.png")));
        });
        actions.mnuHelpAbout_Click();

        QVERIFY(*found);
        QCOMPARE(title, QStringLiteral("关于 Pictarre"));
        QCOMPARE(text, QStringLiteral("Pictarre"));
        QCOMPARE(informative, QStringLiteral("由 Pictarre 开发组 创意设计，编程制作。 谢谢使用！"));
        QVERIFY(creditWhole);
        QVERIFY(hasPixmap);
        QCOMPARE(buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    }

private:
    QWidget owner;
    FakePlatform fakes;
    QtMessageBoxes boxes;
    Platform platform{fakes.dialogs, fakes.browserDialogs, fakes.settings, fakes.shell, boxes};
    MenuActions actions{platform, &owner, QStringLiteral("/opt/pictarre")};
};

QTEST_MAIN(tst_MenuBoxes)
#include "tst_menuboxes.moc"
