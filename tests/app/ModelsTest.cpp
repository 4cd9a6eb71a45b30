#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QMimeData>
#include <QPersistentModelIndex>
#include <asio/io_context.hpp>
#include <memory>
#include <string>

#include "app/PresetTreeModel.h"
#include "app/SourceListModel.h"
#include "device/ZeltoDevice.h"

namespace zelto {
namespace {

QCoreApplication& application() {
    static int argc = 1;
    static char name[] = "app_models_test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

std::vector<RemoteZeltoPreset> list(std::initializer_list<const char*> names) {
    std::vector<RemoteZeltoPreset> presets;
    for (const char* name : names) presets.emplace_back(name);
    return presets;
}

// The structural signals of a model, as "inserted PARENT first-last",
// "removed ..." and "changed ..." (PARENT: a group's name, "/" for the top
// level), and "reset" / "layout" for the wholesale ones.
class RowSignals {
  public:
    explicit RowSignals(QAbstractItemModel& model) {
        auto note = [this](const char* what, const QModelIndex& parent, int first, int last) {
            seen_.push_back(std::string(what) + " " +
                            (parent.isValid() ? parent.data().toString().toStdString() : "/") + " " +
                            std::to_string(first) + "-" + std::to_string(last));
        };
        QObject::connect(&model, &QAbstractItemModel::rowsInserted, &context_,
                         [note](const QModelIndex& p, int f, int l) { note("inserted", p, f, l); });
        QObject::connect(&model, &QAbstractItemModel::rowsRemoved, &context_,
                         [note](const QModelIndex& p, int f, int l) { note("removed", p, f, l); });
        QObject::connect(&model, &QAbstractItemModel::dataChanged, &context_,
                         [note](const QModelIndex& from, const QModelIndex& to) {
                             note("changed", from.parent(), from.row(), to.row());
                         });
        QObject::connect(&model, &QAbstractItemModel::modelAboutToBeReset, &context_,
                         [this] { seen_.push_back("reset"); });
        QObject::connect(&model, &QAbstractItemModel::layoutAboutToBeChanged, &context_,
                         [this] { seen_.push_back("layout"); });
        QObject::connect(&model, &QAbstractItemModel::rowsAboutToBeMoved, &context_,
                         [this] { seen_.push_back("moved"); });
    }
    std::vector<std::string> take() { return std::exchange(seen_, {}); }

  private:
    QObject context_;
    std::vector<std::string> seen_;
};

class ModelsTest : public ::testing::Test {
  protected:
    ModelsTest() {
        application();
        sources.setCopyHandler(
            [this](std::vector<PresetCopyJob> jobs) { copies.push_back(std::move(jobs)); });
    }

    DevicePtr device(const char* address) {
        return std::make_shared<ZeltoDevice>(io, asio::ip::make_address_v4(address), 9112, std::nullopt);
    }
    // The models follow the store on a later turn of the event loop.
    template <class Condition>
    static bool settle(Condition done) {
        QDeadlineTimer deadline(5000);
        while (!done() && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        return done();
    }
    QString text(const QModelIndex& index) const { return index.data().toString(); }

    asio::io_context io;
    DataStore store;
    PresetTreeModel presets;
    SourceListModel sources{store, presets};
    QAbstractItemModelTester presetsTester{&presets, QAbstractItemModelTester::FailureReportingMode::Fatal};
    QAbstractItemModelTester sourcesTester{&sources, QAbstractItemModelTester::FailureReportingMode::Fatal};
    std::vector<std::vector<PresetCopyJob>> copies;
};

TEST_F(ModelsTest, SourceRowsFollowTheStoreOnALaterTurnAndKeepTheRowsThatStay) {
    const auto stage = device("127.0.0.2");
    store.addSource(std::make_shared<PresetSource>("Zelto App (local)", nullptr, list({"A"})));
    EXPECT_EQ(sources.rowCount(), 0) << "rows changed inside the writer's call";
    ASSERT_TRUE(settle([&] { return sources.rowCount() == 1; }));
    const QPersistentModelIndex local = sources.index(0);

    store.addSource(std::make_shared<PresetSource>("Stage", stage, list({"B", "C"})));
    ASSERT_TRUE(settle([&] { return sources.rowCount() == 2; }));
    EXPECT_EQ(text(sources.index(1)), "Stage");
    EXPECT_TRUE(sources.index(1).data(SourceListModel::IsDeviceRole).toBool());

    store.addSource(std::make_shared<PresetSource>("Studio", device("127.0.0.3"), list({"F"})));
    ASSERT_TRUE(settle([&] { return sources.rowCount() == 3; }));
    int changes = 0;
    QObject::connect(&sources, &SourceListModel::presetsChanged, [&] { ++changes; });
    RowSignals rows(sources);
    const auto copies = PresetSource::listCopies();
    store.setPresets(list({"D"}), stage);
    store.setPresets(list({"E"}), nullptr);
    ASSERT_TRUE(settle([&] { return changes > 0; }));
    EXPECT_EQ(changes, 1) << "a burst of notifications is handled once";
    EXPECT_EQ(rows.take(), (std::vector<std::string>{"changed / 1-1", "changed / 0-0"}))
        << "only the rows whose list changed";
    EXPECT_EQ(sources.index(1).data(SourceListModel::PresetCountRole).toInt(), 1);
    EXPECT_EQ(PresetSource::listCopies(), copies) << "a row's count or tooltip copied its source's list";

    store.removeSources(stage);
    ASSERT_TRUE(settle([&] { return sources.rowCount() == 2; }));
    EXPECT_TRUE(local.isValid());
    EXPECT_EQ(local.row(), 0);
    EXPECT_EQ(rows.take(), std::vector<std::string>{"removed / 1-1"});
}

// Local presets only, then a second source, as the views see them.
TEST_F(ModelsTest, PresetTreeChangesItsRowsInPlaceAsGroupsFormAndDissolve) {
    auto local = [](std::initializer_list<const char*> names) {
        std::vector<Preset> presets;
        for (const char* name : names) presets.push_back(Preset{nullptr, RemoteZeltoPreset(name)});
        return presets;
    };
    presets.showPresets(local({"Band-1", "Band-2", "Duo-1", "Solo", "Live-1", "Live-2", "Live-3"}));
    ASSERT_EQ(presets.rowCount(), 3);
    const QPersistentModelIndex band = presets.index(0, 0);
    const QPersistentModelIndex band2 = presets.index(1, 0, band);
    const QPersistentModelIndex others = presets.index(2, 0);
    const QPersistentModelIndex solo = presets.index(1, 0, others);
    ASSERT_EQ(text(solo), "Solo");
    RowSignals rows(presets);

    // Live dissolves (Live-2 joins "others"), Duo forms (Duo-1 leaves it).
    presets.showPresets(local({"Band-1", "Band-2", "Duo-1", "Duo-2", "Live-2", "Solo"}));
    EXPECT_EQ(rows.take(), (std::vector<std::string>{"removed / 1-1", "inserted / 1-1", "removed others 0-0",
                                                     "inserted others 0-0"}));
    EXPECT_EQ(text(presets.index(1, 0)), "Duo");
    EXPECT_EQ(presets.rowCount(presets.index(1, 0)), 2);
    EXPECT_EQ(text(presets.index(0, 0, others)), "Live-2");
    EXPECT_EQ(band.row(), 0);
    EXPECT_EQ(band2.row(), 1);
    EXPECT_EQ(band2.parent(), band);
    EXPECT_EQ(text(band2), "Band-2");
    EXPECT_EQ(others.row(), 2);
    EXPECT_EQ(solo.parent(), others) << "a row of a group behind an inserted group lost its parent";
    EXPECT_EQ(text(solo), "Solo");

    // A second source: every preset row's text gains its source; a dated
    // Solo is a changed row, not a new one.
    const auto stage = device("127.0.0.2");
    auto both = local({"Band-1", "Band-2", "Duo-1", "Duo-2", "Live-2", "Solo"});
    both[5].preset.date = PresetDate(std::chrono::hours(24 * 365 * 50));
    both.push_back(Preset{stage, RemoteZeltoPreset("Band-3")});
    presets.showPresets(both);
    const auto seen = rows.take();
    auto saw = [&](const std::string& signal) { return std::count(seen.begin(), seen.end(), signal); };
    EXPECT_EQ(saw("inserted Band 2-2"), 1);
    EXPECT_EQ(saw("changed / 0-0"), 1) << "Band's count";
    EXPECT_EQ(saw("changed Band 0-2") + saw("changed Duo 0-1"), 2) << "the source suffixes";
    EXPECT_EQ(saw("changed others 1-1"), 1) << "Solo's date";
    for (const auto& signal : seen)
        EXPECT_TRUE(signal.rfind("changed", 0) == 0 || signal == "inserted Band 2-2") << signal;
    EXPECT_TRUE(solo.isValid());
    EXPECT_EQ(text(solo), "Solo @local");
    EXPECT_EQ(text(presets.index(2, 0, band)), "Band-3 @127.0.0.2:9110");

    presets.showPresets(both);
    EXPECT_TRUE(rows.take().empty()) << "the same list again changed rows";
}

TEST_F(ModelsTest, PresetTreeShowsGroupsWithTheirPresetsAndSourceSuffixes) {
    const auto stage = device("127.0.0.2");
    presets.showPresets({{nullptr, RemoteZeltoPreset("Live-1")},
                         {stage, RemoteZeltoPreset("Live-2")},
                         {stage, RemoteZeltoPreset("Solo")}});
    ASSERT_EQ(presets.rowCount(), 2);
    const auto live = presets.index(0, 0);
    EXPECT_EQ(text(live), "Live");
    EXPECT_EQ(presets.rowCount(live), 2);
    EXPECT_EQ(text(presets.index(0, 0, live)), "Live-1 @local");
    EXPECT_EQ(text(presets.index(1, 0, live)), "Live-2 @127.0.0.2:9110");
    EXPECT_EQ(presets.parent(presets.index(1, 0, live)), live);
    EXPECT_EQ(text(presets.index(1, 0)), "others");

    const auto rows =
        presets.affectedRows({presets.index(0, 0, presets.index(1, 0)), live}, presets.index(1, 0, live));
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_FALSE(rows[0].preset);
    EXPECT_EQ(rows[1].preset->preset.name, "Live-2");
    EXPECT_EQ(rows[2].preset->preset.name, "Solo");
    EXPECT_EQ(presets.indexOf(stage, "Solo"), presets.index(0, 0, presets.index(1, 0)));

    presets.showPresets({});
    EXPECT_EQ(presets.rowCount(), 1) << "\"others\" is always there";
    EXPECT_EQ(presets.rowCount(presets.index(0, 0)), 0);
}

TEST_F(ModelsTest, DraggedRowsDroppedOnASourceRowBecomeCopyJobs) {
    const auto stage = device("127.0.0.2");
    const auto studio = device("127.0.0.3");
    store.addSource(std::make_shared<PresetSource>("Zelto App (local)", nullptr, list({"Band-1"})));
    store.addSource(std::make_shared<PresetSource>("Stage", stage, list({"Band-2", "Solo"})));
    store.addSource(std::make_shared<PresetSource>("Studio", studio, list({})));
    ASSERT_TRUE(settle([&] { return sources.rowCount() == 3; }));
    presets.showPresets(presetsOfSources(store.sources()));

    const auto band = presets.index(0, 0);
    const auto solo = presets.index(0, 0, presets.index(1, 0));
    std::unique_ptr<QMimeData> data(presets.mimeData({solo, band}));
    EXPECT_EQ(PresetTreeModel::dragItems(data.get()),
              (std::vector<std::string>{"/group/Band", "/127.0.0.2/Solo"}));

    const auto studioRow = sources.index(2);
    EXPECT_FALSE(sources.canDropMimeData(data.get(), Qt::CopyAction, 1, 0, {})) << "between rows";
    EXPECT_FALSE(sources.canDropMimeData(data.get(), Qt::CopyAction, -1, -1, {})) << "empty area";
    EXPECT_FALSE(sources.canDropMimeData(data.get(), Qt::MoveAction, -1, -1, studioRow));
    QMimeData foreign;
    foreign.setText("/local/Band-1");
    EXPECT_FALSE(sources.canDropMimeData(&foreign, Qt::CopyAction, -1, -1, studioRow));
    EXPECT_FALSE(presets.canDropMimeData(data.get(), Qt::CopyAction, -1, -1, band));

    ASSERT_TRUE(sources.dropMimeData(data.get(), Qt::CopyAction, -1, -1, studioRow));
    ASSERT_EQ(copies.size(), 1u);
    ASSERT_EQ(copies[0].size(), 3u);
    EXPECT_EQ(copies[0][0].from, nullptr);
    EXPECT_EQ(copies[0][0].presetName, "Band-1");
    EXPECT_EQ(copies[0][1].from, stage);
    EXPECT_EQ(copies[0][2].presetName, "Solo");
    EXPECT_EQ(copies[0][2].to, studio);

    std::unique_ptr<QMimeData> own(presets.mimeData({solo}));
    ASSERT_TRUE(sources.dropMimeData(own.get(), Qt::CopyAction, -1, -1, sources.index(1)));
    ASSERT_EQ(copies.size(), 2u);
    EXPECT_TRUE(copies[1].empty()) << "a drop onto the preset's own source still runs, empty";
}

}  // namespace
}  // namespace zelto
