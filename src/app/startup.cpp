#include "app/startup.h"

#include <cstring>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace pictarre {

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
    for (const QString& catalog : {QStringLiteral("qtbase"), QStringLiteral("qtwebengine")}) {
        auto* translator = new QTranslator(&app);
        if (translator->load(chinese, catalog, QStringLiteral("_"), folder))
            QCoreApplication::installTranslator(translator);
        else
            delete translator;
    }
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
