// The private cache on its own: removed entries' files are reused for later downloads, but
// never a file that is also linked elsewhere, and reuse never changes the names handed out;
// the folders of killed runs go when the next cache is made.
#include "platform/net/cache.h"
#include "platform/text/text.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

ino_t Inode(const std::string& path) {
    struct stat status {};
    ::stat(path.c_str(), &status);
    return status.st_ino;
}

cache::CacheFile Create(cache::UrlCache& cache, std::u16string_view url, std::u16string_view name,
                        std::string_view content) {
    std::optional<cache::CacheFile> file = cache.CreateFile(url, name);
    EXPECT_TRUE(file.has_value());
    if (!file)
        return {};
    EXPECT_TRUE(file->Write(content.data(), content.size()));
    EXPECT_TRUE(file->Finish());
    return std::move(*file);
}

TEST(UrlCache, ARemovedFileComesBackUnderTheNextDownloadsNameHoldingOnlyItsBytes) {
    std::unique_ptr<cache::UrlCache> cache = cache::UrlCache::Create();
    ASSERT_TRUE(cache);
    cache::CacheFile page = Create(*cache, u"http://h/1.html", u"1.html", "a long page body");
    const ino_t inode = Inode(page.path);
    EXPECT_TRUE(cache->DeleteEntry(u"http://h/1.html"));
    EXPECT_FALSE(fs::exists(page.path));

    cache::CacheFile tone = Create(*cache, u"http://h/t.l6t", u"t.l6t", "abc");
    EXPECT_EQ(tone.path, cache->Folder() + "/t[1].l6t");
    EXPECT_EQ(Inode(tone.path), inode); // the same file, not a new one
    EXPECT_EQ(ReadFile(tone.path), "abc") << "nothing of the earlier content is left";

    // A download that writes nothing into a reused file leaves it empty.
    EXPECT_TRUE(cache->DeleteEntry(u"http://h/t.l6t"));
    cache::CacheFile empty = Create(*cache, u"http://h/e", u"e.l6t", "");
    EXPECT_EQ(Inode(empty.path), inode);
    EXPECT_EQ(ReadFile(empty.path), "");
    EXPECT_TRUE(cache->DeleteEntry(u"http://h/e"));
    tone = Create(*cache, u"http://h/t.l6t", u"t.l6t", "abc");

    // The same name again still gets the next number, and a freed number is taken first.
    EXPECT_EQ(Create(*cache, u"http://h/u", u"t.l6t", "x").path, cache->Folder() + "/t[2].l6t");
    EXPECT_TRUE(cache->DeleteEntry(u"http://h/t.l6t"));
    EXPECT_EQ(Create(*cache, u"http://h/v", u"t.l6t", "y").path, cache->Folder() + "/t[1].l6t");
}

TEST(UrlCache, AFileLinkedElsewhereIsNeverReused) {
    std::unique_ptr<cache::UrlCache> cache = cache::UrlCache::Create();
    ASSERT_TRUE(cache);
    const std::string stored = cache->Folder() + "-stored.l6t";
    cache::CacheFile tone = Create(*cache, u"http://h/t.l6t", u"t.l6t", "the stored tone");
    ASSERT_EQ(::link(tone.path.c_str(), stored.c_str()), 0);
    EXPECT_TRUE(cache->DeleteEntry(u"http://h/t.l6t"));

    cache::CacheFile next = Create(*cache, u"http://h/n.l6t", u"n.l6t", "next");
    EXPECT_NE(Inode(next.path), Inode(stored));
    EXPECT_EQ(ReadFile(stored), "the stored tone");
    ::unlink(stored.c_str());
}

TEST(UrlCache, ALargeFileIsNotKeptForReuse) {
    std::unique_ptr<cache::UrlCache> cache = cache::UrlCache::Create();
    ASSERT_TRUE(cache);
    Create(*cache, u"http://h/big", u"big.l6t", std::string(2 * 1024 * 1024, 'b'));
    Create(*cache, u"http://h/small", u"small.l6t", "small");
    EXPECT_TRUE(cache->DeleteEntry(u"http://h/big"));
    EXPECT_TRUE(cache->DeleteEntry(u"http://h/small"));
    std::vector<std::string> left;
    for (const fs::directory_entry& entry : fs::directory_iterator(cache->Folder()))
        left.push_back(entry.path().filename().string());
    ASSERT_EQ(left.size(), 1u) << "only the small file waits for reuse";
    EXPECT_EQ(fs::file_size(cache->Folder() + "/" + left[0]), 5u);
}

