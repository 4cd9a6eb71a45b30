#include "ui/CompareWindow.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

#include "app/MainController.h"
#include "app/SourceListModel.h"
#include "ui/CompareCellDelegate.h"

namespace zelto::ui {

CompareWindow::CompareWindow(MainController& controller, QWidget* parent)
    : QWidget(parent, Qt::Window), controller_(controller), model_(std::make_unique<CompareGridModel>()) {
    setWindowTitle(tr("Compare"));
    setObjectName(QStringLiteral("compareWindow"));

    view_ = new QTreeView(this);
    view_->setModel(model_.get());
    view_->setItemDelegate(new CompareCellDelegate(view_));
    view_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view_->setSelectionBehavior(QAbstractItemView::SelectItems);
    view_->setDragDropMode(QAbstractItemView::DragDrop);
    view_->setDefaultDropAction(Qt::CopyAction);
    view_->setDragEnabled(true);
    view_->setAcceptDrops(true);
    view_->setDropIndicatorShown(true);
    view_->setUniformRowHeights(true);
    view_->setAlternatingRowColors(true);
    view_->header()->setStretchLastSection(false);
    view_->header()->setDefaultAlignment(Qt::AlignCenter);
    view_->setAccessibleName(tr("Comparison"));
    view_->setAccessibleDescription(tr("One row per preset name, one column per source, the sync folder first. "
                                       "Drag a cell onto another column to copy that preset there."));

    filter_ = new QCheckBox(tr("Only rows that differ or are missing somewhere"), this);
    legend_ = new QLabel(this);
    legend_->setTextFormat(Qt::RichText);
    legend_->setWordWrap(true);
    summary_ = new QLabel(this);
    summary_->setForegroundRole(QPalette::PlaceholderText);

    compare_ = new QPushButton(tr("Compare Contents"), this);
    compare_->setToolTip(tr("Fetch the mixers' presets whose contents are not known yet, and compare them "
                            "with the folder's"));
    makeLike_ = new QPushButton(tr("Make Like the Folder"), this);
    makeLike_->setToolTip(tr("Copy the folder's preset onto the mixers of the chosen cells; what is there now "
                             "is kept in the history first"));
    comparePresets_ = new QPushButton(tr("Compare Presets"), this);
    comparePresets_->setToolTip(tr("Show how the presets of the two chosen cells differ (Ctrl+Shift+D)"));

    auto* top = new QHBoxLayout;
    top->addWidget(filter_);
    top->addStretch(1);
    top->addWidget(summary_);
    auto* actions = new QHBoxLayout;
    actions->addWidget(compare_);
    actions->addStretch(1);
    actions->addWidget(comparePresets_);
    actions->addWidget(makeLike_);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 12, 14, 12);
    layout->setSpacing(8);
    layout->addLayout(top);
    layout->addWidget(view_, 1);
    layout->addWidget(legend_);
    layout->addLayout(actions);
    resize(820, 520);

    reloadSoon_ = new QTimer(this);
    reloadSoon_->setSingleShot(true);
    reloadSoon_->setInterval(100);
    connect(reloadSoon_, &QTimer::timeout, this, &CompareWindow::reload);
    auto again = [this] {
        if (isVisible()) reloadSoon_->start();
    };

    auto* close = new QShortcut(QKeySequence::Close, this);
    connect(close, &QShortcut::activated, this, &QWidget::close);
    auto* diff = new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_D), this);
    connect(diff, &QShortcut::activated, comparePresets_, &QPushButton::click);
    connect(filter_, &QCheckBox::toggled, this, [this](bool on) {
        model_->setOnlyDiffering(on);
        for (int row = 0; row < model_->rowCount(); ++row) view_->setFirstColumnSpanned(row, {}, true);
        view_->expandAll();
    });
    connect(compare_, &QPushButton::clicked, this, [this] { controller_.compareContents(); });
    connect(makeLike_, &QPushButton::clicked, this, [this] {
        auto jobs = model_->makeLikeFolderJobs(view_->selectionModel()->selectedIndexes());
        if (!jobs.empty() && copyHandler_) copyHandler_(std::move(jobs));
    });
    connect(comparePresets_, &QPushButton::clicked, this, [this] {
        if (auto pair = chosenPair(); pair && diffHandler_) diffHandler_(pair->first, pair->second);
    });
    connect(view_->selectionModel(), &QItemSelectionModel::selectionChanged, this, &CompareWindow::updateButtons);
    connect(&controller_.statusLog(), &StatusLog::finishedChanged, this, &CompareWindow::updateButtons);
    connect(&controller_, &MainController::fingerprintsChanged, this, again);
    auto& store = controller_.dataStore();
    connect(&store, &DataStore::PresetSourcePresetsAdded, this, again, Qt::QueuedConnection);
    connect(&store, &DataStore::DataStoreSourceAdded, this, again, Qt::QueuedConnection);
    connect(&store, &DataStore::DataStoreSourceRemoved, this, again, Qt::QueuedConnection);
    legend_->setText(legendText());
    updateButtons();
}

