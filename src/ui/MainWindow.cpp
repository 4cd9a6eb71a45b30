#include "ui/MainWindow.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QScrollBar>
#include <QSettings>
#include <QSplitter>
#include <QStatusBar>
#include <QToolBar>
#include <QUrl>
#include <QVBoxLayout>
#include <optional>
#include <set>

#include "app/AppSettings.h"
#include "app/MainController.h"
#include "app/ViewRules.h"
#include "ui/CompareWindow.h"
#include "ui/DeviceInfoSheet.h"
#include "ui/PresetDiffWindow.h"
#include "ui/SyncPreviewDialog.h"
#include "ui/HistoryWindow.h"
#include "ui/Icons.h"
#include "ui/ItemViews.h"
#include "ui/SettingsDialog.h"
#include "ui/StatusSheet.h"
#include "ui/SubduedLabel.h"
#include "zelto/Version.h"

namespace zelto::ui {

namespace {

QWidget* titledPane(const QString& title, QLabel* subtitle, QWidget* view, QWidget* parent) {
    auto* pane = new QWidget(parent);
    auto* heading = new SubduedLabel(title.toUpper(), pane);
    QFont font = heading->font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * 0.85);
    font.setLetterSpacing(QFont::PercentageSpacing, 108);
    heading->setFont(font);

    auto* header = new QHBoxLayout;
    header->setContentsMargins(12, 10, 12, 6);
    header->addWidget(heading);
    header->addStretch(1);
    if (subtitle) header->addWidget(subtitle);
    auto* layout = new QVBoxLayout(pane);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addLayout(header);
    layout->addWidget(view, 1);
    return pane;
}

}  // namespace

