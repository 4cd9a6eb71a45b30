// The real main window against two simulated mixers on loopback addresses,
// inside the test's own network namespace. With ZELTO_UPDATE_DOCS=1 it also
// writes the pictures shown in the README into docs/.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <set>

#include "app/AppSettings.h"
#include "app/AppTestSupport.h"
#include "app/MainController.h"
#include "device/ZeltoDevice.h"
#include "support/SimProcess.h"
#include "sync/PresetBytes.h"
#include "sync/TempFolder.h"
#include "ui/ItemViews.h"
#include "ui/MainWindow.h"
#include "ui/SyncPreviewDialog.h"
#include "ui/StatusSheet.h"
#include "ui/WidgetUi.h"

namespace zelto {
namespace {

using namespace std::chrono_literals;
using test::waitUntil;

std::set<std::string> presetFiles(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const auto path = entry.path();
        if (path.extension() == ".ZELTOshow") names.insert(path.stem().string());
    }
    return names;
}

std::set<std::string> names(const PresetSourcePtr& source) {
    std::set<std::string> out;
    for (const auto& preset : source->presets()) out.insert(preset.name);
    return out;
}

void saveForDocs(QWidget* widget, const char* name) {
    if (qEnvironmentVariable("ZELTO_UPDATE_DOCS") != "1") return;
    QCoreApplication::sendPostedEvents();  // pending layouts
    const QString docs = qEnvironmentVariable("ZELTO_SOURCE_DIR") + QStringLiteral("/docs");
    QDir().mkpath(docs);
    EXPECT_TRUE(widget->grab().save(docs + "/" + name)) << name;
}

class EndToEnd : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* name : {"Tour_London", "Tour_Paris", "From The Folder"})
            folder.write(std::string(name) + ".ZELTOshow", bytesOf(name));
        settings.setSyncDirectoryPath(folder.path());
        addMixer("127.0.0.2", "Stage", {"Band-Drums", "Band-Keys", "Rehearsal"});
        addMixer("127.0.0.3", "Studio", {"Band-Bass", "Studio Session"});

        ControllerOptions options;
        for (const auto& mixer : mixers) options.hosts.push_back(mixer.address);
        options.noBroadcast = true;
        options.monitorNetworkPath = false;
        options.fingerprintCachePath = config.path() + "fingerprints.json";
        controller = std::make_unique<MainController>(pool, store, settings, ui, options);
        window = std::make_unique<ui::MainWindow>(*controller, ui);
        ui.setWindow(window.get(), window->statusSheet());
        window->show();
        QApplication::setActiveWindow(window.get());
        QObject::connect(controller.get(), &MainController::runFinished, [this] { ++runsFinished; });
        controller->start();
    }
    void TearDown() override {
        window->hide();
        EXPECT_TRUE(controller->shutDown());
        window.reset();
    }
    struct Mixer {
        std::string address;
        std::unique_ptr<test::TempFolder> folder;
        std::unique_ptr<test::SimProcess> sim;
    };
    void addMixer(const std::string& address, const std::string& name,
                  std::initializer_list<const char*> presets) {
        Mixer mixer{address, std::make_unique<test::TempFolder>(), nullptr};
        for (const char* preset : presets)
            mixer.folder->write(std::string(preset) + ".ZELTOshow", bytesOf(preset));
        mixer.sim = std::make_unique<test::SimProcess>(
            address, mixer.folder->path(),
            std::vector<std::string>{"--name", name, "--serial", "SN-" + name, "--uid", "uid-" + name});
        mixers.push_back(std::move(mixer));
    }
    static std::string bytesOf(const char* name) {
        const auto bytes = test::presetBytes(name);
        return {bytes.begin(), bytes.end()};
    }
    int rowOf(const std::string& address) {
        auto& model = window->sourceModel();
        for (int row = 0; row < model.rowCount(); ++row) {
            const auto& device = model.sourceAt(row)->device();
            if (device && device->ip().to_string() == address) return row;
        }
        return -1;
    }
    std::vector<std::string> errorLines() {
        std::vector<std::string> errors;
        for (const auto& line : controller->statusLog().lines())
            if (line.isError) errors.push_back(line.text);
        return errors;
    }

    test::TempFolder folder, config;
    AppSettings settings{QString::fromStdString(config.path() + "settings.ini")};
    std::vector<Mixer> mixers;
    IoPool pool{2};
    DataStore store;
    ui::WidgetUi ui;
    std::unique_ptr<MainController> controller;
    std::unique_ptr<ui::MainWindow> window;
    int runsFinished = 0;
};

