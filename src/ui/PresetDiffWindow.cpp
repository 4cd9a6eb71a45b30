#include "ui/PresetDiffWindow.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QShortcut>
#include <QTableView>
#include <QVBoxLayout>

#include "app/MainController.h"
#include "app/SourceListModel.h"
#include "ui/DiffRowDelegate.h"

namespace zelto::ui {

PresetDiffWindow::PresetDiffWindow(MainController& controller, QWidget* parent)
    : QWidget(parent, Qt::Window), controller_(controller), model_(std::make_unique<PresetDiffModel>()) {
    setWindowTitle(tr("Compare Presets"));
    setObjectName(QStringLiteral("presetDiffWindow"));

    summary_ = new QLabel(this);
    summary_->setWordWrap(true);
    showAll_ = new QCheckBox(tr("Show all"), this);
    showAll_->setToolTip(tr("Show the settings that are the same too"));

    view_ = new QTableView(this);
    view_->setModel(model_.get());
    view_->setItemDelegate(new DiffRowDelegate(view_));
    view_->setSelectionBehavior(QAbstractItemView::SelectRows);
    view_->setWordWrap(false);
    view_->verticalHeader()->hide();
    view_->verticalHeader()->setDefaultSectionSize(view_->fontMetrics().height() + 8);
    view_->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    view_->horizontalHeader()->setStretchLastSection(true);
    view_->setAccessibleName(tr("Differences"));

    auto* top = new QHBoxLayout;
    top->addWidget(summary_, 1);
    top->addWidget(showAll_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 12, 14, 12);
    layout->setSpacing(8);
    layout->addLayout(top);
    layout->addWidget(view_, 1);
    resize(900, 480);

    auto* close = new QShortcut(QKeySequence::Close, this);
    connect(close, &QShortcut::activated, this, &QWidget::close);
    connect(showAll_, &QCheckBox::toggled, this, [this](bool on) {
        model_->setShowAll(on);
        updateSummary();
    });
}

PresetDiffWindow::~PresetDiffWindow() = default;

QString PresetDiffWindow::titleOf(const Preset& preset) const {
    QString where = tr("Sync folder");
    for (const auto& source : controller_.dataStore().sources())
        if (preset.device && source->device() == preset.device) where = SourceListModel::displayName(*source);
    return tr("%1 (%2)").arg(QString::fromStdString(preset.preset.name), where);
}

void PresetDiffWindow::comparePresets(const Preset& left, const Preset& right) {
    const int generation = ++generation_;
    summary_->setText(tr("Reading the presets…"));
    show();
    raise();
    activateWindow();
    struct Pending {
        std::optional<ZeltoPreset> presets[2];
        QString problem;
        int answers = 0;
    };
    auto pending = std::make_shared<Pending>();
    const QString titles[2] = {titleOf(left), titleOf(right)};
    auto arrived = [this, pending, generation, titles](int side, std::optional<ZeltoPreset> preset, std::string problem) {
        if (generation != generation_) return;
        pending->presets[side] = std::move(preset);
        if (!problem.empty())
            pending->problem = tr("%1 could not be read: %2").arg(titles[side], QString::fromStdString(problem));
        if (++pending->answers < 2) return;
        if (pending->presets[0] && pending->presets[1]) {
            showPresets(std::move(*pending->presets[0]), std::move(*pending->presets[1]), titles[0], titles[1]);
        } else {
            summary_->setText(pending->problem);
            Q_EMIT shown();
        }
    };
    controller_.readPreset(left.device, left.preset.name,
                           [arrived](std::optional<ZeltoPreset> p, std::string problem) mutable {
                               arrived(0, std::move(p), std::move(problem));
                           });
    controller_.readPreset(right.device, right.preset.name,
                           [arrived](std::optional<ZeltoPreset> p, std::string problem) mutable {
                               arrived(1, std::move(p), std::move(problem));
                           });
}

void PresetDiffWindow::showPresets(ZeltoPreset left, ZeltoPreset right, QString leftTitle, QString rightTitle) {
    model_->setPresets(std::move(left), std::move(right), std::move(leftTitle), std::move(rightTitle));
    // The setting's path as wide as it needs; the two sides share the rest.
    view_->resizeColumnToContents(PresetDiffModel::sectionColumn);
    view_->resizeColumnToContents(PresetDiffModel::pathColumn);
    view_->setColumnWidth(PresetDiffModel::pathColumn, std::min(view_->columnWidth(PresetDiffModel::pathColumn), 320));
    const int used = view_->columnWidth(PresetDiffModel::sectionColumn) + view_->columnWidth(PresetDiffModel::pathColumn);
    view_->setColumnWidth(PresetDiffModel::leftColumn, std::max(160, (view_->viewport()->width() - used) / 2));
    updateSummary();
    Q_EMIT shown();
}

void PresetDiffWindow::updateSummary() {
    const int differing = model_->differingCount();
    summary_->setText(differing == 0 ? tr("The two presets hold the same settings.")
                                     : tr("%n settings differ.", nullptr, differing));
}

}  // namespace zelto::ui