CompareWindow::~CompareWindow() = default;

void CompareWindow::setCopyHandler(CopyHandler handler) {
    copyHandler_ = handler;
    model_->setCopyHandler([this, handler](std::vector<PresetCopyJob> jobs) {
        // Once the drag has ended, outside its own event loop.
        QMetaObject::invokeMethod(
            this, [handler, jobs = std::move(jobs)]() mutable { handler(std::move(jobs)); }, Qt::QueuedConnection);
    });
}

QString CompareWindow::legendText() const {
    QStringList items;
    const QColor base = palette().color(QPalette::Base);
    for (auto state : {CellState::same, CellState::differs, CellState::unknown, CellState::onlyHere, CellState::missing}) {
        items << QStringLiteral("<span style=\"color:%1; font-weight:bold\">%2</span>&nbsp;%3")
                     .arg(CompareCellDelegate::stateColor(state, base).name(), CompareGridModel::symbol(state),
                          CompareGridModel::stateText(state).toHtmlEscaped());
    }
    return items.join(QStringLiteral("&nbsp;&nbsp;&nbsp;&nbsp;"));
}

void CompareWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    reload();
}

void CompareWindow::reload() {
    controller_.buildCompareGrid([this](CompareGrid grid) { showGrid(std::move(grid)); });
}

std::vector<QString> CompareWindow::columnTitles(MainController& controller, const CompareGrid& grid) {
    std::vector<QString> titles;
    const auto sources = controller.dataStore().sources();
    for (const auto& device : grid.columns) {
        QString title = tr("Sync folder");
        for (const auto& source : sources)
            if (device && source->device() == device) title = SourceListModel::displayName(*source);
        titles.push_back(title);
    }
    return titles;
}

void CompareWindow::showGrid(CompareGrid grid) {
    const std::vector<QString> titles = columnTitles(controller_, grid);
    const std::size_t rows = grid.rows.size(), unknown = grid.unknownCount();
    std::size_t outOfOrder = 0;
    for (const auto& row : grid.rows) outOfOrder += row.inOrder() ? 0 : 1;
    model_->setGrid(std::move(grid), std::move(titles));
    for (int row = 0; row < model_->rowCount(); ++row) view_->setFirstColumnSpanned(row, {}, true);
    view_->expandAll();
    view_->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    for (int column = 1; column < model_->columnCount(); ++column) {
        view_->header()->setSectionResizeMode(column, QHeaderView::Interactive);
        view_->resizeColumnToContents(column);
        view_->setColumnWidth(column, std::max(view_->columnWidth(column), 90));
    }
    summary_->setText(tr("%1 names · %2 not the same everywhere · %3 not known yet")
                          .arg(rows)
                          .arg(outOfOrder)
                          .arg(unknown));
    updateButtons();
    Q_EMIT reloaded();
}

std::optional<std::pair<Preset, Preset>> CompareWindow::chosenPair() const {
    std::vector<Preset> chosen;
    const auto& grid = model_->grid();
    for (const auto& index : view_->selectionModel()->selectedIndexes()) {
        const auto cell = model_->cellAt(index);
        if (!cell) continue;
        const auto& listed = grid.rows[cell->row].cells[cell->column].listed;
        if (listed) chosen.push_back({grid.columns[cell->column], listed->preset});
    }
    if (chosen.size() != 2) return std::nullopt;
    return std::pair{chosen[0], chosen[1]};
}

void CompareWindow::updateButtons() {
    const bool idle = !controller_.runActive();
    compare_->setEnabled(idle);
    makeLike_->setEnabled(idle && !model_->makeLikeFolderJobs(view_->selectionModel()->selectedIndexes()).empty());
    comparePresets_->setEnabled(chosenPair().has_value());
}

}  // namespace zelto::ui
