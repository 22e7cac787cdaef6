#pragma once

#include "platform/messages.h"

namespace pictarre {

// Qt's message boxes.
class QtMessageBoxes final : public MessageBoxes {
public:
    void information(QWidget* owner, const QString& title, const QString& text) override;
    void about(QWidget* owner, const QString& applicationText, const QString& otherText,
               const QIcon& icon) override;
};

}  // namespace pictarre
