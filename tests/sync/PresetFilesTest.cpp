#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>


#include "sync/PresetFiles.h"
#include "sync/TempFolder.h"

namespace zelto::presetfiles {
namespace {

using test::TempFolder;

std::vector<std::uint8_t> bytesOf(std::string_view s) {
    return {s.begin(), s.end()};
}

TEST(PresetNameSafety, RejectsNamesThatLeaveOrBreakTheFolder) {
    struct Case {
        std::string name;
        bool safe;
    };
    const Case cases[] = {
        {"Stage (Left) 2", true},
        {"..x", true},
        {std::string(255 - 10, 'a'), true},
        {std::string(255 - 9, 'a'), false},
        {"", false},
        {".", false},
        {"..", false},
        {"../../x", false},
        {"a/b", false},
        {"a\\b", false},
        {std::string("a\0b", 3), false},
        {"line\nbreak", false},
        {"tab\t", false},
        {"del\x7f", false},
    };
    for (const auto& c : cases) EXPECT_EQ(isSafePresetName(c.name), c.safe) << '"' << c.name << '"';
}

TEST(FolderListing, KeepsOnlyTheExactExtensionWithDates) {
    TempFolder dir;
    dir.write("A.ZELTOshow", "a");
    dir.write("B.zeltoshow", "b");
    dir.write("C.txt", "c");
    dir.write("two.dots.ZELTOshow", "d");
    auto files = listFolder(dir.path());
    std::vector<std::string> names;
    for (auto& f : files) {
        names.push_back(f.name);
        EXPECT_TRUE(f.modified.has_value());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"A", "two.dots"}));
    EXPECT_THROW(listFolder(dir.path() + "missing/"), std::filesystem::filesystem_error);
}

TEST(AtomicWrite, ReplacesASymbolicLinkInsteadOfWritingThroughIt) {
    TempFolder dir, outside;
    outside.write("victim", "precious");
    ASSERT_EQ(::symlink((outside.path() + "victim").c_str(), (dir.path() + "L.ZELTOshow").c_str()), 0);
    bool replaced = false;
    ASSERT_FALSE(writeFileAtomically(dir.path(), "L.ZELTOshow", bytesOf("x"), Clock::now(), replaced));
    EXPECT_TRUE(replaced);
    EXPECT_EQ(outside.read("victim"), "precious");
    struct stat st {};
    ASSERT_EQ(::lstat((dir.path() + "L.ZELTOshow").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
}

TEST(AtomicWrite, FailureLeavesTheOldFileAndNoDebris) {
    TempFolder dir;
    dir.write("P.ZELTOshow", "old");
    ::mkdir((dir.path() + "D.ZELTOshow").c_str(), 0755);
    bool replaced = false;
    EXPECT_TRUE(writeFileAtomically(dir.path(), "D.ZELTOshow", bytesOf("x"), Clock::now(), replaced));
    EXPECT_TRUE(
        writeFileAtomically(dir.path() + "missing/", "P.ZELTOshow", bytesOf("x"), Clock::now(), replaced));
    EXPECT_EQ(dir.read("P.ZELTOshow"), "old");
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"D.ZELTOshow", "P.ZELTOshow"}));
}

}  // namespace
}  // namespace zelto::presetfiles
