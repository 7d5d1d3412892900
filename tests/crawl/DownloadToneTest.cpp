// The tone downloader against a served library: storing, names, duplicates, failures, and
// the harvest record that lets a later crawl ask only whether a tone changed.
#include "platform/record/record.h"
#include "platform/text/text.h"
#include "tests/crawl/ToneFixture.h"
#include "tests/support/ExfatFolder.h"

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

TEST_F(ToneTest, StoresEachDistinctToneOnceUnderItsNameOrANumberedVariant) {
    Serve("/t/l6file/1/Foo.l6t", Tone('a'));
    Serve("/t/l6file/2/Foo.l6t", Tone('a')); // same bytes, other address
    Serve("/t/l6file/3/Foo.l6t", Tone('b'));
    Serve("/t/l6file/4/Foo.l6t", Tone('c', 7000));
    m_server.Start();

    for (auto n : {"1", "2", "3", "4"})
        m_engine.DownloadTone(Url(std::string("/t/l6file/") + n + "/Foo.l6t").c_str(), 2);

    auto files = Folder();
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(files["Foo.l6t"], Tone('a'));
    EXPECT_EQ(files["Foo[1].l6t"], Tone('b'));
    EXPECT_EQ(files["Foo[2].l6t"], Tone('c', 7000));
    EXPECT_EQ(m_progress->m_nNewFiles, 3);
    // Each is told under the name it has in the folder.
    EXPECT_EQ(m_progress->m_events,
              (std::vector<std::u16string>{u"stored Foo.l6t", u"already there Foo.l6t",
                                           u"stored Foo[1].l6t", u"stored Foo[2].l6t"}));
    // A stored tone is an ordinary file of the user's, not the cache's private one.
    mode_t mask = ::umask(0);
    ::umask(mask);
    auto mode = static_cast<mode_t>(std::filesystem::status(m_folder / "Foo.l6t").permissions());
    EXPECT_EQ(mode & 0777, 0666 & ~mask);
    for (auto n : {"1", "2", "3", "4"}) {
        auto url = Url(std::string("/t/l6file/") + n + "/Foo.l6t");
        EXPECT_TRUE(m_engine.m_visited.Contains(url.c_str())) << n;
    }
    // Met again, a recorded tone costs no transfer.
    m_engine.DownloadTone(Url("/t/l6file/1/Foo.l6t").c_str(), 2);
    EXPECT_EQ(Hits("/t/l6file/1/Foo.l6t"), 1);
    // The window is reset after each tone.
    EXPECT_EQ(m_progress->GetToneStatusText(), u"");
    EXPECT_EQ(m_progress->GetLogText(), u"");
    EXPECT_EQ(m_progress->GetProgressMax(), 100u);
    EXPECT_EQ(m_progress->GetProgressPos(), 0u);
}

TEST_F(ToneTest, UsesTheFirstFreeVariantAndGivesUpWhenAllAreTaken) {
    Serve("/l6file/Foo.l6t", Tone('n'));
    Serve("/l6file/Bar", Tone('n'));
    m_server.Start();
    WriteFile("Foo.l6t", "other");
    WriteFile("Foo[2].l6t", "other 2");
    m_engine.DownloadTone(Url("/l6file/Foo.l6t").c_str(), 2);
    EXPECT_EQ(Folder()["Foo[1].l6t"], Tone('n'));

    // Without an extension the number goes at the end; all 256 names held: nothing stored.
    WriteFile("Bar", "x");
    for (int n = 1; n <= 255; ++n)
        WriteFile("Bar[" + std::to_string(n) + "]", "x" + std::to_string(n));
    m_engine.DownloadTone(Url("/l6file/Bar").c_str(), 2);
    EXPECT_EQ(Folder().size(), 3u + 256u);
    EXPECT_EQ(m_progress->m_nNewFiles, 1);
    EXPECT_TRUE(m_engine.m_visited.Contains(Url("/l6file/Bar").c_str()));
    // A failure of one tone is counted, told in words, and the crawl goes on.
    EXPECT_EQ(m_engine.m_outcome.FailedTones(), 1);
    EXPECT_EQ(m_engine.m_outcome.m_szFirstFailure,
              u"couldn't store \"Bar\": the name and its 255 numbered variants hold other files");
    EXPECT_FALSE(m_progress->m_bCancel);
}

