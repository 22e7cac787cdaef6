#include "app/startup.h"

#include <cstring>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace pictarre {

namespace {

// Qt 6 asks for the file dialogs' type names ("Folder", "%1 File", ...) under a context of their
// own, while Qt 6.4's Chinese catalog still files them under QFileDialog, where Qt 5 asked for
// them: this answers the one from the other, out of Qt's own catalog.
class FileTypeNames final : public QTranslator {
public:
    FileTypeNames(const QTranslator& catalog, QObject* parent) : QTranslator(parent), catalog_(catalog) {}

    bool isEmpty() const override { return false; }

    QString translate(const char* context, const char* sourceText, const char* disambiguation, int n) const override
    {
        if (qstrcmp(context, "QAbstractFileIconProvider") != 0)
            return QString();
        return catalog_.translate("QFileDialog", sourceText, disambiguation, n);
    }

private:
    const QTranslator& catalog_;
};

}  // namespace

void useProgramLanguage(QCoreApplication& app)
{
    const QLocale chinese(QLocale::Chinese, QLocale::SimplifiedHanScript, QLocale::China);
    // The browser engine takes its interface language (its folder listings, its error pages)
    // from the default locale when it starts; QLocale::system() stays the user's.
    QLocale::setDefault(chinese);
    // Native dialogs of a desktop theme would speak the desktop's language; Qt's own dialogs
    // speak the program's.
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    auto* base = new QTranslator(&app);
    auto* engine = new QTranslator(&app);
    if (base->load(chinese, QStringLiteral("qtbase"), QStringLiteral("_"), folder)) {
        // Installed first so that it is asked last, after the catalogs themselves.
        QCoreApplication::installTranslator(new FileTypeNames(*base, &app));
        QCoreApplication::installTranslator(base);
    }
    if (engine->load(chinese, QStringLiteral("qtwebengine"), QStringLiteral("_"), folder))
        QCoreApplication::installTranslator(engine);
}

bool answersOnTerminal(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0)
            return false;
        for (const char* option : {"-h", "--help", "--help-all", "-?", "-v", "--version"}) {
            if (std::strcmp(argv[i], option) == 0)
                return true;
        }
    }
    return false;
}

QString pathArgument(const QCoreApplication& app)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Pictarre 图片浏览：在一页中显示一张图片所在文件夹的全部图片，"
                       "或一个文件夹及其子文件夹中的全部 BMP、JPG、GIF 图片。"));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("路径"),
                                 QStringLiteral("要打开的图片（显示它所在文件夹的图片）或文件夹（搜索其中的全部图片）。"),
                                 QStringLiteral("[图片或文件夹]"));
    parser.process(app);
    const QStringList paths = parser.positionalArguments();
    return paths.isEmpty() ? QString() : paths.constFirst();
}

}  // namespace pictarre