MainWindow::MainWindow(MainController& controller, AppUi& ui, QWidget* parent)
    : QMainWindow(parent),
      controller_(controller),
      ui_(ui),
      presetModel_(std::make_unique<PresetTreeModel>()),
      sourceModel_(std::make_unique<SourceListModel>(controller.dataStore(), *presetModel_)),
      settingsController_(controller.settings(), controller.dataStore(), ui) {
    settingsController_.setFolderReader([this](const std::string& path, auto done) {
        controller_.readFolder(path, std::move(done));
    });
    setWindowTitle(tr("Zelto Presets"));
    setWindowIcon(appIcon());
    setUnifiedTitleAndToolBarOnMac(true);

    statusSheet_ = new StatusSheet(controller_.statusLog(), this);
    deviceInfoSheet_ = new DeviceInfoSheet(this);
    settingsDialog_ = new SettingsDialog(settingsController_, controller_.settings(), this);
    historyWindow_ = new HistoryWindow(controller_, this);
    compareWindow_ = new CompareWindow(controller_, this);
    diffWindow_ = new PresetDiffWindow(controller_, this);
    syncPreview_ = new SyncPreviewDialog(this);
    connect(syncPreview_, &QDialog::accepted, this, [this] { controller_.syncAll(); });

    buildActions();
    buildLayout();
    buildMenus();
    applyIcons();
    restoreWindowState();

    copyJobsHandler_ = [this](std::vector<PresetCopyJob> jobs) { controller_.copyPresets(std::move(jobs)); };
    compareWindow_->setCopyHandler([this](std::vector<PresetCopyJob> jobs) { copyPresets(std::move(jobs)); });
    compareWindow_->setDiffHandler([this](Preset left, Preset right) { diffWindow_->comparePresets(left, right); });
    sourceModel_->setCopyHandler([this](std::vector<PresetCopyJob> jobs) {
        // Runs once the drag has ended, outside the drag's own event loop.
        QMetaObject::invokeMethod(
            this, [this, jobs = std::move(jobs)]() mutable { copyPresets(std::move(jobs)); },
            Qt::QueuedConnection);
    });
    sourceModel_->setRestoreHandler([this](std::vector<std::uint64_t> ids, DevicePtr to) {
        QMetaObject::invokeMethod(
            this, [this, ids = std::move(ids), to] { restoreVersions(ids, to); }, Qt::QueuedConnection);
    });
    connect(&controller_, &MainController::historyChanged, this, &MainWindow::updateActions);
    connect(&controller_, &MainController::busyChanged, this, &MainWindow::updateActions);
    connect(sourceView_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &MainWindow::showSelectedSources);
    connect(sourceModel_.get(), &SourceListModel::presetsChanged, this, &MainWindow::showSelectedSources);
    connect(sourceModel_.get(), &QAbstractItemModel::rowsInserted, this,
            &MainWindow::selectFirstSourceIfNone);
    for (auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(sourceModel_.get(), signal, this, &MainWindow::updateStatus);
    // A removed row may have been selected: its presets leave the preset view.
    connect(sourceModel_.get(), &QAbstractItemModel::rowsRemoved, this, &MainWindow::showSelectedSources);
    connect(&controller_.dataStore(), &DataStore::DataStoreSourceRemoved, this, &MainWindow::forgetSource);
    focusWatch_ = connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) { focusMoved(now); });
    connect(sourceModel_.get(), &QAbstractItemModel::dataChanged, this, &MainWindow::updateStatus);
    connect(&controller_, &MainController::devicesChanged, this, &MainWindow::updateStatus);
    connect(presetView_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &MainWindow::updateActions);
    connect(presetModel_.get(), &QAbstractItemModel::modelReset, this, &MainWindow::updateActions);
    connect(&controller_.statusLog(), &StatusLog::finishedChanged, this, &MainWindow::updateActions);
    connect(settingsDialog_, &SettingsDialog::mixerAddressesChanged, this,
            [this] { controller_.rescanNetwork(); });
    connect(settingsDialog_, &QDialog::finished, this, &MainWindow::updateStatus);

    connect(sourceView_, &SourceListView::contextMenuAt, this,
            [this](const QModelIndex& clicked, const QPoint& at) { prepareSourceMenu(clicked)->popup(at); });
    connect(presetView_, &PresetTreeView::contextMenuAt, this,
            [this](const QModelIndex& clicked, const QPoint& at) { preparePresetMenu(clicked)->popup(at); });

    showSelectedSources();
    updateStatus();
    sourceView_->setFocus();
}

// The widgets' own teardown moves the focus: by then this is no MainWindow any more.
MainWindow::~MainWindow() {
    disconnect(focusWatch_);
}

