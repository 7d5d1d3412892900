// Storing a cache file under a tone's name: linked when it can be, copied otherwise, never
// over a name that is taken, and never leaving a temporary file behind, on any file system.
#include "platform/files/files.h"
#include "platform/text/text.h"
#include "tests/support/ExfatFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

class StoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_root = fs::temp_directory_path() /
                 ("pm-store-" + std::to_string(::getpid()) + "-" + std::to_string(s_nCase++));
        fs::create_directories(m_root / "cache");
        fs::create_directories(m_root / "tones");
    }
    void TearDown() override { fs::remove_all(m_root); }

    static void Write(const fs::path& path, const std::string& content) {
        std::ofstream(path, std::ios::binary) << content;
    }
    static std::string Read(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream content;
        content << in.rdbuf();
        return content.str();
    }
    static ino_t Inode(const fs::path& path) {
        struct stat status {};
        ::lstat(path.c_str(), &status);
        return status.st_ino;
    }
    int Store(const fs::path& from, const fs::path& to, StoreWay way = StoreWay::MoveIntoPlace) {
        return StoreCacheFileNoReplace(FromUtf8(from.string()).c_str(),
                                       FromUtf8(to.string()).c_str(), way);
    }
    // The names in a folder, so that a stray temporary file shows.
    static std::vector<std::string> Names(const fs::path& folder) {
        std::vector<std::string> names;
        for (const fs::directory_entry& entry : fs::directory_iterator(folder))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    std::vector<std::string> Tones() const { return Names(m_root / "tones"); }

    static inline int s_nCase = 0;
    fs::path m_root;
};

} // namespace

TEST_F(StoreTest, ACacheFileIsLinkedAndATakenNameIsLeftAlone) {
    const fs::path cached = m_root / "cache" / "Pad[1].l6t";
    Write(cached, "tone bytes");
    ASSERT_EQ(Store(cached, m_root / "tones" / "Pad.l6t"), 0);
    EXPECT_EQ(Inode(m_root / "tones" / "Pad.l6t"), Inode(cached)) << "linked, not copied";
    EXPECT_EQ(Read(m_root / "tones" / "Pad.l6t"), "tone bytes");

    const fs::path other = m_root / "cache" / "Pad[2].l6t";
    Write(other, "other bytes");
    EXPECT_EQ(Store(other, m_root / "tones" / "Pad.l6t"), EEXIST);
    EXPECT_EQ(Read(m_root / "tones" / "Pad.l6t"), "tone bytes");

    // A dangling link or a folder holds a name as well as a file does.
    fs::create_symlink(m_root / "nowhere", m_root / "tones" / "Link.l6t");
    EXPECT_EQ(Store(other, m_root / "tones" / "Link.l6t"), EEXIST);
    fs::create_directory(m_root / "tones" / "Dir.l6t");
    EXPECT_EQ(Store(other, m_root / "tones" / "Dir.l6t"), EEXIST);
    EXPECT_EQ(Tones(), (std::vector<std::string>{"Dir.l6t", "Link.l6t", "Pad.l6t"}));
}

TEST_F(StoreTest, AFileLinkedElsewhereIsCopiedWithoutLeavingATemporary) {
    const fs::path cached = m_root / "cache" / "Pad[1].l6t";
    Write(cached, std::string(100000, 'p'));
    fs::create_hard_link(cached, m_root / "elsewhere.l6t"); // not only the cache's any more

    ASSERT_EQ(Store(cached, m_root / "tones" / "Pad.l6t"), 0);
    EXPECT_NE(Inode(m_root / "tones" / "Pad.l6t"), Inode(cached)) << "a copy of its own";
    EXPECT_EQ(Read(m_root / "tones" / "Pad.l6t"), std::string(100000, 'p'));

    EXPECT_EQ(Store(cached, m_root / "tones" / "Pad.l6t"), EEXIST);
    EXPECT_EQ(Store(cached, m_root / "missing" / "Pad.l6t"), ENOENT);
    EXPECT_EQ(Tones(), std::vector<std::string>{"Pad.l6t"}) << "no temporary file is left";
}

