#include "app/uProgram.h"

#include "app/ufrmFinish.h"
#include "app/ufrmMain.h"
#include "app/ufrmWelcome.h"
#include "framework/sbBurner.h"
#include "framework/sbCallBack.h"
#include "framework/sbLog.h"
#include "platform/sbDesktopNotify.h"

#include <QCommandLineParser>
#include <QGuiApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <cstdio>

namespace {
// The translation named Name for Locale in Folder, or null when there is none.
std::unique_ptr<QTranslator> InstallTranslation(const QLocale &Locale, const QString &Name,
                                                const QString &Folder)
{
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(Locale, Name, QStringLiteral("_"), Folder) ||
        !QCoreApplication::installTranslator(translator.get()))
        return nullptr;
    return translator;
}

// Options that Qt's application objects take themselves (the name and whether
// a value follows), accepted here so that they reach the window system.
struct TQtOption
{
    const char *Name;
    bool HasValue;
};
constexpr TQtOption QtOptions[] = {{"platform", true},
                                   {"platformpluginpath", true},
                                   {"platformtheme", true},
                                   {"plugin", true},
                                   {"qwindowgeometry", true},
                                   {"qwindowicon", true},
                                   {"qwindowtitle", true},
                                   {"session", true},
                                   {"display", true},
                                   {"geometry", true},
                                   {"style", true},
                                   {"stylesheet", true},
                                   {"name", true},
                                   {"title", true},
                                   {"reverse", false},
                                   {"widgetcount", false},
                                   {"nograb", false},
                                   {"dograb", false},
                                   {"sync", false}};

void Print(std::FILE *Stream, const QString &Text)
{
    std::fputs(Text.toLocal8Bit().constData(), Stream);
    std::fflush(Stream);
}

int CommandLineError(const QString &Text)
{
    Print(stderr, QCoreApplication::translate("CommandLine",
                                              "%1: %2\nTry '%1 --help' for more information.\n")
                      .arg(QStringLiteral("blankora"), Text));
    return 2;
}
} // namespace

TProgramTranslations::TProgramTranslations(const QLocale &Locale)
    : FQt(InstallTranslation(Locale, QStringLiteral("qtbase"),
                             QLibraryInfo::path(QLibraryInfo::TranslationsPath))),
      FProgram(
          InstallTranslation(Locale, QStringLiteral("blankora"), QStringLiteral(":/translations")))
{}

// The translators take themselves out of the application when they are freed.
TProgramTranslations::~TProgramTranslations() = default;

void SetProgramIdentity()
{
    QCoreApplication::setApplicationName(QStringLiteral("Blankora"));
    QCoreApplication::setApplicationVersion(QStringLiteral(BLANKORA_VERSION));
    if (qobject_cast<QGuiApplication *>(QCoreApplication::instance()) != nullptr) {
        QGuiApplication::setDesktopFileName(QStringLiteral(BLANKORA_APP_ID));
        QGuiApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("blankora")));
    }
}

std::optional<int> RunCommandLine(const QStringList &Arguments)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(QCoreApplication::translate(
        "CommandLine", "Erases a rewritable optical disc (CD-RW, DVD-RW, DVD+RW, DVD-RAM, BD-RE) "
                       "step by step. Started without options, it opens its wizard."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    // --help-all lists them too.
    const bool showQtOptions = Arguments.contains(QStringLiteral("--help-all")) ||
                               Arguments.contains(QStringLiteral("-help-all"));
    for (const TQtOption &qtOption : QtOptions) {
        QCommandLineOption option(QString::fromLatin1(qtOption.Name),
                                  QCoreApplication::translate("CommandLine", "Handled by Qt."),
                                  qtOption.HasValue ? QStringLiteral("value") : QString());
        if (!showQtOptions)
            option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    if (!parser.parse(Arguments))
        return CommandLineError(parser.errorText());
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
        Print(stdout, parser.helpText());
        return 0;
    }
    if (parser.isSet(version)) {
        Print(stdout, QCoreApplication::applicationName() + u' ' +
                          QCoreApplication::applicationVersion() + u'\n');
        return 0;
    }
    if (!parser.positionalArguments().isEmpty())
        return CommandLineError(
            QCoreApplication::translate("CommandLine", "Unexpected argument '%1'.")
                .arg(parser.positionalArguments().constFirst()));
    return std::nullopt;
}

void StartProgram()
{
    CheckLibraryVersion();
    GLogger = new TsbLogger();
    GCallBackEventer = new TsbCallBackEventer();
    SetProgramIdentity();
}

void EndProgram()
{
    FinishDesktopNotifications();
    delete GCallBackEventer;
    GCallBackEventer = nullptr;
    delete GLogger;
    GLogger = nullptr;
}

TProgramWindows CreateProgramWindows()
{
    TProgramWindows windows;
    windows.Welcome = new TfrmWelcome();
    windows.Finish = new TfrmFinish();
    windows.Finish->SetProgramMainWindow(windows.Welcome);
    windows.Main = new TMainForm(windows.Welcome, windows.Finish);
    windows.Welcome->SetWizardWindow(windows.Main);
    return windows;
}

void DestroyProgramWindows(TProgramWindows &Windows)
{
    delete Windows.Main;
    Windows.Main = nullptr;
    delete Windows.Finish;
    Windows.Finish = nullptr;
    delete Windows.Welcome;
    Windows.Welcome = nullptr;
}