TEST_F(ToneTest, DecodesEscapedUtf8NamesFromTheAddressAndFromTheServer) {
    // The server sees the decoded path.
    Serve("/l6file/Café.l6t", Tone('1'));
    Serve("/l6file/x", Tone('2'), "application/octet-stream",
          "attachment; filename*=UTF-8''%E3%81%82%20Song.l6t");
    Serve("/l6file/My Tone.l6t", Tone('3'));
    // 60 characters of 3 bytes fit a file name whole; their 540 escaped units would not.
    std::string longName, longEscaped;
    for (int i = 0; i < 60; ++i) {
        longName += "\u97F3";
        longEscaped += "%E9%9F%B3";
    }
    Serve("/l6file/" + longName + ".l6t", Tone('4'));
    m_server.Start();
    m_engine.DownloadTone(Url("/l6file/Caf%C3%A9.l6t").c_str(), 2);
    m_engine.DownloadTone(Url("/l6file/x").c_str(), 2);
    m_engine.DownloadTone(Url("/l6file/My%20Tone.l6t").c_str(), 2);
    m_engine.DownloadTone(Url("/l6file/" + longEscaped + ".l6t").c_str(), 2);
    auto files = Folder();
    EXPECT_EQ(files["Café.l6t"], Tone('1'));
    EXPECT_EQ(files["\u3042 Song.l6t"], Tone('2'));
    EXPECT_EQ(files["My%20Tone.l6t"], Tone('3')); // no multi-byte sequence: kept as it came
    EXPECT_EQ(files[longName + ".l6t"], Tone('4'));
}

TEST_F(ToneTest, HostileNamesNeverLeaveTheFolder) {
    Serve("/l6file/a", Tone('a'), "application/octet-stream",
          "attachment; filename=\"../../escape.l6t\"");
    Serve("/l6file/b", Tone('b'), "application/octet-stream",
          "attachment; filename*=UTF-8''..%2F..%2Fescape2.l6t");
    Serve("/l6file/c", Tone('c'), "application/octet-stream", "attachment; filename=\"..\"");
    m_server.Start();
    for (auto p : {"/l6file/a", "/l6file/b", "/l6file/c"})
        m_engine.DownloadTone(Url(p).c_str(), 2);

    for (auto& [name, bytes] : Folder())
        EXPECT_EQ(name.find('/'), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(m_folder.parent_path() / "escape.l6t"));
    EXPECT_FALSE(std::filesystem::exists(m_folder.parent_path() / "escape2.l6t"));
    EXPECT_FALSE(std::filesystem::exists(m_folder.parent_path().parent_path() / "escape.l6t"));
    EXPECT_GE(Folder().size(), 2u);
}

TEST_F(ToneTest, NothingIsWrittenToACutDownPath) {
    Serve("/l6file/Long.l6t", Tone('L'));
    m_server.Start();
    // The folder plus the name come to more than 259 units.
    std::filesystem::path deep = m_folder / std::string(255 - m_folder.string().size(), 'd');
    std::filesystem::create_directories(deep);
    m_engine.m_folder = FromUtf8(deep.string());
    m_engine.DownloadTone(Url("/l6file/Long.l6t").c_str(), 2);
    EXPECT_TRUE(std::filesystem::is_empty(deep));
    EXPECT_EQ(m_progress->m_nNewFiles, 0);
}

TEST_F(ToneTest, AFailedTransferStoresNothingAndIsFetchedAgainWhenMetAgain) {
    m_server.server().Get("/l6file/missing.l6t", [this](auto& req, auto& res) {
        Record(req);
        res.status = 404;
        res.set_content("not here", "text/plain");
    });
    m_server.Start();
    auto url = Url("/l6file/missing.l6t");
    m_engine.DownloadTone(url.c_str(), 2);
    m_engine.DownloadTone(url.c_str(), 2);
    EXPECT_TRUE(Folder().empty());
    EXPECT_FALSE(m_engine.m_visited.Contains(url.c_str()));
    EXPECT_EQ(Hits("/l6file/missing.l6t"), 2);
    // The log that told why is emptied with the tone; the outcome line keeps the reason.
    EXPECT_EQ(m_engine.m_outcome.m_szFirstFailure,
              u"couldn't fetch \"" + url + u"\": HTTP 404 Not Found");
    EXPECT_EQ(m_progress->m_events.back(), u"failed " + url + u": HTTP 404 Not Found");
}

