#include "platform/messageboxes.h"

#include <QLabel>
#include <QMessageBox>

namespace pictarre {

namespace {

// A label breaks lines at LF only; a CR would show as a stray glyph.
QString forDisplay(QString text)
{
    return text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
}

}  // namespace

void QtMessageBoxes::information(QWidget* owner, const QString& title, const QString& text)
{
    QMessageBox box(QMessageBox::Information, title, forDisplay(text), QMessageBox::Ok, owner);
    // The text is shown as it stands, never read as markup.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

void QtMessageBoxes::about(QWidget* owner, const QString& applicationText, const QString& otherText,
                           const QIcon& icon)
{
    QMessageBox box(owner);
    box.setWindowTitle(QStringLiteral("关于 ") + applicationText);
    box.setTextFormat(Qt::PlainText);
    box.setText(forDisplay(applicationText));
    box.setInformativeText(forDisplay(otherText));
    if (!icon.isNull()) {
        box.setWindowIcon(icon);
        box.setIconPixmap(icon.pixmap(32, 32));
    }
    box.setStandardButtons(QMessageBox::Ok);
    // The other text is one line. Left to wrap, the box would break it wherever two Chinese
    // characters meet, in the middle of a word; the box grows to hold the line instead.
    if (auto* other = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel")))
        other->setWordWrap(false);
    box.exec();
}

}  // namespace pictarre
