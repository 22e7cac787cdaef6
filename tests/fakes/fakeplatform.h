#pragma once

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <tuple>
#include <vector>

#include <QPrinter>
#include <QString>

#include "platform/platform.h"

namespace pictarre::test {

// Dialogs that answer from a queue of prepared answers and record what they were asked.
class FakeDialogs final : public Dialogs {
public:
    struct OpenCall {
        QString filter;
        QString initialFolder;
    };
    std::deque<QString> folderAnswers;                 // a null QString = cancel
    std::deque<QString> openAnswers;                   // empty = cancel
    std::vector<QString> folderTitles;
    std::vector<OpenCall> openCalls;
    std::vector<QWidget*> owners;
    // Runs while a dialog is "open", as the user's other clicks would.
    std::function<void()> whileOpen;

    std::optional<QString> chooseFolder(QWidget* owner, const QString& title) override
    {
        owners.push_back(owner);
        folderTitles.push_back(title);
        if (whileOpen)
            whileOpen();
        if (folderAnswers.empty())
            return std::nullopt;
        const QString answer = folderAnswers.front();
        folderAnswers.pop_front();
        if (answer.isNull())
            return std::nullopt;
        return answer;
    }

    QString chooseOpenFile(QWidget* owner, const QString& filter, const QString& initialFolder) override
    {
        owners.push_back(owner);
        openCalls.push_back({filter, initialFolder});
        if (whileOpen)
            whileOpen();
        if (openAnswers.empty())
            return QString();
        QString answer = openAnswers.front();
        openAnswers.pop_front();
        return answer;
    }
};

// The browser's save and print dialogs: save where told, print to a PDF file.
class FakeBrowserDialogs final : public BrowserDialogs {
public:
    std::optional<SaveAsChoice> saveAnswer;
    QString pdfPath;  // empty = cancel the print dialog
    int copies = 1;  // more than one: the pages are painted, not the document written
    int dotsPerInch = 0;  // the printer's resolution, when not its own
    int saveAsked = 0;
    int printAsked = 0;

    std::optional<SaveAsChoice> askSaveAs(QWidget*, const QString&) override
    {
        ++saveAsked;
        return saveAnswer;
    }

    bool askPrint(QWidget*, QPrinter& printer) override
    {
        ++printAsked;
        if (pdfPath.isEmpty())
            return false;
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdfPath);
        printer.setCopyCount(copies);
        if (dotsPerInch > 0)
            printer.setResolution(dotsPerInch);
        return true;
    }
};

class FakeSettings final : public SettingsStore {
public:
    std::map<std::tuple<QString, QString, QString>, QString> values;
    int writes = 0;

    QString read(const QString& app, const QString& section, const QString& key) override
    {
        const auto it = values.find({app, section, key});
        return it == values.end() ? QString() : it->second;
    }

    void write(const QString& app, const QString& section, const QString& key, const QString& value) override
    {
        ++writes;
        values[{app, section, key}] = value;
    }
};

// Records every shell request and carries none out.
class FakeShell final : public Shell {
public:
    std::vector<ShellOpenRequest> opened;
    std::vector<std::pair<QString, ShowCommand>> ran;

    void openDocument(const ShellOpenRequest& request) override { opened.push_back(request); }
    void runProgram(const QString& commandLine, ShowCommand windowStyle) override
    {
        ran.emplace_back(commandLine, windowStyle);
    }
};

class FakeMessages final : public MessageBoxes {
public:
    struct Shown {
        QString kind;
        QString title;
        QString text;
        QString other;
        bool hasIcon = false;
    };
    std::vector<Shown> shown;

    void information(QWidget*, const QString& title, const QString& text) override
    {
        shown.push_back({QStringLiteral("information"), title, text, QString(), false});
    }

    void about(QWidget*, const QString& applicationText, const QString& otherText, const QIcon& icon) override
    {
        shown.push_back({QStringLiteral("about"), QString(), applicationText, otherText, !icon.isNull()});
    }
};

// One of each fake, bundled the way the window takes them.
struct FakePlatform {
    FakeDialogs dialogs;
    FakeBrowserDialogs browserDialogs;
    FakeSettings settings;
    FakeShell shell;
    FakeMessages messages;
    Platform platform{dialogs, browserDialogs, settings, shell, messages};
};

}  // namespace pictarre::test
