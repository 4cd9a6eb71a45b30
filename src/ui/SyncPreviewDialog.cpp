#include "ui/SyncPreviewDialog.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace zelto::ui {

SyncPreviewDialog::SyncPreviewDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(tr("Sync All"));
    setObjectName(QStringLiteral("syncPreviewDialog"));
    summary_ = new QLabel(this);
    summary_->setWordWrap(true);
    list_ = new QTreeWidget(this);
    list_->setHeaderHidden(true);
    list_->setRootIsDecorated(true);
    list_->setAccessibleName(tr("What Sync All will do"));
    buttons_ = new QDialogButtonBox(this);
    auto* sync = buttons_->addButton(tr("Sync"), QDialogButtonBox::AcceptRole);
    buttons_->addButton(QDialogButtonBox::Cancel);
    sync->setDefault(true);
    sync->setAutoDefault(true);
    connect(buttons_, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(summary_);
    layout->addWidget(list_, 1);
    layout->addWidget(buttons_);
    resize(580, 480);
}

void SyncPreviewDialog::setPreview(const CompareGrid& grid, const SyncPreview& preview,
                                   const std::vector<QString>& titles) {
    list_->clear();
    auto addGroup = [this](const QString& heading, const std::vector<std::string>& names) {
        if (names.empty()) return;
        auto* item = new QTreeWidgetItem(list_, {heading.arg(names.size())});
        QFont bold = item->font(0);
        bold.setBold(true);
        item->setFont(0, bold);
        for (const auto& name : names) new QTreeWidgetItem(item, {QString::fromStdString(name)});
    };
    std::size_t fetched = 0, sent = 0;
    for (std::size_t m = 0; m < preview.mixers.size(); ++m) {
        const QString title = m + 1 < titles.size() ? titles[m + 1] : QString();
        addGroup(tr("Into the sync folder, from %1 (%2)").arg(title, QStringLiteral("%1")), preview.mixers[m].fetched);
        fetched += preview.mixers[m].fetched.size();
    }
    for (std::size_t m = 0; m < preview.mixers.size(); ++m) {
        const QString title = m + 1 < titles.size() ? titles[m + 1] : QString();
        addGroup(tr("To %1 (%2)").arg(title, QStringLiteral("%1")), preview.mixers[m].sent);
        sent += preview.mixers[m].sent.size();
    }
    std::vector<std::string> differing;
    for (const auto& row : grid.rows)
        for (const auto& cell : row.cells)
            if (cell.state == CellState::differs) {
                differing.push_back(row.key);
                break;
            }
    addGroup(tr("Left as they are, though their contents differ (%1)"), differing);
    list_->expandAll();
    summary_->setText(preview.nothingToDo()
                          ? tr("The folder and the mixers already hold the same names: Sync All has nothing to "
                               "fetch or send.")
                          : tr("Sync All will fetch %1 presets into the sync folder and send %2 to the mixers.")
                                .arg(fetched)
                                .arg(sent));
}

}  // namespace zelto::ui
