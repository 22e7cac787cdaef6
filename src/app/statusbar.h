#pragma once

#include <cstdint>

#include <QList>
#include <QWidget>

class QDateTime;
class QLabel;
class QTimer;

namespace pictarre {

// The status bar's panels that the program writes, by what they show (the others are empty
// spacers). The numbers are the panels' 1-based places in the bar.
enum class StatusPanel : int {
    Folder = 1,  // the current folder, or what a command is doing while it works
    Count = 3,   // the picture count
    Date = 5,    // the date, kept current by the bar
    Time = 7,    // the time, kept current by the bar
};

// The window's status bar: eight sunken panels side by side, each of its designed width (the
// last one also takes what is left). A bar narrower than its panels cuts them off at its right
// edge; a panel's text never reaches into the next panel. Date and time show in the system's
// short forms.
class StatusBar : public QWidget {
    Q_OBJECT
public:
    explicit StatusBar(QWidget* parent = nullptr);

    QString text(StatusPanel panel) const;
    void setText(StatusPanel panel, const QString& text);
    // Shows "图片总数：" and the count in the count panel.
    void showPictureCount(std::int32_t count);
    // Shows the date and time of `now` (the bar itself shows the current ones, every second).
    void showClock(const QDateTime& now);

    // At least the designed 255 twips high; taller when the font needs it.
    QSize sizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QLabel* label(StatusPanel panel) const;
    void layOutPanels();

    QList<QLabel*> panels_;
    QTimer* clock_ = nullptr;
};

}  // namespace pictarre
