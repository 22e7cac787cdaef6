#pragma once

#include <memory>

#include <QTest>
#include <QVariant>
#include <QWebEnginePage>
#include <QWebEngineView>

namespace pictarre::test {

// Runs a script in the view's page and waits for its value ("<no answer>" after ten seconds).
inline QVariant evaluate(QWebEngineView& view, const QString& script)
{
    // The answer may come after the wait gave up: it then lands in state this function no
    // longer waits on, never in a finished stack frame.
    struct Answer {
        QVariant value;
        bool done = false;
    };
    auto answer = std::make_shared<Answer>();
    view.page()->runJavaScript(script, [answer](const QVariant& value) {
        answer->value = value;
        answer->done = true;
    });
    if (!QTest::qWaitFor([&] { return answer->done; }, 10000))
        return QStringLiteral("<no answer>");
    return answer->value;
}

}  // namespace pictarre::test
