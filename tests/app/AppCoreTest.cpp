// The main-thread executor, the data store, the status log, the settings, the
// single-instance lock and the routing of the lower layers' lines into Qt's
// logging: nothing here needs a network.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QProcess>
#include <QSysInfo>
#include <QThread>
#include <asio/co_spawn.hpp>
#include <asio/execution/context.hpp>
#include <asio/query.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <asio/use_awaitable.hpp>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "app/AppSettings.h"
#include "app/AppTestSupport.h"
#include "app/DataStore.h"
#include "app/Logging.h"
#include "app/MainThreadExecutor.h"
#include "app/SettingsController.h"
#include "app/SingleInstance.h"
#include "app/StatusLog.h"
#include "async/Log.h"
#include "device/ZeltoDevice.h"
#include "sync/PresetFiles.h"
#include "sync/TempFolder.h"

namespace zelto {
namespace {

using namespace std::chrono_literals;
using test::waitUntil;

TEST(MainThreadExecutor, CoroutineResumesOnTheMainThreadAfterAPoolTimer) {
    IoPool pool(2);
    MainThreadContext context;
    std::vector<bool> onMain;
    bool ranInline = true;
    asio::post(context.executor(), [&] { ranInline = false; });
    EXPECT_TRUE(ranInline) << "never runs inside post";
    auto body = [&]() -> Task<void> {
        for (int i = 0; i < 3; ++i) {
            onMain.push_back(QThread::currentThread() == qApp->thread());
            asio::steady_timer timer(pool.context(), 10ms);
            auto wait = timer.async_wait(asio::use_awaitable);
            co_await std::move(wait);
        }
        onMain.push_back(QThread::currentThread() == qApp->thread());
    };
    asio::co_spawn(context.executor(), body(), [](std::exception_ptr) {});
    EXPECT_GT(context.outstanding(), 0u);
    EXPECT_TRUE(context.runUntilIdle(5s));
    EXPECT_FALSE(ranInline);
    EXPECT_EQ(onMain, std::vector<bool>(4, true));
    EXPECT_FALSE(asio::has_service<asio::detail::scheduler>(context));
    std::optional<MainThreadExecutor> late;
    {
        MainThreadContext gone;
        late.emplace(gone.executor());
        EXPECT_EQ(context.executor(), context.executor());
        EXPECT_NE(context.executor(), gone.executor());
    }
    bool ranLate = false;
    late->execute([&] { ranLate = true; });
    QCoreApplication::processEvents();
    EXPECT_FALSE(ranLate) << "an executor that outlived its context posts nothing";
}

TEST(DataStore, NotifiesWithTheSourceOutsideItsLockAndRemovesAfterTheNotification) {
    asio::io_context io;
    auto device = ZeltoDevice::make(io, OSCEndpoint{"127.0.0.2", 9110}, 9112, "u");
    DataStore store;
    std::vector<std::string> events;
    auto record = [&](const char* what) {
        return [&, what](std::shared_ptr<PresetSource> source) {
            events.push_back(std::string(what) + " " + source->name() + " " +
                             std::to_string(store.sources().size()));
        };
    };
    QObject::connect(&store, &DataStore::DataStoreSourceAdded, record("added"));
    QObject::connect(&store, &DataStore::DataStoreSourceRemoved, record("removed"));
    QObject::connect(&store, &DataStore::PresetSourcePresetsAdded, record("presets"));

    store.setLocalPresets({RemoteZeltoPreset("L")});  // no local source yet: added
    store.addSource(std::make_shared<PresetSource>("one", device));
    store.addSource(std::make_shared<PresetSource>("two", device));
    store.setPresets({RemoteZeltoPreset("X")}, nullptr);
    store.setPresets({RemoteZeltoPreset("Y")}, device);
    store.removeSources(device);
    store.removeSources(nullptr);
    EXPECT_EQ(events, (std::vector<std::string>{"added Zelto App (local) 1", "added one 2", "added two 3",
                                                "presets Zelto App (local) 3", "presets one 3",
                                                "presets two 3", "removed one 3", "removed two 3"}));
    ASSERT_EQ(store.sources().size(), 1u);
    EXPECT_EQ(store.localSource()->presets()[0].name, "X");
}

TEST(StatusLog, LinesFromAnotherThreadKeepTheirOrderAndCancelIsAskedOnce) {
    StatusLog log;
    log.clear();
    EXPECT_TRUE(log.canCancel());
    std::thread writer([&] {
        for (int i = 0; i < 50; ++i) log.append(std::to_string(i), i % 2 == 1);
    });
    writer.join();
    ASSERT_TRUE(waitUntil([&] { return log.lines().size() == 50; }));
    for (int i = 0; i < 50; ++i) EXPECT_EQ(log.lines()[i], (StatusLog::Line{std::to_string(i), i % 2 == 1}));
    int asked = 0;
    QObject::connect(&log, &StatusLog::cancelRequested, [&] { ++asked; });
    log.cancel();
    log.cancel();
    log.finish();
    log.cancel();
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(log.isFinished());
    EXPECT_FALSE(log.canCancel());
}

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// HOME and XDG_CONFIG_HOME (where the desktop's user-dirs.dirs names the
// download folder) point into folders of the test.
class Settings : public ::testing::Test {
  protected:
    test::TempFolder home, config, xdgConfig;
    std::string savedHome = environment("HOME");
    std::string savedXdgConfig = environment("XDG_CONFIG_HOME");
    AppSettings settings{QString::fromStdString(config.path() + "settings.ini")};
    DataStore store;
    test::FakeUi ui;
    SettingsController view{settings, store, ui};
    std::string downloads;