TEST_F(ToneTest, TheFolderFieldIsReadAgainAndTrimmed) {
    Serve("/l6file/T.l6t", Tone('t'));
    m_server.Start();
    m_engine.m_folder = u" \t" + m_engine.m_folder + u"  ";
    m_engine.DownloadTone(Url("/l6file/T.l6t").c_str(), 2);
    EXPECT_EQ(Folder()["T.l6t"], Tone('t'));
}

TEST_F(ToneTest, AFolderThatVanishedStopsTheCrawlAndSaysWhy) {
    Serve("/l6file/Gone.l6t", Tone('g'));
    m_server.Start();
    m_engine.m_folder = FromUtf8((m_folder / "removed meanwhile").string());
    m_engine.DownloadTone(Url("/l6file/Gone.l6t").c_str(), 2);
    EXPECT_TRUE(Folder().empty());
    EXPECT_EQ(m_progress->m_nNewFiles, 0);
    EXPECT_EQ(m_engine.m_outcome.FailedTones(), 1);
    EXPECT_TRUE(m_progress->m_bCancel) << "every later tone would fail the same way";
    EXPECT_EQ(m_engine.m_outcome.m_szStopReason,
              u"The crawl was stopped: couldn't store tones in the folder " + m_engine.m_folder +
                  u": No such file or directory.");
}

// A tone served with validators, answering a matching If-None-Match with 304.
class RecordTest : public CrawlFixture {
protected:
    void ServeRecordedTone() {
        m_server.server().Get(
            "/l6file/Rec.l6t", [this](const httplib::Request& req, httplib::Response& res) {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_conditions.push_back(req.get_header_value("If-None-Match") +
                                       req.get_header_value("If-Modified-Since"));
                if (m_bAlways304) {
                    res.status = 304;
                    return;
                }
                if (m_bValidators) {
                    res.set_header("ETag", m_etag);
                    res.set_header("Last-Modified", "Mon, 01 Jan 2024 00:00:00 GMT");
                    if (req.get_header_value("If-None-Match") == m_etag) {
                        res.status = 304;
                        return;
                    }
                }
                res.set_content(m_body, "application/octet-stream");
            });
    }
    // One crawl's worth of this tone, by an engine of its own, as a later run of the program
    // would: what it remembered is committed when it goes.
    CCrawlOutcome Crawl() {
        CTestEngine engine;
        engine.m_folder = m_engine.m_folder;
        engine.m_pProgress = m_progress.get();
        engine.DownloadTone(Url("/l6file/Rec.l6t").c_str(), 2);
        return engine.m_outcome;
    }
    std::string LastCondition() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_conditions.empty() ? "(none)" : m_conditions.back();
    }

    std::string m_etag = "\"v1\"";
    std::string m_body = Tone('r');
    bool m_bValidators = true;
    bool m_bAlways304 = false;
    std::vector<std::string> m_conditions;
};

