// The widgets on the offscreen platform, over a data store filled by the test
// (mixers that are never connected, so nothing goes on the network).
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QSpinBox>
#include <QTreeView>
#include <QLabel>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QTextEdit>
#include <asio/ip/address_v4.hpp>

#include "app/AppSettings.h"
#include "app/AppTestSupport.h"
#include "app/MainController.h"
#include "device/ZeltoDevice.h"
#include "sync/History.h"
#include "sync/TempFolder.h"
#include "ui/DeviceInfoSheet.h"
#include "ui/HistoryWindow.h"
#include "ui/Icons.h"
#include "ui/ItemViews.h"
#include "ui/MainWindow.h"
#include "ui/SettingsDialog.h"
#include "ui/StatusSheet.h"

namespace zelto {
namespace {

using test::waitUntil;

// Records the alerts and confirmations, and answers nothing by itself.
struct RecordingUi : test::FakeUi {
    void confirm(AlertStyle style, const std::string& message, const std::string& informativeText,
                 const std::string& confirmButton, const std::string& cancelButton,
                 std::function<void(bool)> done) override {
        confirmations.push_back({message, informativeText, confirmButton, cancelButton});
        warning = style == AlertStyle::warning;
        answer = std::move(done);
    }
    std::vector<std::vector<std::string>> confirmations;
    bool warning = false;
    std::function<void(bool)> answer;
};

std::vector<RemoteZeltoPreset> list(std::initializer_list<const char*> names) {
    std::vector<RemoteZeltoPreset> presets;
    for (const char* name : names) presets.emplace_back(name);
    return presets;
}

class Widgets : public ::testing::Test {
  protected:
    void SetUp() override {
        settings.setSyncDirectoryPath(folder.path());
        ControllerOptions options;
        options.noBroadcast = true;
        options.monitorNetworkPath = false;
        controller = std::make_unique<MainController>(pool, store, settings, ui, options);
        window = std::make_unique<ui::MainWindow>(*controller, ui);
        window->show();

        stage = std::make_shared<ZeltoDevice>(pool.context(), asio::ip::make_address_v4("127.0.0.2"), 9112,
                                              std::nullopt);
        store.addSource(
            std::make_shared<PresetSource>("Zelto App (local)", nullptr, list({"Band-1", "Ghost"})));
        store.addSource(std::make_shared<PresetSource>("Stage", stage, list({"Band-2", "Solo"})));
        ASSERT_TRUE(waitUntil([&] { return window->sourceModel().rowCount() == 2; }));
        window->sourceView()->selectAll();
    }
    void TearDown() override {
        window.reset();
        EXPECT_TRUE(controller->shutDown());
    }

    // The preset row named `name`, with its group row as parent.
    QModelIndex presetRow(const std::string& name) {
        auto& model = window->presetModel();
        for (int g = 0; g < model.rowCount(); ++g)
            for (int p = 0; p < model.rowCount(model.index(g, 0)); ++p) {
                const auto index = model.index(p, 0, model.index(g, 0));
                if (index.data(PresetTreeModel::PresetNameRole).toString().toStdString() == name)
                    return index;
            }
        return {};
    }

    // The group row named `name`.
    QModelIndex groupRow(const std::string& name) {
        auto& model = window->presetModel();
        for (int g = 0; g < model.rowCount(); ++g)
            if (model.index(g, 0).data().toString().toStdString() == name) return model.index(g, 0);
        return {};
    }
    // The copy jobs the window hands on, as "from>to:name".
    void recordCopies() {
        window->setCopyJobsHandler([this](std::vector<PresetCopyJob> jobs) {
            for (const auto& job : jobs)
                copies.push_back(sourceKey(job.from) + ">" + sourceKey(job.to) + ":" + job.presetName +
                                 (job.problem.empty() ? "" : " (" + job.problem + ")"));
        });
    }
    // Chooses `target` in a copy menu, as the user does.
    static void chooseIn(QMenu* menu, const QString& target) {
        emit menu->aboutToShow();
        for (QAction* action : menu->actions())
            if (action->text() == target) return action->trigger();
        ADD_FAILURE() << "no item " << target.toStdString();
    }
    void focus(QWidget* view) {
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        view->setFocus();
        ASSERT_TRUE(waitUntil([&] { return view->hasFocus(); }));
    }