TEST_F(EndToEnd, BothMixersAppearAGroupDropCopiesItsMembersAndSyncAllFillsEverySource) {
    auto& sources = window->sourceModel();
    ASSERT_TRUE(waitUntil([&] { return rowOf("127.0.0.2") >= 0 && rowOf("127.0.0.3") >= 0; }, 30s));
    EXPECT_EQ(sources.rowCount(), 3);
    EXPECT_EQ(sources.index(rowOf("127.0.0.2")).data().toString(), "Stage - SN-Stage @ 127.0.0.2");

    // The folder's "Tour" group dropped onto the first mixer.
    window->sourceView()->setCurrentIndex(sources.index(0));
    auto& presets = window->presetModel();
    ASSERT_EQ(presets.index(1, 0).data().toString(), "Tour");
    std::unique_ptr<QMimeData> drag(presets.mimeData({presets.index(1, 0)}));
    const int before = runsFinished;
    ASSERT_TRUE(sources.dropMimeData(drag.get(), Qt::CopyAction, -1, -1, sources.index(rowOf("127.0.0.2"))));
    ASSERT_TRUE(waitUntil([&] { return runsFinished > before; }, 60s));
    EXPECT_TRUE(window->statusSheet()->isVisible());
    EXPECT_TRUE(window->statusSheet()->closeButton()->isEnabled());
    EXPECT_EQ(errorLines(), std::vector<std::string>{});
    const auto& log = controller->statusLog().lines();
    EXPECT_TRUE(
        std::find(log.begin(), log.end(),
                  StatusLog::Line{"copying Tour_London from local to Stage - SN-Stage @ 127.0.0.2"}) !=
        log.end());
    const auto stage = sources.sourceAt(rowOf("127.0.0.2"));
    EXPECT_TRUE(names(stage).count("Tour_London") && names(stage).count("Tour_Paris"))
        << controller->statusLog().text();
    QTest::mouseClick(window->statusSheet()->closeButton(), Qt::LeftButton);
    EXPECT_FALSE(window->statusSheet()->isVisible());

    window->sourceView()->selectAll();
    saveForDocs(window.get(), "main-window.png");

    // Sync all from the keyboard.
    const int synced = runsFinished + 1;
    QApplication::setActiveWindow(window.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    QTest::keySequence(window.get(), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
    // First what it will do, from the same lists: Return confirms.
    auto* preview = window->syncPreviewDialog();
    ASSERT_TRUE(waitUntil([&] { return preview->isVisible(); }));
    EXPECT_FALSE(controller->runActive());
    QTest::keyClick(preview, Qt::Key_Return);
    ASSERT_TRUE(window->statusSheet()->isVisible());
    EXPECT_FALSE(window->statusSheet()->closeButton()->isEnabled());
    ASSERT_TRUE(waitUntil([&] { return runsFinished == synced; }, 60s));
    EXPECT_TRUE(window->statusSheet()->closeButton()->isEnabled());
    saveForDocs(window->statusSheet(), "status-sheet.png");

    EXPECT_EQ(errorLines(), std::vector<std::string>{});
    const std::string text = controller->statusLog().text();
    for (const char* line : {"starting sync\n", "preset manager sync finish\n", "sync finished\n",
                             "reloading preset lists\n", "reloading local presets\n", "finished!\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line << " missing in\n" << text;

    const std::set<std::string> all{"Band-Bass", "Band-Drums",     "Band-Keys",   "From The Folder",
                                    "Rehearsal", "Studio Session", "Tour_London", "Tour_Paris"};
    EXPECT_EQ(presetFiles(folder.path()), all);
    auto holdsAll = [&](const std::set<std::string>& held) {
        return std::includes(held.begin(), held.end(), all.begin(), all.end());
    };
    for (auto& mixer : mixers) {
        EXPECT_TRUE(holdsAll(presetFiles(mixer.folder->path()))) << mixer.address;
        EXPECT_TRUE(holdsAll(names(sources.sourceAt(rowOf(mixer.address)))))
            << "the reloaded list of " << mixer.address;
    }
    QTest::mouseClick(window->statusSheet()->closeButton(), Qt::LeftButton);
}

// The real program's environment: offscreen, with a runtime folder (private,
// as the lock wants it), settings and caches of the test's own.
static QProcessEnvironment programEnvironment(const QTemporaryDir& runtime, const QTemporaryDir& config) {
    QFile::setPermissions(runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), config.path());
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    return environment;
}

// The real program, twice, with a runtime folder of this test's own.
TEST(Program, ASecondCopyIsRefusedWhileTheFirstRunsAndAcceptedOnceItHasDied) {
    QTemporaryDir runtime, config, folder;
    ASSERT_TRUE(runtime.isValid() && config.isValid() && folder.isValid());
    const QProcessEnvironment environment = programEnvironment(runtime, config);
    const QString program = QString::fromStdString(test::builtProgram("zelto-presets"));
    const QStringList arguments{QStringLiteral("--no-broadcast"), QStringLiteral("--dir"), folder.path()};
    const QString lock = runtime.filePath(QStringLiteral("zelto-presets.lock"));
    auto start = [&](QProcess& process) {
        process.setProcessEnvironment(environment);
        process.start(program, arguments);
        ASSERT_TRUE(process.waitForStarted()) << program.toStdString();
    };
    // The lock file names its holder's process first.
    auto holder = [&] {
        QFile file(lock);
        return file.open(QIODevice::ReadOnly) ? file.readLine().trimmed().toLongLong() : 0;
    };

    QProcess first, second, third;
    start(first);
    ASSERT_TRUE(QTest::qWaitFor([&] { return holder() == first.processId(); }, 30000));
    start(second);
    ASSERT_TRUE(second.waitForFinished(30000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 1);
    EXPECT_TRUE(second.readAllStandardError().contains("zelto-presets is already running"));

    first.kill();  // leaves its lock file behind
    ASSERT_TRUE(first.waitForFinished(30000));
    start(third);
    EXPECT_TRUE(QTest::qWaitFor([&] { return holder() == third.processId(); }, 30000))
        << "the dead copy's lock";
    EXPECT_EQ(third.state(), QProcess::Running);
    third.kill();
    third.waitForFinished(30000);
}

// Logout (SIGTERM) and a terminal's Ctrl+C (SIGINT) quit the real program as
// its Quit command does: status 0, the window's state written to the settings.
TEST(Program, QuitsCleanlyOnSigtermAndSigint) {
    for (const int signal : {SIGTERM, SIGINT}) {
        QTemporaryDir runtime, config, folder;
        ASSERT_TRUE(runtime.isValid() && config.isValid() && folder.isValid());
        const QProcessEnvironment environment = programEnvironment(runtime, config);
        QProcess program;
        program.setProcessEnvironment(environment);
        program.start(QString::fromStdString(test::builtProgram("zelto-presets")),
                      {QStringLiteral("--no-broadcast"), QStringLiteral("--dir"), folder.path()});
        ASSERT_TRUE(program.waitForStarted());
        // It takes the lock after it has set up its signal handling.
        QFile lock(runtime.filePath(QStringLiteral("zelto-presets.lock")));
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                const bool held = lock.open(QIODevice::ReadOnly) &&
                                  lock.readLine().trimmed().toLongLong() == program.processId();
                lock.close();
                return held;
            },
            30000));
        ::kill(static_cast<pid_t>(program.processId()), signal);
        ASSERT_TRUE(program.waitForFinished(30000)) << strsignal(signal);
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit) << strsignal(signal);
        EXPECT_EQ(program.exitCode(), 0) << strsignal(signal);
        QSettings settings(config.filePath(QStringLiteral("Zelto/zelto-presets.conf")), QSettings::IniFormat);
        EXPECT_TRUE(settings.contains(QStringLiteral("MainWindow/geometry"))) << strsignal(signal);
    }
}

}  // namespace
}  // namespace zelto
