#include "ui/HistoryWindow.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QTreeView>
#include <QVBoxLayout>

#include "app/MainController.h"

namespace zelto::ui {

HistoryWindow::HistoryWindow(MainController& controller, QWidget* parent)
    : QWidget(parent, Qt::Window), controller_(controller), model_(std::make_unique<HistoryModel>()) {
    setWindowTitle(tr("History"));
    setObjectName(QStringLiteral("historyWindow"));

    problem_ = new QLabel(this);
    problem_->setWordWrap(true);
    problem_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    problem_->setStyleSheet(QStringLiteral("QLabel { color: #b3261e; }"));
    problem_->hide();

    view_ = new QTreeView(this);
    view_->setModel(model_.get());
    view_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view_->setSelectionBehavior(QAbstractItemView::SelectRows);
    view_->setDragDropMode(QAbstractItemView::DragOnly);
    view_->setDefaultDropAction(Qt::CopyAction);
    view_->setDragEnabled(true);
    view_->setAllColumnsShowFocus(true);
    view_->setUniformRowHeights(true);
    view_->header()->setStretchLastSection(true);
    view_->header()->setDefaultSectionSize(200);
    view_->header()->setSectionResizeMode(QHeaderView::Interactive);

    empty_ = new QLabel(tr("Nothing has been replaced or deleted yet. Every preset that a copy, a sync, a "
                           "delete or a restore replaces or deletes is kept here."),
                        this);
    empty_->setWordWrap(true);
    empty_->setAlignment(Qt::AlignCenter);
    empty_->setForegroundRole(QPalette::PlaceholderText);
    empty_->hide();

    destination_ = new QComboBox(this);
    destination_->setMinimumContentsLength(24);
    destination_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    restore_ = new QPushButton(tr("Restore"), this);
    restore_->setToolTip(tr("Put the selected versions back at the chosen source; what is there now is "
                            "kept in the history first"));
    auto* toLabel = new QLabel(tr("Restore to:"), this);
    toLabel->setBuddy(destination_);
    auto* hint = new QLabel(tr("Or drag a version onto a source in the main window."), this);
    hint->setForegroundRole(QPalette::PlaceholderText);
    hint->setWordWrap(true);

    auto* actions = new QHBoxLayout;
    actions->addWidget(toLabel);
    actions->addWidget(destination_, 1);
    actions->addWidget(restore_);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 12, 14, 12);
    layout->setSpacing(8);
    layout->addWidget(problem_);
    layout->addWidget(view_, 1);
    layout->addWidget(empty_, 1);
    layout->addLayout(actions);
    layout->addWidget(hint);
    resize(760, 440);

    auto* close = new QShortcut(QKeySequence::Close, this);
    connect(close, &QShortcut::activated, this, &QWidget::close);
    connect(restore_, &QPushButton::clicked, this, &HistoryWindow::restoreSelected);
    connect(view_->selectionModel(), &QItemSelectionModel::selectionChanged, this, &HistoryWindow::updateButtons);
    connect(destination_, &QComboBox::currentIndexChanged, this, &HistoryWindow::updateButtons);
    connect(&controller_, &MainController::historyChanged, this, [this] {
        if (isVisible()) reload();
    });
    connect(&controller_.statusLog(), &StatusLog::finishedChanged, this, &HistoryWindow::updateButtons);
    auto& store = controller_.dataStore();
    for (auto signal : {&DataStore::DataStoreSourceAdded, &DataStore::DataStoreSourceRemoved})
        connect(&store, signal, this, &HistoryWindow::fillDestinations, Qt::QueuedConnection);
    fillDestinations();
}

HistoryWindow::~HistoryWindow() = default;

void HistoryWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    fillDestinations();
    reload();
}

void HistoryWindow::reload() {
    controller_.readHistory([this](HistoryListing listing) { showListing(std::move(listing)); });
}

void HistoryWindow::showListing(HistoryListing listing) {
    // The same versions stay selected when the list is read again.
    std::vector<std::uint64_t> selected;
    for (const auto& index : view_->selectionModel()->selectedRows())
        if (auto entry = model_->entryAt(index)) selected.push_back(entry->id);

    model_->setListing(std::move(listing));
    for (int row = 0; row < model_->rowCount(); ++row) view_->setFirstColumnSpanned(row, {}, true);
    view_->expandAll();
    for (int column = 0; column < HistoryModel::whyColumn; ++column) view_->resizeColumnToContents(column);
    QItemSelection selection;
    for (auto id : selected) {
        const auto index = model_->indexOf(id);
        if (index.isValid()) selection.select(index, index);
    }
    view_->selectionModel()->select(selection, QItemSelectionModel::Select | QItemSelectionModel::Rows);

    problem_->setText(model_->problem());
    problem_->setVisible(!model_->problem().isEmpty());
    // Nothing kept yet: a sentence instead of an empty list; a history that
    // could not be read keeps the (empty) list under its message.
    const bool nothingKept = model_->rowCount() == 0 && model_->problem().isEmpty();
    view_->setVisible(!nothingKept);
    empty_->setVisible(nothingKept);
    updateButtons();
    Q_EMIT reloaded();
}

void HistoryWindow::fillDestinations() {
    const auto current = destination_->currentIndex() >= 0 &&
                                 static_cast<std::size_t>(destination_->currentIndex()) < destinations_.size()
                             ? destinations_[static_cast<std::size_t>(destination_->currentIndex())].lock()
                             : nullptr;
    const QSignalBlocker block(destination_);
    destination_->clear();
    destinations_.clear();
    for (const auto& source : controller_.dataStore().sources()) {
        destinations_.push_back(source);
        destination_->addItem(QString::fromStdString(source->name()));
        if (source == current) destination_->setCurrentIndex(destination_->count() - 1);
    }
    updateButtons();
}

void HistoryWindow::updateButtons() {
    const bool versions = !view_->selectionModel()->selectedRows().isEmpty();
    restore_->setEnabled(versions && destination_->currentIndex() >= 0 && !controller_.runActive());
}

void HistoryWindow::restoreSelected() {
    const int chosen = destination_->currentIndex();
    if (chosen < 0 || static_cast<std::size_t>(chosen) >= destinations_.size()) return;
    const auto target = destinations_[static_cast<std::size_t>(chosen)].lock();
    if (!target) return;
    std::vector<HistoryEntry> versions;
    for (const auto& index : view_->selectionModel()->selectedRows())
        if (auto entry = model_->entryAt(index)) versions.push_back(*entry);
    controller_.restoreVersions(std::move(versions), target->device());
}

}  // namespace zelto::ui