void MainWindow::buildActions() {
    rescan_ = new QAction(tr("&Rescan Network"), this);
    rescan_->setShortcut(QKeySequence(Qt::Key_F5));
    rescan_->setToolTip(tr("Look for mixers on the network again (F5)"));
    connect(rescan_, &QAction::triggered, this, [this] { controller_.rescanNetwork(); });

    syncAll_ = new QAction(tr("&Sync All"), this);
    syncAll_->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
    syncAll_->setToolTip(tr("Make the sync folder and every mixer hold the same presets (Ctrl+Shift+S)"));
    connect(syncAll_, &QAction::triggered, this, &MainWindow::syncAll);

    settings_ = new QAction(tr("S&ettings…"), this);
    settings_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    settings_->setMenuRole(QAction::PreferencesRole);
    settings_->setToolTip(tr("Sync folder and mixers by address (Ctrl+,)"));
    connect(settings_, &QAction::triggered, this, &MainWindow::showSettings);

    quit_ = new QAction(tr("&Quit"), this);
    quit_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    quit_->setMenuRole(QAction::QuitRole);
    connect(quit_, &QAction::triggered, this, &QWidget::close);

    about_ = new QAction(tr("&About Zelto Presets"), this);
    about_->setMenuRole(QAction::AboutRole);
    connect(about_, &QAction::triggered, this, &MainWindow::showAbout);

    delete_ = new QAction(tr("&Delete"), this);
    delete_->setShortcut(QKeySequence::Delete);
    connect(delete_, &QAction::triggered, this, [this] {
        const auto presets = presetsToDelete(selectedPresetRows(), presetViewFocused_);
        if (!presets.empty()) controller_.deletePresets(presets);
    });

    undo_ = new QAction(tr("&Undo"), this);
    undo_->setShortcut(QKeySequence::Undo);
    undo_->setToolTip(tr("Put back what the last copy, sync, delete or restore replaced, deleted or added"));
    connect(undo_, &QAction::triggered, this, [this] { controller_.undoLastOperation(); });

    history_ = new QAction(tr("&History…"), this);
    history_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_H));
    history_->setToolTip(tr("Every version of the presets that was replaced or deleted (Ctrl+H)"));
    connect(history_, &QAction::triggered, this, &MainWindow::showHistory);

    compare_ = new QAction(tr("&Compare"), this);
    compare_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_D));
    compare_->setToolTip(tr("Every preset of every source in one grid: the same, different or missing (Ctrl+D)"));
    connect(compare_, &QAction::triggered, this, &MainWindow::showCompare);

    comparePresets_ = new QAction(tr("Compare &Presets"), this);
    comparePresets_->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_D));
    comparePresets_->setToolTip(tr("Show how two chosen presets differ (Ctrl+Shift+D)"));
    connect(comparePresets_, &QAction::triggered, this, [this] {
        if (auto pair = chosenPresetPair()) diffWindow_->comparePresets(pair->first, pair->second);
    });

    load_ = new QAction(tr("&Load on Mixer…"), this);
    load_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
    connect(load_, &QAction::triggered, this, [this] { loadPreset(selectedPresetRows()); });

    info_ = new QAction(tr("Mixer &Information…"), this);
    info_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_I));
    connect(info_, &QAction::triggered, this, [this] { showInfo(selectedSources()); });

    identify_ = new QAction(tr("&Identify"), this);
    identify_->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_I));
    identify_->setToolTip(tr("Make the mixer's display blink"));
    connect(identify_, &QAction::triggered, this, [this] { identify(selectedSources()); });

    // Context menus: the source list's, then the preset list's, whose second
    // item is the load command.
    sourceMenu_ = new QMenu(this);
    infoMenu_ = sourceMenu_->addAction(tr("Mixer Information…"));
    identifyMenu_ = sourceMenu_->addAction(tr("Identify"));
    connect(infoMenu_, &QAction::triggered, this, [this] { showInfo(sourceMenuRows_); });
    connect(identifyMenu_, &QAction::triggered, this, [this] { identify(sourceMenuRows_); });

    presetMenu_ = new QMenu(this);
    presetCopyMenu_ = presetMenu_->addMenu(tr("Copy To"));
    connect(presetCopyMenu_, &QMenu::aboutToShow, this,
            [this] { fillCopyMenu(presetCopyMenu_, [this] { return presetMenuRows_; }); });
    loadMenu_ = presetMenu_->addAction(tr("Load on Mixer…"));
    presetMenu_->addSeparator();
    deleteMenu_ = presetMenu_->addAction(tr("Delete"));
    connect(loadMenu_, &QAction::triggered, this, [this] { loadPreset(presetMenuRows_); });
    connect(deleteMenu_, &QAction::triggered, this, [this] { deletePresets(presetMenuRows_); });
}

