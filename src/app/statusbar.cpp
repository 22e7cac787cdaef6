#include "app/statusbar.h"

#include <QDateTime>
#include <QLabel>
#include <QLocale>
#include <QTimer>

#include "platform/twips.h"

namespace pictarre {

namespace {

constexpr float kPanelWidths[] = {6000, 300, 2000, 250, 1800, 250, 3000, 1440};
constexpr int kDatePanel = 5;
constexpr int kTimePanel = 7;

}  // namespace

StatusBar::StatusBar(QWidget* parent) : QStatusBar(parent)
{
    setSizeGripEnabled(false);
    int index = 1;
    for (float width : kPanelWidths) {
        auto* label = new QLabel(this);
        label->setObjectName(QStringLiteral("panel%1").arg(index));
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        label->setMinimumWidth(pixels(width));
        label->setMaximumWidth(index == 8 ? QWIDGETSIZE_MAX : pixels(width));
        addWidget(label, index == 8 ? 1 : 0);
        panels_.append(label);
        ++index;
    }
    clock_ = new QTimer(this);
    clock_->setInterval(1000);
    connect(clock_, &QTimer::timeout, this, &StatusBar::refreshClock);
    clock_->start();
    refreshClock();
}

QLabel* StatusBar::panel(int index) const
{
    return index >= 1 && index <= panels_.size() ? panels_[index - 1] : nullptr;
}

QString StatusBar::panelText(int index) const
{
    const QLabel* label = panel(index);
    return label ? label->text() : QString();
}

void StatusBar::setPanelText(int index, const QString& text)
{
    if (QLabel* label = panel(index))
        label->setText(text);
}

float StatusBar::panelWidthTwips(int index)
{
    return index >= 1 && index <= 8 ? kPanelWidths[index - 1] : 0.0f;
}

void StatusBar::refreshClock()
{
    const QLocale locale = QLocale::system();
    const QDateTime now = QDateTime::currentDateTime();
    setPanelText(kDatePanel, locale.toString(now.date(), QLocale::ShortFormat));
    setPanelText(kTimePanel, locale.toString(now.time(), QLocale::ShortFormat));
}

}  // namespace pictarre
