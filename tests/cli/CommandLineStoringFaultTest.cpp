// The program killed at each step of storing a tone and run again, through a preloaded shim
// that logs, and kills at, every write, sync, link and rename into the folder.
#include "tests/cli/CommandLineFixture.h"
#include "tools/DemoServer.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

// What the fault shim saw, in order: operation, path, and the target of a link or rename.
struct ShimOperation {
    std::string op, path, to;
};
std::vector<ShimOperation> ReadShimLog(const fs::path& log) {
    std::vector<ShimOperation> operations;
    std::ifstream in(log);
    for (std::string line; std::getline(in, line);) {
        const size_t tab1 = line.find('\t'), tab2 = line.find('\t', tab1 + 1);
        operations.push_back(
            {line.substr(0, tab1), line.substr(tab1 + 1, tab2 - tab1 - 1), line.substr(tab2 + 1)});
    }
    return operations;
}

// Why the order of operations could lose a tone in a power cut: a tone's name that appears
// before its bytes were synced, or a record write after names that the folder's sync has not
// yet made last. Empty when there is none.
std::string OrderFault(const std::vector<ShimOperation>& operations, const fs::path& folder) {
    std::map<std::string, size_t> lastWrite, lastSync;
    size_t lastWholeSync = 0, lastNamed = 0, lastFolderSync = 0;
    for (size_t i = 1; i <= operations.size(); ++i) {
        const ShimOperation& o = operations[i - 1];
        if (o.op == "write" && o.path.find("harvest.sqlite") != std::string::npos) {
            if (lastNamed > lastFolderSync)
                return "the record was written before the folder was synced: line " +
                       std::to_string(i);
        } else if (o.op == "write") {
            lastWrite[o.path] = i;
        } else if (o.op == "fsync") {
            lastSync[o.path] = i;
            if (o.path == folder.string())
                lastFolderSync = i;
        } else if (o.op == "syncfs") {
            lastWholeSync = lastFolderSync = i;
        } else if (o.op == "link" || o.op == "rename") {
            const bool toneName = fs::path(o.to).parent_path() == folder &&
                                  !fs::path(o.to).filename().string().starts_with(".");
            if (toneName && std::max(lastSync[o.path], lastWholeSync) < lastWrite[o.path])
                return "a name appeared before its bytes were synced: " + o.to;
            if (toneName)
                lastNamed = i;
            lastWrite[o.to] = lastWrite[o.path]; // the bytes go with the name
            lastSync[o.to] = lastSync[o.path];
        }
    }
    return lastNamed != 0 ? std::string() : "no tone was named";
}

// Killed at each write, sync, link or rename into the folder in turn and crawled again, the
// folder ends as one crawl alone leaves it: every tone once, whole, under its own name, and
// nothing else; on an ordinary folder and on one that refuses links and RENAME_NOREPLACE (as
// exFAT through FUSE and many network shares do). An unbroken crawl names no tone before its
// bytes are synced, and writes the record only once the folder is.
TEST_F(CommandLineTest, KilledAtAnyStepOfStoringAndCrawledAgainEachToneIsThereOnceAndWhole) {
#if defined(__SANITIZE_ADDRESS__)
    constexpr int kEveryNthStep = 4; // the sanitizer build tries a sample of the steps
#else
    constexpr int kEveryNthStep = 1;
#endif
    const DemoLibrary library = DemoLibrary::Make(2, 5);
    ServeDemoLibrary(m_server.server(), library);
    m_server.Start();
    std::map<std::string, std::string> expected;
    for (const DemoTone& tone : library.tones)
        expected[tone.storedName] = tone.bytes;

    for (const bool writeInPlace : {false, true}) {
        SCOPED_TRACE(writeInPlace ? "write-in-place folder" : "ordinary folder");
        int nRun = 0;
        // One crawl with its own home; the shim counts or kills when killAt is given.
        auto crawl = [&](const fs::path& home, std::optional<long> killAt) {
            fs::create_directories(home / "tmp");
            fs::create_directories(home / "Tones");
            const fs::path folder = fs::canonical(home / "Tones");
            std::vector<std::string> env{"TMPDIR=" + (home / "tmp").string()};
            if (killAt) {
                env.push_back("LD_PRELOAD=" + std::string(PM_FAULT_SHIM));
                env.push_back("PM_SHIM_FOLDER=" + folder.string());
                env.push_back("PM_SHIM_ALSO=" + fs::canonical(home).string());
                env.push_back("PM_SHIM_KILL_AT=" + std::to_string(*killAt));
                env.push_back("PM_SHIM_LOG=" + (home / "shim.log").string());
                if (writeInPlace)
                    env.push_back("PM_SHIM_NO_LINKS=1");
            }
            return CrawlerProcess({"--quiet", "--url", m_server.Url(library.PagePath(1)),
                                   "--folder", folder.string()},
                                  home / "state", env)
                .Finish();
        };
        const fs::path counted = m_home / ("run-" + std::to_string(nRun++));
        ASSERT_EQ(crawl(counted, 0).status, 0);
        EXPECT_TRUE(FilesIn(counted / "Tones") == expected);
        const std::vector<ShimOperation> operations = ReadShimLog(counted / "shim.log");
        EXPECT_EQ(OrderFault(operations, fs::canonical(counted / "Tones")), "");
        const long steps = std::count_if(operations.begin(), operations.end(), [&](auto& o) {
            return o.path.starts_with(fs::canonical(counted / "Tones").string()) ||
                   o.to.starts_with(fs::canonical(counted / "Tones").string());
        });
        ASSERT_GT(steps, 10);

        int nKilled = 0;
        for (long step = 1; step <= steps; step += kEveryNthStep) {
            SCOPED_TRACE("killed at step " + std::to_string(step));
            const fs::path home = m_home / ("run-" + std::to_string(nRun++));
            nKilled += crawl(home, step).status == -1;
            const Finished again = crawl(home, std::nullopt);
            EXPECT_EQ(again.status, 0) << again.err;
            EXPECT_TRUE(FilesIn(home / "Tones") == expected)
                << "only whole tones under their names, each once, and nothing else";
            fs::remove_all(home);
        }
        EXPECT_GE(nKilled, (steps / kEveryNthStep) * 3 / 4) << "the shim killed the program";
    }
}

} // namespace