void MainWindow::buildMenus() {
    QMenu* file = menuBar()->addMenu(tr("&File"));
    file->addAction(syncAll_);
    file->addAction(rescan_);
    file->addSeparator();
    file->addAction(settings_);
    file->addSeparator();
    file->addAction(quit_);

    QMenu* edit = menuBar()->addMenu(tr("&Edit"));
    edit->addAction(undo_);
    edit->addSeparator();
    copyToMenu_ = edit->addMenu(tr("&Copy Selected To"));
    connect(copyToMenu_, &QMenu::aboutToShow, this,
            [this] { fillCopyMenu(copyToMenu_, [this] { return selectedPresetRows(); }); });
    edit->addAction(delete_);
    edit->addSeparator();
    edit->addAction(history_);

    QMenu* view = menuBar()->addMenu(tr("&View"));
    view->addAction(compare_);
    view->addAction(comparePresets_);

    QMenu* mixer = menuBar()->addMenu(tr("&Mixer"));
    mixer->addAction(load_);
    mixer->addSeparator();
    mixer->addAction(info_);
    mixer->addAction(identify_);

    QMenu* help = menuBar()->addMenu(tr("&Help"));
    help->addAction(about_);

    QToolBar* toolbar = addToolBar(tr("Main"));
    toolbar->setObjectName(QStringLiteral("mainToolBar"));
    toolbar->setMovable(false);
    toolbar->setFloatable(false);
    toolbar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    toolbar->setIconSize(QSize(20, 20));
    toolbar->addAction(rescan_);
    toolbar->addAction(syncAll_);
    auto* spacer = new QWidget(toolbar);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    toolbar->addWidget(spacer);
    toolbar->addAction(settings_);
    // The window's actions work wherever the focus is.
    addActions({rescan_, syncAll_, settings_, quit_, undo_, history_, delete_, load_, info_, identify_, compare_,
                comparePresets_});
}

void MainWindow::buildLayout() {
    sourceView_ = new SourceListView(this);
    sourceView_->setModel(sourceModel_.get());
    presetView_ = new PresetTreeView(this);
    presetView_->setModel(presetModel_.get());
    presetTitle_ = new SubduedLabel(QString(), this);
    sourceView_->setAccessibleName(tr("Sources"));
    sourceView_->setAccessibleDescription(
        tr("The sync folder and the mixers found on the network. Select one or more to see their presets; "
           "drop presets on one to copy them there."));
    presetView_->setAccessibleName(tr("Presets"));
    presetView_->setAccessibleDescription(
        tr("The presets of the selected sources, in groups by the start of their names. Drag presets onto a "
           "source to copy them."));

    splitter_ = new QSplitter(Qt::Horizontal, this);
    splitter_->setChildrenCollapsible(false);
    splitter_->addWidget(titledPane(tr("Sources"), nullptr, sourceView_, splitter_));
    splitter_->addWidget(titledPane(tr("Presets"), presetTitle_, presetView_, splitter_));
    splitter_->setStretchFactor(0, 0);
    splitter_->setStretchFactor(1, 1);
    splitter_->widget(0)->setMinimumWidth(220);
    splitter_->widget(1)->setMinimumWidth(280);
    setCentralWidget(splitter_);

    statusText_ = new QLabel(this);
    statusText_->setContentsMargins(6, 0, 6, 0);
    statusBar()->addWidget(statusText_, 1);
    auto* hint = new SubduedLabel(tr("Drag presets onto a source to copy them"), this);
    hint->setContentsMargins(6, 0, 6, 0);
    statusBar()->addPermanentWidget(hint);
    statusBar()->setSizeGripEnabled(true);
}

void MainWindow::applyIcons() {
    const QColor color = palette().color(QPalette::ButtonText);
    rescan_->setIcon(lineIcon(QStringLiteral("rescan"), color));
    syncAll_->setIcon(lineIcon(QStringLiteral("sync"), color));
    settings_->setIcon(lineIcon(QStringLiteral("settings"), color));
}

void MainWindow::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) applyIcons();
}

void MainWindow::restoreWindowState() {
    QSettings settings;
    resize(980, 620);
    splitter_->setSizes({300, 680});
    restoreGeometry(settings.value(QStringLiteral("MainWindow/geometry")).toByteArray());
    splitter_->restoreState(settings.value(QStringLiteral("MainWindow/splitter")).toByteArray());
}

