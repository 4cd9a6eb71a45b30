// Fingerprints of preset contents and the caches that keep them.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>

#include <filesystem>
#include <fstream>

#include "compare/Fingerprint.h"
#include "compare/FolderFingerprints.h"
#include "compare/MixerFingerprintCache.h"
#include "preset/Gzip.h"
#include "sync/PresetBytes.h"
#include "sync/PresetFiles.h"
#include "sync/TempFolder.h"

namespace zelto {
namespace {

using test::presetBytes;

std::string text(const std::vector<std::uint8_t>& b) {
    return {b.begin(), b.end()};
}

RemoteZeltoPreset listedAs(const std::string& extendedName) {
    return RemoteZeltoPreset(extendedName);
}

TEST(Fingerprint, IsOneForADocumentStoredPlainOrCompressedAtAnyLevelAndAnotherForOtherContent) {
    const auto plain = gzip::decompress(presetBytes("Show", 3000));
    const Fingerprint reference = fingerprintOf(plain);
    for (int level : {-1, 0, 1, 6, 9})
        EXPECT_EQ(fingerprintOf(gzip::compress(plain, level, 15)), reference) << level;
    EXPECT_NE(fingerprintOf(presetBytes("Show", 3000, 2)), reference);
    EXPECT_NE(fingerprintOf(presetBytes("Show ")), fingerprintOf(presetBytes("Show")));

    EXPECT_EQ(Fingerprint::fromHex(reference.hex()), reference);
    EXPECT_EQ(reference.hex().size(), 32u);
    EXPECT_FALSE(Fingerprint::fromHex(reference.hex().substr(1)));
    EXPECT_FALSE(Fingerprint::fromHex(std::string(32, 'g')));

    auto truncated = presetBytes("Show", 3000);
    truncated.resize(truncated.size() / 2);
    EXPECT_THROW(fingerprintOf(truncated), GzipError);
}

TEST(FolderFingerprints, HashesAFileOnlyWhenItIsNewOrItsSizeOrTimeChanged) {
    test::TempFolder folder;
    folder.write("A.ZELTOshow", text(presetBytes("A")));
    folder.write("B.ZELTOshow", text(gzip::decompress(presetBytes("A"))));
    folder.write("Broken.ZELTOshow", text(presetBytes("A")).substr(0, 40));
    FolderFingerprints cache;
    auto byName = [&] {
        std::map<std::string, std::optional<Fingerprint>> m;
        for (auto& listed : cache.list(folder.path())) m[listed.preset.name] = listed.fingerprint;
        return m;
    };
    auto first = byName();
    ASSERT_EQ(first.size(), 3u);
    EXPECT_EQ(first["A"], first["B"]) << "one document, compressed and plain";
    EXPECT_TRUE(first["A"]);
    EXPECT_FALSE(first["Broken"]) << "a file that does not inflate has no fingerprint";
    EXPECT_EQ(cache.filesHashed(), 3u);

    EXPECT_EQ(byName(), first);
    EXPECT_EQ(cache.filesHashed(), 3u) << "nothing changed, nothing read";

    // Same size, other content, other time: hashed again.
    auto other = presetBytes("B");
    ASSERT_EQ(other.size(), presetBytes("A").size());
    folder.write("A.ZELTOshow", text(other));
    struct timeval times[2] = {{1'000'000, 0}, {1'000'000, 0}};
    ASSERT_EQ(::utimes((folder.path() + "A.ZELTOshow").c_str(), times), 0);
    std::filesystem::remove(folder.path() + "Broken.ZELTOshow");
    auto second = byName();
    EXPECT_EQ(cache.filesHashed(), 4u);
    EXPECT_EQ(second["A"], fingerprintOf(other));
    EXPECT_FALSE(second.contains("Broken"));
}

class MixerCache : public ::testing::Test {
  protected:
    test::TempFolder dir;
    std::string path() const { return dir.path() + "cache/fingerprints.json"; }
    Fingerprint a = fingerprintOf(presetBytes("A")), b = fingerprintOf(presetBytes("B"));
    RemoteZeltoPreset show = listedAs("Show *[2024-03-01T10:00:00.000Z]");
    RemoteZeltoPreset showStoredAgain = listedAs("Show *[2024-03-02T10:00:00.000Z]");
};

TEST_F(MixerCache, KeepsFingerprintsAcrossProcessesByMixerNameAndListedDate) {
    {
        MixerFingerprintCache cache(path());
        EXPECT_FALSE(cache.lookup("uid-1", show));
        cache.record("uid-1", show, a);
        cache.record("uid-2", listedAs("Undated"), b);
        ASSERT_TRUE(cache.save());
    }
    MixerFingerprintCache reloaded(path());
    EXPECT_FALSE(reloaded.damaged());
    EXPECT_EQ(reloaded.lookup("uid-1", show), a);
    EXPECT_EQ(reloaded.lookup("uid-2", listedAs("Undated")), b);
    EXPECT_FALSE(reloaded.lookup("uid-2", show)) << "another mixer";
    EXPECT_FALSE(reloaded.lookup("uid-1", showStoredAgain)) << "stored again since: stale";

    // Two processes saving: neither loses what the other recorded.
    MixerFingerprintCache one(path()), two(path());
    one.record("uid-1", showStoredAgain, b);
    two.record("uid-3", show, a);
    ASSERT_TRUE(one.save());
    ASSERT_TRUE(two.save());
    MixerFingerprintCache merged(path());
    EXPECT_EQ(merged.lookup("uid-1", showStoredAgain), b);
    EXPECT_EQ(merged.lookup("uid-3", show), a);
    EXPECT_EQ(merged.size(), 3u) << "the stale entry was replaced, not added to";
    std::vector<std::string> files;
    for (auto& e : std::filesystem::directory_iterator(dir.path() + "cache"))
        files.push_back(e.path().filename());
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{"fingerprints.json", "fingerprints.json.lock"}))
        << "no temporary file is left";
}

