// The comparison grid's and the preset diff's item models.
#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QCoreApplication>
#include <QMimeData>
#include <asio/io_context.hpp>
#include <memory>

#include "app/CompareGridModel.h"
#include "app/PresetDiffModel.h"
#include "device/ZeltoDevice.h"

namespace zelto {
namespace {

QCoreApplication& application() {
    static int argc = 1;
    static char name[] = "app_compare_models_test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

ListedPreset listed(const char* name, std::optional<std::uint64_t> content) {
    ListedPreset preset{RemoteZeltoPreset(name), std::nullopt};
    if (content) preset.fingerprint = Fingerprint{0, *content};
    return preset;
}

class CompareModels : public ::testing::Test {
  protected:
    CompareModels() {
        application();
        mixer = std::make_shared<ZeltoDevice>(io, asio::ip::make_address_v4("127.0.0.2"), 9112, std::nullopt);
        // Show-A the same, Show-B differs, Show-C unknown on the mixer, Solo only in the folder,
        // Extra only on the mixer.
        model.setGrid(buildCompareGrid({listed("Show-A", 1), listed("Show-B", 2), listed("Show-C", 3),
                                        listed("Solo", 4)},
                                       {{mixer, {listed("Show-A", 1), listed("Show-B", 9), listed("Show-C", {}),
                                                 listed("Extra", 5)}}}),
                      {QStringLiteral("Folder"), QStringLiteral("Stage")});
        model.setCopyHandler([this](std::vector<PresetCopyJob> jobs) { copies = std::move(jobs); });
    }
    QModelIndex group(const QString& name) {
        for (int row = 0; row < model.rowCount(); ++row)
            if (model.index(row, 0).data().toString() == name) return model.index(row, 0);
        return {};
    }
    // "name:folder-symbol stage-symbol" for each row under `parent`, in order.
    std::vector<std::string> rows(const QModelIndex& parent) {
        std::vector<std::string> out;
        for (int row = 0; row < model.rowCount(parent); ++row)
            out.push_back((model.index(row, 0, parent).data().toString() + ":" +
                           model.index(row, 1, parent).data().toString() + " " +
                           model.index(row, 2, parent).data().toString())
                              .toStdString());
        return out;
    }

    asio::io_context io;
    DevicePtr mixer;
    CompareGridModel model;
    QAbstractItemModelTester tester{&model, QAbstractItemModelTester::FailureReportingMode::Fatal};
    std::vector<PresetCopyJob> copies;
};

TEST_F(CompareModels, EachStateHasItsSymbolTheRowsAreGroupedAndTheFilterKeepsWhatIsNotInOrder) {
    EXPECT_EQ(model.columnCount(), 3);
    EXPECT_EQ(model.headerData(2, Qt::Horizontal).toString(), QStringLiteral("Stage"));
    const auto show = group(QStringLiteral("Show"));
    ASSERT_TRUE(show.isValid());
    EXPECT_EQ(rows(show), (std::vector<std::string>{"Show-A:= =", "Show-B:= ≠", "Show-C:= ?"}));
    EXPECT_EQ(rows(group(QStringLiteral("others"))), (std::vector<std::string>{"Extra:— ●", "Solo:● —"}));
    const auto differs = model.index(1, 2, show);
    EXPECT_EQ(static_cast<CellState>(differs.data(CompareGridModel::CellStateRole).toInt()), CellState::differs);
    EXPECT_EQ(differs.data(Qt::ToolTipRole).toString(), QStringLiteral("Show-B on Stage: differs from the folder"));
    // Every symbol is distinct, so the grid reads without its colours.
    QSet<QString> symbols;
    for (auto s : {CellState::missing, CellState::unknown, CellState::same, CellState::differs, CellState::onlyHere})
        symbols.insert(CompareGridModel::symbol(s));
    EXPECT_EQ(symbols.size(), 5);

    model.setOnlyDiffering(true);
    EXPECT_EQ(rows(group(QStringLiteral("Show"))), (std::vector<std::string>{"Show-B:= ≠", "Show-C:= ?"}));
    EXPECT_EQ(rows(group(QStringLiteral("others"))).size(), 2u);
    model.setOnlyDiffering(false);
    EXPECT_EQ(rows(group(QStringLiteral("Show"))).size(), 3u);
}

TEST_F(CompareModels, MakeLikeTheFolderAndADroppedCellBecomeCopyJobs) {
    const auto show = group(QStringLiteral("Show"));
    // The folder's own cell and a row the folder lacks give no job.
    auto jobs = model.makeLikeFolderJobs({model.index(1, 2, show), model.index(1, 1, show),
                                          model.indexOf("Extra", 1)});
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(jobs[0].from, nullptr);
    EXPECT_EQ(jobs[0].to, mixer);
    EXPECT_EQ(jobs[0].presetName, "Show-B");

    // The mixer's Extra dragged onto the folder's column.
    const auto extra = model.indexOf("Extra", 1);
    std::unique_ptr<QMimeData> data(model.mimeData({extra}));
    EXPECT_FALSE(model.canDropMimeData(data.get(), Qt::CopyAction, -1, -1, extra)) << "its own column";
    const auto target = model.indexOf("Extra", 0);
    ASSERT_TRUE(model.canDropMimeData(data.get(), Qt::CopyAction, -1, -1, target));
    model.dropMimeData(data.get(), Qt::CopyAction, -1, -1, target);
    ASSERT_EQ(copies.size(), 1u);
    EXPECT_EQ(copies[0].from, mixer);
    EXPECT_EQ(copies[0].to, nullptr);
    EXPECT_EQ(copies[0].presetName, "Extra");
    // A missing cell has nothing to drag.
    std::unique_ptr<QMimeData> nothing(model.mimeData({model.indexOf("Solo", 1)}));
    EXPECT_FALSE(model.canDropMimeData(nothing.get(), Qt::CopyAction, -1, -1, model.indexOf("Solo", 0)));
}

TEST(PresetDiffModelTest, ShowsOnlyTheDifferingRowsUntilEveryRowIsAskedFor) {
    application();
    ZeltoPreset left = ZeltoPreset::defaultOff(), right = ZeltoPreset::defaultOff();
    left.name = "Show";
    right.name = "Show changed";
    PresetDiffModel model;
    QAbstractItemModelTester tester{&model, QAbstractItemModelTester::FailureReportingMode::Fatal};
    model.setPresets(left, right, QStringLiteral("Show (Folder)"), QStringLiteral("Show (Stage)"));
    ASSERT_EQ(model.rowCount(), 1);
    EXPECT_EQ(model.differingCount(), 1);
    EXPECT_EQ(model.index(0, PresetDiffModel::leftColumn).data().toString(), QStringLiteral("Show"));
    EXPECT_EQ(model.index(0, PresetDiffModel::rightColumn).data().toString(), QStringLiteral("Show changed"));
    EXPECT_TRUE(model.index(0, 0).data(PresetDiffModel::DiffersRole).toBool());
    EXPECT_EQ(model.headerData(PresetDiffModel::rightColumn, Qt::Horizontal).toString(), QStringLiteral("Show (Stage)"));
    model.setShowAll(true);
    EXPECT_GT(model.rowCount(), 10);
    EXPECT_EQ(model.differingCount(), 1);
}

}  // namespace
}  // namespace zelto
