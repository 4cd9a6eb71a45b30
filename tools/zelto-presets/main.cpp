// zelto-presets: the desktop preset manager.
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <memory>
#include <optional>

#include "ScreenshotTour.h"
#include "app/AppSettings.h"
#include "app/DataStore.h"
#include "app/Logging.h"
#include "app/MainController.h"
#include "app/QuitSignals.h"
#include "app/SingleInstance.h"
#include "app/ViewRules.h"
#include "async/Executor.h"
#include "ui/Icons.h"
#include "ui/MainWindow.h"
#include "ui/Translations.h"
#include "ui/WidgetUi.h"
#include "zelto/Version.h"

namespace {

struct Options {
    std::vector<std::string> hosts;
    bool noBroadcast = false;
    std::optional<QString> syncFolder;
    std::optional<QString> screenshots;
};

[[noreturn]] void usageError(const QString& message) {
    std::fprintf(stderr, "zelto-presets: %s\nTry 'zelto-presets --help'.\n", qPrintable(message));
    std::exit(2);
}

// The program's options, described once for --help and for parsing.
void describeOptions(QCommandLineParser& parser) {
    parser.setApplicationDescription(
        QStringLiteral("Keeps the presets of networked in-ear monitor mixers and a sync folder in step.\n"
                       "Finds the mixers on the local networks and shows their presets next to those of a "
                       "folder on this computer, to sync, copy, load and delete them."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption({QStringLiteral("host"),
                      QStringLiteral("Also ask the mixer at ADDR (IPv4) on every network scan; "
                                     "may be given several times."),
                      QStringLiteral("ADDR")});
    parser.addOption({QStringLiteral("no-broadcast"),
                      QStringLiteral("Send no broadcast: ask only the mixers given with --host "
                                     "and those stored in the settings.")});
    parser.addOption({QStringLiteral("dir"),
                      QStringLiteral("Use DIR as the sync folder for this run; settings changed "
                                     "during the run are not kept."),
                      QStringLiteral("DIR")});
    parser.addOption({QStringLiteral("screenshots"),
                      QStringLiteral("Once the mixers appear, save pictures of the main window and of the "
                                     "status sheet after Sync all into DIR, print their paths and quit."),
                      QStringLiteral("DIR")});
}

// --help and --version are answered before the application object exists, so
// that they work without a display. The application's own options (-platform
// and the like) are not known yet and are let through here.
void answerHelpOrVersion(QCommandLineParser& parser, int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments.push_back(QString::fromLocal8Bit(argv[i]));
    parser.parse(arguments);
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all"))) {
        // Without an application object the parser cannot name the program.
        QString text = parser.helpText();
        text.replace(QStringLiteral("<executable_name>"), QStringLiteral("zelto-presets"));
        std::fputs(qPrintable(text), stdout);
        std::exit(0);
    }
    if (parser.isSet(QStringLiteral("version"))) {
        std::printf("zelto-presets %s\n", zelto::kVersion);
        std::exit(0);
    }
}

Options parseOptions(QCommandLineParser& parser, const QApplication& app) {
    parser.process(app);
    const QString host = QStringLiteral("host"), dir = QStringLiteral("dir"),
                  screenshots = QStringLiteral("screenshots");

    Options options;
    for (const auto& text : parser.values(host)) {
        const auto address = zelto::mixerAddress(text.toStdString());
        if (!address) usageError(QStringLiteral("--host needs an IPv4 address, not '%1'").arg(text));
        options.hosts.push_back(*address);
    }
    options.noBroadcast = parser.isSet(QStringLiteral("no-broadcast"));
    if (parser.isSet(dir)) {
        const QFileInfo folder(parser.value(dir));
        if (!folder.isDir()) usageError(QStringLiteral("no such folder: %1").arg(parser.value(dir)));
        options.syncFolder = folder.absoluteFilePath();
    }
    if (parser.isSet(screenshots)) options.screenshots = QDir(parser.value(screenshots)).absolutePath();
    if (!parser.positionalArguments().isEmpty())
        usageError(QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().front()));
    return options;
}

// A second copy would work on the same folder and mixers as the first: it is
// refused. The screenshot tour (a scripted run that quits by itself, with its
// own folder) runs beside the user's copy.
bool isOnlyInstance(zelto::SingleInstance& instance) {
    if (instance.acquire()) return true;
    if (!instance.heldByAnother()) {
        std::fprintf(stderr, "zelto-presets: cannot make the lock file %s; not checking for another copy\n",
                     qPrintable(zelto::SingleInstance::defaultLockPath()));
        return true;
    }
    std::fprintf(stderr, "%s\n", zelto::SingleInstance::alreadyRunningMessage);
    const QString platform = QGuiApplication::platformName();
    if (platform != QLatin1String("offscreen") && platform != QLatin1String("minimal"))
        QMessageBox::warning(nullptr, QApplication::applicationDisplayName(),
                             QCoreApplication::translate("zelto::SingleInstance",
                                                         zelto::SingleInstance::alreadyRunningMessage));
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    // Before anything below the application can log a line.
    zelto::installLogRouting();
    QApplication::setOrganizationName(QStringLiteral("Zelto"));
    QApplication::setApplicationName(QStringLiteral("zelto-presets"));
    QApplication::setApplicationVersion(QString::fromLatin1(zelto::kVersion));
    QApplication::setDesktopFileName(QStringLiteral("org.zelto.presets"));
    QCommandLineParser parser;
    describeOptions(parser);
    answerHelpOrVersion(parser, argc, argv);
    QApplication app(argc, argv);
    zelto::ui::Translations::install(app);
    // From here SIGTERM and SIGINT no longer kill the program: they quit it below.
    zelto::QuitSignals quitSignals({SIGTERM, SIGINT});
    QApplication::setApplicationDisplayName(QStringLiteral("Zelto Presets"));
    QApplication::setWindowIcon(zelto::ui::appIcon());
    const Options options = parseOptions(parser, app);
    zelto::SingleInstance instance;
    if (!options.screenshots && !isOnlyInstance(instance)) return 1;

    // With --dir the settings live in a scratch file for this run only.
    QTemporaryDir scratch;
    std::unique_ptr<zelto::AppSettings> settings;
    if (options.syncFolder) {
        settings = std::make_unique<zelto::AppSettings>(scratch.filePath(QStringLiteral("settings.ini")));
        settings->setSyncDirectoryPath(options.syncFolder->toStdString() + "/");
    } else {
        settings = std::make_unique<zelto::AppSettings>();
    }

    zelto::IoPool pool(2);
    zelto::ui::WidgetUi ui;
    zelto::ControllerOptions controllerOptions;
    controllerOptions.hosts = options.hosts;
    controllerOptions.noBroadcast = options.noBroadcast;
    auto controller = std::make_unique<zelto::MainController>(pool, zelto::DataStore::shared(), *settings, ui,
                                                              controllerOptions);
    auto window = std::make_unique<zelto::ui::MainWindow>(*controller, ui);
    ui.setWindow(window.get(), window->statusSheet());
    window->show();
    controller->start();
    // A signal quits as the Quit command does (the window's state is saved,
    // sessions end below); open dialogs are left too.
    QObject::connect(&quitSignals, &zelto::QuitSignals::received, window.get(), [&window] {
        window->quitAction()->trigger();
        QCoreApplication::exit(0);
    });

    std::unique_ptr<zelto::ui::ScreenshotTour> tour;
    if (options.screenshots) {
        tour = std::make_unique<zelto::ui::ScreenshotTour>(*window, *controller, *options.screenshots,
                                                           static_cast<int>(options.hosts.size()));
        tour->start();
    }

    int status = app.exec();
    if (tour && !tour->succeeded()) status = 1;
    window->hide();
    controller->shutDown();
    tour.reset();
    window.reset();
    controller.reset();
    return status;
}
