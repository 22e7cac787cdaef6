#pragma once

#include <QDialog>
#include <QPointer>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QWebEngineView;

namespace pictarre {

// The find-in-page dialog of a browser view: non-modal, searches the view's page forwards or
// backwards, and says how many matches the page holds.
class FindDialog : public QDialog {
    Q_OBJECT
public:
    explicit FindDialog(QWebEngineView* view);

    QLineEdit* textField() const { return text_; }
    // Searches for the next match of the text in the chosen direction.
    void findNext();
    // Matches of the last search (-1 before any search has finished).
    int lastMatchCount() const { return matches_; }
    // Opens the dialog for a new search: no result from an earlier one, the text selected,
    // and placed at the view's top right, off the middle of the view where a match is
    // scrolled to.
    void openForSearch();

signals:
    void searchFinished(int matches);

protected:
    void hideEvent(QHideEvent* event) override;

private:
    void showResult(int active, int matches);

    QPointer<QWebEngineView> view_;
    QLineEdit* text_ = nullptr;
    QCheckBox* matchCase_ = nullptr;
    QRadioButton* up_ = nullptr;
    QLabel* result_ = nullptr;
    QPushButton* next_ = nullptr;
    int matches_ = -1;
};

}  // namespace pictarre