TEST_F(StoreTest, LeftoverTemporariesAreRemovedAndNothingThatOnlyLooksLikeOne) {
    const fs::path tones = m_root / "tones";
    Write(tones / ".pm-0123456789abcdef.part", "half a tone");
    Write(tones / ".pm-ffffffffffffffff.part", "");
    const std::vector<std::string> kept = {".pm-0123456789ABCDEF.part",
                                           ".pm-0123456789abcde.part",
                                           ".pm-xyz.part",
                                           ".pm-0123456789abcdef.part.l6t",
                                           "Pad.l6t",
                                           "a.pm-0123456789abcdef.part"};
    for (const std::string& name : kept)
        Write(tones / name, "keep");
    fs::create_directory(tones / ".pm-1111111111111111.part");
    fs::create_symlink(tones / "Pad.l6t", tones / ".pm-2222222222222222.part");

    // Another copy of the program storing into the folder holds its temporary file's lock.
    PartFile live(tones);
    ASSERT_TRUE(live.IsOpen()) << std::strerror(live.error());

    EXPECT_EQ(RemoveLeftoverPartFiles(FromUtf8(tones.string()).c_str()), 2);
    std::vector<std::string> expected = kept;
    expected.push_back(".pm-1111111111111111.part");
    expected.push_back(".pm-2222222222222222.part");
    expected.push_back(fs::path(live.path()).filename().string());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Tones(), expected);
    EXPECT_EQ(Read(tones / "Pad.l6t"), "keep") << "a link's target is left alone";
}

TEST_F(StoreTest, AProbeCreatesAFileToTellWhetherAFolderTakesFiles) {
    auto probe = [](const fs::path& folder) {
        return ProbeFolderWritable(FromUtf8(folder.string()).c_str());
    };
    EXPECT_EQ(probe(m_root / "tones"), 0);
    EXPECT_TRUE(Tones().empty()) << "the probe is gone";
    FolderTraits traits;
    ASSERT_EQ(ProbeFolder(FromUtf8((m_root / "tones").string()).c_str(), &traits), 0);
    EXPECT_EQ(traits.way, StoreWay::MoveIntoPlace);
    EXPECT_FALSE(traits.refusesReservedCharacters);
    EXPECT_TRUE(Tones().empty());

    EXPECT_EQ(probe(m_root / "missing"), ENOENT);
    Write(m_root / "file", "");
    EXPECT_EQ(probe(m_root / "file" / "below"), ENOTDIR);

    // A read-only folder stops anyone but a privileged user.
    if (::geteuid() != 0) {
        fs::permissions(m_root / "tones", fs::perms(0555));
        EXPECT_EQ(probe(m_root / "tones"), EACCES);
        fs::permissions(m_root / "tones", fs::perms(0755));
    }
}