TEST_F(RecordTest, AToneTheRecordVouchesForIsAskedForOnlyIfItChanged) {
    struct Case {
        const char* what;
        bool validators;                           // the first answer carries them
        std::function<void()> between;             // what happens between the two crawls
        bool conditional;                          // the second request carries validators
        std::map<std::string, std::string> folder; // after the second crawl
    };
    const std::string old = Tone('r'), changed = Tone('s');
    const std::vector<Case> cases = {
        {"unchanged", true, [] {}, true, {{"Rec.l6t", old}}},
        {"file removed",
         true,
         [this] { std::filesystem::remove(m_folder / "Rec.l6t"); },
         false,
         {{"Rec.l6t", old}}},
        {"file edited",
         true,
         [this] { WriteFile("Rec.l6t", "edited"); },
         false,
         {{"Rec.l6t", "edited"}, {"Rec[1].l6t", old}}},
        {"file replaced by a copy",
         true,
         [this] {
             WriteFile("copy", Tone('r'));
             std::filesystem::rename(m_folder / "copy", m_folder / "Rec.l6t");
         },
         false,
         {{"Rec.l6t", old}}},
        {"file written over with its mtime put back",
         true,
         [this] {
             const auto mtime = std::filesystem::last_write_time(m_folder / "Rec.l6t");
             WriteFile("Rec.l6t", Tone('x'));
             std::filesystem::last_write_time(m_folder / "Rec.l6t", mtime);
         },
         false,
         {{"Rec.l6t", Tone('x')}, {"Rec[1].l6t", old}}},
        {"server without validators", false, [] {}, false, {{"Rec.l6t", old}}},
        {"validator changed",
         true,
         [&] {
             m_etag = "\"v2\"";
             m_body = changed;
         },
         true,
         {{"Rec.l6t", old}, {"Rec[1].l6t", changed}}},
    };
    ServeRecordedTone();
    m_server.Start();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        m_etag = "\"v1\"";
        m_body = old;
        m_bValidators = c.validators;
        // Records are kept per folder: each case crawls into a folder of its own.
        m_engine.m_folder = FromUtf8((m_folder / c.what).string());
        std::filesystem::path saved = m_folder;
        m_folder /= c.what;
        std::filesystem::create_directories(m_folder);

        EXPECT_EQ(Crawl().m_nNewTones, 1);
        EXPECT_EQ(LastCondition(), "");
        c.between();
        CCrawlOutcome second = Crawl();
        EXPECT_EQ(LastCondition() != "", c.conditional);
        EXPECT_EQ(Folder(), c.folder);
        EXPECT_EQ(second.FailedTones(), 0);
        if (std::string(c.what) == "unchanged") {
            EXPECT_EQ(second.m_nAlreadyThere, 1) << "a 304 counts as already there";
            EXPECT_EQ(second.m_nNewTones, 0);
        }
        m_folder = saved;
    }

    // A 304 the request did not ask for is no answer: the tone failed, nothing is stored.
    m_bAlways304 = true;
    m_engine.m_folder = FromUtf8((m_folder / "unasked").string());
    std::filesystem::create_directories(m_folder / "unasked");
    CCrawlOutcome unasked = Crawl();
    EXPECT_EQ(unasked.FailedTones(), 1);
    EXPECT_TRUE(std::filesystem::is_empty(m_folder / "unasked"));
}

// Tones fetched ahead are asked with the validators the walk's own request carries, so the
// walk takes them over: one conditional request per tone, each 304 counted as already there.
TEST_F(RecordTest, TonesFetchedAheadAreAskedConditionallyToo) {
    m_server.server().Get("/library.html", [](const httplib::Request&, httplib::Response& res) {
        std::string links;
        for (const char* name : {"a.l6t", "b.l6t", "c.l6t"})
            links += std::string("<a href=\"/l6file/") + name + "\">" + name + "</a>";
        res.set_content("<html><body>" + links + "</body></html>", "text/html");
    });
    m_server.server().Get(
        R"(/l6file/(.*))", [this](const httplib::Request& req, httplib::Response& res) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_conditions.push_back(req.get_header_value("If-None-Match"));
            res.set_header("ETag", m_etag);
            if (req.get_header_value("If-None-Match") == m_etag)
                res.status = 304;
            else
                res.set_content(std::string(req.matches[1]), "application/octet-stream");
        });
    m_server.Start();
    auto crawl = [this] {
        CTestEngine engine;
        engine.m_folder = m_engine.m_folder;
        engine.m_pProgress = m_progress.get();
        engine.m_nMaxConnections = 4;
        engine.Crawl(Url("/library.html").c_str());
        return engine.m_outcome;
    };
    EXPECT_EQ(crawl().m_nNewTones, 3);
    m_conditions.clear();
    CCrawlOutcome second = crawl();
    EXPECT_EQ(second.m_nAlreadyThere, 3);
    EXPECT_EQ(second.m_nNewTones, 0);
    EXPECT_EQ(m_conditions, std::vector<std::string>(3, m_etag));
}

