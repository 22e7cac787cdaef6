#include "platform/messageboxes.h"

#include <QMessageBox>

namespace pictarre {

void QtMessageBoxes::information(QWidget* owner, const QString& title, const QString& text)
{
    QMessageBox box(QMessageBox::Information, title, text, QMessageBox::Ok, owner);
    box.exec();
}

void QtMessageBoxes::about(QWidget* owner, const QString& applicationText, const QString& otherText,
                           const QIcon& icon)
{
    QMessageBox box(owner);
    box.setWindowTitle(QStringLiteral("关于 ") + applicationText);
    box.setIconPixmap(icon.pixmap(32, 32));
    box.setText(applicationText);
    box.setInformativeText(otherText);
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
}

}  // namespace pictarre
