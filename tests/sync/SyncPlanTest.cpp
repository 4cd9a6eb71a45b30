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

}  // namespace
}  // namespace zelto