    std::vector<std::string> copies;
    test::TempFolder folder, config;
    AppSettings settings{QString::fromStdString(config.path() + "settings.ini")};
    IoPool pool{2};
    DataStore store;
    RecordingUi ui;
    std::unique_ptr<MainController> controller;
    std::unique_ptr<ui::MainWindow> window;
    DevicePtr stage;
};

TEST_F(Widgets, ContextMenusEnableTheirCommandsForTheAffectedRows) {
    auto* sources = window->sourceView()->selectionModel();
    sources->clearSelection();
    EXPECT_FALSE(window->prepareSourceMenu(window->sourceModel().index(0))->actions()[0]->isEnabled());
    sources->select(window->sourceModel().index(0), QItemSelectionModel::Select);
    QMenu* menu = window->prepareSourceMenu(window->sourceModel().index(1));
    EXPECT_TRUE(menu->actions()[0]->isEnabled()) << "the clicked mixer row counts with the selection";
    EXPECT_TRUE(menu->actions()[1]->isEnabled());

    window->sourceView()->selectAll();
    ASSERT_TRUE(presetRow("Solo").isValid());
    QMenu* presets = window->preparePresetMenu(presetRow("Solo"));
    ASSERT_EQ(presets->actions()[1], window->loadMenuAction()) << "load is the second item";
    EXPECT_TRUE(window->loadMenuAction()->isEnabled());
    window->preparePresetMenu(presetRow("Band-1"));
    EXPECT_FALSE(window->loadMenuAction()->isEnabled()) << "a local preset cannot be loaded";
    window->preparePresetMenu(presetRow("Solo").parent());
    EXPECT_FALSE(window->loadMenuAction()->isEnabled()) << "a group row";
    window->presetView()->selectionModel()->select(presetRow("Band-2"), QItemSelectionModel::Select);
    window->preparePresetMenu(presetRow("Solo"));
    EXPECT_FALSE(window->loadMenuAction()->isEnabled()) << "two affected rows";
    EXPECT_TRUE(window->deleteMenuAction()->isEnabled());

    // From the keyboard the menu is for the current row.
    window->presetView()->selectionModel()->clear();
    window->presetView()->setCurrentIndex(presetRow("Solo"));
    QSignalSpy asked(window->presetView(), &ui::PresetTreeView::contextMenuAt);
    QContextMenuEvent key(QContextMenuEvent::Keyboard, QPoint(), QPoint());
    QApplication::sendEvent(window->presetView()->viewport(), &key);
    ASSERT_EQ(asked.count(), 1);
    EXPECT_EQ(asked[0][0].toModelIndex(), presetRow("Solo"));
    EXPECT_TRUE(window->loadMenuAction()->isEnabled());
    presets->close();
}

TEST_F(Widgets, LoadAsksWithTheWarningAndALocalDeleteFailureIsACriticalAlert) {
    window->preparePresetMenu(presetRow("Solo"));
    window->loadMenuAction()->trigger();
    ASSERT_EQ(ui.confirmations.size(), 1u);
    EXPECT_TRUE(ui.warning);
    EXPECT_EQ(
        ui.confirmations[0],
        (std::vector<std::string>{"Warning!",
                                  "Are you sure you want to load \"Solo\" on your zelto hardware? This will "
                                  "overwrite all current settings on the device!",
                                  "load", "cancel"}));
    ui.answer(false);

    window->preparePresetMenu(presetRow("Ghost"));
    window->deleteMenuAction()->trigger();
    ASSERT_TRUE(waitUntil([&] { return !ui.alerts.empty(); }));
    ASSERT_EQ(ui.alerts.size(), 1u);
    EXPECT_EQ(ui.alerts[0].first, AppUi::AlertStyle::critical);
    EXPECT_EQ(ui.alerts[0].second.rfind("Could not delete local preset \"Ghost\": ", 0), 0u)
        << ui.alerts[0].second;
}

TEST_F(Widgets, ADropOntoItsOwnSourceStillRunsAnEmptyCopyBatch) {
    std::unique_ptr<QMimeData> data(window->presetModel().mimeData({presetRow("Solo")}));
    const auto stageRow = window->sourceModel().index(1);
    ASSERT_TRUE(window->sourceModel().canDropMimeData(data.get(), Qt::CopyAction, -1, -1, stageRow));
    ASSERT_TRUE(window->sourceModel().dropMimeData(data.get(), Qt::CopyAction, -1, -1, stageRow));
    ASSERT_TRUE(waitUntil([&] { return ui.sheets == 1 && controller->statusLog().isFinished(); }));
    EXPECT_EQ(controller->statusLog().text(),
              "starting copy\ncopy finished\nreloading preset lists\nfinished!\n");
}

TEST_F(Widgets, AGroupWithItsOwnMemberSelectedCopiesEachPresetOnceByMenuAndByDrop) {
    recordCopies();
    auto* selection = window->presetView()->selectionModel();
    ASSERT_TRUE(groupRow("Band").isValid());
    selection->select(groupRow("Band"), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    selection->select(presetRow("Band-2"), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    ASSERT_TRUE(window->copySelectedToMenu()->isEnabled());
    chooseIn(window->copySelectedToMenu(), "Zelto App (local)");
    EXPECT_EQ(copies, std::vector<std::string>{"127.0.0.2>local:Band-2"});

    copies.clear();
    window->preparePresetMenu(presetRow("Band-1"));
    chooseIn(window->presetCopyMenu(), "Stage");
    EXPECT_EQ(copies, std::vector<std::string>{"local>127.0.0.2:Band-1"})
        << "the clicked row joins the selection; Band-2 is on Stage already";

    copies.clear();
    std::unique_ptr<QMimeData> data(window->presetModel().mimeData({groupRow("Band"), presetRow("Band-2")}));
    ASSERT_TRUE(window->sourceModel().dropMimeData(data.get(), Qt::CopyAction, -1, -1,
                                                   window->sourceModel().index(0)));
    ASSERT_TRUE(waitUntil([&] { return !copies.empty(); }));
    EXPECT_EQ(copies, std::vector<std::string>{"127.0.0.2>local:Band-2"});
}

TEST_F(Widgets, AChangedListKeepsTheSelectionTheCurrentRowAndTheTopRowInView) {
    // A third source with thirty groups of ten, so the view scrolls.
    std::vector<RemoteZeltoPreset> acts;
    for (int p = 0; p < 300; ++p)
        acts.emplace_back(
            QStringLiteral("Act%1-%2").arg(p % 30, 2, 10, QLatin1Char('0')).arg(p).toStdString());
    const auto studio = std::make_shared<ZeltoDevice>(pool.context(), asio::ip::make_address_v4("127.0.0.3"),
                                                      9112, std::nullopt);
    store.addSource(std::make_shared<PresetSource>("Studio", studio, acts));
    ASSERT_TRUE(waitUntil([&] { return window->sourceModel().rowCount() == 3; }));
    window->sourceView()->selectAll();
    ASSERT_TRUE(waitUntil([&] { return presetRow("Act29-299").isValid(); }));

    auto* view = window->presetView();
    auto name = [](const QModelIndex& index) {
        return index.data(PresetTreeModel::PresetNameRole).toString();
    };
    view->selectionModel()->setCurrentIndex(presetRow("Band-1"),
                                            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    view->selectionModel()->select(presetRow("Act20-110"),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
    view->scrollTo(presetRow("Act10-100"), QAbstractItemView::PositionAtTop);
    ASSERT_EQ(name(view->indexAt(QPoint(0, 0))), "Act10-100");
    const int scrolled = view->verticalScrollBar()->value();
    QSignalSpy resets(&window->presetModel(), &QAbstractItemModel::modelAboutToBeReset);

    // Band-2 goes, so Band-1 moves to "others"; above the top row a group
    // goes and one comes; a row is added in a selected range of rows.
    store.setPresets(list({"Solo"}), stage);
    acts.erase(acts.begin(), acts.begin() + 30);
    acts.emplace_back("Aaa-1");
    acts.emplace_back("Aaa-2");
    acts.emplace_back("Act20-111a");
    store.setPresets(acts, studio);
    ASSERT_TRUE(waitUntil([&] { return presetRow("Aaa-1").isValid() && !groupRow("Band").isValid(); }));

    EXPECT_EQ(resets.count(), 0);
    const auto band1 = presetRow("Band-1");
    EXPECT_EQ(band1.parent().data().toString(), "others");
    EXPECT_TRUE(view->selectionModel()->isSelected(band1)) << "the moved row lost its selection";
    EXPECT_EQ(view->currentIndex(), band1);
    EXPECT_TRUE(view->selectionModel()->isSelected(presetRow("Act20-110")));
    EXPECT_FALSE(view->selectionModel()->isSelected(presetRow("Act20-111a")));
    EXPECT_FALSE(view->selectionModel()->isSelected(presetRow("Aaa-1")));
    EXPECT_EQ(view->selectionModel()->selectedRows().size(), 2);
    EXPECT_EQ(name(view->indexAt(QPoint(0, 0))), "Act10-100") << "the view scrolled away";
    EXPECT_NE(view->verticalScrollBar()->value(), scrolled) << "the rows above changed in number";
}

TEST_F(Widgets, PaintingTheViewsAgainCopiesNoPresetListAndParsesNoSvg) {
    auto paintBoth = [&] {
        (void)window->sourceView()->viewport()->grab();
        (void)window->presetView()->viewport()->grab();
    };
    paintBoth();
    const auto copies = PresetSource::listCopies();
    const auto parses = ui::svgParses();
    paintBoth();
    paintBoth();
    EXPECT_EQ(PresetSource::listCopies(), copies);
    EXPECT_EQ(ui::svgParses(), parses);

    // A palette of a text colour not used before draws the folder icon anew, once.
    static int shade = 0;
    QPalette dark = window->palette();
    dark.setColor(QPalette::Text, QColor(0xee, 0xee, 0x10 + ++shade % 200));
    window->sourceView()->setPalette(dark);
    paintBoth();
    const auto afterPalette = ui::svgParses();
    EXPECT_GT(afterPalette, parses);
    paintBoth();
    EXPECT_EQ(ui::svgParses(), afterPalette);
    EXPECT_EQ(PresetSource::listCopies(), copies);
}

TEST_F(Widgets, GroupsCollapseByArrowDoubleClickAndKeysAndStaySoWhileTheListsChange) {
    auto* view = window->presetView();
    ASSERT_TRUE(view->isExpanded(groupRow("Band")));
    focus(view);
    view->setCurrentIndex(groupRow("Band"));
    QTest::keyClick(view, Qt::Key_Left);
    EXPECT_FALSE(view->isExpanded(groupRow("Band")));
    QTest::keyClick(view, Qt::Key_Right);
    EXPECT_TRUE(view->isExpanded(groupRow("Band")));

    const QRect heading = view->visualRect(groupRow("Band"));
    const QPoint arrow(heading.left() - view->indentation() / 2, heading.center().y());
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, arrow);
    EXPECT_FALSE(view->isExpanded(groupRow("Band")));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, arrow);
    EXPECT_TRUE(view->isExpanded(groupRow("Band")));
    // What a double click delivers: press, release, double click, release.
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, heading.center());
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, heading.center());
    QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, heading.center());
    EXPECT_FALSE(view->isExpanded(groupRow("Band")));

