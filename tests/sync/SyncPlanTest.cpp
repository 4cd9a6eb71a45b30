#include <gtest/gtest.h>

#include "device/ZeltoDevice.h"
#include "sync/SyncPlan.h"

namespace zelto {
namespace {

std::vector<RemoteZeltoPreset> presets(std::initializer_list<const char*> names) {
    std::vector<RemoteZeltoPreset> list;
    for (auto n : names) list.emplace_back(n);
    return list;
}

struct SyncPlanning : ::testing::Test {
    asio::io_context io;
    DevicePtr a = std::make_shared<ZeltoDevice>(io, asio::ip::make_address_v4("10.0.0.1"), 9112, "a");
    DevicePtr b = std::make_shared<ZeltoDevice>(io, asio::ip::make_address_v4("10.0.0.2"), 9113, "b");

    std::vector<std::string> sends(const SyncPlan& plan) {
        std::vector<std::string> out;
        for (auto& s : plan.sends) out.push_back(s.name + (s.to == a ? "->a" : "->b"));
        std::sort(out.begin(), out.end());
        return out;
    }
};

TEST_F(SyncPlanning, EachMissingNameIsFetchedOnceFromItsFirstHolder) {
    auto plan = planSync(presets({"Both", "Local"}), {{a, presets({"Both", "Shared", "OnlyA"})},
                                                      {b, presets({"Shared", "OnlyB", "Both"})}});
    ASSERT_EQ(plan.fetches.size(), 3u);
    EXPECT_EQ(plan.fetches[0].preset.name, "Shared");
    EXPECT_EQ(plan.fetches[0].from, a);
    EXPECT_EQ(plan.fetches[1].preset.name, "OnlyA");
    EXPECT_EQ(plan.fetches[2].preset.name, "OnlyB");
    EXPECT_EQ(plan.fetches[2].from, b);
    EXPECT_EQ(sends(plan), (std::vector<std::string>{"Local->a", "Local->b", "OnlyA->b", "OnlyB->a"}));
}


// Matched and sent by the plain name: every date suffix at the end goes.
TEST_F(SyncPlanning, NamesWithSeveralDateSuffixesAreMatchedAndSentAsTheSyncDoes) {
    const std::string d1 = "*[2019-01-01T00:00:00.000Z]", d2 = "*[2020-02-02T00:00:00.000Z]";
    std::vector<RemoteZeltoPreset> files(2);  // a folder lists its files' names whole
    files[0].name = "Local " + d1 + " " + d2;
    files[1].name = "Known " + d1;
    auto plan = planSync(files,
                         {{a, presets({("Two " + d1 + " " + d2).c_str(), ("Known " + d2).c_str(),
                                       ("Mid " + d1 + " x " + d2).c_str(), ("Bad " + d1 + "x " + d2).c_str()})},
                          {b, presets({("Two " + d2).c_str(), ("Gap" + d1 + " " + d2).c_str()})}});
    EXPECT_EQ(sends(plan), (std::vector<std::string>{"Bad " + d1 + "x->b", "Ga->a", "Known->b", "Local->a", "Local->b", "Mid " + d1 + " x->b"}));
    ASSERT_EQ(plan.fetches.size(), 4u) << "Two is held by both mixers under the same plain name";
    for (const auto& [text, key] : std::vector<std::pair<std::string, std::string>>{
             {"Show " + d1 + " " + d2 + " " + d1, "Show"}, {"Show" + d1 + " " + d2, "Sho"}, {"Show " + d1 + " x", "Show " + d1 + " x"},
             {"Show *[2019-13-01T00:00:00.000Z] " + d2, "Show *[2019-13-01T00:00:00.000Z]"}, {d1 + " " + d2, ""}})
        EXPECT_EQ(ZeltoPresetManager::matchKey(text), key) << text;
}

}  // namespace
}  // namespace zelto