// Two copies of the program storing the same tones into one folder without links or
// RENAME_NOREPLACE: a name appears only with all of its bytes, so the copy that comes second
// finds the same bytes there and stores nothing, never a numbered duplicate.
TEST_F(StoreTest, TwoCopiesRenamingUnderTheFolderLockStoreEachToneOnce) {
    constexpr int kTones = 40;
    auto bytesOf = [](int tone) {
        return std::string(256 * 1024, char('A' + tone % 26)) + char(tone);
    };
    int start[2];
    ASSERT_EQ(::pipe(start), 0);
    std::vector<pid_t> copies;
    for (int copy = 0; copy < 2; ++copy) {
        const fs::path cache = m_root / ("cache-" + std::to_string(copy));
        fs::create_directories(cache);
        for (int tone = 0; tone < kTones; ++tone)
            Write(cache / std::to_string(tone), bytesOf(tone));
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            char go = 0;
            if (::read(start[0], &go, 1) != 1)
                ::_exit(2);
            for (int tone = 0; tone < kTones; ++tone) {
                const fs::path name = m_root / "tones" / ("Tone" + std::to_string(tone) + ".l6t");
                int error = Store(cache / std::to_string(tone), name, StoreWay::RenameUnderLock);
                if (error == EEXIST &&
                    Read(name) != bytesOf(tone)) // as the engine would: a variant
                    error = Store(cache / std::to_string(tone), name.string() + "[1]",
                                  StoreWay::RenameUnderLock);
                if (error != 0 && error != EEXIST)
                    ::_exit(1);
            }
            ::_exit(0);
        }
        copies.push_back(pid);
    }
    ASSERT_EQ(::write(start[1], "go", 2), 2);
    for (const pid_t pid : copies) {
        int status = -1;
        ::waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    ::close(start[0]);
    ::close(start[1]);
    std::vector<std::string> expected;
    for (int tone = 0; tone < kTones; ++tone)
        expected.push_back("Tone" + std::to_string(tone) + ".l6t");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Tones(), expected) << "each tone once, and no temporary or lock file left";
    for (int tone = 0; tone < kTones; ++tone)
        EXPECT_TRUE(Read(m_root / "tones" / ("Tone" + std::to_string(tone) + ".l6t")) ==
                    bytesOf(tone));
}

TEST_F(StoreTest, OnAnExfatStickTonesAreRenamedIntoPlaceNeverOverAFileNorLeftHalfWritten) {
    ExfatFolder stick;
    if (!stick.SkipReason().empty())
        GTEST_SKIP() << stick.SkipReason();
    const fs::path tones = stick.Folder();

    // No hard links, no RENAME_NOREPLACE, and no ':' or '?' in names: the probe finds it all.
    FolderTraits traits;
    ASSERT_EQ(ProbeFolder(FromUtf8(tones.string()).c_str(), &traits), 0);
    EXPECT_EQ(traits.way, StoreWay::RenameUnderLock);
    EXPECT_TRUE(traits.refusesReservedCharacters);

    const fs::path cached = m_root / "cache" / "Pad[1].l6t";
    Write(cached, "tone bytes");
    ASSERT_EQ(Store(cached, tones / "Pad.l6t", StoreWay::RenameUnderLock), 0);
    EXPECT_EQ(Read(tones / "Pad.l6t"), "tone bytes");
    const fs::path other = m_root / "cache" / "Pad[2].l6t";
    Write(other, "other bytes");
    EXPECT_EQ(Store(other, tones / "Pad.l6t", StoreWay::RenameUnderLock), EEXIST);
    EXPECT_EQ(Store(other, tones / "Pad.l6t"), EEXIST);
    EXPECT_EQ(Read(tones / "Pad.l6t"), "tone bytes");

    // Not told the way, the store finds it; a tone larger than half the free room still fits,
    // as its one temporary copy is what gets the name.
    const auto free = fs::space(tones).available;
    const std::string large(free * 3 / 5, 'L');
    Write(m_root / "cache" / "Large.l6t", large);
    ASSERT_EQ(Store(m_root / "cache" / "Large.l6t", tones / "Large.l6t"), 0);
    EXPECT_TRUE(Read(tones / "Large.l6t") == large);

    // The stick is full: the half-written temporary file goes, and nothing else is left.
    Write(m_root / "cache" / "Huge.l6t", std::string(free, 'H'));
    EXPECT_EQ(Store(m_root / "cache" / "Huge.l6t", tones / "Huge.l6t", StoreWay::RenameUnderLock),
              ENOSPC);
    EXPECT_EQ(Store(m_root / "cache" / "Huge.l6t", tones / "Huge.l6t"), ENOSPC);
    EXPECT_EQ(Names(tones), (std::vector<std::string>{"Large.l6t", "Pad.l6t"}));
}
