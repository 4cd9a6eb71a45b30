// Facts other programs, stored files and users rely on, seen from their side,
// and the protocol's values every other test overrides.
#include <gtest/gtest.h>

#include <QDataStream>
#include <QMimeData>
#include <QSettings>
#include <QTemporaryDir>
#include <memory>
#include <stdexcept>

#include "app/AppSettings.h"
#include "app/DataStore.h"
#include "app/MainController.h"
#include "app/PresetTreeModel.h"
#include "app/ViewRules.h"
#include "device/PresetSegmentHandler.h"
#include "device/ZeltoDevice.h"
#include "device/ZeltoDiscoverer.h"
#include "osc/OSCServer.h"
#include "sync/PresetFiles.h"
#include "sync/StatusText.h"

namespace zelto {
namespace {

TEST(ExternalFacts, StoredSettingsKeepTheKeysEarlierVersionsWroteAndRead) {
    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("settings.ini"));
    {
        AppSettings settings(ini);
        settings.setSyncDirectoryPath("/music/sync/");
        settings.setMixerAddresses({"10.0.0.5", "10.0.0.6"});
    }
    QSettings raw(ini, QSettings::IniFormat);
    QStringList keys = raw.allKeys();
    keys.sort();
    EXPECT_EQ(keys, (QStringList{QStringLiteral("MixerAddresses"), QStringLiteral("SyncDirectory")}));
    EXPECT_EQ(raw.value(QStringLiteral("SyncDirectory")).toString(), QStringLiteral("/music/sync/"));
    raw.setValue(QStringLiteral("SyncDirectory"), QStringLiteral("/elsewhere/"));
    raw.sync();
    EXPECT_EQ(AppSettings(ini).syncDirectoryPath(), "/elsewhere/");
}

TEST(ExternalFacts, DraggedRowsCarryTheTypeAndTextsEveryDropTargetReads) {
    asio::io_context io;
    auto mixer = std::make_shared<ZeltoDevice>(io, asio::ip::make_address_v4("10.0.0.7"), 9112, "uid");
    const Preset local{nullptr, RemoteZeltoPreset("Show")}, remote{mixer, RemoteZeltoPreset("Band A")};
    std::unique_ptr<QMimeData> data(PresetTreeModel::makeDragData(
        {presetDragText(local), presetDragText(remote), groupDragText("Band")}));
    ASSERT_EQ(data->formats(), QStringList{QStringLiteral("org.zelto.presets")});
    QByteArray bytes = data->data(QStringLiteral("org.zelto.presets"));
    QDataStream stream(&bytes, QIODevice::ReadOnly);
    QStringList texts;
    stream >> texts;
    EXPECT_EQ(texts, (QStringList{QStringLiteral("/local/Show"), QStringLiteral("/10.0.0.7/Band A"),
                                  QStringLiteral("/group/Band")}));
    EXPECT_EQ(presetRowText(local, true), "Show @local");
}

struct Lines : statustext::StatusTextDelegate {
    std::vector<std::string> lines;
    void statusLine(const std::string& text, bool isError) override {
        lines.push_back((isError ? "E " : "") + text);
    }
};

TEST(ExternalFacts, TextsUsersAndScriptsReadAreTheOnesTheyKnow) {
    namespace st = statustext;
    const std::runtime_error error("boom");
    RemoteZeltoPreset dated("Show *[2021-05-01T10:00:00.000Z]");
    dated.bytes = std::vector<std::uint8_t>(3);
    Lines log;
    log.presetManagerDidStartSync();
    log.presetManagerDidFinishSync();
    log.presetManagerWillRequestPresetList(nullptr);
    log.presetManagerDidReceivePresetList({dated}, nullptr);
    log.presetManagerDidFailReceivingPresetList(nullptr, error);
    log.presetManagerDidDetermineRequiredPresets({{nullptr, {dated}}});
    log.presetManagerDidRequestPreset(dated, nullptr);
    log.presetManagerDidReceivePreset(dated, nullptr);
    log.presetManagerDidFailReceivingPreset(dated, nullptr);
    log.presetManagerDidWritePreset(dated);
    log.presetManagerWillOverwritePreset(dated);
    log.presetManagerDidFailWritingPreset(dated, error);
    log.presetManagerDidSendPreset(dated, nullptr, true);
    const std::string d = "Show *[2021-05-01T10:00:00.000Z]";
    // What the status sheet and `zelto sync` print.
    EXPECT_EQ(log.lines,
              (std::vector<std::string>{
                  "sync started", "preset manager sync finish", "requesting local preset list",
                  "received local preset list:", "[\n\t" + d + "\n]", "E failed receiving local preset list: boom",
                  "required remote presets: local\n[\n\t" + d + "\n]", "requested preset Show from local",
                  "received preset " + d + " 3 bytes from local", "E failed receiving preset Show from local",
                  "writing preset to disk " + d + " 3 bytes", "overwriting preset on disk " + d + " 3 bytes",
                  "E failed writing preset " + d + " 3 bytes to disk: boom",
                  "sent preset " + d + " 3 bytes to local overwriting yes"}));
    const std::vector<std::string> facts = {
        st::startingSync, st::syncFinished, st::startingCopy, st::copyFinished, st::reloadingPresetLists,
        st::finished, st::reloadingLocalPresets, st::failed(error), st::copying("Show", nullptr, nullptr),
        st::requestingPresetList(nullptr), st::receivedPresets(3, nullptr),
        st::failedReceivingPresetList(nullptr, error), st::failedReloadingLocalPresets(error),
        // The source users pick, the file a preset is kept in, the load confirmation.
        DataStore::localSourceName, std::string(presetfiles::kSuffix), std::string(presetfiles::kExtension),
        loadConfirmationMessage, loadConfirmationButton, loadCancelButton,
        loadConfirmationText(Preset{nullptr, RemoteZeltoPreset("Show")})};
    const std::vector<std::string> known = {
        "starting sync", "sync finished", "starting copy", "copy finished", "reloading preset lists",
        "finished!", "reloading local presets", "failed! boom", "copying Show from local to local",
        "requesting preset list from local", "received 3 presets from local",
        "failed receiving preset list from local: boom", "failed reloading local presets: boom",
        "Zelto App (local)", ".ZELTOshow", "ZELTOshow", "Warning!", "load", "cancel",
        "Are you sure you want to load \"Show\" on your zelto hardware? This will overwrite all current "
        "settings on the device!"};
    EXPECT_EQ(facts, known);
}

// Every test shortens these; here they must be what a mixer expects.
TEST(ProtocolDefaults, AreTheMixersValues) {
    using std::chrono::nanoseconds, std::chrono::seconds;
    const ZeltoTimings timings;
    const ControllerOptions options;
    const ZeltoPresetManager::Timeouts manager;
    const PresetSegmentAssembler::Limits segments;
    const auto ns = [](auto d) { return static_cast<std::uint64_t>(nanoseconds(d).count()); };
    const std::uint64_t s = 1'000'000'000;
    const std::vector<std::pair<const char*, std::uint64_t>> actual = {
        {"ping interval", ns(timings.pingInterval)},
        {"online window", ns(timings.onlineWindow)},
        {"discovery interval", ns(timings.discoveryInterval)},
        {"send time-out", timings.sendTimeout},
        {"incomplete preset dropped after", ns(timings.segmentStaleAfter)},
        {"segment handler drops after", ns(segments.staleAfter)},
        {"controller connect", options.connectTimeout},
        {"controller preset list", options.presetListTimeout},
        {"controller discovery start", options.discoveryStartTimeout},
        {"controller timings are the protocol's", ns(options.timings.pingInterval + options.timings.onlineWindow +
                                                     options.timings.discoveryInterval)},
        {"first listen port", options.firstListenPort},
        {"discovery answers", options.discoveryPort},
        {"discoverer listens", ZeltoDiscoverer::discoveryPort},
        {"discoverer asks mixers on", ZeltoDiscoverer::devicePort},
        {"session talks to mixers on", ZeltoDevice::devicePort},
        {"broadcast by default", options.noBroadcast ? 0u : 1u},
        {"sync list wait", manager.list},
        {"sync connect wait", manager.connect},
        {"sync segment wait", manager.preset},
        {"fetch retries", ZeltoPresetManager::kFetchRetries},
        {"list retries", ZeltoPresetManager::kListRetries},
        {"first retry pause", ns(options.retryPause)},
        {"folder settles", ns(options.folderSettle)},
        {"pending incomplete presets", segments.maxPendingPresets},
        {"segments of a preset", static_cast<std::uint64_t>(segments.maxSegments)},
        {"queued objects", OSCMessageProvider::queueLimit},
        {"receive memory budget", OSCMessageProvider::defaultReceiveBudget},
        {"peers at once", OSCServer::maxConnections},
        {"peer forgotten after", ns(OSCServer::defaultPeerIdleTime)},
    };
    const std::vector<std::pair<const char*, std::uint64_t>> expected = {
        {"ping interval", 5 * s},
        {"online window", 10 * s},
        {"discovery interval", 30 * s},
        {"send time-out", 1 * s},
        {"incomplete preset dropped after", 60 * s},
        {"segment handler drops after", 60 * s},
        {"controller connect", 10 * s},
        {"controller preset list", 1 * s},
        {"controller discovery start", 1 * s},
        {"controller timings are the protocol's", 45 * s},
        {"first listen port", 9112},
        {"discovery answers", 9999},
        {"discoverer listens", 9999},
        {"discoverer asks mixers on", 9110},
        {"session talks to mixers on", 9110},
        {"broadcast by default", 1},
        {"sync list wait", 1 * s},
        {"sync connect wait", 1 * s},
        {"sync segment wait", 10 * s},
        {"fetch retries", 2},
        {"list retries", 2},
        {"first retry pause", 1000000000},
        {"folder settles", 300000000},
        {"pending incomplete presets", 8},
        {"segments of a preset", 65536},
        {"queued objects", 65536},
        {"receive memory budget", 64u << 20},
        {"peers at once", 256},
        {"peer forgotten after", 300 * s},
    };
    EXPECT_EQ(actual, expected);
}

}  // namespace
}  // namespace zelto
