#pragma once

#include <memory>

#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QVariant>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineSettings>
#include <QWebEngineView>

#include "platform/finddialog.h"

namespace pictarre::test {

// Runs a script in the view's page and waits for its value ("<no answer>" after ten seconds).
// A page that runs no script of its own is looked at from the program's own script world.
inline QVariant evaluate(QWebEngineView& view, const QString& script)
{
    // The answer may come after the wait gave up: it then lands in state this function no
    // longer waits on, never in a finished stack frame.
    struct Answer {
        QVariant value;
        bool done = false;
    };
    auto answer = std::make_shared<Answer>();
    const bool scripted = view.page()->settings()->testAttribute(QWebEngineSettings::JavascriptEnabled);
    view.page()->runJavaScript(script, scripted ? QWebEngineScript::MainWorld : QWebEngineScript::ApplicationWorld,
                               [answer](const QVariant& value) {
        answer->value = value;
        answer->done = true;
    });
    if (!QTest::qWaitFor([&] { return answer->done; }, 10000))
        return QStringLiteral("<no answer>");
    return answer->value;
}

// Asks the find dialog for its next match and waits for its answer: the number of matches it
// reports, or -1 when none came.
inline int findNext(FindDialog& dialog)
{
    QSignalSpy finished(&dialog, &FindDialog::searchFinished);
    dialog.findNext();
    return finished.wait(10000) ? finished.last().at(0).toInt() : -1;
}

// Looks for `text` with the find dialog: the number of matches, or -1 when no answer came.
inline int findText(FindDialog& dialog, const QString& text)
{
    dialog.textField()->setText(text);
    return findNext(dialog);
}

}  // namespace pictarre::test
