// The harvest record's store: shared by two writers at once, and sound after one is killed.
#include "platform/record/record.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace {

std::vector<record::Entry> Batch(const std::string& writer, int batch) {
    std::vector<record::Entry> entries(100);
    for (size_t i = 0; i < entries.size(); ++i) {
        record::Entry& entry = entries[i];
        entry.folder = "/tones";
        entry.url = "http://127.0.0.1/l6file/" + writer + "/" + std::to_string(batch) + "/" +
                    std::to_string(i);
        entry.etag = "\"" + std::to_string(i) + "\"";
        entry.file = {"Tone" + std::to_string(i) + ".l6t", 5000, 1700000000000000000,
                      1700000000000000000, i + 1};
    }
    return entries;
}

std::string IntegrityCheck(const std::string& path) {
    sqlite3* db = nullptr;
    std::string result = "cannot open";
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_exec(
            db, "PRAGMA integrity_check",
            [](void* out, int, char** values, char**) {
                *static_cast<std::string*>(out) = values[0] ? values[0] : "";
                return 0;
            },
            &result, nullptr);
    }
    sqlite3_close(db);
    return result;
}

TEST(HarvestDatabaseTest, TwoWritersShareItAndAKilledOneLeavesItSound) {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("pm-record-test-" + std::to_string(::getpid()));
    std::filesystem::remove_all(folder);
    const std::string path = (folder / "state" / "harvest.sqlite").string();
    std::string problem;
    ASSERT_TRUE(record::Database::Open(path, &problem)) << problem;

    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Writes batch after batch until it is killed, whatever the moment. It lets the other
        // writer in between batches, as a crawl does: it commits once a second, not without end.
        std::unique_ptr<record::Database> db = record::Database::Open(path, &problem);
        for (int batch = 0; db; ++batch) {
            if (!db->Write(Batch("child", batch), &problem))
                ::_exit(1);
            if (batch == 0 && ::write(ready[1], "x", 1) != 1)
                ::_exit(1);
            ::usleep(2000);
        }
        ::_exit(1);
    }
    // However the test ends, the writer does not outlive it.
    struct KillOnExit {
        pid_t pid;
        ~KillOnExit() {
            if (pid > 0) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, nullptr, 0);
            }
        }
    } writer{child};
    char signal = 0;
    ASSERT_EQ(::read(ready[0], &signal, 1), 1) << "the child's first batch was not committed";

    // A second copy writes meanwhile: each waits its turn instead of failing.
    {
        std::unique_ptr<record::Database> db = record::Database::Open(path, &problem);
        ASSERT_TRUE(db) << problem;
        for (int batch = 0; batch < 20; ++batch)
            ASSERT_TRUE(db->Write(Batch("parent", batch), &problem)) << problem;
    }
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    writer.pid = -1;
    EXPECT_TRUE(WIFSIGNALED(status)) << "the child stopped writing before it was killed";
    ::close(ready[0]);
    ::close(ready[1]);

    EXPECT_EQ(IntegrityCheck(path), "ok");
    std::unique_ptr<record::Database> db = record::Database::Open(path, &problem);
    ASSERT_TRUE(db);
    EXPECT_EQ(problem, "") << "nothing was set aside";
    for (const char* url :
         {"http://127.0.0.1/l6file/child/0/99", "http://127.0.0.1/l6file/parent/19/99"}) {
        std::optional<record::Entry> entry = db->Find("/tones", url, &problem);
        ASSERT_TRUE(entry) << url;
        EXPECT_EQ(entry->file.name, "Tone99.l6t");
        EXPECT_EQ(entry->file.inode, 100u);
    }
    db.reset();
    std::filesystem::remove_all(folder);
}

} // namespace
