// The main tasks by keyboard alone, in the real main window against two
// simulated mixers inside the test's own network namespace: choose sources
// and presets, copy them with Edit ▸ Copy Selected To, Sync all, load a
// preset with its confirmation, delete one, open the settings.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
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
#include "ui/SettingsDialog.h"
#include "ui/StatusSheet.h"
#include "ui/WidgetUi.h"

namespace zelto {
namespace {

using namespace std::chrono_literals;
using test::waitUntil;

bool holds(const std::string& folder, const std::string& preset) {
    return std::filesystem::exists(std::filesystem::path(folder) / (preset + ".ZELTOshow"));
}

std::string bytesOf(const char* name) {
    const auto bytes = test::presetBytes(name);
    return {bytes.begin(), bytes.end()};
}

class KeyboardWalk : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* name : {"Tour_London", "Tour_Paris", "From The Folder"})
            folder.write(std::string(name) + ".ZELTOshow", bytesOf(name));
        for (const char* name : {"Band-Drums", "Rehearsal"})
            stageFolder.write(std::string(name) + ".ZELTOshow", bytesOf(name));
        studioFolder.write("Band-Bass.ZELTOshow", bytesOf("Band-Bass"));
        stage = std::make_unique<test::SimProcess>(
            "127.0.0.2", stageFolder.path(),
            std::vector<std::string>{"--name", "Stage", "--serial", "SN-1", "--uid", "uid-stage"});
        studio = std::make_unique<test::SimProcess>(
            "127.0.0.3", studioFolder.path(),
            std::vector<std::string>{"--name", "Studio", "--serial", "SN-2", "--uid", "uid-studio"});
        settings.setSyncDirectoryPath(folder.path());

        ControllerOptions options;
        options.hosts = {"127.0.0.2", "127.0.0.3"};
        options.noBroadcast = true;
        options.monitorNetworkPath = false;
        options.fingerprintCachePath = config.path() + "fingerprints.json";
        controller = std::make_unique<MainController>(pool, store, settings, ui, options);
        window = std::make_unique<ui::MainWindow>(*controller, ui);
        ui.setWindow(window.get(), window->statusSheet());
        QObject::connect(controller.get(), &MainController::runFinished, [this] { ++runsFinished; });
        window->show();
        QApplication::setActiveWindow(window.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        controller->start();
    }
    void TearDown() override {
        window->hide();
        EXPECT_TRUE(controller->shutDown());
        window.reset();
    }

    // The widget that takes keys now: a popup menu, a dialog, or the window's focus.
    static QWidget* keyTarget() {
        if (QWidget* popup = QApplication::activePopupWidget()) return popup;
        if (QWidget* modal = QApplication::activeModalWidget())
            return modal->focusWidget() ? modal->focusWidget() : modal;
        QWidget* active = QApplication::activeWindow();
        return active && active->focusWidget() ? active->focusWidget() : active;
    }
    static void press(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QWidget* target = keyTarget();
        ASSERT_NE(target, nullptr) << "no widget takes keys";
        QTest::keyClick(target, Qt::Key(key), modifiers);
    }
    // Presses `key` until `reached` holds, at most `limit` times.
    static bool pressUntil(int key, const std::function<bool()>& reached, int limit = 12) {
        for (int i = 0; i < limit && !reached(); ++i) press(key);
        return reached();
    }
    QString currentText(QAbstractItemView* view) { return view->currentIndex().data().toString(); }
    int rowOf(const QString& start) {
        for (int row = 0; row < window->sourceModel().rowCount(); ++row)
            if (window->sourceModel().index(row).data().toString().startsWith(start)) return row;
        return -1;
    }
    std::set<std::string> selectedPresets() {
        std::set<std::string> names;
        for (const auto& index : window->presetView()->selectionModel()->selectedRows())
            if (!index.data(PresetTreeModel::IsGroupRole).toBool())
                names.insert(index.data(PresetTreeModel::PresetNameRole).toString().toStdString());
        return names;
    }
    // A run started by keys: it ends, with no red line, and its sheet closes by Escape.
    void finishRun(int before) {
        ASSERT_TRUE(waitUntil([&] { return runsFinished > before; }, 60s));
        for (const auto& line : controller->statusLog().lines()) EXPECT_FALSE(line.isError) << line.text;
        ASSERT_TRUE(waitUntil([&] { return window->statusSheet()->isVisible(); }));
        ASSERT_TRUE(waitUntil([&] { return QApplication::activeModalWidget() == window->statusSheet(); }));
        press(Qt::Key_Escape);
        ASSERT_TRUE(waitUntil([&] { return !window->statusSheet()->isVisible(); }));
        windowManagerActivates();
    }
    // What a window manager does when a dialog opens or closes; the offscreen platform does not.
    void windowManagerActivates(QWidget* top = nullptr) {
        if (!top) top = window.get();
        top->activateWindow();  // the platform window, whose focus Qt follows
        QApplication::setActiveWindow(top);
        ASSERT_TRUE(QTest::qWaitForWindowActive(top));
    }

    test::TempFolder folder, config, stageFolder, studioFolder;
    std::unique_ptr<test::SimProcess> stage, studio;
    AppSettings settings{QString::fromStdString(config.path() + "settings.ini")};
    IoPool pool{2};
    DataStore store;
    ui::WidgetUi ui;
    std::unique_ptr<MainController> controller;
    std::unique_ptr<ui::MainWindow> window;
    int runsFinished = 0;
};

