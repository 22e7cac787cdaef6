#include "app/statusbar.h"

#include <algorithm>

#include <QDateTime>
#include <QEvent>
#include <QLabel>
#include <QLocale>
#include <QTimer>

#include "platform/twips.h"

namespace pictarre {

namespace {

// The panels' designed widths and the bar's designed height, in twips.
constexpr float kPanelWidths[] = {6000, 300, 2000, 250, 1800, 250, 3000, 1440};
constexpr float kBarHeight = 255;

}  // namespace

StatusBar::StatusBar(QWidget* parent) : QWidget(parent)
{
    // The bar lies over the bottom of the client area; it paints all of it.
    setAutoFillBackground(true);
    int index = 1;
    for (float width : kPanelWidths) {
        auto* label = new QLabel(this);
        label->setObjectName(QStringLiteral("panel%1").arg(index++));
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        label->setMinimumWidth(pixels(width));
        panels_.append(label);
    }
    clock_ = new QTimer(this);
    clock_->setInterval(1000);
    connect(clock_, &QTimer::timeout, this, [this] { showClock(QDateTime::currentDateTime()); });
    clock_->start();
    showClock(QDateTime::currentDateTime());
}

QLabel* StatusBar::label(StatusPanel panel) const
{
    return panels_[static_cast<int>(panel) - 1];
}

QString StatusBar::text(StatusPanel panel) const
{
    return label(panel)->text();
}

void StatusBar::setText(StatusPanel panel, const QString& text)
{
    label(panel)->setText(text);
}

void StatusBar::showPictureCount(std::int32_t count)
{
    setText(StatusPanel::Count, QStringLiteral("图片总数：") + QString::number(count));
}

void StatusBar::showClock(const QDateTime& now)
{
    const QLocale locale = QLocale::system();
    setText(StatusPanel::Date, locale.toString(now.date(), QLocale::ShortFormat));
    setText(StatusPanel::Time, locale.toString(now.time(), QLocale::ShortFormat));
}

QSize StatusBar::sizeHint() const
{
    int height = pixels(kBarHeight);
    int width = 0;
    for (const QLabel* panel : panels_) {
        // An empty label asks for no text line; every panel is as high as one with text.
        height = std::max({height, panel->sizeHint().height(),
                           panel->fontMetrics().height() + 2 * panel->frameWidth()});
        width += panel->minimumWidth();
    }
    return {width, height};
}

void StatusBar::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    layOutPanels();
}

void StatusBar::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    // Another font or style changes the height the bar needs: the window lays it out again.
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        updateGeometry();
}

void StatusBar::layOutPanels()
{
    // Each panel keeps its width, whatever the bar's: what lies past the bar's right edge is
    // cut off there, as the bar clips its children.
    int left = 0;
    for (QLabel* panel : panels_) {
        int width = panel->minimumWidth();
        if (panel == panels_.last())
            width = std::max(width, this->width() - left);
        panel->setGeometry(left, 0, width, height());
        left += width;
    }
}

}  // namespace pictarre
