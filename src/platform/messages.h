#pragma once

#include <QIcon>
#include <QString>

class QWidget;

namespace pictarre {

// The modal message and about boxes; tests replace them.
class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    // An information box with one OK button; returns when it is closed.
    virtual void information(QWidget* owner, const QString& title, const QString& text) = 0;
    // The about box: the application text, one line of other text and the icon.
    virtual void about(QWidget* owner, const QString& applicationText, const QString& otherText,
                       const QIcon& icon) = 0;
};

}  // namespace pictarre