TEST_F(KeyboardWalk, EveryMainTaskIsDoneWithTheKeyboardAlone) {
    auto* sources = window->sourceView();
    auto* presets = window->presetView();
    ASSERT_TRUE(waitUntil([&] { return rowOf("Stage") >= 0 && rowOf("Studio") >= 0; }, 30s));
    ASSERT_TRUE(waitUntil([&] { return sources->hasFocus(); }));

    // Sources: the sync folder, by Home.
    press(Qt::Key_Home);
    ASSERT_EQ(currentText(sources), "Zelto App (local)");
    // Presets: Tab into the list, down to Tour_London, Shift+Down adds Tour_Paris.
    press(Qt::Key_Tab);
    ASSERT_TRUE(waitUntil([&] { return presets->hasFocus(); }));
    ASSERT_TRUE(pressUntil(Qt::Key_Down, [&] {
        return presets->currentIndex().data(PresetTreeModel::PresetNameRole).toString() == "Tour_London";
    }));
    press(Qt::Key_Down, Qt::ShiftModifier);
    EXPECT_EQ(selectedPresets(), (std::set<std::string>{"Tour_London", "Tour_Paris"}));

    // Copy to: Alt+E opens Edit, C its Copy Selected To, the arrows reach Stage, Return copies.
    int before = runsFinished;
    press(Qt::Key_E, Qt::AltModifier);
    ASSERT_TRUE(waitUntil([&] { return QApplication::activePopupWidget() != nullptr; }));
    press(Qt::Key_C);
    ASSERT_TRUE(waitUntil([&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        return menu && menu->title() == "&Copy Selected To";
    }));
    auto* copyMenu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_TRUE(pressUntil(Qt::Key_Down, [&] {
        return copyMenu->activeAction() && copyMenu->activeAction()->text().startsWith("Stage");
    }));
    press(Qt::Key_Return);
    finishRun(before);
    EXPECT_TRUE(holds(stageFolder.path(), "Tour_London") && holds(stageFolder.path(), "Tour_Paris"));
    EXPECT_FALSE(holds(studioFolder.path(), "Tour_London"));

    // Sync all: what it will do first, then Return starts it.
    before = runsFinished;
    press(Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
    ASSERT_TRUE(waitUntil([&] { return QApplication::activeModalWidget() == window->syncPreviewDialog(); }));
    press(Qt::Key_Return);
    finishRun(before);
    EXPECT_TRUE(holds(studioFolder.path(), "Rehearsal") && holds(folder.path(), "Band-Bass"));

    // Load: Shift+Tab back to the sources, down to Stage, Tab to Rehearsal, Ctrl+L.
    press(Qt::Key_Tab, Qt::ShiftModifier);
    ASSERT_TRUE(waitUntil([&] { return sources->hasFocus(); }));
    ASSERT_TRUE(pressUntil(Qt::Key_Down, [&] { return currentText(sources).startsWith("Stage"); }));
    EXPECT_EQ(sources->selectionModel()->selectedRows().size(), 1);
    press(Qt::Key_Tab);
    ASSERT_TRUE(waitUntil([&] { return presets->hasFocus(); }));
    press(Qt::Key_Home);
    ASSERT_TRUE(pressUntil(
        Qt::Key_Down,
        [&] {
            return presets->currentIndex().data(PresetTreeModel::PresetNameRole).toString() == "Rehearsal";
        },
        20));
    press(Qt::Key_L, Qt::ControlModifier);
    ASSERT_TRUE(waitUntil([&] { return qobject_cast<QMessageBox*>(QApplication::activeModalWidget()); }));
    windowManagerActivates(QApplication::activeModalWidget());
    // The confirmation starts on "cancel": Tab moves to "load", Space presses it.
    ASSERT_TRUE(pressUntil(
        Qt::Key_Tab,
        [&] {
            auto* button = qobject_cast<QPushButton*>(QApplication::focusWidget());
            return button && button->text() == "load";
        },
        6));
    press(Qt::Key_Space);
    EXPECT_TRUE(stage->waitForLine("current preset Rehearsal", 10s));
    ASSERT_TRUE(waitUntil([&] { return QApplication::activeModalWidget() == nullptr; }));
    windowManagerActivates();

    // Delete: the preset view has the focus, Delete removes Rehearsal from Stage.
    ASSERT_TRUE(waitUntil([&] { return presets->hasFocus(); }));
    ASSERT_TRUE(pressUntil(
        Qt::Key_Up,
        [&] {
            return presets->currentIndex().data(PresetTreeModel::PresetNameRole).toString() == "Rehearsal";
        },
        20));
    press(Qt::Key_Delete);
    EXPECT_TRUE(waitUntil([&] { return !holds(stageFolder.path(), "Rehearsal"); }, 10s));
    EXPECT_TRUE(holds(studioFolder.path(), "Rehearsal")) << "only the selected source's preset goes";

    // The settings: Ctrl+, opens them, Escape closes them.
    press(Qt::Key_Comma, Qt::ControlModifier);
    ASSERT_TRUE(waitUntil([&] { return QApplication::activeModalWidget() == window->settingsDialog(); }));
    press(Qt::Key_Escape);
    EXPECT_TRUE(waitUntil([&] { return !window->settingsDialog()->isVisible(); }));
}

}  // namespace
}  // namespace zelto