void MainWindow::saveWindowState() {
    QSettings settings;
    settings.setValue(QStringLiteral("MainWindow/geometry"), saveGeometry());
    settings.setValue(QStringLiteral("MainWindow/splitter"), splitter_->saveState());
}

void MainWindow::closeEvent(QCloseEvent* event) {
    saveWindowState();
    QMainWindow::closeEvent(event);
}

std::vector<int> MainWindow::selectedSourceRows() const {
    std::vector<int> rows;
    for (const auto& index : sourceView_->selectionModel()->selectedRows()) rows.push_back(index.row());
    return affectedRows(std::move(rows), -1);
}

std::vector<PresetSourcePtr> MainWindow::selectedSources() const {
    return sourceModel_->sourcesAt(selectedSourceRows());
}

std::vector<PresetRow> MainWindow::selectedPresetRows() const {
    return presetModel_->affectedRows(presetView_->selectionModel()->selectedRows(), {});
}

void MainWindow::showSelectedSources() {
    const auto sources = selectedSources();
    const auto presets = presetsOfSources(sources);

    // The model changes its rows in place, so the rows that stay keep their
    // selection; a preset that moves to another group is a new row there, and
    // gets back its selection, the current row and the top of the view.
    using Key = std::pair<DevicePtr, std::string>;
    auto keyOf = [this](const QModelIndex& index) -> std::optional<Key> {
        const auto row = presetModel_->rowAt(index);
        if (!row.preset) return std::nullopt;
        return Key{row.preset->device, row.preset->preset.name};
    };
    auto selectedKeys = [&] {
        std::set<Key> keys;
        for (const auto& index : presetView_->selectionModel()->selectedRows())
            if (auto key = keyOf(index)) keys.insert(std::move(*key));
        return keys;
    };
    const auto selected = selectedKeys();
    const auto current = keyOf(presetView_->currentIndex());
    // Scrolled to the very top, the view stays there.
    const bool scrolled = presetView_->verticalScrollBar()->value() > 0;
    const auto top = scrolled ? keyOf(presetView_->indexAt(QPoint(0, 0))) : std::nullopt;

    presetModel_->showPresets(presets);

    QItemSelection lost;
    if (!selected.empty()) {
        const auto kept = selectedKeys();
        for (const auto& key : selected) {
            if (kept.count(key)) continue;
            const auto index = presetModel_->indexOf(key.first, key.second);
            if (index.isValid()) lost.select(index, index);
        }
    }
    if (!lost.isEmpty())
        presetView_->selectionModel()->select(lost, QItemSelectionModel::Select | QItemSelectionModel::Rows);
    if (current && keyOf(presetView_->currentIndex()) != current) {
        const auto index = presetModel_->indexOf(current->first, current->second);
        if (index.isValid())
            presetView_->selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    }
    if (top && keyOf(presetView_->indexAt(QPoint(0, 0))) != top) {
        const auto index = presetModel_->indexOf(top->first, top->second);
        if (index.isValid()) presetView_->scrollTo(index, QAbstractItemView::PositionAtTop);
    }

    if (sources.empty()) {
        presetTitle_->clear();
        presetView_->setPlaceholderText(tr("Select a source on the left to see its presets."));
    } else {
        const int count = static_cast<int>(presets.size());
        presetTitle_->setText(sources.size() == 1
                                  ? tr("%n presets", nullptr, count)
                                  : tr("%1 sources · %n presets", nullptr, count).arg(sources.size()));
        presetView_->setPlaceholderText(sources.size() == 1 ? tr("No presets here yet.") : tr("No presets."));
    }
    updateActions();
}

void MainWindow::selectFirstSourceIfNone() {
    if (sourceView_->selectionModel()->hasSelection() || sourceModel_->rowCount() == 0) return;
    sourceView_->setCurrentIndex(sourceModel_->index(0));
}