    store.setPresets(list({"Band-2", "Band-3", "Solo"}), stage);
    ASSERT_TRUE(waitUntil([&] { return presetRow("Band-3").isValid(); }));
    EXPECT_FALSE(view->isExpanded(groupRow("Band")));
    // The group dissolves and forms again; a new group opens expanded.
    store.setPresets(list({"Solo"}), stage);
    ASSERT_TRUE(waitUntil([&] { return !groupRow("Band").isValid(); }));
    store.setPresets(list({"Band-2", "Duo-1", "Duo-2", "Solo"}), stage);
    ASSERT_TRUE(waitUntil([&] { return groupRow("Band").isValid(); }));
    EXPECT_FALSE(view->isExpanded(groupRow("Band")));
    EXPECT_TRUE(view->isExpanded(groupRow("Duo")));
    EXPECT_TRUE(view->isExpanded(groupRow("others")));
}

TEST_F(Widgets, DeleteActsOnlyWhileThePresetViewHasTheFocus) {
    window->presetView()->selectionModel()->select(presetRow("Ghost"),
                                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
    focus(window->sourceView());
    EXPECT_FALSE(window->deleteAction()->isEnabled());
    QTest::keyClick(window->sourceView(), Qt::Key_Delete);
    window->deleteAction()->trigger();
    // A delete would answer with its alert once the main thread is idle again.
    ASSERT_TRUE(controller->mainThread().runUntilIdle(std::chrono::seconds(5)));
    EXPECT_TRUE(ui.alerts.empty()) << "deleted presets from the source list";

    focus(window->presetView());
    EXPECT_TRUE(window->deleteAction()->isEnabled());
    QTest::keyClick(window->presetView(), Qt::Key_Delete);
    ASSERT_TRUE(waitUntil([&] { return !ui.alerts.empty(); })) << "the failed delete of the local file";
    ASSERT_EQ(ui.alerts.size(), 1u);
    EXPECT_NE(ui.alerts[0].second.find("\"Ghost\""), std::string::npos);
}

TEST_F(Widgets, AMixerThatDisconnectsIsHeldByNoViewMenuOrSheet) {
    const long held = stage.use_count();
    window->prepareSourceMenu(window->sourceModel().index(1));
    window->infoMenuAction()->trigger();
    ASSERT_TRUE(waitUntil([&] { return window->deviceInfoSheet()->isVisible(); }));
    ASSERT_EQ(window->deviceInfoSheet()->device(), stage);
    window->preparePresetMenu(presetRow("Solo"));
    emit window->presetCopyMenu()->aboutToShow();
    window->presetView()->selectionModel()->select(presetRow("Solo"),
                                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
    emit window->copySelectedToMenu()->aboutToShow();
    ASSERT_GT(stage.use_count(), held);

    store.removeSources(stage);
    ASSERT_TRUE(waitUntil([&] { return window->sourceModel().rowCount() == 1; }));
    EXPECT_TRUE(waitUntil([&] { return stage.use_count() == 1; }, std::chrono::seconds(5)))
        << stage.use_count() - 1 << " references left";
    EXPECT_FALSE(window->deviceInfoSheet()->device());
    EXPECT_FALSE(presetRow("Solo").isValid());
    window->deviceInfoSheet()->reject();
}

TEST_F(Widgets, StatusSheetStylesItsLinesAndClosesOnlyOnceTheRunHasEnded) {
    StatusLog log;
    ui::StatusSheet sheet(log, window.get());
    sheet.show();
    log.clear();
    EXPECT_FALSE(sheet.closeButton()->isEnabled());
    EXPECT_TRUE(sheet.cancelButton()->isEnabled());
    for (int i = 0; i < 60; ++i) log.append("sent preset " + std::to_string(i));
    log.append("failed! readTimeout", true);

    const QTextBlock last = sheet.logView()->document()->lastBlock();
    const QTextBlock first = sheet.logView()->document()->firstBlock();
    EXPECT_EQ(last.text(), "failed! readTimeout");
    const QTextCharFormat normal = first.begin().fragment().charFormat();
    const QTextCharFormat error = last.begin().fragment().charFormat();
    EXPECT_EQ(normal.font().pointSizeF(), 11);
    EXPECT_FALSE(normal.font().bold());
    EXPECT_EQ(normal.foreground().color(), sheet.palette().color(QPalette::Text));
    EXPECT_EQ(error.font().pointSizeF(), 12);
    EXPECT_TRUE(error.font().bold());
    const QColor red = error.foreground().color();
    EXPECT_TRUE(red.red() > 180 && red.green() < 120 && red.blue() < 120) << red.name().toStdString();
    QScrollBar* scroll = sheet.logView()->verticalScrollBar();
    EXPECT_GT(scroll->maximum(), 0);
    EXPECT_EQ(scroll->value(), scroll->maximum());

    log.setTransfersPlanned(4);
    log.addTransferDone();
    EXPECT_EQ(sheet.progressBar()->maximum(), 4);
    EXPECT_EQ(sheet.progressBar()->value(), 1);

    QSignalSpy cancelled(&log, &StatusLog::cancelRequested);
    QTest::mouseClick(sheet.cancelButton(), Qt::LeftButton);
    EXPECT_EQ(cancelled.count(), 1);
    EXPECT_FALSE(sheet.cancelButton()->isEnabled());
    QTest::keyClick(&sheet, Qt::Key_Escape);
    EXPECT_TRUE(sheet.isVisible()) << "Escape does not close the sheet of an active run";
    log.finish();
    EXPECT_TRUE(sheet.closeButton()->isEnabled());
    QTest::mouseClick(sheet.closeButton(), Qt::LeftButton);
    EXPECT_FALSE(sheet.isVisible());
}

TEST_F(Widgets, SettingsShowTheFolderAsAPathAndKeepMixerAddresses) {
    window->settingsAction()->trigger();
    ui::SettingsDialog* dialog = window->settingsDialog();
    ASSERT_TRUE(waitUntil([&] { return dialog->isVisible(); }));
    EXPECT_EQ(dialog->modeBox()->currentIndex(), 1) << "a temporary folder is a custom folder";
    EXPECT_EQ(dialog->pathField()->text().toStdString(), folder.path());

    QTest::keyClicks(dialog->addressField(), "mixer.local");
    EXPECT_FALSE(dialog->addButton()->isEnabled());
    dialog->addressField()->clear();
    QSignalSpy changed(dialog, &ui::SettingsDialog::mixerAddressesChanged);
    QTest::keyClicks(dialog->addressField(), " 10.0.0.7 ");
    ASSERT_TRUE(dialog->addButton()->isEnabled());
    QTest::keyClick(dialog->addressField(), Qt::Key_Return);
    EXPECT_EQ(settings.mixerAddresses(), std::vector<std::string>{"10.0.0.7"});
    EXPECT_EQ(dialog->mixerList()->count(), 1);
    EXPECT_EQ(changed.count(), 1);

    EXPECT_FALSE(dialog->verifyBox()->isChecked());
    EXPECT_EQ(dialog->versionsBox()->value(), 20);
    EXPECT_EQ(dialog->historySizeBox()->value(), 500);
    dialog->verifyBox()->click();
    dialog->historySizeBox()->setValue(64);
    EXPECT_TRUE(settings.verifySentPresets());
    EXPECT_EQ(settings.historySizeMiB(), 64);
    dialog->reject();
}

TEST_F(Widgets, HistoryWindowListsVersionsByNameAndRestoresOneByButtonAndByDrag) {
    folder.write("Song.ZELTOshow", "the song");
    History history(folder.path());
    history.deleteFolderFile("Song", "deleted", HistoryOperation::make("delete"));
    HistoryLocation stageMixer{.mixer = true, .name = "Stage", .serial = "SN9", .uid = "u9", .address = "127.0.0.2"};
    history.keepBytes("Solo", stageMixer, {1, 2, 3}, HistoryEvent::replaced, "replaced by a copy from local",
                      HistoryOperation::make("copy"));

    window->historyAction()->trigger();
    ui::HistoryWindow* historyWindow = window->historyWindow();
    auto& model = historyWindow->model();
    ASSERT_TRUE(waitUntil([&] { return model.rowCount() == 2; }));
    EXPECT_TRUE(historyWindow->isVisible());
    EXPECT_FALSE(historyWindow->problemLabel()->isVisible());
    const auto solo = model.index(0, 0), song = model.index(1, 0);
    EXPECT_EQ(solo.data().toString(), "Solo · 1 version");
    ASSERT_EQ(model.rowCount(song), 1);
    EXPECT_EQ(model.index(0, HistoryModel::whereColumn, solo).data().toString(), "mixer Stage (serial SN9)");
    EXPECT_EQ(model.index(0, HistoryModel::whyColumn, solo).data().toString(),
              "replaced by a copy from the sync folder");
    EXPECT_EQ(model.index(0, HistoryModel::whereColumn, song).data().toString(), "sync folder");
    EXPECT_EQ(model.index(0, HistoryModel::whyColumn, song).data().toString(), "deleted");

    // Restore by button into the folder: a run in the status sheet.
    historyWindow->view()->selectionModel()->select(
        model.index(0, 0, song), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    historyWindow->destinationBox()->setCurrentIndex(0);  // the folder comes first
    ASSERT_TRUE(historyWindow->restoreButton()->isEnabled());
    const int sheets = ui.sheets;
    QTest::mouseClick(historyWindow->restoreButton(), Qt::LeftButton);
    EXPECT_EQ(ui.sheets, sheets + 1);
    EXPECT_FALSE(window->undoAction()->isEnabled()) << "no undo while a run is going on";
    EXPECT_FALSE(historyWindow->restoreButton()->isEnabled());
    ASSERT_TRUE(waitUntil([&] { return !controller->runActive(); }));
    EXPECT_EQ(controller->runs().lastOutcome(), RunCoordinator::Outcome::succeeded);
    EXPECT_EQ(folder.read("Song.ZELTOshow"), "the song");
    // The list follows: the restore replaced nothing, so Song still has one version.
    ASSERT_TRUE(waitUntil([&] { return window->undoAction()->text() == "&Undo Restore"; }));
    EXPECT_TRUE(window->undoAction()->isEnabled());

    // A drag of Solo's version onto the folder's row restores it there.
    const auto version = model.indexOf(model.index(0, 0, solo).data(HistoryModel::EntryIdRole).toULongLong());
    std::unique_ptr<QMimeData> drag(model.mimeData({version}));
    auto& sources = window->sourceModel();
    ASSERT_TRUE(sources.canDropMimeData(drag.get(), Qt::CopyAction, -1, -1, sources.index(0)));
    ASSERT_TRUE(sources.dropMimeData(drag.get(), Qt::CopyAction, -1, -1, sources.index(0)));
    ASSERT_TRUE(waitUntil([&] { return ui.sheets == sheets + 2 && !controller->runActive(); }));
    EXPECT_EQ(folder.read("Solo.ZELTOshow"), std::string("\x01\x02\x03"));
}

TEST_F(Widgets, AHistoryThatIsNotOursIsAMessageInTheWindow) {
    folder.write(".zelto-history", "someone else's file");
    window->historyAction()->trigger();
    ui::HistoryWindow* historyWindow = window->historyWindow();
    QSignalSpy reloaded(historyWindow, &ui::HistoryWindow::reloaded);
    ASSERT_TRUE(reloaded.wait(5000));
    EXPECT_TRUE(historyWindow->problemLabel()->isVisible());
    EXPECT_TRUE(historyWindow->problemLabel()->text().contains(".zelto-history is not a folder"))
        << historyWindow->problemLabel()->text().toStdString();
    EXPECT_EQ(historyWindow->model().rowCount(), 0);
}

}  // namespace
}  // namespace zelto
