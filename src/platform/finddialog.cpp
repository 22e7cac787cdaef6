#include "platform/finddialog.h"

#include <algorithm>

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <QWebEngineFindTextResult>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineView>

#include "gallery/galleryprotocol.h"
#include "platform/galleryscheme.h"

namespace pictarre {

FindDialog::FindDialog(QWebEngineView* view)
    : QDialog(view ? view->window() : nullptr), view_(view)
{
    setWindowTitle(QStringLiteral("查找"));
    setModal(false);

    auto* label = new QLabel(QStringLiteral("查找内容(&N):"), this);
    text_ = new QLineEdit(this);
    label->setBuddy(text_);
    matchCase_ = new QCheckBox(QStringLiteral("区分大小写(&C)"), this);

    auto* direction = new QGroupBox(QStringLiteral("方向"), this);
    up_ = new QRadioButton(QStringLiteral("向上(&U)"), direction);
    auto* down = new QRadioButton(QStringLiteral("向下(&D)"), direction);
    down->setChecked(true);
    auto* directionLayout = new QHBoxLayout(direction);
    directionLayout->addWidget(up_);
    directionLayout->addWidget(down);

    next_ = new QPushButton(QStringLiteral("查找下一个(&F)"), this);
    next_->setDefault(true);
    next_->setEnabled(false);
    auto* cancel = new QPushButton(QStringLiteral("取消"), this);
    result_ = new QLabel(this);

    auto* grid = new QGridLayout(this);
    grid->addWidget(label, 0, 0);
    grid->addWidget(text_, 0, 1);
    grid->addWidget(next_, 0, 2);
    grid->addWidget(matchCase_, 1, 0, 1, 1);
    grid->addWidget(direction, 1, 1);
    grid->addWidget(cancel, 1, 2);
    grid->addWidget(result_, 2, 0, 1, 3);

    connect(text_, &QLineEdit::textChanged, this,
            [this](const QString& text) { next_->setEnabled(!text.isEmpty()); });
    connect(next_, &QPushButton::clicked, this, &FindDialog::findNext);
    connect(cancel, &QPushButton::clicked, this, &QDialog::close);
    if (view_) {
        connect(view_->page(), &QWebEnginePage::findTextFinished, this,
                [this](const QWebEngineFindTextResult& found) { showResult(found.activeMatch(), found.numberOfMatches()); });
    }
}

void FindDialog::openForSearch()
{
    matches_ = -1;
    result_->clear();
    if (!isVisible() && view_) {
        adjustSize();
        const QPoint corner = view_->mapToGlobal(QPoint(view_->width(), 0));
        move(std::max(view_->mapToGlobal(QPoint(0, 0)).x(), corner.x() - frameGeometry().width()), corner.y());
    }
    show();
    raise();
    activateWindow();
    text_->setFocus();
    text_->selectAll();
}

void FindDialog::showResult(int active, int matches)
{
    matches_ = matches;
    result_->setText(matches_ == 0 ? QStringLiteral("找不到“%1”。").arg(text_->text())
                                   : QStringLiteral("第 %1 处，共 %2 处。").arg(active).arg(matches_));
    emit searchFinished(matches_);
}

void FindDialog::findNext()
{
    if (!view_ || text_->text().isEmpty())
        return;
    QWebEnginePage::FindFlags flags;
    if (matchCase_->isChecked())
        flags |= QWebEnginePage::FindCaseSensitively;
    if (up_->isChecked())
        flags |= QWebEnginePage::FindBackward;
    // A gallery cut to the screen finds through its own script, which knows every text of
    // the gallery; any other page (which may run no script) through the engine.
    const QString text = text_->text();
    if (view_->url().scheme() != QLatin1String(kGalleryScheme)) {
        view_->findText(text, flags);
        return;
    }
    const QString script = QStringLiteral("window.%1 ? %2(%3, %4, %5) : false")
                               .arg(protocolName(protocol::kScriptObject), protocolName(protocol::kFindCall),
                                    QString::fromUtf8(QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact)) + QStringLiteral("[0]"),
                                    matchCase_->isChecked() ? QStringLiteral("true") : QStringLiteral("false"),
                                    up_->isChecked() ? QStringLiteral("true") : QStringLiteral("false"));
    view_->page()->runJavaScript(script, [self = QPointer<FindDialog>(this), text, flags](const QVariant& result) {
        // No answer at all comes when the page is torn down.
        if (!result.isValid() || !self || !self->view_)
            return;
        const QVariantMap found = result.toMap();
        if (found.isEmpty())
            self->view_->findText(text, flags);
        else
            self->showResult(found.value(QStringLiteral("active")).toInt(), found.value(QStringLiteral("count")).toInt());
    });
}

void FindDialog::hideEvent(QHideEvent* event)
{
    // Leaving the dialog, by its Cancel button, its close button or Esc, clears the highlights
    // in the page, as a browser's find bar does. Ending a search leaves the last match
    // selected, which shows as one highlight more; that selection goes too. The script reaches
    // the page after the end of the search, as both travel the same channel to the page (an
    // edit command such as Unselect may overtake it and be undone).
    if (view_) {
        view_->findText(QString());
        view_->page()->runJavaScript(QStringLiteral("window.getSelection().removeAllRanges()"),
                                     QWebEngineScript::ApplicationWorld);
        if (view_->url().scheme() == QLatin1String(kGalleryScheme))
            view_->page()->runJavaScript(QStringLiteral("window.%1 && %2()")
                                             .arg(protocolName(protocol::kScriptObject), protocolName(protocol::kEndFindCall)));
    }
    QDialog::hideEvent(event);
}

}  // namespace pictarre