void MainWindow::updateActions() {
    const auto rows = selectedPresetRows();
    const bool idle = !controller_.runActive();
    syncAll_->setEnabled(idle);
    const auto& undoable = controller_.undoableKind();
    undo_->setEnabled(idle && undoable.has_value());
    undo_->setText(!undoable                 ? tr("&Undo")
                   : *undoable == "copy"    ? tr("&Undo Copy")
                   : *undoable == "sync"    ? tr("&Undo Sync")
                   : *undoable == "delete"  ? tr("&Undo Delete")
                   : *undoable == "restore" ? tr("&Undo Restore")
                                            : tr("&Undo"));
    delete_->setEnabled(idle && !presetsToDelete(rows, presetViewFocused_).empty());
    load_->setEnabled(loadCommandEnabled(rows));
    comparePresets_->setEnabled(chosenPresetPair().has_value());
    copyToMenu_->setEnabled(!rows.empty());
    const bool mixerSelected = sourceCommandsEnabled(selectedSources());
    info_->setEnabled(mixerSelected);
    identify_->setEnabled(mixerSelected);
}

void MainWindow::updateStatus() {
    // Connected mixers count, whether or not their list has arrived yet.
    const int mixers = controller_.onlineMixerCount();
    const QString folder = QString::fromStdString(controller_.settings().syncDirectoryPath());
    statusText_->setText(mixers == 0 ? tr("No mixer found yet   ·   Sync folder: %1").arg(folder)
                                     : tr("%n mixers   ·   Sync folder: %1", nullptr, mixers).arg(folder));
    updateActions();
}

QMenu* MainWindow::prepareSourceMenu(const QModelIndex& clicked) {
    sourceMenuRows_ =
        sourceModel_->sourcesAt(affectedRows(selectedSourceRows(), clicked.isValid() ? clicked.row() : -1));
    const bool enabled = sourceCommandsEnabled(sourceMenuRows_);
    for (QAction* action : sourceMenu_->actions()) action->setEnabled(enabled);
    return sourceMenu_;
}

QMenu* MainWindow::preparePresetMenu(const QModelIndex& clicked) {
    presetMenuRows_ = presetModel_->affectedRows(presetView_->selectionModel()->selectedRows(), clicked);
    loadMenu_->setEnabled(loadCommandEnabled(presetMenuRows_));
    presetCopyMenu_->setEnabled(!presetMenuRows_.empty());
    deleteMenu_->setEnabled(!presetsOfRows(presetMenuRows_).empty());
    return presetMenu_;
}

void MainWindow::fillCopyMenu(QMenu* menu, std::function<std::vector<PresetRow>()> rows) {
    menu->clear();
    for (const auto& source : sourceModel_->sources()) {
        QAction* action = menu->addAction(SourceListModel::displayName(*source));
        // Weakly: a menu item must not keep a mixer that has gone.
        connect(action, &QAction::triggered, this, [this, rows, target = std::weak_ptr(source)] {
            if (const auto source = target.lock()) copyRows(rows(), source);
        });
    }
}

void MainWindow::forgetSource(const PresetSourcePtr& source) {
    std::erase(sourceMenuRows_, source);
    const DevicePtr& device = source->device();
    if (!device) return;
    std::erase_if(presetMenuRows_,
                  [&](const PresetRow& row) { return row.preset && row.preset->device == device; });
    if (deviceInfoSheet_->device() == device) deviceInfoSheet_->deviceGone();
}

void MainWindow::focusMoved(QWidget* now) {
    if (!now || !isAncestorOf(now)) return;  // a menu, a dialog: the views keep their state
    const bool presets = now == presetView_ || presetView_->isAncestorOf(now);
    if (presets == presetViewFocused_) return;
    presetViewFocused_ = presets;
    updateActions();
}

void MainWindow::showInfo(const std::vector<PresetSourcePtr>& sources) {
    for (const auto& source : sources) {
        if (!source->device()) continue;
        deviceInfoSheet_->setDevice(source->device());
        deviceInfoSheet_->open();
        return;
    }
}

