#include "app/PresetDiffModel.h"

#include <algorithm>

namespace zelto {

namespace {

QString sectionText(DiffSection section) {
    switch (section) {
        case DiffSection::preset: return PresetDiffModel::tr("preset");
        case DiffSection::mix: return PresetDiffModel::tr("mix");
        case DiffSection::channel: return PresetDiffModel::tr("channel");
        case DiffSection::group: return PresetDiffModel::tr("group");
        case DiffSection::routing: return PresetDiffModel::tr("routing");
        case DiffSection::residual: return PresetDiffModel::tr("other content");
    }
    return {};
}

}  // namespace

PresetDiffModel::PresetDiffModel(QObject* parent) : QAbstractTableModel(parent) {}

void PresetDiffModel::setPresets(ZeltoPreset left, ZeltoPreset right, QString leftTitle, QString rightTitle) {
    left_ = std::move(left);
    right_ = std::move(right);
    leftTitle_ = std::move(leftTitle);
    rightTitle_ = std::move(rightTitle);
    rediff();
    Q_EMIT headerDataChanged(Qt::Horizontal, leftColumn, rightColumn);
}

void PresetDiffModel::setShowAll(bool all) {
    if (all == showAll_) return;
    showAll_ = all;
    rediff();
}

void PresetDiffModel::rediff() {
    beginResetModel();
    rows_.clear();
    differing_ = 0;
    if (left_ && right_) {
        rows_ = diffPresets(*left_, *right_, showAll_ ? DiffRows::all : DiffRows::differing);
        differing_ = static_cast<int>(std::count_if(rows_.begin(), rows_.end(), [](const DiffRow& r) { return r.differs(); }));
    }
    endResetModel();
}

int PresetDiffModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int PresetDiffModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : columnCount_;
}

QVariant PresetDiffModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || static_cast<std::size_t>(index.row()) >= rows_.size()) return {};
    const auto& row = rows_[static_cast<std::size_t>(index.row())];
    if (role == DiffersRole) return row.differs();
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole) return {};
    auto side = [](const std::optional<std::string>& value) {
        return value ? QString::fromStdString(*value) : tr("(none)");
    };
    switch (index.column()) {
        case sectionColumn: return sectionText(row.section);
        case pathColumn: return QString::fromStdString(row.path);
        case leftColumn: return side(row.left);
        case rightColumn: return side(row.right);
        default: return {};
    }
}

QVariant PresetDiffModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    switch (section) {
        case sectionColumn: return tr("Section");
        case pathColumn: return tr("Setting");
        case leftColumn: return leftTitle_;
        case rightColumn: return rightTitle_;
        default: return {};
    }
}

}  // namespace zelto