TEST_F(MixerCache, IgnoresADamagedFileAndRebuildsIt) {
    for (std::string damage : std::vector<std::string>{
             "{\"format\":\"zelto-preset-fingerprints\",\"version\":1,\"entries\":[{\"uid\":", "[1,2,3]",
             std::string("\0\xff\x10", 3),
             "{\"format\":\"zelto-preset-fingerprints\",\"version\":1,\"entries\":["
             "{\"uid\":\"u\",\"name\":\"Show\",\"fingerprint\":\"xyz\"},"
             "{\"uid\":\"u\",\"name\":\"Kept\",\"fingerprint\":\"" +
                 a.hex() + "\"}]}"}) {
        std::filesystem::create_directories(dir.path() + "cache");
        std::ofstream(path(), std::ios::binary) << damage;
        MixerFingerprintCache cache(path());
        const bool wholeFileBad = damage.find("Kept") == std::string::npos;
        EXPECT_EQ(cache.damaged(), wholeFileBad) << damage;
        EXPECT_EQ(cache.size(), wholeFileBad ? 0u : 1u) << "a bad entry alone is dropped";
        cache.record("uid-1", show, a);
        ASSERT_TRUE(cache.save());
        MixerFingerprintCache rebuilt(path());
        EXPECT_FALSE(rebuilt.damaged());
        EXPECT_EQ(rebuilt.lookup("uid-1", show), a);
    }
}

TEST_F(MixerCache, StaysWithinItsBoundKeepingTheEntriesUsedLast) {
    MixerFingerprintCache cache(path(), 2);
    cache.record("uid-1", listedAs("Old"), a);
    ASSERT_TRUE(cache.save());
    // "Old" backdated, so that the order does not hang on the clock's second.
    {
        std::ifstream in(path());
        std::string t{std::istreambuf_iterator<char>(in), {}};
        auto at = t.find("\"used\":");
        ASSERT_NE(at, std::string::npos);
        t.replace(at, t.find('}', at) - at, "\"used\":1");
        std::ofstream(path()) << t;
    }
    MixerFingerprintCache later(path(), 2);
    later.record("uid-1", listedAs("New 1"), a);
    later.record("uid-1", listedAs("New 2"), b);
    ASSERT_TRUE(later.save());
    MixerFingerprintCache bounded(path(), 2);
    EXPECT_EQ(bounded.size(), 2u);
    EXPECT_FALSE(bounded.lookup("uid-1", listedAs("Old")));
    EXPECT_EQ(bounded.lookup("uid-1", listedAs("New 2")), b);
}

TEST(ApplicationCacheFolder, IsWhereTheDesktopApplicationKeepsItsCache) {
    const char* savedXdg = std::getenv("XDG_CACHE_HOME");
    const std::string saved = savedXdg ? savedXdg : "";
    ::setenv("XDG_CACHE_HOME", "/tmp/xdg-cache/", 1);
    EXPECT_EQ(MixerFingerprintCache::applicationCacheFolder(), "/tmp/xdg-cache/Zelto/zelto-presets");
    ::setenv("XDG_CACHE_HOME", "relative/is/ignored", 1);
    EXPECT_EQ(MixerFingerprintCache::applicationCacheFolder(),
              presetfiles::homeDirectory() + "/.cache/Zelto/zelto-presets");
    ::unsetenv("XDG_CACHE_HOME");
    EXPECT_EQ(MixerFingerprintCache::defaultPath(),
              presetfiles::homeDirectory() + "/.cache/Zelto/zelto-presets/preset-fingerprints.json");
    if (savedXdg) ::setenv("XDG_CACHE_HOME", saved.c_str(), 1);
}

}  // namespace
}  // namespace zelto