void MainWindow::identify(const std::vector<PresetSourcePtr>& sources) {
    controller_.identify(devicesOfSources(sources));
}

void MainWindow::loadPreset(const std::vector<PresetRow>& rows) {
    askToLoadPreset(rows, ui_,
                    [this](const Preset& preset) { controller_.loadPreset(preset.device, preset.preset); });
}

void MainWindow::deletePresets(const std::vector<PresetRow>& rows) {
    const auto presets = presetsOfRows(rows);
    if (!presets.empty()) controller_.deletePresets(presets);
}

void MainWindow::copyRows(const std::vector<PresetRow>& rows, const PresetSourcePtr& target) {
    copyPresets(
        copyJobsForRows(rows, target->device(), controller_.dataStore().sources(), presetModel_->groups()));
}

void MainWindow::copyPresets(std::vector<PresetCopyJob> jobs) {
    if (copyJobsHandler_) copyJobsHandler_(std::move(jobs));
}

void MainWindow::showSettings() {
    settingsDialog_->open();
}

void MainWindow::showHistory() {
    historyWindow_->show();
    historyWindow_->raise();
    historyWindow_->activateWindow();
}

void MainWindow::showCompare() {
    compareWindow_->show();
    compareWindow_->raise();
    compareWindow_->activateWindow();
}

void MainWindow::syncAll() {
    if (controller_.runActive()) return;
    if (!controller_.settings().showSyncPreview()) {
        controller_.syncAll();
        return;
    }
    controller_.previewSync([this](CompareGrid grid, SyncPreview preview) {
        const std::vector<QString> titles = CompareWindow::columnTitles(controller_, grid);
        syncPreview_->setPreview(grid, preview, titles);
        syncPreview_->open();
    });
}

std::optional<std::pair<Preset, Preset>> MainWindow::chosenPresetPair() const {
    // The Compare window's cells while it is the active window.
    if (compareWindow_->isActiveWindow()) return compareWindow_->chosenPair();
    std::vector<Preset> chosen;
    for (const auto& row : selectedPresetRows())
        if (row.preset) chosen.push_back(*row.preset);
    if (chosen.size() != 2) return std::nullopt;
    return std::pair{chosen[0], chosen[1]};
}

void MainWindow::restoreVersions(const std::vector<std::uint64_t>& ids, const DevicePtr& to) {
    std::vector<HistoryEntry> versions;
    for (auto id : ids)
        if (auto entry = historyWindow_->model().entry(id)) versions.push_back(*entry);
    if (!versions.empty()) controller_.restoreVersions(std::move(versions), to);
}

namespace {

// The README as installed beside the program (share/doc of its prefix), else
// the one of the sources it was built from.
QUrl readmeUrl() {
    const QFileInfo installed(QCoreApplication::applicationDirPath() +
                              QStringLiteral("/../share/doc/zelto-presets/README.md"));
    if (installed.exists()) return QUrl::fromLocalFile(installed.canonicalFilePath());
    return QUrl::fromLocalFile(QStringLiteral(ZELTO_SOURCE_README));
}

}  // namespace

void MainWindow::showAbout() {
    QMessageBox::about(
        this, tr("About Zelto Presets"),
        tr("<h3>Zelto Presets %1</h3>"
           "<p>Keeps the presets of networked in-ear monitor mixers and a folder on this computer in sync. "
           "Copy presets between mixers and the folder by dragging them onto a source.</p>"
           "<p>Free software under the %2 licence.</p>"
           "<p><a href=\"%3\">Read the README</a> for how to use it and its command-line tools.</p>"
           "<p>Built with Qt %4.</p>")
            .arg(QString::fromLatin1(kVersion), QString::fromLatin1(kLicense),
                 readmeUrl().toString(QUrl::FullyEncoded), QString::fromLatin1(qVersion())));
}

}  // namespace zelto::ui
