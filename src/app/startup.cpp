#include "app/startup.h"

#include <algorithm>
#include <string_view>

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

namespace {

// The program's options and argument; Qt's parser adds help and version.
void describeCommandLine(QCommandLineParser& parser)
{
    parser.setApplicationDescription(
        QStringLiteral("Pictarre 图片浏览：在一页中显示一张图片所在文件夹的全部图片，"
                       "或一个文件夹及其子文件夹中的全部 BMP、JPG、GIF 图片。"));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("路径"),
                                 QStringLiteral("要打开的图片（显示它所在文件夹的图片）或文件夹（搜索其中的全部图片）。"),
                                 QStringLiteral("[图片或文件夹]"));
}

struct GuiOption {
    std::string_view name;
    bool takesValue;
};

// The options that QGuiApplication and QApplication take out of the command line before the
// program reads it (as -name or --name; a value after it or after "=").
constexpr GuiOption kGuiOptions[] = {
    {"platform", true},  {"platformpluginpath", true}, {"platformtheme", true}, {"plugin", true},
    {"qwindowgeometry", true}, {"qwindowicon", true}, {"qwindowtitle", true}, {"session", true},
    {"display", true},   {"geometry", true},  {"title", true},  {"icon", true},  {"name", true},
    {"style", true},     {"stylesheet", true}, {"reverse", false}, {"widgetcount", false},
    {"nograb", false},   {"dograb", false},   {"visual", true}, {"testability", false},
};

// How many arguments from `at` on are one of the GUI application's own options, 0 if none.
qsizetype guiOptionLength(const QStringList& arguments, qsizetype at)
{
    QString word = arguments.at(at);
    if (!word.startsWith(QLatin1Char('-')))
        return 0;
    word.remove(0, word.startsWith(QLatin1String("--")) ? 2 : 1);
    const qsizetype equals = word.indexOf(QLatin1Char('='));
    const QString name = equals < 0 ? word : word.left(equals);
    for (const GuiOption& option : kGuiOptions) {
        if (name != QLatin1String(option.name.data(), static_cast<qsizetype>(option.name.size())))
            continue;
        if (!option.takesValue)
            return equals < 0 ? 1 : 0;
        return equals >= 0 ? 1 : (at + 1 < arguments.size() ? 2 : 0);
    }
    return 0;
}

// The arguments without the GUI application's own options, which it takes out before the
// program reads them and which are so never unknown to the program.
QStringList withoutGuiOptions(const QStringList& arguments)
{
    QStringList ours;
    for (qsizetype i = 0; i < arguments.size();) {
        if (arguments.at(i) == QLatin1String("--")) {
            ours += arguments.mid(i);
            break;
        }
        const qsizetype taken = i == 0 ? 0 : guiOptionLength(arguments, i);
        if (taken == 0)
            ours += arguments.at(i);
        i += std::max<qsizetype>(taken, 1);
    }
    return ours;
}

}  // namespace

bool answersOnTerminal(const QStringList& arguments)
{
    QCommandLineParser parser;
    describeCommandLine(parser);
    if (!parser.parse(withoutGuiOptions(arguments)))
        return true;
    return parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all"))
        || parser.isSet(QStringLiteral("version"));
}

QString pathArgument(const QCoreApplication& app)
{
    QCommandLineParser parser;
    describeCommandLine(parser);
    // Without a GUI application (help, version) nothing has taken Qt's options out yet.
    parser.process(withoutGuiOptions(app.arguments()));
    const QStringList paths = parser.positionalArguments();
    return paths.isEmpty() ? QString() : paths.constFirst();
}

std::optional<StartRefusal> sandboxRefusal(uid_t uid, const QProcessEnvironment& environment)
{
    // The engine turns its sandbox off when the variable is there at all, whatever its value.
    if (uid != 0 || environment.contains(QStringLiteral("QTWEBENGINE_DISABLE_SANDBOX")))
        return std::nullopt;
    const QStringList flags = environment.value(QStringLiteral("QTWEBENGINE_CHROMIUM_FLAGS"))
                                  .split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (flags.contains(QStringLiteral("--no-sandbox")))
        return std::nullopt;
    return StartRefusal{
        QStringLiteral("Pictarre 不能以 root（超级用户）身份运行：内置浏览器的安全沙箱不允许 root 使用。\n\n"
                       "请以普通用户身份启动 Pictarre。如果确实要以 root 运行，请在启动前设置环境变量 "
                       "QTWEBENGINE_DISABLE_SANDBOX=1，浏览器将不受沙箱保护。"),
        QStringLiteral("pictarre: 不能以 root 身份运行（浏览器沙箱不允许），请以普通用户身份启动，"
                       "或设置 QTWEBENGINE_DISABLE_SANDBOX=1 在没有沙箱的情况下运行。\n"
                       "pictarre: refusing to run as root: the browser engine's sandbox does not allow it; "
                       "start it as a normal user, or set QTWEBENGINE_DISABLE_SANDBOX=1 to run without the sandbox.\n")};
}

bool displayNamed(const QProcessEnvironment& environment)
{
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
        if (!environment.value(QString::fromLatin1(name)).isEmpty())
            return true;
    }
    return false;
}

}  // namespace pictarre