    void SetUp() override {
        ::setenv("HOME", home.path().c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", xdgConfig.path().c_str(), 1);
        downloads = presetfiles::homeDirectory() + "/Downloads/";
        std::filesystem::create_directories(downloads);
    }
    void TearDown() override {
        ::setenv("HOME", savedHome.c_str(), 1);
        if (savedXdgConfig.empty())
            ::unsetenv("XDG_CONFIG_HOME");
        else
            ::setenv("XDG_CONFIG_HOME", savedXdgConfig.c_str(), 1);
    }
};

TEST_F(Settings, DefaultIsDownloadsUnlessTheCompanionFolderExistsAndNothingIsStored) {
    view.viewLoaded();
    EXPECT_EQ(settings.syncDirectoryPath(), downloads);
    EXPECT_EQ(view.modeIndex(), SettingsController::defaultMode);
    EXPECT_FALSE(view.pathEditable());
    EXPECT_FALSE(settings.hasStoredSyncDirectory());
    std::filesystem::create_directories(ZeltoPresetManager::zeltoAppPresetPath());
    EXPECT_EQ(settings.syncDirectoryPath(), ZeltoPresetManager::zeltoAppPresetPath());
    EXPECT_TRUE(settings.isDefaultSyncDirectory());
}

TEST_F(Settings, ChosenFolderIsStoredWithASlashAndTheDownloadsFolderCountsAsDefault) {
    test::TempFolder custom;
    custom.write("P.ZELTOshow", "x");
    ui.chosenFolder = custom.path().substr(0, custom.path().size() - 1);
    view.syncDirectoryMode(SettingsController::customMode);
    EXPECT_EQ(settings.syncDirectoryPath(), custom.path());
    EXPECT_TRUE(view.pathEditable());
    ASSERT_TRUE(store.localSource());
    EXPECT_EQ(store.localSource()->presets()[0].name, "P");

    ui.chosenFolder = home.path() + "Downloads";
    view.syncDirectoryMode(SettingsController::customMode);
    EXPECT_EQ(settings.syncDirectoryPath(), downloads);
    view.viewLoaded();
    EXPECT_EQ(view.modeIndex(), SettingsController::defaultMode);
}

TEST_F(Settings, DefaultIsTheDownloadFolderAsTheDesktopNamesIt) {
    xdgConfig.write("user-dirs.dirs", "XDG_DOWNLOAD_DIR=\"$HOME/Téléchargements\"\n");
    const std::string localised = home.path() + "Téléchargements/";
    std::filesystem::create_directories(localised);
    EXPECT_EQ(settings.syncDirectoryPath(), localised);
    EXPECT_TRUE(settings.isDefaultSyncDirectory());
    EXPECT_FALSE(settings.hasStoredSyncDirectory());

    std::filesystem::create_directories(ZeltoPresetManager::zeltoAppPresetPath());
    EXPECT_EQ(settings.syncDirectoryPath(), ZeltoPresetManager::zeltoAppPresetPath())
        << "the companion's folder";
    settings.setSyncDirectoryPath("/stored/");
    EXPECT_EQ(settings.syncDirectoryPath(), "/stored/") << "a stored folder wins";
}

TEST_F(Settings, CancelledChooserKeepsTheFolderInUseAndOpensAtIt) {
    settings.setSyncDirectoryPath("/somewhere/else/");
    view.viewLoaded();
    ui.chosenFolder.reset();
    view.chooseSyncDirectory();
    EXPECT_EQ(ui.chooserStart, "/somewhere/else/");
    EXPECT_EQ(settings.syncDirectoryPath(), "/somewhere/else/");
    EXPECT_EQ(view.modeIndex(), SettingsController::customMode);
    EXPECT_TRUE(view.pathEditable());
    EXPECT_EQ(view.pathUrl(), "/somewhere/else/");

    // From the default folder, "custom" then Cancel goes back to the default
    // and stores nothing.
    settings.store().remove(AppSettings::syncDirectoryKey);
    view.viewLoaded();
    view.syncDirectoryMode(SettingsController::customMode);
    EXPECT_EQ(ui.chooserStart, downloads);
    EXPECT_EQ(view.modeIndex(), SettingsController::defaultMode);
    EXPECT_FALSE(view.pathEditable());
    EXPECT_FALSE(settings.hasStoredSyncDirectory());
    EXPECT_TRUE(store.sources().empty()) << "nothing to reload";
}

TEST_F(Settings, UnparsablePathShowsNoUrlAndAnUnreadableFolderWarns) {
    settings.setSyncDirectoryPath(home.path() + "with space/");
    view.viewLoaded();
    EXPECT_FALSE(view.pathUrl());
    EXPECT_EQ(view.modeIndex(), SettingsController::customMode);
    EXPECT_EQ(settings.syncDirectoryPath(), home.path() + "with space/");
    view.reloadLocalPresets();
    ASSERT_EQ(ui.alerts.size(), 1u);
    EXPECT_EQ(ui.alerts[0].first, AppUi::AlertStyle::warning);
    EXPECT_EQ(ui.alerts[0].second.rfind("Could not reload local preset list: ", 0), 0u);
    EXPECT_TRUE(store.sources().empty());

    settings.setMixerAddresses({"10.0.0.5", " ", "mixer.local"});
    EXPECT_EQ(settings.mixerAddresses(), (std::vector<std::string>{"10.0.0.5", "mixer.local"}));
}

TEST(MainThreadExecutor, AnExecutorThatOutlivesItsContextAnswersItsQueriesSafely) {
    std::optional<MainThreadExecutor> kept;
    {
        MainThreadContext context;
        kept.emplace(context.executor());
        EXPECT_EQ(&asio::query(*kept, asio::execution::context), static_cast<asio::execution_context*>(&context));
    }
    // A coroutine frame destroyed late on the pool may still ask.
    asio::execution_context& after = asio::query(*kept, asio::execution::context);
    EXPECT_FALSE(asio::has_service<asio::detail::scheduler>(after));
    asio::post(*kept, [] { ADD_FAILURE() << "nothing runs once the context is gone"; });
    QCoreApplication::processEvents();
}

// The lock is taken by path, so an in-process second SingleInstance stands
// for a second copy of the program.
TEST(SingleInstance, ASecondCopyIsRefusedWhileTheFirstRunsAndAcceptedOnceItHasEnded) {
    test::TempFolder runtime;
    const QString path = QString::fromStdString(runtime.path()) + SingleInstance::lockFileName;
    auto first = std::make_unique<SingleInstance>(path);
    ASSERT_TRUE(first->acquire());
    EXPECT_TRUE(first->acquire()) << "asking again keeps the lock";
    SingleInstance second(path);
    EXPECT_FALSE(second.acquire());
    EXPECT_TRUE(second.heldByAnother());

    first.reset();
    EXPECT_TRUE(second.acquire());
}

TEST(SingleInstance, ALockLeftByADeadProcessIsTakenOverAndAnOldLiveOneIsNot) {
    test::TempFolder runtime;
    const QString path = QString::fromStdString(runtime.path()) + SingleInstance::lockFileName;
    QProcess ended;
    ended.start(QStringLiteral("true"), {});
    ASSERT_TRUE(ended.waitForStarted());
    const qint64 deadPid = ended.processId();
    ASSERT_TRUE(ended.waitForFinished());
    {
        QFile stale(path);
        ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
        stale.write(QByteArray::number(deadPid) + "\nzelto-presets\n" + QSysInfo::machineHostName().toUtf8() +
                    "\n");
    }
    SingleInstance instance(path);
    EXPECT_TRUE(instance.acquire()) << "the lock of a process that has died";

    // A live holder's lock, however old, stays.
    const auto old = std::filesystem::last_write_time(path.toStdString()) - std::chrono::hours(24);
    std::filesystem::last_write_time(path.toStdString(), old);
    SingleInstance second(path);
    EXPECT_FALSE(second.acquire());
}

struct QtLine {
    QtMsgType type;
    QString category;
    QString message;
    bool operator==(const QtLine&) const = default;
};

std::vector<QtLine>& qtLines() {
    static std::vector<QtLine> lines;
    return lines;
}

TEST(LogRouting, LinesOfTheLowerLayersReachQtUnderTheirMirroredCategoryAndLevel) {
    installLogRouting();
    qtLines().clear();
    auto previous =
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context, const QString& message) {
            qtLines().push_back({type, QString::fromUtf8(context.category), message});
        });
    logLine(LogCategory::preset, LogLevel::debug, "off by default, as in Qt");
    logLine(LogCategory::osc, LogLevel::warning, "osc warning");
    logFormat(LogCategory::sync, LogLevel::critical, "sync %s", "critical");
    logLine(LogCategory::async, LogLevel::info, "async info");
    QLoggingCategory::setFilterRules(QStringLiteral("zelto.device.debug=true"));
    logLine(LogCategory::device, LogLevel::debug, "device debug");
    QLoggingCategory::setFilterRules({});
    logLine(LogCategory::device, LogLevel::debug, "device debug again");
    qInstallMessageHandler(previous);
    setLogSink(nullptr);
    std::vector<QtLine> expected = {
        {QtWarningMsg, "zelto.osc", "osc warning"},
        {QtCriticalMsg, "zelto.sync", "sync critical"},
        {QtInfoMsg, "zelto.async", "async info"},
        {QtDebugMsg, "zelto.device", "device debug"},
    };
    EXPECT_EQ(qtLines(), expected);
}

}  // namespace
}  // namespace zelto
