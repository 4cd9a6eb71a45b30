// The three programs as a shell and a desktop meet them: their version and
// help (without a display), and the bash completion of zelto against a
// simulated mixer on loopback.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "support/SimProcess.h"
#include "sync/PresetBytes.h"
#include "sync/TempFolder.h"
#include "zelto/Version.h"

namespace zelto {
namespace {

using test::ProcessResult;

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::string str(const std::vector<std::uint8_t>& bytes) {
    return {bytes.begin(), bytes.end()};
}

TEST(Programs, PrintTheProjectVersionAndTheirHelpWithoutADisplay) {
    for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) ::unsetenv(variable);
    for (const std::string name : {"zelto", "zelto-sim", "zelto-presets"}) {
        const ProcessResult version = test::runProcess({test::builtProgram(name), "--version"});
        EXPECT_EQ(version.exitCode, 0) << name << version.err;
        EXPECT_EQ(version.out, name + " " + kVersion + "\n");

        const ProcessResult help = test::runProcess({test::builtProgram(name), "--help"});
        EXPECT_EQ(help.exitCode, 0) << name << help.err;
        EXPECT_TRUE(contains(help.out, "Usage: " + name + " ")) << help.out;
        EXPECT_TRUE(contains(help.out, "--version")) << help.out;
    }
}

// Runs `zelto` completions in bash: each line of `lines` is the words of one
// command line (the last one being completed), each line of the result the
// candidates offered for it.
std::vector<std::string> complete(const std::vector<std::string>& lines, const std::string& timeout) {
    const std::string zeltoFolder = std::filesystem::path(test::builtProgram("zelto")).parent_path();
    std::string script = "export PATH='" + zeltoFolder + "':$PATH ZELTO_COMPLETION_TIMEOUT=" + timeout +
                         "\nsource '" ZELTO_COMPLETION_SCRIPT "'\n"
                         "t() { COMP_WORDS=(\"$@\"); COMP_CWORD=$(($# - 1)); _zelto; echo \"${COMPREPLY[*]}\"; }\n";
    for (const auto& line : lines) script += "t " + line + "\n";
    const ProcessResult result = test::runProcess({"/bin/bash", "-c", script});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err, "");
    std::vector<std::string> out;
    std::size_t start = 0;
    for (std::size_t end; (end = result.out.find('\n', start)) != std::string::npos; start = end + 1)
        out.push_back(result.out.substr(start, end - start));
    return out;
}

TEST(Completion, OffersCommandsOptionsLocalPresetsAndTheMixersThatAnswer) {
    test::SimProcess sim("127.0.0.2", {"--name", "Stage", "--uid", "uid-stage"});
    test::TempFolder folder;
    folder.write("Gig.ZELTOshow", str(test::presetBytes("Gig")));
    folder.write("Gala Night.ZELTOshow", str(test::presetBytes("Gala Night")));
    const std::string dir = "--dir " + folder.path();
    const auto offered =
        complete({"zelto sy", "zelto ''", "zelto sync --d", "zelto pack -",
                  "zelto copy " + dir + " G", "zelto delete --no-broadcast " + dir + " --from l",
                  "zelto copy Gig --host 127.0.0.2 --no-broadcast --to ''",
                  "zelto info --no-broadcast --host 127.0.0.2 St"},
                 "10");
    ASSERT_EQ(offered.size(), 8u);
    EXPECT_EQ(offered[0], "sync");
    EXPECT_TRUE(contains(offered[1], "discover list sync copy load delete")) << offered[1];
    EXPECT_EQ(offered[2], "--dir --dry-run");
    EXPECT_EQ(offered[3], "-h --help -o --output");
    EXPECT_EQ(offered[4], "Gala\\ Night Gig");
    EXPECT_EQ(offered[5], "local");
    EXPECT_EQ(offered[6], "local 127.0.0.2 uid-stage Stage");
    EXPECT_EQ(offered[7], "Stage");
}

TEST(Completion, GivesUpOnMixersThatDoNotAnswerWithinItsTimeout) {
    // No mixer at this address: the discovery waits no longer than the timeout.
    const auto offered = complete({"zelto copy Gig --no-broadcast --host 127.0.0.9 --from ''"}, "0.5");
    ASSERT_EQ(offered.size(), 1u);
    EXPECT_EQ(offered[0], "local");
}

}  // namespace
}  // namespace zelto
