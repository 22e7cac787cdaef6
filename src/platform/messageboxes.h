#pragma once

#include "platform/messages.h"

namespace pictarre {

// Qt's message boxes in the place of the system's message and about boxes.
class QtMessageBoxes final : public MessageBoxes {
public:
    // A modal box with the information icon, the text as plain text and one OK button.
    void information(QWidget* owner, const QString& title, const QString& text) override;
    // A modal box titled "关于 " and the application text, showing the application text, the
    // other text under it and the icon; one OK button.
    void about(QWidget* owner, const QString& applicationText, const QString& otherText,
               const QIcon& icon) override;
};

}  // namespace pictarre