TEST_F(RecordTest, ADamagedRecordIsSetAsideAndTheCrawlGoesOn) {
    const std::filesystem::path state = std::getenv("XDG_STATE_HOME");
    const std::filesystem::path database = state / "Patchmere Crawler" / "harvest.sqlite";
    std::filesystem::create_directories(database.parent_path());
    for (const char* journal : {"-wal", "-shm"})
        std::filesystem::remove(database.string() + journal);
    std::ofstream(database, std::ios::binary) << std::string(8192, 'x');
    ServeRecordedTone();
    m_server.Start();

    CCrawlOutcome outcome = Crawl();
    EXPECT_EQ(Folder()["Rec.l6t"], Tone('r'));
    EXPECT_EQ(outcome.m_nNewTones, 1);
    ASSERT_NE(outcome.m_szRecordProblem.find(u"set aside as harvest.sqlite.damaged-"),
              std::u16string::npos)
        << ToUtf8(outcome.m_szRecordProblem);
    EXPECT_NE(FormatOutcome(outcome, false, 1).find(u"; the harvest record could not be used: "),
              std::u16string::npos);
    // Nothing is lost: the damaged file is kept beside the new record, which works.
    int aside = 0;
    for (auto& entry : std::filesystem::directory_iterator(database.parent_path())) {
        if (entry.path().filename().string().starts_with("harvest.sqlite.damaged-") &&
            entry.file_size() == 8192)
            ++aside;
    }
    EXPECT_EQ(aside, 1);
    EXPECT_TRUE(Crawl().m_szRecordProblem.empty());
    EXPECT_EQ(LastCondition(), "\"v1\"Mon, 01 Jan 2024 00:00:00 GMT");
}

// The record keys a folder by its real path, so every spelling of it shares what it holds;
// and after a crawl that finished it forgets the files gone from the folder.
TEST_F(RecordTest, EverySpellingOfAFolderIsOneAndFilesGoneAreForgotten) {
    ServeRecordedTone();
    m_server.Start();
    EXPECT_EQ(Crawl().m_nNewTones, 1);
    std::filesystem::create_directory_symlink(m_folder, m_folder.string() + "-link");
    const std::string name = m_folder.filename().string();
    for (const std::string& spelling : {m_folder.string() + "/", m_folder.string() + "/../" + name,
                                        m_folder.string() + "-link"}) {
        SCOPED_TRACE(spelling);
        m_engine.m_folder = FromUtf8(spelling);
        EXPECT_EQ(Crawl().m_nAlreadyThere, 1);
        EXPECT_EQ(LastCondition(), "\"v1\"Mon, 01 Jan 2024 00:00:00 GMT");
    }
    std::filesystem::remove(m_folder.string() + "-link");

    // A crawl of a page without the tone, after its file went: the record lets it go.
    m_server.server().Get("/empty.html", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("<html><body>nothing</body></html>", "text/html");
    });
    std::filesystem::remove(m_folder / "Rec.l6t");
    CTestEngine engine;
    engine.m_folder = FromUtf8(m_folder.string());
    engine.m_pProgress = m_progress.get();
    engine.Crawl(Url("/empty.html").c_str());
    std::string problem;
    auto database = record::Database::Open(record::DefaultPath(), &problem);
    ASSERT_TRUE(database) << problem;
    EXPECT_TRUE(database->Entries(std::filesystem::canonical(m_folder).string(), &problem).empty());
}

// A stick's file system numbers its files anew at every mount; the record tells a file by
// its name, size and times there, so a stick plugged in again keeps its conditional requests.
TEST_F(RecordTest, OnAStickMountedAgainTheToneIsStillAskedForOnlyIfItChanged) {
    ExfatFolder stick;
    if (!stick.SkipReason().empty())
        GTEST_SKIP() << stick.SkipReason();
    ServeRecordedTone();
    m_server.Start();
    m_engine.m_folder = FromUtf8(stick.Folder().string());
    std::ofstream(stick.Folder() / "Other.l6t") << "met first after the next mount";
    EXPECT_EQ(Crawl().m_nNewTones, 1);
    struct stat before {};
    ::stat((stick.Folder() / "Rec.l6t").c_str(), &before);

    ASSERT_TRUE(stick.Remount());
    struct stat other {
    }, after{};
    ::stat((stick.Folder() / "Other.l6t").c_str(), &other); // takes the first number
    ::stat((stick.Folder() / "Rec.l6t").c_str(), &after);
    EXPECT_NE(after.st_ino, before.st_ino) << "the files were numbered anew";
    EXPECT_EQ(Crawl().m_nAlreadyThere, 1);
    EXPECT_EQ(LastCondition(), "\"v1\"Mon, 01 Jan 2024 00:00:00 GMT");
}

} // namespace