TEST(UrlCache, SparesNeverCollectBeyondAFewAndGoWithTheFolder) {
    std::string folder;
    {
        std::unique_ptr<cache::UrlCache> cache = cache::UrlCache::Create();
        ASSERT_TRUE(cache);
        folder = cache->Folder();
        for (int i = 0; i < 50; ++i) {
            std::u16string url = u"http://h/" + FromUtf8(std::to_string(i));
            Create(*cache, url, u"p.html", "page");
        }
        for (int i = 0; i < 50; ++i)
            cache->DeleteEntry(u"http://h/" + FromUtf8(std::to_string(i)));
        size_t left = 0;
        for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
            EXPECT_TRUE(entry.path().filename().string().starts_with(cache::kSparePrefix));
            ++left;
        }
        EXPECT_LE(left, 8u);
    }
    EXPECT_FALSE(fs::exists(folder));
}

// Points $TMPDIR at a folder of the test's own while it lives.
class TempRoot {
public:
    TempRoot() {
        char name[] = "/tmp/pm-cache-root-XXXXXX";
        if (::mkdtemp(name))
            m_path = name;
        if (const char* saved = std::getenv("TMPDIR"))
            m_saved = saved;
        ::setenv("TMPDIR", m_path.c_str(), 1);
    }
    ~TempRoot() {
        if (m_saved)
            ::setenv("TMPDIR", m_saved->c_str(), 1);
        else
            ::unsetenv("TMPDIR");
        std::error_code ignored;
        fs::remove_all(m_path, ignored);
    }
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
    std::optional<std::string> m_saved;
};

TEST(UrlCache, FoldersLeftByKilledRunsGoWhenTheNextCacheIsMade) {
    TempRoot root;
    ASSERT_FALSE(root.path().empty());
    const std::string stale = root.path() + "/pmcrawler-cache-stale1";
    fs::create_directories(stale + "/inner");
    std::ofstream(stale + "/Tone[1].l6t") << "tone";
    std::ofstream(stale + "/inner/page") << "page";
    // A run that was killed while it made its folder, and one making it now.
    const std::string abandoned = root.path() + "/pmcrawler-new-old001";
    const std::string making = root.path() + "/pmcrawler-new-new001";
    fs::create_directory(abandoned);
    fs::create_directory(making);
    const timespec anHourAgo[2] = {{std::time(nullptr) - 3600, 0}, {std::time(nullptr) - 3600, 0}};
    ::utimensat(AT_FDCWD, abandoned.c_str(), anHourAgo, 0);

    // A running program's folder: it holds the lock.
    const std::string running = root.path() + "/pmcrawler-cache-held01";
    fs::create_directory(running);
    UniqueFd lock(::open(running.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    ASSERT_EQ(::flock(lock.get(), LOCK_EX | LOCK_NB), 0);
    // A link under the cache name is neither followed nor removed.
    const std::string elsewhere = root.path() + "/elsewhere";
    fs::create_directory(elsewhere);
    std::ofstream(elsewhere + "/mine") << "mine";
    const std::string link = root.path() + "/pmcrawler-cache-link01";
    fs::create_directory_symlink(elsewhere, link);
    // Another user's folder, where the test may give one away.
    const std::string others = root.path() + "/pmcrawler-cache-other1";
    fs::create_directory(others);
    const bool othersMade = ::geteuid() == 0 && ::chown(others.c_str(), 65534, 65534) == 0;

    std::unique_ptr<cache::UrlCache> first = cache::UrlCache::Create();
    ASSERT_TRUE(first);
    EXPECT_EQ(fs::path(first->Folder()).parent_path(), root.path());
    EXPECT_FALSE(fs::exists(stale));
    EXPECT_FALSE(fs::exists(abandoned));
    EXPECT_TRUE(fs::exists(making));
    EXPECT_TRUE(fs::exists(running));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(ReadFile(elsewhere + "/mine"), "mine");
    if (othersMade) {
        EXPECT_TRUE(fs::exists(others));
    }

    // A second run beside the first leaves the first's folder alone.
    std::unique_ptr<cache::UrlCache> second = cache::UrlCache::Create();
    ASSERT_TRUE(second);
    EXPECT_TRUE(fs::exists(first->Folder()));
}

} // namespace
