// zelto-presets: the desktop preset manager.
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <memory>
#include <optional>

#include "ScreenshotTour.h"
#include "app/AppSettings.h"
#include "app/DataStore.h"
#include "app/Logging.h"
#include "app/MainController.h"
#include "app/SingleInstance.h"
#include "app/ViewRules.h"
#include "async/Executor.h"
#include "ui/Icons.h"
#include "ui/MainWindow.h"
#include "ui/Translations.h"
#include "ui/WidgetUi.h"

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

Options parseOptions(const QApplication& app) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Keeps the presets of networked in-ear monitor mixers and a sync folder in step."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption host(QStringLiteral("host"),
                                  QStringLiteral("Also ask the mixer at ADDR (IPv4) on every network scan; "
                                                 "may be given several times."),
                                  QStringLiteral("ADDR"));
    const QCommandLineOption noBroadcast(
        QStringLiteral("no-broadcast"),
        QStringLiteral("Send no broadcast: ask only the mixers given with --host "
                       "and those stored in the settings."));
    const QCommandLineOption dir(QStringLiteral("dir"),
                                 QStringLiteral("Use DIR as the sync folder for this run; settings changed "
                                                "during the run are not kept."),
                                 QStringLiteral("DIR"));
    const QCommandLineOption screenshots(
        QStringLiteral("screenshots"),
        QStringLiteral("Once the mixers appear, save pictures of the main window and of the status sheet "
                       "after Sync all into DIR, print their paths and quit."),
        QStringLiteral("DIR"));
    parser.addOptions({host, noBroadcast, dir, screenshots});
    parser.process(app);

    Options options;
    for (const auto& text : parser.values(host)) {
        const auto address = zelto::mixerAddress(text.toStdString());
        if (!address) usageError(QStringLiteral("--host needs an IPv4 address, not '%1'").arg(text));
        options.hosts.push_back(*address);
    }
    options.noBroadcast = parser.isSet(noBroadcast);
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
    QApplication::setApplicationVersion(QStringLiteral(ZELTO_PRESETS_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("org.zelto.presets"));
    QApplication app(argc, argv);
    zelto::ui::Translations::install(app);
    QApplication::setApplicationDisplayName(QStringLiteral("Zelto Presets"));
    QApplication::setWindowIcon(zelto::ui::appIcon());
    const Options options = parseOptions(app);
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
