#pragma once

#include <QList>
#include <QStatusBar>

class QLabel;
class QTimer;

namespace pictarre {

// The window's status bar: eight sunken panels, addressed by 1-based index. Panel 5 shows the
// date and panel 7 the time, in the system's short forms, kept current.
class StatusBar : public QStatusBar {
    Q_OBJECT
public:
    explicit StatusBar(QWidget* parent = nullptr);

    int panelCount() const { return static_cast<int>(panels_.size()); }
    QLabel* panel(int index) const;
    QString panelText(int index) const;
    void setPanelText(int index, const QString& text);
    // Width in twips of a panel, as laid out at design time.
    static float panelWidthTwips(int index);

    // Brings the date and time panels up to date.
    void refreshClock();

private:
    QList<QLabel*> panels_;
    QTimer* clock_ = nullptr;
};

}  // namespace pictarre
